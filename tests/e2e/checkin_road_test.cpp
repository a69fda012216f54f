// The road of a check-in through the real headless station: a real encrypted database, the real
// networks, the camera fed by the test clips (a video file as the web camera, and once an RTSP
// stream on 127.0.0.1 served by VLC), the office system played by request files and by
// tavolin-office.
#include <gtest/gtest.h>


#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <csignal>

#include "tests/e2e/office_side.h"
#include "tests/e2e/station_process.h"
#include "tests/support/rtsp_server.h"
#include "tests/support/test_env.h"

namespace tavo::test {
namespace {

const QString kEan = QStringLiteral("2200000169020");
const QString kUnknown = QStringLiteral("4600000000017");
const QString kClip1 = QStringLiteral("clips/subj01_timepoint01.mp4");
const QString kClip2 = QStringLiteral("clips/subj02_timepoint01.mp4");
constexpr int kStartMs = 120000;

QByteArray webCamIni(const QString& clip) {
  return "[param]\r\nWebCam=" + testData(clip).toUtf8() + "\r\nSoundEnabled=0\r\n";
}

// Statements on the station's database through tavolin-db; rows as tab-separated lines (header
// first).
QStringList sql(const StationProcess& station, const QString& statement, const QStringList& values = {}) {
  const StationProcess::SqlResult r = station.sql(statement, values);
  EXPECT_EQ(r.exitCode, 0) << r.errors.toStdString();
  return r.rows;
}


QString workPhoto(const StationProcess& station, const QString& name) {
  return station.drive("Face/Work/" + QString(name).replace('\\', '/') + "_face.bin");
}

// Makes the picture of the station's last check-in (its encrypted "Temp\model1C_face.bin", a
// whole frame of the camera) an active model of the barcode.
void enrolLastPicture(StationProcess& station, const QString& ean) {
  const QString fileName = QStringLiteral("20190101-0B7C2D3E-4F50-6172-8394-A5B6C7D8E9F0");
  ASSERT_TRUE(QFile::copy(station.programDir() + "Temp/model1C_face.bin",
                          station.drive("Face/Model/" + fileName + "_face.bin")));
  sql(station, "INSERT INTO Model (EAN, Active, FileName, DateInsert) VALUES (?, 1, ?, '2019-01-01T08:00:00')",
      {ean, fileName});
}

TEST(CheckInRoad, UnknownThenConfirmedThenAnotherPersonWithTheClipsAsWebCamera) {
  StationProcess station;
  const QString today = QDate::currentDate().toString(Qt::ISODate);

  // 1. A barcode without models: one picture, "not found".
  station.writeIni("tavo.ini", webCamIni(kClip1));
  ASSERT_TRUE(station.startAndWaitForBase(kStartMs)) << station.output().toStdString();
  QByteArray answer = checkIn(station, kEan);
  ASSERT_FALSE(answer.isEmpty()) << station.output().toStdString();
  const QString unknownPhoto = secondLine(answer);
  EXPECT_EQ(answer, lines({kEan, unknownPhoto, "not found"}));
  EXPECT_TRUE(QFileInfo::exists(workPhoto(station, unknownPhoto))) << unknownPhoto.toStdString();
  EXPECT_TRUE(station.output().contains("Нет в базе"));
  EXPECT_EQ(station.stop(SIGTERM), 0);
  QStringList rows = sql(station, "SELECT SN, tags, idModel, is_face, FileName FROM Works");
  ASSERT_EQ(rows.size(), 2);
  EXPECT_EQ(rows[1], QStringList({kEan, "not found", "0", "0", unknownPhoto}).join('\t'));

  // 2. The same person's face enrolled: confirmed at once.
  enrolLastPicture(station, kEan);
  ASSERT_TRUE(station.startAndWaitForBase(kStartMs)) << station.output().toStdString();
  answer = checkIn(station, kEan);
  const QString confirmedPhoto = secondLine(answer);
  EXPECT_EQ(answer, lines({kEan, confirmedPhoto, kEan})) << station.output().toStdString();
  EXPECT_TRUE(QFileInfo::exists(workPhoto(station, confirmedPhoto)));
  EXPECT_TRUE(station.output().contains("ШК есть в базе"));

  // The office system's tool for an unknown barcode: the answer printed, exit code 0.
  QProcess office;
  office.start(buildDir() + "/tools/tavolin-office",
               {"checkin", station.drive("Face/Monitor"), kUnknown, "--timeout", "120"});
  while (!office.waitForFinished(100)) station.waitForLog(QStringLiteral("\x01"), 50);
  EXPECT_EQ(office.exitCode(), 0) << office.readAllStandardError().toStdString();
  const QStringList printed = QString::fromLocal8Bit(office.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(printed.size(), 3);
  EXPECT_EQ(printed[0], kUnknown);
  EXPECT_EQ(printed[2], "not found");
  QThread::msleep(500);  // the run ends after the answer is written
  EXPECT_EQ(station.stop(SIGTERM), 0);

  rows = sql(station, "SELECT DateLastDetection, DateLastSimilarity FROM Model");
  ASSERT_EQ(rows.size(), 2);
  EXPECT_EQ(rows[1], today + '\t' + today);
  rows = sql(station, "SELECT SN, excellent, is_face, tags FROM Works WHERE FileName = ?", {confirmedPhoto});
  ASSERT_EQ(rows.size(), 2);
  EXPECT_EQ(rows[1], kEan + "\t1\t1\t");
  rows = sql(station, "SELECT PercentDifference FROM Works WHERE FileName = ?", {confirmedPhoto});
  EXPECT_GE(rows.value(1).toDouble(), 75.0);

  // 3. Another person in front of the camera: three attempts, "low percent".
  sql(station, "UPDATE Model SET DateLastSimilarity = NULL");
  station.writeIni("tavo.ini", webCamIni(kClip2));
  ASSERT_TRUE(station.startAndWaitForBase(kStartMs)) << station.output().toStdString();
  answer = checkIn(station, kEan);
  const QString lastPhoto = secondLine(answer);
  EXPECT_EQ(answer, lines({kEan, lastPhoto, "low percent"})) << station.output().toStdString();
  EXPECT_EQ(station.stop(SIGTERM), 0);
  rows = sql(station, "SELECT count(*) FROM Result");
  EXPECT_EQ(rows.value(1), "3");
  rows = sql(station, "SELECT FileName FROM Result ORDER BY id DESC LIMIT 1");
  EXPECT_EQ(rows.value(1), lastPhoto);
  rows = sql(station, "SELECT DateLastSimilarity FROM Model");
  EXPECT_EQ(rows.value(1), "NULL");
  // Each attempt below the minimum (the best model may still be the barcode's own one).
  rows = sql(station, "SELECT PercentDifference < 75, tags FROM Works WHERE SN = ? ORDER BY id DESC LIMIT 3", {kEan});
  EXPECT_EQ(rows.mid(1), QStringList({"1\t", "1\t", "1\t"}));
}

TEST(CheckInRoad, ConfirmedFromAnRtspStream) {
  if (QStandardPaths::findExecutable("cvlc").isEmpty()) GTEST_SKIP() << "cvlc (VLC) is not installed";
  StationProcess station;

  // The model: a frame of clip 1 taken by the station itself from the file camera.
  station.writeIni("tavo.ini", webCamIni(kClip1));
  ASSERT_TRUE(station.startAndWaitForBase(kStartMs)) << station.output().toStdString();
  ASSERT_FALSE(checkIn(station, kUnknown).isEmpty()) << station.output().toStdString();
  EXPECT_EQ(station.stop(SIGTERM), 0);
  enrolLastPicture(station, kEan);

  QFile::remove(station.programDir() + "error.txt");
  RtspServer server(testData(kClip1));
  ASSERT_TRUE(server.ready());
  server.start();
  station.writeIni("tavo.ini", "[param]\r\nCam_RTSP=1\r\nRTSP=" + server.url().toUtf8() + "\r\nSoundEnabled=0\r\n");
  ASSERT_TRUE(station.startAndWaitForBase(kStartMs)) << station.output().toStdString();
  QThread::msleep(3000);  // the stream's first key frame
  const QByteArray answer = checkIn(station, kEan);
  EXPECT_EQ(answer, lines({kEan, secondLine(answer), kEan})) << station.output().toStdString();
  EXPECT_FALSE(QFileInfo::exists(station.programDir() + "error.txt"));  // the web-camera branch only
  EXPECT_EQ(station.stop(SIGTERM), 0);
}

}  // namespace
}  // namespace tavo::test
