#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <csignal>

#include "tests/e2e/station_process.h"

using tavo::test::StationProcess;

TEST(StationProcess, StartsHeadlessCreatesItsFoldersAndEndsCleanlyOnSigterm) {
  StationProcess station;
  ASSERT_TRUE(station.start());
  ASSERT_TRUE(station.waitForLog("end - LUX", 60000)) << station.output().toStdString();
  EXPECT_TRUE(QDir(station.programDir() + "Temp").exists());
  EXPECT_TRUE(QDir(station.drive("Face/Monitor")).exists());
  EXPECT_TRUE(QDir(station.drive("Face/Model/TempModel")).exists());
  EXPECT_TRUE(QDir(station.drive("Face/Work")).exists());
  // ArrayOk.txt follows the "end - LUX" line
  QElapsedTimer waited;
  waited.start();
  while (!QFile::exists(station.drive("Face/Monitor/ArrayOk.txt")) && waited.elapsed() < 10000) QThread::msleep(50);
  EXPECT_TRUE(QFile::exists(station.drive("Face/Monitor/ArrayOk.txt")));
  EXPECT_TRUE(station.running());
  EXPECT_EQ(station.stop(SIGTERM), 0) << station.output().toStdString();
}

TEST(StationProcess, EndsCleanlyOnSigintAlsoAfterAFailedStartUp) {
  StationProcess station;
  QDir(station.drive("Face")).removeRecursively();  // the default flag directory cannot be made
  ASSERT_TRUE(station.start());
  ASSERT_TRUE(station.waitForLog("C:\\Face\\Monitor", 30000)) << station.output().toStdString();
  EXPECT_TRUE(station.running());  // the process goes on after the failed start-up
  EXPECT_EQ(station.stop(SIGINT), 0);
}
