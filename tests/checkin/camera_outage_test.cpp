// Check-ins while the camera gives nothing: the real GrabFrame on a web camera fed by a missing
// or damaged clip, and on an RTSP stream from 127.0.0.1 whose server has died.
#include <QDirIterator>
#include <QElapsedTimer>
#include <QStandardPaths>
#include <QThread>

#include "tests/checkin/checkin_fixture.h"
#include "tests/support/rtsp_server.h"

namespace tavo::test {
namespace {

const QString kEan = QStringLiteral("2200000169020");
const QString kNoModels = QStringLiteral("4600000000017");
const QString kClip = QStringLiteral("clips/subj01_timepoint01.mp4");

class CameraOutageTest : public CheckInFixture {
 protected:
  void SetUp() override {
    CheckInFixture::SetUp();
    run->grab = [this](const QString& message) {
      grabMessages << message;
      return GrabFrame(station, *cameras, message);
    };
  }

  // The office system's copy of an earlier check-in (another employee, maybe).
  void earlierCheckInLeftItsPicture() {
    writeFile(dir.file("Temp/model1C_face.jpg"), readFile(picture));
    writeFile(dir.file("Temp/model1C_face.bin"), "earlier");
  }

  // One run of each branch without a single picture; what the office system and the work log get.
  void expectNoPictureAnswers(const QString& outage) {
    SCOPED_TRACE(outage.toStdString());
    const qint64 before = works().size();
    earlierCheckInLeftItsPicture();
    messages.shown.clear();
    checkIn(kEan);
    EXPECT_EQ(answer(kEan), (kEan + "\r\n\r\nno picture\r\n").toLatin1());
    EXPECT_LE(messages.shown.size(), 1) << messages.shown.join(" | ").toStdString();
    EXPECT_FALSE(QFile::exists(dir.file("Temp/model1C_face.jpg")));
    EXPECT_FALSE(QFile::exists(dir.file("Temp/model1C_face.bin")));

    messages.shown.clear();
    checkIn(kNoModels);
    // "not found" does not depend on the camera: the office system may act on it.
    EXPECT_EQ(answer(kNoModels), (kNoModels + "\r\n\r\nnot found\r\n").toLatin1());
    EXPECT_LE(messages.shown.size(), 1);

    const Rows w = works();
    ASSERT_EQ(w.size(), before + 4);  // three attempts, then one for the barcode without models
    for (qint64 i = before; i < w.size(); ++i) {
      EXPECT_TRUE(w.value(int(i), "FileName").toString().isEmpty()) << i;
      EXPECT_FALSE(w.value(int(i), "is_face").toBool()) << i;
    }
    EXPECT_EQ(w.value(int(before), "tags").toString(), "no frame");
    EXPECT_EQ(w.value(int(before) + 3, "tags").toString(), "not found, no frame");
    EXPECT_TRUE(results().value(0, "FileName").toString().isEmpty());
    // No work photo was written, so none is named.
    QDirIterator photos(hostPath(station.settings.workDir), {"*_face.bin"}, QDir::Files, QDirIterator::Subdirectories);
    EXPECT_FALSE(photos.hasNext());
    EXPECT_TRUE(station.log.contains("end - FaceDetectionLuxandRTSP"));
  }
};

TEST_F(CameraOutageTest, AMissingDamagedOrVanishedClipAsWebCameraAnswersNoPictureWithOneMessagePerRun) {
  addModel(kEan);
  station.settings.camRtsp = false;

  station.settings.webCam = dir.file("gone.mp4");
  cameras->open();
  expectNoPictureAnswers("missing clip");
  // No capture at all: that one message, and no "frame = nil" box for each attempt after it.
  EXPECT_EQ(messages.shown, QStringList{"MainUnit 1908: \n\rcapture = nil"});

  // The clip's header intact, its frames zeroed: it yields no frame, so it is no camera.
  QByteArray damaged = readFile(testData(kClip));
  const qsizetype mdat = damaged.indexOf("mdat");
  const qsizetype moov = damaged.indexOf("moov", mdat);
  ASSERT_GT(mdat, 0);
  ASSERT_GT(moov, mdat);
  damaged.replace(mdat + 4, moov - 4 - (mdat + 4), QByteArray(moov - 4 - (mdat + 4), '\0'));
  writeFile(dir.file("damaged.mp4"), damaged);
  station.settings.webCam = dir.file("damaged.mp4");
  cameras->open();
  EXPECT_TRUE(cameras->captureIsNull());
  expectNoPictureAnswers("damaged clip");

  // A camera that worked and is gone: the clip cut off while it is open.
  ASSERT_TRUE(QFile::copy(testData(kClip), dir.file("camera.mp4")));
  station.settings.webCam = dir.file("camera.mp4");
  cameras->open();
  ASSERT_FALSE(cameras->captureIsNull());
  ASSERT_TRUE(QFile::resize(dir.file("camera.mp4"), 0));
  grabMessages.clear();
  expectNoPictureAnswers("camera gone");
  EXPECT_EQ(grabMessages.filter("frame = nil"), QStringList({"MainUnit 1950: \n\rframe = nil", "MainUnit 2107: \n\rframe = nil"}));
}

TEST_F(CameraOutageTest, ADeadRtspServerAnswersNoPictureWithOneMessagePerRun) {
  if (QStandardPaths::findExecutable("cvlc").isEmpty()) GTEST_SKIP() << "cvlc (VLC) is not installed";
  addModel(kEan);
  RtspServer server(testData(kClip));
  ASSERT_TRUE(server.ready());
  server.start();
  station.settings.camRtsp = true;
  station.settings.rtsp = server.url();
  cameras->startStream();
  auto waitFor = [&](const std::function<bool()>& done, int ms) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms) QThread::msleep(50);
    return done();
  };
  ASSERT_TRUE(waitFor([&] { return !cameras->networkCamera()->latestFrame().empty(); }, 30000))
      << "no frame from the server";

  server.stop();
  ASSERT_TRUE(waitFor([&] { return cameras->networkCamera()->latestFrame().empty(); }, 15000));
  expectNoPictureAnswers("dead RTSP server");
  EXPECT_EQ(grabMessages.filter("frame = nil").size(), 2);  // one per run, not one per attempt
}

}  // namespace
}  // namespace tavo::test
