#include "checkin/operator_actions.h"

#include <QFile>
#include <QImage>
#include <stdexcept>

#include "base/events.h"
#include "base/paths.h"
#include "base/picture_limits.h"
#include "base/station.h"
#include "base/stored_names.h"
#include "checkin/checkin_run.h"
#include "data/data_store.h"
#include "face/face_base.h"
#include "models/model_records.h"
#include "protect/face_file.h"

namespace tavo {
namespace {

// The current row of the work log, or a clear error when there is none.
Dataset& currentWork(DataStore& data) {
  Dataset& t = data.tableWorks();
  if (!t.isOpen() || t.currentRow() < 0) throw std::runtime_error("Не выбрана запись журнала работы");
  return t;
}

// Holds back the work log's change notifications (the grid and pictures stay as they are) until
// the end of the scope; switching them on again reports the change once.
class FrozenViews {
 public:
  explicit FrozenViews(Dataset& t) : t_(t), was_(t.notificationsEnabled()) { t_.setNotificationsEnabled(false); }
  ~FrozenViews() { t_.setNotificationsEnabled(was_); }
  FrozenViews(const FrozenViews&) = delete;
  FrozenViews& operator=(const FrozenViews&) = delete;

 private:
  Dataset& t_;
  bool was_;
};

}  // namespace

void InWorkClick(Station& station, CheckInRun& run) {
  station.settings.ean = QString::fromLatin1(kTestBarcode);
  run.FaceDetectionLuxandRTSP(true);
}

bool Button20Click(Station& station, DataStore& data, FaceBase& base) {
  if (base.isEmpty()) {
    station.messages().show(enrollFirstText(), enrollFirstCaption());
    return false;
  }
  Dataset& t = currentWork(data);
  const QString fileName = t.asString(QStringLiteral("FileName"));
  if (fileName.isEmpty()) throw std::runtime_error("У выбранной записи журнала нет фото");
  const qint64 entryId = t.id();
  {
    // The comparison writes and deletes files beside the stored name: it must stay in the work folder.
    const QString picture = storedFilePath(station.settings.workDir, fileName);
    FrozenViews frozen(t);
    // A face file that is no picture is compared as no picture, never as an older plain copy.
    if (!DecryptImage_Hier(picture, kSystemKey)) removeFile(picture + QLatin1String(kFaceJpgSuffix));
    int idModel = 0;
    double percent = 0;
    QString fio;
    base.FaceRecognitionLuxand(fileName, 0, idModel, percent, fio);
    // The comparison lets events run: a check-in handled meanwhile makes its own new row current,
    // which must not receive this entry's result.
    if ((t.currentRow() < 0 || t.id() != entryId) && !t.locateId(entryId))
      throw std::runtime_error("Запись журнала работы больше не видна: перепроверка не сохранена");
    t.edit();
    try {
      t.setField(QStringLiteral("idModel"), idModel);
      t.setField(QStringLiteral("is_face"), idModel > 0);
      t.setField(QStringLiteral("PercentDifference"), percent);
      // The lookup "EAN" follows idModel at once. No model means no match, even for an empty SN.
      const QString modelEan = t.asString(QStringLiteral("EAN"));
      t.setField(QStringLiteral("excellent"),
                 idModel > 0 && !modelEan.isEmpty() && t.asString(QStringLiteral("SN")) == modelEan);
      t.post();
    } catch (...) {
      t.cancel();
      throw;
    }
    processPendingEvents();
  }
  station.messages().show(doneText());
  return true;
}

bool Button18Click(Station& station, DataStore& data, ModelRecords& records) {
  Dataset& t = currentWork(data);
  const QString fileName = t.asString(QStringLiteral("FileName"));
  const QString sn = t.asString(QStringLiteral("SN"));
  QByteArray picture;
  if (!fileName.isEmpty()) {
    QFile bin(hostPath(storedFilePath(station.settings.workDir, fileName) + QLatin1String(kFaceBinSuffix)));
    if (bin.open(QIODevice::ReadOnly)) picture = keyStreamTransform(bin.readAll(), kSystemKey);
  }
  if (picture.isEmpty() || !pictureSizeProblem(picture, QStringLiteral("work photo ") + fileName).isEmpty() ||
      QImage::fromData(picture, "JPEG").isNull()) {
    station.messages().show(noFacePictureText(), addToModelsCaption());
    return false;
  }
  const QString target = station.tempFile(QStringLiteral("model_full.jpg"));
  QString error;
  if (!writeFileAtomically(target, picture, &error))
    throw std::runtime_error(QStringLiteral("Не удалось записать %1: %2").arg(hostPath(target), error).toStdString());
  return records.NewRecordFromWork(target, sn);
}

}  // namespace tavo
