// Work-log retention: which rows go, their files, the log lines, failures.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include "base/paths.h"
#include "data/orphan_photos.h"
#include "data_fixture.h"

namespace tavo::test {
namespace {

class DataRetentionTest : public DataFixture {
 protected:
  QDate today() const { return clock.today(); }
  int works() { return db().scalar("SELECT count(*) FROM Works").toInt(); }
  QString idLine() { return station.log.lines().isEmpty() ? QString() : station.log.lines().last().section(' ', 1); }
  // Writes a file of the work directory (station form of the name).
  void touch(const QString& name) { writeFile(hostPath(joinPath(station.settings.workDir, name)), "x"); }
  bool exists(const QString& name) { return fileExists(joinPath(station.settings.workDir, name)); }
  void startAgain() {
    store = std::make_unique<DataStore>(station);
    store->open();
    station.log.clear();
  }
};

TEST_F(DataRetentionTest, NoOldRowsLogsZeroAndSwitchesTheTimerOff) {
  addWork(today().addDays(-59), QTime(9, 0), "1", 0, false, "keep");
  touch("keep_face.bin");
  EXPECT_TRUE(store->retention().timer().isActive());
  EXPECT_EQ(store->retention().timer().interval(), 300);
  EXPECT_TRUE(store->retention().runPass());
  EXPECT_EQ(station.log.lines().size(), 1);
  EXPECT_EQ(idLine(), "0");
  EXPECT_EQ(works(), 1);
  EXPECT_TRUE(exists("keep_face.bin"));
  EXPECT_FALSE(store->retention().timer().isActive());
}

TEST_F(DataRetentionTest, SixtyDaysOldGoesFiftyNineStays) {
  const qint64 old = addWork(today().addDays(-60), QTime(23, 59), "1", 0, false, "old");
  addWork(today().addDays(-59), QTime(0, 0), "1", 0, false, "young");
  store->retention().runPass();
  EXPECT_EQ(idLine(), QString::number(old) + ",0");
  EXPECT_EQ(db().scalar("SELECT FileName FROM Works").toString(), "young");
}

TEST_F(DataRetentionTest, HundredTwentyOldRowsGoOverThreeStartsOldestFirst) {
  // Two days of old rows, inserted out of date order; within a day the lower id goes first.
  QList<qint64> dayA, dayB;
  for (int i = 0; i < 60; ++i) {
    dayB << addWork(today().addDays(-70), QTime(12, 0), "b");
    dayA << addWork(today().addDays(-80), QTime(23 - i % 20, 0), "a");
  }
  store->retention().runPass();
  QStringList expect;
  for (int i = 0; i < 50; ++i) expect << QString::number(dayA[i]);
  EXPECT_EQ(idLine(), expect.join(',') + ",0");
  EXPECT_EQ(works(), 70);

  startAgain();
  store->retention().runPass();
  expect.clear();
  for (int i = 50; i < 60; ++i) expect << QString::number(dayA[i]);
  for (int i = 0; i < 40; ++i) expect << QString::number(dayB[i]);
  EXPECT_EQ(idLine(), expect.join(',') + ",0");
  EXPECT_EQ(works(), 20);

  startAgain();
  store->retention().runPass();
  EXPECT_EQ(idLine().count(','), 20);
  EXPECT_EQ(works(), 0);
}

TEST_F(DataRetentionTest, FilesGoWithTheirRowsAndMissingFilesAreNoError) {
  const QString name = QStringLiteral("2019\\05\\01\\20190501-1B4E28BA-2FA1-11D2-883F-0016D3CCA427");
  const qint64 a = addWork(today().addDays(-69), QTime(9, 0), "1", 0, false, name);
  const qint64 b = addWork(today().addDays(-68), QTime(9, 0), "1", 0, false, "2019\\05\\02\\gone");
  const qint64 c = addWork(today().addDays(-67), QTime(9, 0), "1", 0, false, "..\\outside");
  for (const char* s : {"_face.jpg", "_face.bin", "_full.jpg"}) touch(name + s);
  touch("..\\outside_face.bin");
  store->retention().runPass();
  const QString folder = station.settings.workDir + '\\';
  EXPECT_EQ(station.log.lines().size(), 4);
  EXPECT_TRUE(station.log.lines()[0].endsWith(folder + name + "_face.jpg"));
  EXPECT_TRUE(station.log.lines()[1].endsWith(folder + name + "_face.bin"));
  EXPECT_TRUE(station.log.lines()[2].endsWith(folder + name + "_full.jpg"));
  EXPECT_EQ(idLine(), QStringLiteral("%1,%2,%3,0").arg(a).arg(b).arg(c));
  for (const char* s : {"_face.jpg", "_face.bin", "_full.jpg"}) EXPECT_FALSE(exists(name + s));
  EXPECT_TRUE(exists("..\\outside_face.bin"));  // a name reaching outside the folder is left alone
  EXPECT_EQ(works(), 0);
}

TEST_F(DataRetentionTest, TimerRunsOnePassPerStart) {
  addWork(today().addDays(-61), QTime(9, 0));
  QElapsedTimer t;
  t.start();
  while (!store->retention().done() && t.elapsed() < 3000) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  ASSERT_TRUE(store->retention().done());
  EXPECT_EQ(works(), 0);
  addWork(today().addDays(-61), QTime(9, 0));
  t.restart();
  while (t.elapsed() < 700) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  EXPECT_EQ(works(), 1);  // the next pass belongs to the next start
}

TEST_F(DataRetentionTest, FailedPassIsReportedOnceAndRetriedLater) {
  addWork(today().addDays(-61), QTime(9, 0));
  store->database().close();  // every statement now fails
  EXPECT_FALSE(store->retention().runPass());
  EXPECT_FALSE(store->retention().runPass());
  EXPECT_FALSE(store->retention().runPass());
  EXPECT_EQ(messages.shown.size(), 1);
  EXPECT_TRUE(messages.shown[0].contains("not open"));
  EXPECT_TRUE(store->retention().timer().isActive());
  EXPECT_GE(store->retention().timer().interval(), 4 * Retention::kFirstRetryMs);
  // A later try that succeeds ends the retries.
  store->database().open(dbPath(), QLatin1String(kDatabasePassword));
  EXPECT_TRUE(store->retention().runPass());
  EXPECT_FALSE(store->retention().timer().isActive());
  EXPECT_EQ(works(), 0);
}

// kill -9 during a check-in leaves a work photo whose row was never posted. The pass removes
// such photos once they are old enough not to belong to a run in progress, and only those this
// station noted as its own while writing them: the work folder may be shared with another
// station, or an older database restored, and their photos are not this station's to delete.
// Named photos, other files and anything behind a link stay.
TEST_F(DataRetentionTest, OldWorkPhotosThatNoRowNamesAreRemovedWithoutFollowingLinks) {
  const QString day = QStringLiteral("2019\\07\\08\\");
  const QString named = day + QStringLiteral("20190708-0A1B2C3D-0000-4000-8000-00000000000A");
  const QString orphan = day + QStringLiteral("20190708-0A1B2C3D-0000-4000-8000-00000000000B");
  const QString fresh = day + QStringLiteral("20190708-0A1B2C3D-0000-4000-8000-00000000000C");
  const QString foreign = day + QStringLiteral("20190708-0A1B2C3D-0000-4000-8000-00000000000F");
  const QString linked = day + QStringLiteral("20190708-0A1B2C3D-0000-4000-8000-00000000000E");
  addWork(today().addDays(-1), QTime(9, 0), "1", 0, false, named);
  const QStringList files{named + "_face.bin", orphan + "_face.bin", orphan + "_face.jpg", fresh + "_face.bin",
                          foreign + "_face.bin", day + "notes_face.bin", day + "20190708-lowercase-guid_face.bin"};
  for (const QString& f : files) touch(f);
  const QDateTime old = QDateTime::currentDateTime().addSecs(-3600);
  auto age = [&](const QString& host) {
    QFile f(host);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.setFileTime(old, QFileDevice::FileModificationTime));
  };
  for (const QString& f : files)
    if (f != fresh + "_face.bin") age(hostPath(joinPath(station.settings.workDir, f)));
  // The station's notes, as a check-in writes them: the named photo's row was posted after all
  // (killed before the note went), the fresh one may be a run in progress, the foreign photo has none.
  const QString notes = station.settings.programPath + QLatin1String(kUnpostedFolder);
  for (const QString& p : {named, orphan, fresh, linked}) {
    ASSERT_TRUE(noteUnpostedWorkPhoto(station.settings.programPath, joinPath(station.settings.workDir, p)));
    if (p != fresh) age(hostPath(notes + p.mid(day.size())));
  }
  // A link of the pattern's name, and a day folder that is a link: their targets are no photos of ours.
  const QString outside = dir.file("outside");
  ASSERT_TRUE(QDir().mkpath(outside));
  writeFile(outside + "/20190707-0A1B2C3D-0000-4000-8000-00000000000D_face.bin", "x");
  age(outside + "/20190707-0A1B2C3D-0000-4000-8000-00000000000D_face.bin");
  ASSERT_TRUE(QFile::link(outside + "/20190707-0A1B2C3D-0000-4000-8000-00000000000D_face.bin",
                          hostPath(joinPath(station.settings.workDir, linked + "_face.bin"))));
  ASSERT_TRUE(QFile::link(outside, hostPath(joinPath(station.settings.workDir, "2019\\07\\07"))));

  ASSERT_TRUE(store->retention().runPass());
  for (const QString& f : files)
    EXPECT_EQ(exists(f), !f.startsWith(orphan)) << f.toStdString();
  EXPECT_TRUE(QFileInfo(hostPath(joinPath(station.settings.workDir, linked + "_face.bin"))).isSymLink());
  EXPECT_TRUE(QFile::exists(outside + "/20190707-0A1B2C3D-0000-4000-8000-00000000000D_face.bin"));
  EXPECT_EQ(station.log.lines().filter(QStringLiteral("Фото без записи журнала удалено")).size(), 2);
  // The notes dealt with are gone; the fresh one waits for its run.
  EXPECT_EQ(QDir(hostPath(notes)).entryList(QDir::Files), QStringList{fresh.mid(day.size())});
}

}  // namespace
}  // namespace tavo::test
