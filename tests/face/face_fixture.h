#pragma once
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <memory>

#include "base/clock.h"
#include "base/operator_messages.h"
#include "base/paths.h"
#include "base/station.h"
#include "data/data_store.h"
#include "data/schema.h"
#include "face/face_base.h"
#include "protect/face_file.h"
#include "tests/support/station_on_disk.h"
#include "tests/support/test_env.h"

namespace tavo::test {

// A program directory with the networks, an encrypted database, model/flag/work folders under
// the drives root and a template base over the opened data store.
class FaceBaseFixture : public ::testing::Test, protected StationOnDisk {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(dir.linkNetworks());
    createDatabaseFile(dir.file(QStringLiteral("FaceBase.mdb")), QLatin1String(kDatabasePassword));
    station.settings.modelDir = QStringLiteral("C:\\Face\\Model");
    station.settings.flagDir = QStringLiteral("C:\\Face\\Monitor");
    station.settings.workDir = QStringLiteral("C:\\Face\\Work");
    for (const char* d : {"C:\\Face\\Model", "C:\\Face\\Monitor", "C:\\Face\\Work", kExportFolder})
      ASSERT_TRUE(QDir().mkpath(hostPath(QString::fromLatin1(d))));
    store = std::make_unique<DataStore>(station);
    store->open();
    base = std::make_unique<FaceBase>(station, *store);
  }

  Database& db() { return store->database(); }
  Dataset& models() { return store->tableModel(); }

  // A model row with the photo encrypted into the model folder as "<FileName>_face.bin" (no
  // file when photo is empty). Returns the id.
  qint64 addModel(const QString& ean, const QString& photo, bool active = true, bool dark = false,
                  bool light = false, const QVariant& id = {}) {
    const QString fileName = QStringLiteral("m%1").arg(++serial_);
    if (!photo.isEmpty()) EncryptImage(photo, modelBase(fileName), kSystemKey);
    if (id.isValid())
      db().exec(QStringLiteral("INSERT INTO Model (id, EAN, FileName, Active, dark, light) VALUES (?, ?, ?, ?, ?, ?)"),
                {id, ean, fileName, active, dark, light});
    else
      db().exec(QStringLiteral("INSERT INTO Model (EAN, FileName, Active, dark, light) VALUES (?, ?, ?, ?, ?)"),
                {ean, fileName, active, dark, light});
    models().refresh();
    return db().lastInsertId();
  }

  QString modelBase(const QString& fileName) const { return joinPath(station.settings.modelDir, fileName); }

  struct Flags {
    bool active, dark, light;
  };
  Flags flags(qint64 id) {
    const Rows r = store->query(QStringLiteral("SELECT Active, dark, light FROM Model WHERE id = ?"), {id});
    EXPECT_EQ(r.size(), 1);
    if (r.size() != 1) return {};
    return {r.rows[0][0].toBool(), r.rows[0][1].toBool(), r.rows[0][2].toBool()};
  }

  static QString lfw(const QString& person, int n) {
    return testData(QStringLiteral("lfw10/%1/%1_%2.jpg").arg(person).arg(n, 4, 10, QLatin1Char('0')));
  }

  // A photo written into the program directory (host path).
  QString writeImage(const QImage& image, const QString& name) {
    const QString path = dir.file(name);
    EXPECT_TRUE(image.save(path, "JPEG", 95));
    return path;
  }

  std::unique_ptr<DataStore> store;
  std::unique_ptr<FaceBase> base;

 private:
  int serial_ = 0;
};

}  // namespace tavo::test
