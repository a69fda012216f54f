// tavolin-office on its own: the office system's side of the flag directory, with the test
// playing the station.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include "tests/support/test_env.h"

namespace tavo::test {
namespace {

TEST(OfficeTool, ALongTimeoutStillWaitsForTheAnswer) {
  QTemporaryDir flag;
  ASSERT_TRUE(flag.isValid());
  QProcess office;
  // 30 days: more milliseconds than an int holds.
  office.start(buildDir() + "/tools/tavolin-office", {"checkin", flag.path(), "2200000169020", "--timeout", "2592000"});
  ASSERT_TRUE(office.waitForStarted());
  QElapsedTimer t;
  t.start();
  while (!QFile::exists(flag.filePath("123.txt")) && t.elapsed() < 10000) QThread::msleep(10);
  ASSERT_TRUE(QFile::exists(flag.filePath("123.txt")));
  EXPECT_EQ(office.state(), QProcess::Running);
  writeFile(flag.filePath("out2200000169020.txt"), "2200000169020\r\nphoto\r\n2200000169020\r\n");
  ASSERT_TRUE(office.waitForFinished(10000));
  EXPECT_EQ(office.exitCode(), 0) << office.readAllStandardError().toStdString();
  EXPECT_EQ(office.readAllStandardOutput(), "2200000169020\nphoto\n2200000169020\n");

  QProcess bad;
  bad.start(buildDir() + "/tools/tavolin-office", {"checkin", flag.path(), "1", "--timeout", "nan"});
  ASSERT_TRUE(bad.waitForFinished(10000));
  EXPECT_EQ(bad.exitCode(), 2);
}

}  // namespace
}  // namespace tavo::test
