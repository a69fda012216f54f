#pragma once
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <functional>
#include <memory>

#include "base/paths.h"
#include "face/picture/face_cropper.h"
#include "models/model_photo.h"
#include "models/model_records.h"
#include "protect/face_file.h"
#include "tests/data/data_fixture.h"

namespace tavo::test {

// The model editor stood in by a script that plays the operator's part.
class ScriptedEditor : public ModelEditorDialog {
 public:
  std::function<bool(const ModelEditorSession&, ScriptedEditor&)> script;

  bool exec(const ModelEditorSession& s) override {
    captions << s.caption;
    photoChangedAtOpen = changed;
    pictureAtOpen = hasPicture;
    return script ? script(s, *this) : false;
  }
  bool photoChanged() const override { return changed; }
  void showImage(const QImage& image) override {
    hasPicture = !image.isNull();
    shownImage = image;
  }
  void clearPicture() override {
    hasPicture = false;
    shownImage = QImage();
  }
  void showPicture(const QString& path) override { hasPicture = QImage(path).width() > 0; }
  void setPhotoChanged(bool c) override { changed = c; }

  // "Сохранить": the window closes only when the save step agrees.
  static bool pressSave(const ModelEditorSession& s) { return s.save(); }

  QStringList captions;
  bool changed = false;
  bool hasPicture = false;
  bool photoChangedAtOpen = false;
  bool pictureAtOpen = false;
  QImage shownImage;
};

// A real database, a model folder under the drives root, the real cascades, and the model
// operations over a scripted editor.
class ModelTest : public DataFixture {
 protected:
  void SetUp() override {
    DataFixture::SetUp();
    station.settings.modelDir = QStringLiteral("C:\\Face\\Model");
    ASSERT_TRUE(QDir().mkpath(hostPath(station.settings.modelDir)));
    ASSERT_TRUE(dir.installCascades());
    // lfw10 faces are about 105-130 px wide.
    station.settings.faceWidth = 80;
    station.settings.faceHeight = 80;
    cropper = std::make_unique<FaceCropper>(station);
    cropper->loadCascades();
    records = std::make_unique<ModelRecords>(station, *store, *cropper, editor);
  }

  static QString lfw(const QString& name) {
    return testData(QStringLiteral("lfw10/%1/%2.jpg").arg(name.section('_', 0, -2), name));
  }
  QString modelHost(const QString& name) const { return hostPath(joinPath(station.settings.modelDir, name)); }
  QStringList modelFiles() const { return QDir(hostPath(station.settings.modelDir)).entryList(QDir::Files); }
  QString tempHost(const QString& name) const { return dir.file("Temp/" + name); }
  bool anyWorkingPicture() const {
    for (const char* n : {"model_full.jpg", "model_face.jpg", "model_f.jpg"})
      if (QFile::exists(tempHost(QString::fromLatin1(n)))) return true;
    return false;
  }
  Dataset& models() { return store->tableModel(); }
  int modelRows() { return db().query(QStringLiteral("SELECT id FROM Model")).size(); }

  std::unique_ptr<FaceCropper> cropper;
  ScriptedEditor editor;
  std::unique_ptr<ModelRecords> records;
};

}  // namespace tavo::test
