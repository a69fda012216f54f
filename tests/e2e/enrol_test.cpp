// The road of an enrolment through the real headless station: "New.txt" with a clip as the web
// camera, then "user.txt" for a new barcode, then a check-in of that barcode by the same person.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>
#include <csignal>

#include "tests/e2e/office_side.h"
#include "tests/e2e/station_process.h"
#include "tests/support/test_env.h"

namespace tavo::test {
namespace {

bool waitForFile(StationProcess& station, const QString& path, int timeoutMs) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < timeoutMs) {
    if (QFileInfo::exists(path)) return true;
    QThread::msleep(100);
    station.output();  // keeps reading the station's output meanwhile
  }
  return QFileInfo::exists(path);
}

TEST(EnrolmentRoad, SeriesThenEnrolmentOfANewBarcode) {
  StationProcess station;
  station.writeIni("tavo.ini", "[param]\r\nWebCam=" + testData("clips/subj01_timepoint01.mp4").toUtf8() +
                                   "\r\nWaitTime=200\r\nSoundEnabled=0\r\n");
  ASSERT_TRUE(station.start());
  ASSERT_TRUE(station.waitForLog("end - LUX", 60000)) << station.output().toStdString();
  const QString flag = station.drive("Face/Monitor/");
  const QString models = station.drive("Face/Model/");

  // The series: three face pictures and an empty "ready.txt".
  writeFile(flag + "New.txt", "");
  ASSERT_TRUE(waitForFile(station, flag + "ready.txt", 90000)) << station.output().toStdString();
  EXPECT_EQ(QFileInfo(flag + "ready.txt").size(), 0);
  for (const char* name : {"Face101_face.jpg", "Face102_face.jpg", "Face103_face.jpg"})
    EXPECT_GT(QFileInfo(flag + name).size(), 0) << name;
  EXPECT_FALSE(QFileInfo::exists(flag + "Photo1.jpg"));
  EXPECT_TRUE(station.waitForLog("Form1.GetNewPhoto - end", 5000));
  QThread::msleep(200);
  EXPECT_FALSE(QFileInfo::exists(flag + "New.txt"));

  // The office system's user picked the first picture of a barcode nobody has yet.
  writeFile(flag + "user.txt", "2200000169020\r\nFace101\r\n\r\n");
  ASSERT_TRUE(waitForFile(station, flag + "endUser.txt", 90000)) << station.output().toStdString();
  QThread::msleep(300);
  const QList<QByteArray> endUser = readFile(flag + "endUser.txt").split('\n');
  ASSERT_EQ(endUser.size(), 3) << readFile(flag + "endUser.txt").toStdString();
  EXPECT_EQ(endUser[0], "\r");  // enrolled: an empty first line
  bool number = false;
  const double p = QString::fromLatin1(endUser[1].trimmed()).replace(',', '.').toDouble(&number);
  EXPECT_TRUE(number) << endUser[1].toStdString();
  EXPECT_LT(p, 70.0);
  EXPECT_EQ(endUser[2], "");

  // Three models of the barcode, and the request and series pictures are gone.
  EXPECT_EQ(QDir(models).entryList({"*_face.bin"}, QDir::Files).size(), 3);
  for (const char* name : {"user.txt", "Face101_face.jpg", "Face102_face.jpg", "Face103_face.jpg", "Photo1.jpg"})
    EXPECT_FALSE(QFileInfo::exists(flag + name)) << name;

  // The new employee checks in at once: the enrolled models are already in the template base.
  const QByteArray answer = checkIn(station, "2200000169020");
  EXPECT_EQ(answer, lines({"2200000169020", secondLine(answer), "2200000169020"})) << station.output().toStdString();
  EXPECT_EQ(station.stop(SIGTERM), 0) << station.output().toStdString();
}

}  // namespace
}  // namespace tavo::test
