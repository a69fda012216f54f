#include <QCoreApplication>
#include <QEventLoop>
#include <QImage>
#include <QThread>
#include <QRegularExpression>
#include <QTimer>

#include "checkin/request_file.h"
#include "protect/face_file.h"
#include "tests/checkin/checkin_fixture.h"

namespace tavo::test {
namespace {

using CheckInRunTest = CheckInFixture;

const QString kEan = QStringLiteral("2200000169020");
const QString kOther = QStringLiteral("2200000169037");

QByteArray crlf(const QStringList& lines) {
  QByteArray out;
  for (const QString& l : lines) out += l.toLatin1() + "\r\n";
  return out;
}

TEST_F(CheckInRunTest, ConfirmedAtTheFirstAttemptAnswersTheBarcodeAndDatesTheModels) {
  const qint64 a = addModel(kEan), b = addModel(kEan), other = addModel(kOther);
  script = {{int(a), 80}};
  checkIn(kEan);

  const Rows w = works();
  ASSERT_EQ(w.size(), 1);
  ASSERT_EQ(results().size(), 1);
  const QString name = w.value(0, "FileName").toString();
  EXPECT_TRUE(QRegularExpression(R"(^2019\\07\\09\\20190709-[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}$)")
                  .match(name).hasMatch()) << name.toStdString();
  EXPECT_EQ(answer(kEan), crlf({kEan, name, kEan}));
  EXPECT_TRUE(w.value(0, "is_face").toBool());  // a real face in the photo
  EXPECT_EQ(w.value(0, "idModel").toInt(), a);
  EXPECT_DOUBLE_EQ(w.value(0, "PercentDifference").toDouble(), 80);
  EXPECT_TRUE(w.value(0, "excellent").toBool());
  EXPECT_EQ(w.value(0, "SN").toString(), kEan);
  EXPECT_TRUE(w.value(0, "tags").toString().isEmpty());
  EXPECT_GT(w.value(0, "cLeft").toInt(), 0);

  EXPECT_EQ(modelField(a, "DateLastDetection").toString(), "2019-07-09");
  EXPECT_EQ(modelField(b, "DateLastDetection").toString(), "2019-07-09");
  EXPECT_TRUE(modelField(other, "DateLastDetection").isNull());
  EXPECT_EQ(modelField(a, "DateLastSimilarity").toString(), "2019-07-09");
  EXPECT_TRUE(modelField(b, "DateLastSimilarity").isNull());
  EXPECT_EQ(sounds, std::vector<int>{1});
  EXPECT_EQ(recognizeCalls, QStringList{"model/3"});

  // The work photo is the picture encrypted; the 1C copy and its encrypted twin stay in Temp.
  EXPECT_TRUE(DecryptImageView(station.settings.workDir + "\\" + name, kSystemKey).has_value());
  EXPECT_EQ(readFile(dir.file("Temp/model1C_face.jpg")), readFile(picture));
  EXPECT_TRUE(QFile::exists(dir.file("Temp/model1C_face.bin")));
  for (const char* gone : {"Temp/model_full.jpg", "Temp/model_face.jpg", "Temp/model_f.jpg"})
    EXPECT_FALSE(QFile::exists(dir.file(gone))) << gone;

  const QStringList& log = station.log.lines();
  ASSERT_FALSE(log.isEmpty());
  EXPECT_TRUE(log.first().endsWith("start - FaceDetectionLuxandRTSP"));
  EXPECT_TRUE(station.log.contains("ШК есть в базе"));
  EXPECT_TRUE(station.log.contains("*percentdif - 80"));
  EXPECT_TRUE(station.log.contains("*EAN - " + kEan));
  EXPECT_TRUE(log.last().endsWith("time_ms = 0"));  // the clock stands still
  EXPECT_FALSE(run->running());
}

TEST_F(CheckInRunTest, ThreeLowAttemptsAnswerLowPercentWithTheLastPicture) {
  const qint64 a = addModel(kEan);
  script = {{int(a), 60}, {int(a), 55}, {int(a), 60}};
  checkIn(kEan);

  const Rows w = works();
  ASSERT_EQ(w.size(), 3);
  EXPECT_EQ(results().size(), 3);
  EXPECT_EQ(answer(kEan), crlf({kEan, w.value(2, "FileName").toString(), "low percent"}));
  EXPECT_EQ(modelField(a, "DateLastDetection").toString(), "2019-07-09");
  EXPECT_TRUE(modelField(a, "DateLastSimilarity").isNull());
  EXPECT_EQ(sounds, std::vector<int>{0});
  // Each attempt has its own photo.
  for (int i = 0; i < 3; ++i)
    EXPECT_TRUE(QFile::exists(workFile(w.value(i, "FileName").toString() + "_face.bin")));
}

TEST_F(CheckInRunTest, AnotherEmployeeMatchingBestIsTheThirdLineAndGoesOnTrying) {
  const qint64 mine = addModel(kEan), theirs = addModel(kOther);
  script = {{int(theirs), 85}, {int(mine), 80}, {int(mine), 70}};
  checkIn(kEan);

  const Rows w = works();
  ASSERT_EQ(w.size(), 3);  // 80 with the own model does not beat 85: no stop
  EXPECT_FALSE(w.value(0, "excellent").toBool());
  EXPECT_TRUE(w.value(1, "excellent").toBool());
  EXPECT_EQ(answer(kEan), crlf({kEan, w.value(0, "FileName").toString(), kOther}));
  EXPECT_TRUE(modelField(mine, "DateLastSimilarity").isNull());
  EXPECT_EQ(sounds, std::vector<int>{0});
}

TEST_F(CheckInRunTest, ExactlyTheMinimumWithTheOwnModelStopsTheAttempts) {
  const qint64 a = addModel(kEan);
  script = {{int(a), 50}, {int(a), 75}, {int(a), 99}};
  checkIn(kEan);
  const Rows w = works();
  ASSERT_EQ(w.size(), 2);
  EXPECT_EQ(answer(kEan), crlf({kEan, w.value(1, "FileName").toString(), kEan}));
  EXPECT_EQ(sounds, std::vector<int>{1});
}

TEST_F(CheckInRunTest, BarcodeWithoutActiveModelTakesOnePictureAndAnswersNotFound) {
  addModel(kEan, /*active=*/false);
  checkIn(kEan);

  const Rows w = works();
  ASSERT_EQ(w.size(), 1);
  EXPECT_EQ(w.value(0, "tags").toString(), "not found");
  EXPECT_EQ(w.value(0, "idModel").toInt(), 0);
  EXPECT_DOUBLE_EQ(w.value(0, "PercentDifference").toDouble(), 0);
  EXPECT_FALSE(w.value(0, "is_face").toBool());  // written false although a face was found
  EXPECT_GT(w.value(0, "cLeft").toInt(), 0);
  const Rows r = results();
  ASSERT_EQ(r.size(), 1);
  EXPECT_TRUE(r.value(0, "idmodel").isNull());
  EXPECT_EQ(r.value(0, "fio").toString(), kEan);
  EXPECT_EQ(answer(kEan), crlf({kEan, w.value(0, "FileName").toString(), "not found"}));
  EXPECT_TRUE(recognizeCalls.isEmpty());
  EXPECT_TRUE(station.log.contains("Нет в базе"));
  EXPECT_EQ(grabMessages, QStringList{"MainUnit 2107: \n\rframe = nil"});
  // No matching: the face picture stays where detection left it.
  EXPECT_TRUE(QFile::exists(dir.file("Temp/model_face.jpg")));
}

TEST_F(CheckInRunTest, SideCropAboveOneHundredIsReducedAndAddedBackToTheMargins) {
  const qint64 a = addModel(kEan);
  station.settings.cutLeft = "150";  // crops 50
  station.settings.cutRight = "";    // not computed yet: 0
  int detections = 0;
  run->detectFace = [&] {
    ++detections;
    PhotoResult r;
    r.the_fase = detections > 1;  // the first search on the cropped picture misses
    r.cLeft = 10;
    r.cRight = 20;
    return r;
  };
  script = {{int(a), 90}};
  checkIn(kEan);

  EXPECT_EQ(detections, 2);
  const Rows w = works();
  ASSERT_EQ(w.size(), 1);
  EXPECT_EQ(w.value(0, "cLeft").toInt(), 60);
  EXPECT_EQ(w.value(0, "cRight").toInt(), 20);
  const auto photo = DecryptImageView(station.settings.workDir + "\\" + w.value(0, "FileName").toString(), kSystemKey);
  ASSERT_TRUE(photo.has_value());
  EXPECT_EQ(photo->width(), QImage(picture).width() - 50);
  // The office system's copy is the whole picture, taken before the crop.
  EXPECT_EQ(QImage(dir.file("Temp/model1C_face.jpg")).width(), QImage(picture).width());
}

TEST_F(CheckInRunTest, OnlyTheCropReallyTakenOffIsAddedBackToTheMargins) {
  const qint64 a = addModel(kEan);
  const int width = QImage(picture).width();
  run->detectFace = [] {
    PhotoResult r;
    r.the_fase = true;
    r.cLeft = 10;
    r.cRight = 20;
    return r;
  };
  struct Case {
    QString left, right;
    int cLeft, cRight, photoWidth;
  } cases[] = {
      {QString::number(width + 100), "0", 10, 20, width},  // nothing would be left: no crop at all
      {"-20", "150", 10, 70, width - 50},                  // a side below 0 is not cropped
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.left.toStdString());
    station.settings.cutLeft = c.left;
    station.settings.cutRight = c.right;
    script = {{int(a), 90}};
    checkIn(kEan);
    const Rows w = works();
    ASSERT_FALSE(w.empty());
    const int last = w.size() - 1;
    EXPECT_EQ(w.value(last, "cLeft").toInt(), c.cLeft);
    EXPECT_EQ(w.value(last, "cRight").toInt(), c.cRight);
    const auto photo = DecryptImageView(station.settings.workDir + "\\" + w.value(last, "FileName").toString(), kSystemKey);
    ASSERT_TRUE(photo.has_value());
    EXPECT_EQ(photo->width(), c.photoWidth);
  }
}

TEST_F(CheckInRunTest, EmptyTemplateBaseScoresZeroAndAnswersLowPercent) {
  addModel(kEan);
  baseEmpty = true;
  checkIn(kEan);
  EXPECT_EQ(works().size(), 3);
  EXPECT_EQ(station.log.lines().filter("Error: Please enroll faces first").size(), 3);
  EXPECT_TRUE(recognizeCalls.isEmpty());
  EXPECT_TRUE(answer(kEan).endsWith("low percent\r\n"));
}

TEST_F(CheckInRunTest, AnAttemptWithoutFrameIsCountedAndAnalysesNoStalePicture) {
  const qint64 a = addModel(kEan);
  framesOk = {true, false, false};
  script = {{int(a), 60}, {int(a), 99}, {int(a), 99}};
  checkIn(kEan);

  const Rows w = works();
  ASSERT_EQ(w.size(), 3);
  EXPECT_EQ(recognizeCalls.size(), 1);  // only the attempt with a picture was matched
  EXPECT_EQ(w.value(1, "tags").toString(), "no frame");
  EXPECT_FALSE(w.value(1, "is_face").toBool());
  EXPECT_DOUBLE_EQ(w.value(2, "PercentDifference").toDouble(), 0);
  EXPECT_FALSE(QFile::exists(workFile(w.value(1, "FileName").toString() + "_face.bin")));
  // The answer names the last picture there is.
  EXPECT_EQ(answer(kEan), crlf({kEan, w.value(0, "FileName").toString(), "low percent"}));
  EXPECT_EQ(grabMessages.first(), "MainUnit 1950: \n\rframe = nil");
}

TEST_F(CheckInRunTest, WebCameraBranchReportsNoCaptureAndWritesErrorTxt) {
  station.settings.camRtsp = false;  // the web camera, never opened: capture = nil
  checkIn(kEan);
  EXPECT_EQ(messages.shown, QStringList{"MainUnit 1908: \n\rcapture = nil"});
  EXPECT_EQ(readFile(dir.file("error.txt")), "OK! Capture Property WIDTH and HEIGHT (640x480)\r\n");
  EXPECT_TRUE(answer(kEan).endsWith("not found\r\n"));  // the run went on
}

TEST_F(CheckInRunTest, PercentInTheLogUsesTheLocaleDecimalSeparator) {
  const qint64 a = addModel(kEan);
  station.locale = QLocale(QLocale::Russian);
  script = {{int(a), 80.5}};
  checkIn(kEan);
  EXPECT_TRUE(station.log.contains("*percentdif - 80,5"));
}

TEST_F(CheckInRunTest, TheAnswerIsReplacedWhenTheBarcodeComesAgainAndNotWrittenWithoutIsTimer) {
  const qint64 a = addModel(kEan);
  script = {{int(a), 90}, {int(a), 10}, {int(a), 10}, {int(a), 10}};
  checkIn(kEan);
  const QByteArray first = answer(kEan);
  checkIn(kEan);
  EXPECT_NE(answer(kEan), first);
  EXPECT_TRUE(answer(kEan).endsWith("low percent\r\n"));
  EXPECT_EQ(results().size(), 3);  // Result holds the last run only

  QFile::remove(flagFile("out" + kEan + ".txt"));
  station.settings.ean = kEan;
  run->FaceDetectionLuxandRTSP(false);
  EXPECT_FALSE(QFile::exists(flagFile("out" + kEan + ".txt")));
  EXPECT_EQ(station.memoOut.lines().size(), 3);
}

TEST_F(CheckInRunTest, AnErrorEndsTheRunKeepsWhatWasWrittenAndPropagates) {
  addModel(kEan);
  station.settings.cutLeft = "abc";
  EXPECT_THROW(checkIn(kEan), std::runtime_error);
  EXPECT_FALSE(QFile::exists(flagFile("out" + kEan + ".txt")));
  EXPECT_TRUE(station.log.contains("FaceDetectionLuxandRTSP: 'abc' is not a valid integer value"));
  EXPECT_FALSE(station.log.contains("end - FaceDetectionLuxandRTSP"));
  EXPECT_TRUE(sounds.empty());
  EXPECT_FALSE(run->running());
}

TEST_F(CheckInRunTest, ABarcodeThatWouldLeaveTheFlagFolderIsRefused) {
  EXPECT_THROW(checkIn("../../evil"), std::runtime_error);
  EXPECT_EQ(works().size(), 0);
  EXPECT_FALSE(QFile::exists(hostPath("C:\\evil.txt")));
}

TEST_F(CheckInRunTest, ACallDuringARunWaitsAndRunsAfterItWithItsOwnBarcode) {
  addModel(kEan);
  run->initialWaitMs = 100;
  QStringList order;
  station.log.addWatcher([&](const QString& line) {
    if (line.contains("start - ") || line.contains("end - ")) order << line.mid(line.indexOf(' ') + 1);
  });
  // A nested call arrives while the first run waits (events run meanwhile).
  QTimer::singleShot(20, [&] {
    station.settings.ean = kOther;
    run->FaceDetectionLuxandRTSP(true);
  });
  checkIn(kEan);
  EXPECT_EQ(run->queuedRuns(), 1);
  EXPECT_TRUE(QFile::exists(flagFile("out" + kEan + ".txt")));
  // The first run kept its own barcode although the field changed under it.
  EXPECT_EQ(works().value(0, "SN").toString(), kEan);

  for (int i = 0; i < 50 && !QFile::exists(flagFile("out" + kOther + ".txt")); ++i) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(10);
  }
  EXPECT_TRUE(QFile::exists(flagFile("out" + kOther + ".txt")));
  EXPECT_EQ(order, QStringList({"start - FaceDetectionLuxandRTSP", "end - FaceDetectionLuxandRTSP",
                                "start - FaceDetectionLuxandRTSP", "end - FaceDetectionLuxandRTSP"}));
  EXPECT_EQ(run->queuedRuns(), 0);
}

}  // namespace
}  // namespace tavo::test
