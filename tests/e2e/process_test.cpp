#include <gtest/gtest.h>

#include <QDir>
#include <csignal>

#include "tests/e2e/station_process.h"

using tavo::test::StationProcess;

TEST(StationProcess, StartsHeadlessCreatesItsFoldersAndEndsCleanlyOnSigterm) {
  StationProcess station;
  ASSERT_TRUE(station.start());
  ASSERT_TRUE(station.waitForLog("template base", 30000)) << station.output().toStdString();
  EXPECT_TRUE(QDir(station.programDir() + "Temp").exists());
  EXPECT_TRUE(QDir(station.drive("Face/Monitor")).exists());
  EXPECT_TRUE(QDir(station.drive("Face/Model/TempModel")).exists());
  EXPECT_TRUE(QDir(station.drive("Face/Work")).exists());
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
