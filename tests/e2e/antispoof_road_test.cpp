// Presentation attacks through the real headless station with AntiSpoof=1: the web camera is a
// video file made from one nuaa capture, live or of a printed photo of the same person.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include "tests/e2e/office_side.h"
#include "tests/e2e/station_process.h"
#include "tests/support/test_env.h"

namespace tavo::test {
namespace {

const QString kEan = QStringLiteral("2200000169020");
const QString kUnknown = QStringLiteral("4600000000017");

// Statements on the station's database through tavolin-db; rows as tab-separated lines (header
// first).
QStringList sql(const StationProcess& station, const QString& statement, const QStringList& values = {}) {
  const StationProcess::SqlResult r = station.sql(statement, values);
  EXPECT_EQ(r.exitCode, 0) << r.errors.toStdString();
  return r.rows;
}

// A two-second MJPEG video of one still picture.
QString stillVideo(const QTemporaryDir& dir, const QString& name, const cv::Mat& frame) {
  const QString path = dir.filePath(name);
  cv::VideoWriter video(path.toStdString(), cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 10, frame.size());
  EXPECT_TRUE(video.isOpened());
  for (int i = 0; i < 20; ++i) video.write(frame);
  return path;
}

QString stillVideo(const QTemporaryDir& dir, const QString& name, const QString& picture) {
  const cv::Mat frame = cv::imread(testData(picture).toStdString(), cv::IMREAD_COLOR);
  EXPECT_FALSE(frame.empty()) << picture.toStdString();
  return stillVideo(dir, name, frame);
}

QByteArray ini(const QString& video, bool antiSpoof) {
  return "[param]\r\nWebCam=" + video.toUtf8() + "\r\nSoundEnabled=0\r\nAntiSpoof=" + (antiSpoof ? "1" : "0") + "\r\n";
}

// The model of kEan: the station's own picture of the live capture, taken for a barcode without
// models. Leaves the station stopped.
void enrolLiveCapture(StationProcess& station, const QString& live) {
  station.writeIni("tavo.ini", ini(live, true));
  ASSERT_TRUE(station.startAndWaitForBase(120000)) << station.output().toStdString();
  ASSERT_EQ(secondLine(checkIn(station, kUnknown)).isEmpty(), false) << station.output().toStdString();
  EXPECT_EQ(station.stop(SIGTERM), 0);
  const QString model = QStringLiteral("20190101-0B7C2D3E-4F50-6172-8394-A5B6C7D8E9F0");
  ASSERT_TRUE(QFile::copy(station.programDir() + "Temp/model1C_face.bin", station.drive("Face/Model/" + model + "_face.bin")));
  sql(station, "INSERT INTO Model (EAN, Active, FileName, DateInsert) VALUES (?, 1, ?, '2019-01-01T08:00:00')", {kEan, model});
}

TEST(AntiSpoofRoad, PrintedPhotoIsRefusedAsSpoofWhileTheLiveCaptureIsConfirmed) {
  QTemporaryDir videos;
  const QString live = stillVideo(videos, "live.avi", "nuaa/real/0002/0002_01_00_01_14.jpg");
  const QString print = stillVideo(videos, "print.avi", "nuaa/print/0002/0002_01_08_03_222.jpg");
  StationProcess station;
  enrolLiveCapture(station, live);
  if (::testing::Test::HasFatalFailure()) return;

  // The live person: confirmed at the first attempt as without the check, the score logged.
  ASSERT_TRUE(station.startAndWaitForBase(120000)) << station.output().toStdString();
  QByteArray answer = checkIn(station, kEan);
  const QString livePhoto = secondLine(answer);
  EXPECT_EQ(answer, lines({kEan, livePhoto, kEan})) << station.output().toStdString();
  EXPECT_TRUE(station.output().contains("*live - score ")) << station.output().toStdString();
  EXPECT_EQ(station.stop(SIGTERM), 0);
  QStringList rows = sql(station, "SELECT excellent, tags FROM Works WHERE FileName = ?", {livePhoto});
  EXPECT_EQ(rows.value(1), "1\t");

  // The printed photo of the same person: three attempts, each judged an attack and tagged, the
  // answer "spoof" whatever the similarity.
  station.writeIni("tavo.ini", ini(print, true));
  ASSERT_TRUE(station.startAndWaitForBase(120000)) << station.output().toStdString();
  answer = checkIn(station, kEan);
  const QString lastPhoto = secondLine(answer);
  EXPECT_EQ(answer, lines({kEan, lastPhoto, "spoof"})) << station.output().toStdString();
  EXPECT_EQ(station.output().count("*spoof - score "), 3) << station.output().toStdString();
  EXPECT_EQ(station.stop(SIGTERM), 0);
  rows = sql(station, "SELECT tags FROM Works WHERE SN = ? ORDER BY id DESC LIMIT 3", {kEan});
  EXPECT_EQ(rows.mid(1), QStringList({"spoof", "spoof", "spoof"}));
  EXPECT_EQ(sql(station, "SELECT FileName FROM Works WHERE SN = ? ORDER BY id DESC LIMIT 1", {kEan}).value(1), lastPhoto);
  EXPECT_EQ(sql(station, "SELECT count(*) FROM Result").value(1), "3");

  // AntiSpoof=0: the check-in as before, no liveness judged.
  station.writeIni("tavo.ini", ini(print, false));
  const int judged = station.output().count("*spoof - ") + station.output().count("*live - ");
  ASSERT_TRUE(station.startAndWaitForBase(120000)) << station.output().toStdString();
  answer = checkIn(station, kEan);
  EXPECT_NE(answer.split('\n').value(2).trimmed(), "spoof");
  EXPECT_EQ(station.output().count("*spoof - ") + station.output().count("*live - "), judged);
  EXPECT_EQ(station.stop(SIGTERM), 0);
}

TEST(AntiSpoofRoad, AnEmptySceneIsNoAttackAndAMissingNetworkIsRefusedAtStartUp) {
  QTemporaryDir videos;
  StationProcess station;
  enrolLiveCapture(station, stillVideo(videos, "live.avi", "nuaa/real/0002/0002_01_00_01_14.jpg"));
  if (::testing::Test::HasFatalFailure()) return;

  // Frames without a face are not judged: the check-in ends as with AntiSpoof=0.
  for (const cv::Size size : {cv::Size(640, 480), cv::Size(32, 21), cv::Size(1, 1)}) {
    const QString video = stillVideo(videos, QStringLiteral("black%1x%2.avi").arg(size.width).arg(size.height),
                                     cv::Mat(size, CV_8UC3, cv::Scalar::all(0)));
    station.writeIni("tavo.ini", ini(video, true));
    const int spoofLines = station.output().count("*spoof");
    const int notJudged = station.output().count("*liveness - no face to judge");
    ASSERT_TRUE(station.startAndWaitForBase(120000)) << station.output().toStdString();
    const QByteArray answer = checkIn(station, kEan);
    EXPECT_EQ(answer, lines({kEan, secondLine(answer), "low percent"})) << size << station.output().toStdString();
    EXPECT_EQ(station.output().count("*spoof"), spoofLines) << size;
    EXPECT_EQ(station.output().count("*liveness - no face to judge"), notJudged + 3) << size;  // all three attempts
    EXPECT_EQ(station.stop(SIGTERM), 0);
    EXPECT_EQ(sql(station, "SELECT count(*) FROM Works WHERE SN = ? AND tags LIKE '%spoof%'", {kEan}).value(1), "0") << size;
  }
  EXPECT_EQ(sql(station, "SELECT count(*) FROM Works WHERE SN = ?", {kEan}).value(1), "9");

  // Without the network the setting is refused once, loudly, and check-ins are answered.
  ASSERT_TRUE(QFile::remove(station.programDir() + "nets/fr_liveness.onnx"));
  station.writeIni("tavo.ini", ini(stillVideo(videos, "print.avi", "nuaa/print/0002/0002_01_08_03_222.jpg"), true));
  ASSERT_TRUE(station.startAndWaitForBase(120000)) << station.output().toStdString();
  EXPECT_TRUE(station.output().contains("message: AntiSpoof=1 refused: the liveness network ")) << station.output().toStdString();
  const int refusals = station.output().count("AntiSpoof=1 refused");
  const QByteArray answer = checkIn(station, kEan);
  EXPECT_EQ(answer.split('\n').size(), 4) << answer.toStdString() << station.output().toStdString();
  EXPECT_NE(answer.split('\n').value(2).trimmed(), "spoof");
  EXPECT_EQ(station.output().count("AntiSpoof=1 refused"), refusals);  // said at start-up, not per run
  EXPECT_EQ(station.output().count("*spoof") + station.output().count("*live - "), 0);
  EXPECT_EQ(station.stop(SIGTERM), 0);
}

}  // namespace
}  // namespace tavo::test
