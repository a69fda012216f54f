// The real headless station against an office side that plays rough: a request that is a link
// to a file outside the flag folder, and a check-in request typed in slowly.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <csignal>

#include "tests/e2e/station_process.h"
#include "tests/support/test_env.h"

namespace tavo::test {
namespace {

// Keeps reading the station's output for ms milliseconds.
void watch(StationProcess& station, int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) station.waitForLog(QStringLiteral("\x01"), 50);
}

TEST(HostileRequests, ALinkIsNeverFollowedAndASlowRequestIsServedOnceWhole) {
  StationProcess station;
  station.writeIni("tavo.ini", "[param]\r\nWebCam=" + testData("clips/subj01_timepoint01.mp4").toUtf8() +
                                   "\r\nSoundEnabled=0\r\n");
  ASSERT_TRUE(station.start());
  ASSERT_TRUE(station.waitForLog("end - LUX", 120000)) << station.output().toStdString();
  const QString flag = station.drive("Face/Monitor/");

  // ln -s <a file only this machine may read> 123.txt
  const QString secret = station.programDir() + "secret.txt";
  writeFile(secret, "4600000000017\r\n");
  ASSERT_TRUE(QFile::link(secret, flag + "123.txt"));
  watch(station, 1500);
  EXPECT_FALSE(QFileInfo(flag + "123.txt").isSymLink());
  EXPECT_FALSE(QFileInfo::exists(flag + "out4600000000017.txt"));
  EXPECT_EQ(station.output().count("is a symbolic link: deleted unread"), 1) << station.output().toStdString();
  EXPECT_EQ(readFile(secret), "4600000000017\r\n");
  EXPECT_EQ(station.output().count("start - FaceDetectionLuxandRTSP"), 0);

  // One character every 0.3 s: one run, for the whole barcode.
  {
    QFile request(flag + "123.txt");
    ASSERT_TRUE(request.open(QIODevice::WriteOnly));
    for (const char c : QByteArray("2200000169020\r\n")) {
      request.write(&c, 1);
      request.flush();
      watch(station, 300);
    }
  }
  QElapsedTimer t;
  t.start();
  while (station.output().count("time_ms = ") < 1 && t.elapsed() < 120000) watch(station, 100);
  watch(station, 1000);
  EXPECT_EQ(QDir(flag).entryList({"out*"}, QDir::Files), QStringList{"out2200000169020.txt"});
  EXPECT_EQ(station.output().count("start - FaceDetectionLuxandRTSP"), 1) << station.output().toStdString();
  EXPECT_FALSE(QFileInfo::exists(flag + "123.txt"));
  EXPECT_EQ(station.stop(SIGTERM), 0);
}

}  // namespace
}  // namespace tavo::test
