// Two real stations on one program directory or one flag folder: the second says so and serves
// nothing there; the hold dies with the first (kill -9 leaves nothing stale), and the readiness
// flag the killed run left is gone before the next run announces itself.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <csignal>

#include "tests/e2e/office_side.h"
#include "tests/e2e/station_process.h"
#include "tests/support/test_env.h"

namespace tavo::test {
namespace {

const QString kUnknown = QStringLiteral("4600000000017");
constexpr int kStartMs = 120000;

QByteArray ini(const QString& monitor = QString()) {
  QByteArray text = "[param]\r\nWebCam=" + testData("clips/subj01_timepoint01.mp4").toUtf8() + "\r\nSoundEnabled=0\r\n";
  if (!monitor.isEmpty()) text += "Monitor=" + monitor.toUtf8() + "\r\n";
  return text;
}

void watch(StationProcess& station, int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) station.waitForLog(QStringLiteral("\x01"), 50);
}

int runs(StationProcess& station) { return int(station.output().count("start - FaceDetectionLuxandRTSP")); }

TEST(TwoStations, ASecondStationOnTheSameFoldersServesNothingAndTheHoldDiesWithTheFirst) {
  StationProcess first;
  first.writeIni("tavo.ini", ini());
  ASSERT_TRUE(first.startAndWaitForBase(kStartMs)) << first.output().toStdString();
  const QString sharedFlag = first.drive("Face/Monitor");
  ASSERT_TRUE(QFile::exists(sharedFlag + "/ArrayOk.txt"));

  // 1. A second process on the first's program directory: it reads, imports and writes nothing.
  StationProcess onProgramDir;
  const QString ownFlag = onProgramDir.drive("Face/Monitor");
  ASSERT_TRUE(QDir().mkpath(ownFlag));
  writeFile(ownFlag + "/123.txt", kUnknown.toLatin1() + "\r\n");
  ASSERT_TRUE(onProgramDir.start({"--program-dir", first.programDir()}));
  EXPECT_TRUE(onProgramDir.waitForLog("is served by another station", 30000)) << onProgramDir.output().toStdString();
  EXPECT_TRUE(onProgramDir.output().contains("held by station process")) << onProgramDir.output().toStdString();
  watch(onProgramDir, 1000);
  EXPECT_TRUE(onProgramDir.running());
  EXPECT_TRUE(QFile::exists(ownFlag + "/123.txt"));
  EXPECT_EQ(runs(onProgramDir), 0);
  EXPECT_FALSE(onProgramDir.output().contains("start - LUX"));

  // 2. A station of its own whose flag folder is the first's: every request is the first's.
  StationProcess onFlag;
  onFlag.writeIni("tavo.ini", ini(sharedFlag));
  ASSERT_TRUE(onFlag.start());
  EXPECT_TRUE(onFlag.waitForLog("is served by another station", kStartMs)) << onFlag.output().toStdString();
  for (int i = 0; i < 3; ++i)
    EXPECT_TRUE(checkIn(first, kUnknown).endsWith("not found\r\n")) << first.output().toStdString();
  watch(onFlag, 500);
  EXPECT_EQ(runs(first), 3);
  EXPECT_EQ(runs(onFlag), 0);
  EXPECT_TRUE(QFile::exists(sharedFlag + "/ArrayOk.txt"));  // the first's flag is the first's business

  // 3. kill -9: nothing stale holds the folders, but the killed run's flag is no longer true.
  EXPECT_EQ(first.stop(SIGKILL), -1);
  EXPECT_EQ(onFlag.stop(SIGTERM), 0);
  EXPECT_EQ(onProgramDir.stop(SIGTERM), 0);
  ASSERT_TRUE(QFile::exists(sharedFlag + "/ArrayOk.txt"));
  const qsizetype before = onFlag.output().size();
  ASSERT_TRUE(onFlag.startAndWaitForBase(kStartMs)) << onFlag.output().toStdString();
  const QString restart = onFlag.output().mid(before);
  const qsizetype removed = restart.indexOf("An old \"ArrayOk.txt\" was removed");
  EXPECT_GE(removed, 0) << restart.toStdString();
  EXPECT_LT(removed, restart.indexOf("start - LUX"));
  // This run's own, written just after "end - LUX".
  for (int i = 0; i < 100 && !QFile::exists(sharedFlag + "/ArrayOk.txt"); ++i) watch(onFlag, 100);
  EXPECT_TRUE(QFile::exists(sharedFlag + "/ArrayOk.txt"));
  EXPECT_TRUE(checkIn(onFlag, kUnknown, sharedFlag).endsWith("not found\r\n")) << onFlag.output().toStdString();
  EXPECT_EQ(runs(onFlag), 1);
  EXPECT_EQ(onFlag.stop(SIGTERM), 0);

  ASSERT_TRUE(onProgramDir.start({"--program-dir", first.programDir()}));
  EXPECT_TRUE(onProgramDir.waitForLog("end - LUX", kStartMs)) << onProgramDir.output().toStdString();
  EXPECT_EQ(onProgramDir.stop(SIGTERM), 0);
}

}  // namespace
}  // namespace tavo::test
