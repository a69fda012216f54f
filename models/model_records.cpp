#include "models/model_records.h"

#include <QDateTime>
#include <QFile>
#include <stdexcept>

#include "base/paths.h"
#include "base/station.h"
#include "base/stored_names.h"
#include "data/data_store.h"
#include "face/picture/face_cropper.h"
#include "face/picture/frame_grab.h"
#include "models/model_file_name.h"
#include "models/model_photo.h"
#include "protect/face_file.h"

namespace tavo {

namespace {

void requireCurrentModel(Dataset& t) {
  if (!t.isOpen() || t.currentRow() < 0) throw std::runtime_error("Нет выбранной модели");
}

// Leaves the dataset in browse state whatever the editor did.
void dropPending(Dataset& t) {
  if (t.state() == Dataset::State::Insert || t.state() == Dataset::State::Edit) t.cancel();
}

}  // namespace

ModelRecords::ModelRecords(Station& station, DataStore& data, FaceCropper& cropper,
                           ModelEditorDialog& editor, Cameras* cameras)
    : station_(station), data_(data), cropper_(cropper), editor_(editor), cameras_(cameras) {}

ModelEditorSession ModelRecords::session(const QString& caption, std::function<bool()> save) {
  ModelEditorSession s;
  s.table = &data_.tableModel();
  s.caption = caption;
  s.fromStream = [this] { takeFromStream(); };
  s.fromWebCamera = [this] { takeFromWebCamera(); };
  s.fromFile = [this](const QString& path) { takeFromFile(path); };
  s.save = std::move(save);
  return s;
}

void ModelRecords::afterAcquisition() {
  // PhotoGet removes an older face picture first, so what is there now is this acquisition's.
  taken_ = readTakenFace(station_);
}

void ModelRecords::takeFromStream() {
  if (!cameras_) {
    station_.showLog(QStringLiteral("  Получить фото: сетевая камера не подключена"));
    return;
  }
  if (!GrabFrame(station_, *cameras_, QString(), GrabSource::Stream)) return;
  cropper_.PhotoGet(2, station_.tempFile(QStringLiteral("model_full.jpg")), &editor_);
  afterAcquisition();
}

void ModelRecords::takeFromWebCamera() {
  cropper_.PhotoGet(1, QString(), &editor_);
  afterAcquisition();
}

void ModelRecords::takeFromFile(const QString& path) {
  cropper_.PhotoGet(2, path, &editor_);
  afterAcquisition();
}

bool ModelRecords::NewRecord(const QString& EAN_FIO) { return runNew(QString(), EAN_FIO, true, {}); }

bool ModelRecords::NewRecordFromWork(const QString& file_source, const QString& EAN) {
  return runNew(EAN, QString(), false, [this, file_source] { takeFromFile(file_source); });
}

bool ModelRecords::runNew(const QString& ean, const QString& fullName, bool setFullName,
                          const std::function<void()>& beforeShow) {
  Dataset& t = data_.tableModel();
  const QString name = NewModelFileName(station_.clock());
  taken_.clear();
  editor_.clearPicture();
  editor_.setPhotoChanged(false);

  bool saved = false;
  auto save = [this, &t, &name, &saved]() -> bool {
    if (taken_.isEmpty()) {
      station_.messages().show(noPhotoMessage());
      return false;
    }
    try {
      saveModelFace(station_, name, taken_);
    } catch (const std::exception& e) {
      station_.messages().show(QString::fromUtf8(e.what()));
      return false;
    }
    try {
      t.post();
    } catch (const std::exception& e) {
      // No face file without its row either.
      removeFile(modelFaceBinPath(station_, name));
      station_.messages().show(QString::fromUtf8(e.what()));
      return false;
    }
    saved = true;
    return true;
  };

  t.insert();
  try {
    t.setField(QStringLiteral("FileName"), name);
    if (!ean.isNull()) t.setField(QStringLiteral("EAN"), ean);
    t.setField(QStringLiteral("Active"), true);
    if (setFullName) t.setField(QStringLiteral("FullName"), fullName);
    t.setField(QStringLiteral("DateInsert"), station_.clock().now());
    if (beforeShow) beforeShow();
    editor_.exec(session(captionNew(), save));
  } catch (...) {
    dropPending(t);
    removeWorkingPictures(station_);
    taken_.clear();
    throw;
  }
  if (!saved) {
    dropPending(t);
    removeWorkingPictures(station_);
  }
  taken_.clear();
  return saved;
}

bool ModelRecords::EditRecord() {
  Dataset& t = data_.tableModel();
  requireCurrentModel(t);
  taken_.clear();
  editor_.setPhotoChanged(false);
  const QString name = t.asString(QStringLiteral("FileName"));
  editor_.clearPicture();
  if (!name.isEmpty() && fileExists(modelFaceBinPath(station_, name))) {
    if (auto picture = DecryptImageView(storedFilePath(station_.settings.modelDir, name), kSystemKey))
      editor_.showImage(*picture);
  }

  bool saved = false;
  auto save = [this, &t, &saved]() -> bool {
    const bool storePhoto = editor_.photoChanged();
    if (storePhoto && taken_.isEmpty()) {
      station_.messages().show(noNewPhotoMessage());
      return false;
    }
    QString fileName = t.asString(QStringLiteral("FileName"));
    QByteArray old;
    bool hadOld = false;
    if (storePhoto) {
      // A model without a base name gets one rather than a nameless "_face.bin".
      if (fileName.isEmpty()) {
        fileName = NewModelFileName(station_.clock());
        t.setField(QStringLiteral("FileName"), fileName);
      }
      QFile f(hostPath(modelFaceBinPath(station_, fileName)));
      if (f.exists()) {
        if (!f.open(QIODevice::ReadOnly)) {
          station_.messages().show(QStringLiteral("Cannot read %1").arg(f.fileName()));
          return false;
        }
        old = f.readAll();
        hadOld = true;
      }
      try {
        saveModelFace(station_, fileName, taken_);
      } catch (const std::exception& e) {
        station_.messages().show(QString::fromUtf8(e.what()));
        return false;
      }
    }
    try {
      if (t.isModified())
        t.post();
      else
        t.cancel();
    } catch (const std::exception& e) {
      // The row keeps its old face file.
      if (storePhoto) {
        const QString bin = modelFaceBinPath(station_, fileName);
        if (hadOld)
          writeFileAtomically(bin, old);
        else
          removeFile(bin);
      }
      station_.messages().show(QString::fromUtf8(e.what()));
      return false;
    }
    saved = true;
    return true;
  };

  t.edit();
  try {
    editor_.exec(session(captionEdit(), save));
  } catch (...) {
    dropPending(t);
    taken_.clear();
    throw;
  }
  if (!saved) dropPending(t);
  taken_.clear();
  return saved;
}

bool ModelRecords::DelRecord() {
  Dataset& t = data_.tableModel();
  requireCurrentModel(t);
  if (!station_.messages().confirm(deleteQuestion())) return false;
  dropPending(t);
  const QString name = t.asString(QStringLiteral("FileName"));
  // The row goes first: a row must never outlive its face file, a stray file is harmless.
  t.remove();
  if (name.isEmpty()) return true;
  if (!isSafeStoredName(name)) {
    station_.showLog(QStringLiteral("  DelRecord: имя файла модели ведёт за пределы папки, файлы не удалены: ") + name);
    return true;
  }
  for (const QString& path : {modelFaceJpgPath(station_, name), modelFaceBinPath(station_, name)}) {
    if (fileExists(path) && !removeFile(path))
      station_.showLog(QStringLiteral("  DelRecord: не удалось удалить файл ") + hostPath(path));
  }
  return true;
}

}  // namespace tavo
