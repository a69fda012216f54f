#pragma once
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <deque>
#include <memory>
#include <vector>

#include "base/clock.h"
#include "base/operator_messages.h"
#include "base/paths.h"
#include "base/station.h"
#include "checkin/checkin_run.h"
#include "data/data_store.h"
#include "data/schema.h"
#include "face/picture/face_cropper.h"
#include "face/picture/frame_grab.h"
#include "tests/support/station_on_disk.h"
#include "tests/support/test_env.h"

namespace tavo::test {

// One scripted result of the face engine for one attempt.
struct Scripted {
  int idModel = 0;
  double percent = 0;
};

// A program directory with a real encrypted database, the cascades, flag and work folders on
// drive C:, a station on a fixed clock, and a check-in run whose camera hands out a real photo
// and whose face engine gives scripted percentages.
class CheckInFixture : public ::testing::Test, protected StationOnDisk {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    createDatabaseFile(dir.file(QStringLiteral("FaceBase.mdb")), QLatin1String(kDatabasePassword));
    station.settings.flagDir = QStringLiteral("C:\\Face\\Monitor");
    station.settings.workDir = QStringLiteral("C:\\Face\\Work");
    station.settings.camRtsp = true;  // no web-camera message unless a test asks for it
    station.settings.cutLeft = QStringLiteral("0");
    station.settings.cutRight = QStringLiteral("0");
    station.settings.percent = 75;
    station.locale = QLocale(QLocale::English);
    QDir().mkpath(hostPath(station.settings.flagDir));
    QDir().mkpath(hostPath(station.settings.workDir));
    dir.installCascades();
    store = std::make_unique<DataStore>(station);
    store->open();
    cameras = std::make_unique<Cameras>(station);
    cropper = std::make_unique<FaceCropper>(station);
    cropper->loadCascades();
    run = std::make_unique<CheckInRun>(station, *store, *cameras, *cropper);
    run->initialWaitMs = 0;
    run->grab = [this](const QString& message) {
      grabMessages << message;
      if (!framesOk.empty()) {
        const bool ok = framesOk.front();
        framesOk.pop_front();
        if (!ok) return false;
      }
      QFile::remove(fullJpg());
      return QFile::copy(picture, fullJpg());
    };
    run->recognize = [this](const QString& name, int mode, int& id, double& p, QString& fio) {
      recognizeCalls << QStringLiteral("%1/%2").arg(name).arg(mode);
      if (script.empty()) return;
      id = script.front().idModel;
      p = script.front().percent;
      fio.clear();
      script.pop_front();
    };
    run->templateBaseIsEmpty = [this] { return baseEmpty; };
    run->playSound = [this](std::uint8_t kind) { sounds.push_back(kind); };
  }

  QString fullJpg() const { return dir.file(QStringLiteral("Temp/model_full.jpg")); }
  QString flagFile(const QString& name) const { return hostPath(joinPath(station.settings.flagDir, name)); }
  QString workFile(const QString& name) const {
    return hostPath(station.settings.workDir + QLatin1Char('\\') + name);
  }
  QByteArray answer(const QString& ean) const { return readFile(flagFile("out" + ean + ".txt")); }

  qint64 addModel(const QString& ean, bool active = true) {
    store->database().exec(QStringLiteral("INSERT INTO Model (EAN, Active, DateInsert) VALUES (?, ?, ?)"),
                           {ean, active, QDateTime(QDate(2019, 1, 1), QTime(8, 0))});
    return store->database().lastInsertId();
  }
  QVariant modelField(qint64 id, const QString& column) {
    return store->database().scalar(QStringLiteral("SELECT %1 FROM Model WHERE id = ?").arg(column), {id});
  }
  Rows works() {
    return store->database().query(QStringLiteral(
        "SELECT FileName, is_face, idModel, PercentDifference, SN, excellent, tags, cLeft, cRight, datedoc "
        "FROM Works ORDER BY id"));
  }
  Rows results() {
    return store->database().query(
        QStringLiteral("SELECT idmodel, PercentDifference, FileName, fio FROM Result ORDER BY id"));
  }

  void checkIn(const QString& ean) {
    station.settings.ean = ean;
    run->FaceDetectionLuxandRTSP(true);
  }

  std::unique_ptr<DataStore> store;
  std::unique_ptr<Cameras> cameras;
  std::unique_ptr<FaceCropper> cropper;
  std::unique_ptr<CheckInRun> run;

  QString picture = testData(QStringLiteral("lfw10/") + firstLfwPicture());
  std::deque<bool> framesOk;  // per grab; empty: every grab succeeds
  std::deque<Scripted> script;
  bool baseEmpty = false;
  QStringList grabMessages, recognizeCalls;
  std::vector<int> sounds;

  static QString firstLfwPicture() {
    const QDir lfw(testData(QStringLiteral("lfw10")));
    const QStringList people = lfw.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    if (people.isEmpty()) return {};
    const QStringList files = QDir(lfw.filePath(people.first())).entryList({"*.jpg"}, QDir::Files, QDir::Name);
    return files.isEmpty() ? QString() : people.first() + '/' + files.first();
  }
};

}  // namespace tavo::test
