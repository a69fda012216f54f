// The start-up steps as the station's parts wire them.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <unistd.h>

#include "base/clock.h"
#include "base/operator_messages.h"
#include "base/paths.h"
#include "app/shell/station_parts.h"
#include "base/station.h"
#include "app/station_app.h"
#include "checkin/flag_poll.h"
#include "data/data_store.h"
#include "data/database.h"
#include "data/schema.h"
#include "models/model_import.h"
#include "tests/support/test_env.h"

namespace tavo::test {
namespace {

TEST(StartUpParts, WithoutADatabaseTheImportStillRemovesTheFlagFileThenTheStartUpStops) {
  TempProgramDir dir;  // no "FaceBase.mdb"
  FixedClock clock{QDateTime(QDate(2019, 7, 9), QTime(10, 0))};
  RecordingMessages messages;
  Station station{&clock, &messages};
  ASSERT_TRUE(QDir().mkpath(dir.drives() + "/c/Face"));
  const QString flag = hostPath(QLatin1String(FileNameFlag_load_model_from_ftp));
  ASSERT_TRUE(QDir().mkpath(QFileInfo(flag).absolutePath()));
  writeFile(flag, "");
  {
    StationApp app(station, dir.path());
    StationParts parts(app);
    app.start();
    EXPECT_FALSE(app.startUpSucceeded());
    app.shutdown();
  }
  // The provider's error, then the start-up's own.
  ASSERT_EQ(messages.shown.size(), 2);
  EXPECT_TRUE(messages.shown[1].contains("База данных не открыта"));
  EXPECT_FALSE(QFile::exists(flag));
  EXPECT_FALSE(QFile::exists(dir.file("FaceBase.mdb")));
}

// A station over a program directory with a real database, the networks and the cascades,
// whose start-up can build the template base and announce it with "ArrayOk.txt".
class StartUpDatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.linkNetworks());
    ASSERT_TRUE(dir.installCascades());
    ASSERT_TRUE(QDir().mkpath(dir.drives() + "/c/Face"));
    createDatabaseFile(dbFile(), QLatin1String(kDatabasePassword));
    Database db;
    db.open(dbFile(), QLatin1String(kDatabasePassword));
    for (int i = 0; i < 20; ++i)
      db.exec("INSERT INTO Model (EAN, Active, FileName) VALUES (?, 0, 'x')", {QString::number(2200000000000 + i)});
    db.exec("INSERT INTO Result (PercentDifference) VALUES (91)");
    indexPage = db.scalar("SELECT rootpage FROM sqlite_master WHERE name = 'Model_EAN'").toInt();
    pageSize = db.scalar("PRAGMA page_size").toInt();
  }
  QString dbFile() const { return dir.file(QLatin1String(kDatabaseFileName)); }
  QString arrayOk() const { return hostPath(QStringLiteral("C:\\Face\\Monitor\\ArrayOk.txt")); }

  // Starts the station, then polls the flag folder; returns whether the database stayed open.
  bool start(int polls = 0) {
    StationApp app(station, dir.path());
    StationParts parts(app);
    app.start();
    for (int i = 0; i < polls; ++i) parts.poll().Timer1Timer();
    const bool open = parts.data().isOpen();
    app.shutdown();
    return open;
  }

  TempProgramDir dir;
  FixedClock clock{QDateTime(QDate(2019, 7, 9), QTime(10, 0))};
  RecordingMessages messages;
  Station station{&clock, &messages};
  int indexPage = 0;
  int pageSize = 0;
};

TEST_F(StartUpDatabaseTest, ASoundDatabaseIsAnnounced) {
  EXPECT_TRUE(start());
  EXPECT_TRUE(QFile::exists(arrayOk()));
}

// The index of the barcodes is damaged: the tables still open, but the first check-in would find
// no models. The station must not announce itself nor write to the file.
TEST_F(StartUpDatabaseTest, ADamagedDatabaseIsNeitherAnnouncedNorWritten) {
  ASSERT_GT(indexPage, 1);
  {
    QFile f(dbFile());
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.seek(qint64(indexPage - 1) * pageSize + 64));
    ASSERT_EQ(f.write(QByteArray(32, '\x5A')), 32);
  }
  const QByteArray before = readFile(dbFile());
  // The flag of an earlier run, and a request the office system sent meanwhile: a station that
  // refuses to serve must neither look ready nor take the request.
  const QString request = hostPath(QStringLiteral("C:\\Face\\Monitor\\123.txt"));
  ASSERT_TRUE(QDir().mkpath(QFileInfo(arrayOk()).absolutePath()));
  writeFile(arrayOk(), "");
  writeFile(request, "2200000000001\r\n");
  EXPECT_FALSE(start(5));
  EXPECT_FALSE(QFile::exists(arrayOk()));
  EXPECT_EQ(readFile(request), "2200000000001\r\n");
  EXPECT_TRUE(station.log.contains("An old \"ArrayOk.txt\" was removed"));
  EXPECT_TRUE(station.log.contains("Requests are not served"));
  EXPECT_FALSE(station.log.contains("FaceDetectionLuxandRTSP"));
  EXPECT_EQ(readFile(dbFile()), before);
  ASSERT_FALSE(messages.shown.isEmpty());
  EXPECT_TRUE(messages.shown[0].contains("повреждена")) << messages.shown[0].toStdString();
}

// Read-only (here a read-only bind mount of the file, which binds root as well).
TEST_F(StartUpDatabaseTest, AReadOnlyDatabaseIsNeitherAnnouncedNorWritten) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root for a read-only bind mount";
  const QString file = dbFile();
  if (QProcess::execute("mount", {"--bind", file, file}) != 0) GTEST_SKIP() << "mount --bind is not allowed here";
  struct Unmount {
    QString f;
    ~Unmount() { QProcess::execute("umount", {f}); }
  } unmount{file};
  ASSERT_EQ(QProcess::execute("mount", {"-o", "remount,ro,bind", file}), 0);
  const QByteArray before = readFile(file);
  EXPECT_FALSE(start());
  EXPECT_FALSE(QFile::exists(arrayOk()));
  EXPECT_EQ(readFile(file), before);
  ASSERT_FALSE(messages.shown.isEmpty());
  EXPECT_TRUE(messages.shown[0].contains("только для чтения")) << messages.shown[0].toStdString();
}

}  // namespace
}  // namespace tavo::test
