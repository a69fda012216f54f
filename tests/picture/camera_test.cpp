// The picture sources and GrabFrame: a web camera stood in by a clip, the network camera fed
// from a clip file and from a real RTSP stream on 127.0.0.1.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStandardPaths>
#include <QThread>
#include <opencv2/videoio.hpp>

#include "face/picture/frame_grab.h"
#include "tests/picture/picture_fixture.h"
#include "tests/support/rtsp_server.h"

namespace tavo::test {
namespace {

const QString kClip = QStringLiteral("clips/subj01_timepoint01.mp4");
const QString kFrameNil = QStringLiteral("MainUnit 1950: \n\rframe = nil");

// Lets events run (the camera's queued log lines) until `done` or the time is up.
template <class F>
bool waitFor(F done, int ms) {
  QElapsedTimer t;
  t.start();
  for (; !done(); QThread::msleep(20)) {
    if (t.elapsed() > ms) return false;
    QCoreApplication::processEvents();
  }
  QCoreApplication::processEvents();
  return true;
}

int countLines(const OperatorLog& log, const QString& fragment) {
  return int(
      std::count_if(log.lines().begin(), log.lines().end(), [&](const QString& l) { return l.contains(fragment); }));
}

class CameraTest : public PictureTest {
 protected:
  // An older picture that a failed grab must not leave behind.
  void placeOldPicture() { writeImage(temp("model_full.jpg"), cv::Mat(50, 60, CV_8UC3, cv::Scalar(1, 2, 3))); }
  static NetworkCamera::Options quick() {
    NetworkCamera::Options o;
    o.readTimeoutMs = 2000;
    o.firstRetryMs = 200;
    o.maxRetryMs = 1000;
    return o;
  }
};

TEST_F(CameraTest, WebCameraIsNullWithoutCameraAndKeepsTheSecondOfTwoFrames) {
  WebCamera cam;
  EXPECT_FALSE(cam.open("7"));  // no /dev/video7 here
  EXPECT_FALSE(cam.open(dir.file("no such clip.mp4")));
  EXPECT_FALSE(cam.open(testData("samples/formats/corrupted.png")));
  EXPECT_TRUE(cam.grabFrame().empty());

  ASSERT_TRUE(cam.open(testData(kClip)));
  cv::VideoCapture direct(testData(kClip).toStdString(), cv::CAP_FFMPEG);
  cv::Mat first, second;
  ASSERT_TRUE(direct.read(first) && direct.read(second));
  const cv::Mat got = cam.grabFrame();
  EXPECT_EQ(cam.framesRead(), 2);
  EXPECT_EQ(cv::norm(got, second, cv::NORM_INF), 0.0);
  EXPECT_GT(cv::norm(got, first, cv::NORM_L1), 0.0);
  for (int i = 0; i < 200; ++i) ASSERT_FALSE(cam.readFrame().empty()) << i;  // the clip starts again
}

TEST_F(CameraTest, GrabFrameFromWebCamera) {
  station.settings.webCam = testData(kClip);
  Cameras cameras(station);
  cameras.open();
  placeOldPicture();
  EXPECT_TRUE(GrabFrame(station, cameras, kFrameNil));
  EXPECT_EQ(readImage(temp("model_full.jpg")).size(), cv::Size(1080, 720));
  EXPECT_TRUE(messages.shown.isEmpty());

  station.settings.webCam = "9";
  Cameras none(station);
  none.open();
  EXPECT_TRUE(none.captureIsNull());
  EXPECT_FALSE(GrabFrame(station, none, kFrameNil));
  EXPECT_EQ(messages.shown, QStringList{kFrameNil});
  EXPECT_FALSE(QFileInfo::exists(temp("model_full.jpg")));
}

TEST_F(CameraTest, GrabFrameFromStreamSnapshotsAtTheVideoSize) {
  station.settings.webCam = "9";
  station.settings.rtsp = testData(kClip);  // a file plays like a camera
  Cameras cameras(station, quick());
  cameras.open();
  EXPECT_EQ(cameras.networkCamera(), nullptr);  // started only when Cam_RTSP is set
  EXPECT_FALSE(GrabFrame(station, cameras, QString(), GrabSource::Stream));
  station.settings.camRtsp = true;
  cameras.open();
  NetworkCamera* stream = cameras.networkCamera();
  ASSERT_NE(stream, nullptr);
  ASSERT_TRUE(waitFor([&] { return !stream->latestFrame().empty(); }, 10000));
  EXPECT_EQ(stream->latestImage().size(), QSize(1080, 720));
  placeOldPicture();

  ASSERT_TRUE(GrabFrame(station, cameras, kFrameNil));
  EXPECT_FALSE(QFileInfo::exists(temp("model_full.png")));
  EXPECT_EQ(readImage(temp("model_full.jpg")).size(), cv::Size(1080, 720));
  station.settings.camRtsp = false;  // the editor's snapshot takes the stream all the same
  EXPECT_TRUE(GrabFrame(station, cameras, QString(), GrabSource::Stream));
  EXPECT_TRUE(messages.shown.isEmpty());

  // Played at its own 30 frames a second, not decoded as fast as possible.
  const quint64 before = stream->frameCount();
  QThread::msleep(1000);
  EXPECT_LT(stream->frameCount() - before, 60u);
}

TEST_F(CameraTest, UnreachableStreamIsReportedOnceWhileRetrying) {
  station.settings.camRtsp = true;
  station.settings.rtsp = "rtsp://127.0.0.1:9/cam";  // nothing listens there
  Cameras cameras(station, quick());
  cameras.open();
  placeOldPicture();
  EXPECT_FALSE(GrabFrame(station, cameras, kFrameNil));
  EXPECT_EQ(messages.shown, QStringList{kFrameNil});
  EXPECT_FALSE(QFileInfo::exists(temp("model_full.jpg")));
  QThread::msleep(2500);  // attempts 200, 400, 800 ms apart
  EXPECT_TRUE(waitFor([&] { return station.log.contains(QStringLiteral("RTSP - нет связи")); }, 3000));
  EXPECT_EQ(countLines(station.log, QStringLiteral("RTSP - ")), 1);
}

TEST_F(CameraTest, RtspStreamDropsAndComesBackWithoutRestart) {
  if (QStandardPaths::findExecutable("cvlc").isEmpty()) GTEST_SKIP() << "cvlc (VLC) is not installed";
  RtspServer server(testData(kClip));
  ASSERT_TRUE(server.ready());
  server.start();

  station.settings.camRtsp = true;
  station.settings.rtsp = server.url();
  Cameras cameras(station, quick());
  cameras.open();
  NetworkCamera* stream = cameras.networkCamera();
  ASSERT_TRUE(waitFor([&] { return !stream->latestFrame().empty(); }, 30000)) << "no frame from the server";
  ASSERT_TRUE(GrabFrame(station, cameras, kFrameNil));
  EXPECT_EQ(readImage(temp("model_full.jpg")).cols, 640);
  // The first attempt may come before the server listens; count what the outage says.
  const int linesBefore = countLines(station.log, QStringLiteral("RTSP - "));

  // The server goes away: within the freshness limit no frame is handed out any more.
  server.stop();
  ASSERT_TRUE(waitFor([&] { return stream->latestFrame().empty(); }, 8000));
  EXPECT_FALSE(GrabFrame(station, cameras, kFrameNil));
  EXPECT_EQ(messages.shown, QStringList{kFrameNil});
  EXPECT_FALSE(QFileInfo::exists(temp("model_full.jpg")));
  ASSERT_TRUE(waitFor([&] { return station.log.contains(QStringLiteral("RTSP - поток прерван")); }, 8000));
  QThread::msleep(2500);  // a few reconnection attempts
  QCoreApplication::processEvents();
  EXPECT_EQ(countLines(station.log, QStringLiteral("RTSP - ")), linesBefore + 1)
      << station.log.lines().join('\n').toStdString();

  // Back again: frames return by themselves to the same camera.
  server.start();
  ASSERT_TRUE(waitFor([&] { return !stream->latestFrame().empty(); }, 30000)) << "stream did not come back";
  EXPECT_EQ(cameras.networkCamera(), stream);
  EXPECT_TRUE(GrabFrame(station, cameras, kFrameNil));
  EXPECT_TRUE(waitFor([&] { return station.log.contains(QStringLiteral("RTSP - поток восстановлен")); }, 3000));
  EXPECT_EQ(countLines(station.log, QStringLiteral("RTSP - ")), linesBefore + 2);
}

}  // namespace
}  // namespace tavo::test
