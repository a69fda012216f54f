// The two picture sources and GrabFrame: web camera stood in by a clip, the network camera fed
// from a clip file and from a real RTSP stream on 127.0.0.1.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <opencv2/videoio.hpp>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "face/picture/frame_grab.h"
#include "tests/picture/picture_fixture.h"

namespace tavo::test {
namespace {

const QString kClip = QStringLiteral("clips/subj01_timepoint01.mp4");
const QString kFrameNil = QStringLiteral("MainUnit 1950: \n\rframe = nil");

// Lets events run (queued camera log lines) until `done` or the time is up.
template <class F>
bool waitFor(F done, int ms) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > ms) return false;
    QCoreApplication::processEvents();
    QThread::msleep(20);
  }
  QCoreApplication::processEvents();
  return true;
}

int countLines(const OperatorLog& log, const QString& fragment) {
  int n = 0;
  for (const QString& l : log.lines()) n += l.contains(fragment);
  return n;
}

class CameraTest : public PictureTest {
 protected:
  void SetUp() override {
    PictureTest::SetUp();
    station.setClock(&clock);
  }
  // An older picture that a failed grab must not leave behind.
  void placeOldPicture() { writeImage(temp("model_full.jpg"), cv::Mat(50, 60, CV_8UC3, cv::Scalar(1, 2, 3))); }
  NetworkCamera::Options quickOptions() const {
    NetworkCamera::Options o;
    o.openTimeoutMs = 3000;
    o.readTimeoutMs = 2000;
    o.staleAfterMs = 2000;
    o.firstRetryMs = 200;
    o.maxRetryMs = 1000;
    return o;
  }
};

TEST_F(CameraTest, WebCameraThatIsNotThereIsNull) {
  WebCamera cam;
  EXPECT_FALSE(cam.open("7"));  // no /dev/video7 here
  EXPECT_FALSE(cam.isOpen());
  EXPECT_FALSE(cam.open(dir.file("no such clip.mp4")));
  EXPECT_FALSE(cam.open(testData("samples/formats/corrupted.png")));
  EXPECT_TRUE(cam.grabFrame().empty());
  EXPECT_TRUE(cam.frameSize().isEmpty());
}

TEST_F(CameraTest, WebCameraKeepsTheSecondOfTwoFrames) {
  WebCamera cam;
  ASSERT_TRUE(cam.open(testData(kClip)));
  EXPECT_EQ(cam.frameSize(), QSize(1080, 720));
  cv::VideoCapture direct(testData(kClip).toStdString(), cv::CAP_FFMPEG);
  cv::Mat first, second;
  ASSERT_TRUE(direct.read(first) && direct.read(second));

  const cv::Mat got = cam.grabFrame();

  EXPECT_EQ(cam.framesRead(), 2);
  ASSERT_EQ(got.size(), second.size());
  EXPECT_EQ(cv::norm(got, second, cv::NORM_INF), 0.0);
  EXPECT_GT(cv::norm(got, first, cv::NORM_L1), 0.0);
}

TEST_F(CameraTest, WebCameraClipStartsAgainAtItsEnd) {
  WebCamera cam;
  ASSERT_TRUE(cam.open(testData(kClip)));
  for (int i = 0; i < 200; ++i) ASSERT_FALSE(cam.readFrame().empty()) << "frame " << i;  // clip has ~160
}

TEST_F(CameraTest, GrabFrameFromWebCameraReplacesThePicture) {
  station.settings.webCam = testData(kClip);
  Cameras cameras(station);
  cameras.open();
  ASSERT_FALSE(cameras.captureIsNull());
  EXPECT_EQ(cameras.networkCamera(), nullptr);
  placeOldPicture();

  EXPECT_TRUE(GrabFrame(station, cameras, kFrameNil));

  EXPECT_EQ(readImage(temp("model_full.jpg")).size(), cv::Size(1080, 720));
  EXPECT_TRUE(messages.shown.isEmpty());
}

TEST_F(CameraTest, GrabFrameWithoutWebCameraShowsTheCallersMessageAndLeavesNoPicture) {
  station.settings.webCam = "9";
  Cameras cameras(station);
  cameras.open();
  EXPECT_TRUE(cameras.captureIsNull());
  placeOldPicture();

  EXPECT_FALSE(GrabFrame(station, cameras, kFrameNil));

  EXPECT_EQ(messages.shown, QStringList{kFrameNil});
  EXPECT_FALSE(QFileInfo::exists(temp("model_full.jpg")));
}

TEST_F(CameraTest, GrabFrameFromStreamSnapshotsAtTheVideoSize) {
  station.settings.camRtsp = true;
  station.settings.rtsp = testData(kClip);  // a file plays like a camera
  Cameras cameras(station, quickOptions());
  cameras.open();
  NetworkCamera* stream = cameras.networkCamera();
  ASSERT_NE(stream, nullptr);
  EXPECT_TRUE(stream->isFile());
  ASSERT_TRUE(waitFor([&] { return !stream->latestFrame().empty(); }, 10000));
  EXPECT_EQ(stream->videoSize(), QSize(1080, 720));
  EXPECT_EQ(stream->latestImage().size(), QSize(1080, 720));
  placeOldPicture();

  ASSERT_TRUE(GrabFrame(station, cameras, kFrameNil));

  EXPECT_FALSE(QFileInfo::exists(temp("model_full.png")));
  EXPECT_EQ(readImage(temp("model_full.jpg")).size(), cv::Size(1080, 720));
  EXPECT_TRUE(messages.shown.isEmpty());

  // Played at its own frame rate (30 fps), not decoded as fast as possible.
  const quint64 before = stream->frameCount();
  QThread::msleep(1000);
  EXPECT_LT(stream->frameCount() - before, 60u);
  EXPECT_GT(stream->frameCount() - before, 5u);

  cameras.release();
  EXPECT_EQ(cameras.networkCamera(), nullptr);
}

TEST_F(CameraTest, EditorSnapshotUsesTheStreamEvenWithWebCameraSelected) {
  station.settings.camRtsp = false;
  station.settings.webCam = "9";
  station.settings.rtsp = testData(kClip);
  Cameras cameras(station, quickOptions());
  cameras.open();
  EXPECT_EQ(cameras.networkCamera(), nullptr);  // started only when Cam_RTSP is set
  EXPECT_FALSE(GrabFrame(station, cameras, QString(), GrabSource::Stream));
  EXPECT_TRUE(messages.shown.isEmpty());
  cameras.startStream();
  ASSERT_TRUE(waitFor([&] { return !cameras.networkCamera()->latestFrame().empty(); }, 10000));
  EXPECT_TRUE(GrabFrame(station, cameras, QString(), GrabSource::Stream));
  EXPECT_TRUE(QFileInfo::exists(temp("model_full.jpg")));
}

TEST_F(CameraTest, UnreachableStreamIsReportedOnceWhileRetrying) {
  station.settings.camRtsp = true;
  station.settings.rtsp = "rtsp://127.0.0.1:9/cam";  // nothing listens there
  Cameras cameras(station, quickOptions());
  cameras.open();
  placeOldPicture();
  EXPECT_FALSE(GrabFrame(station, cameras, kFrameNil));
  EXPECT_EQ(messages.shown, QStringList{kFrameNil});
  EXPECT_FALSE(QFileInfo::exists(temp("model_full.jpg")));
  // Several attempts (200, 400, 800 ms apart) but one line, delivered on this thread.
  QThread::msleep(2500);
  EXPECT_TRUE(waitFor([&] { return station.log.contains(QStringLiteral("RTSP - нет связи")); }, 3000));
  EXPECT_EQ(countLines(station.log, QStringLiteral("RTSP - ")), 1);
}

// A real RTSP server (VLC) on 127.0.0.1, run as an unprivileged user when we are root.
class RtspServer {
 public:
  RtspServer(const QString& clip, int port) : clip_(clip), port_(port) {}
  ~RtspServer() { stop(); }
  void start() {
    const QString sout = QStringLiteral(
                             // Re-encoded with a key frame every half second so that a client
                             // joining at any moment gets a picture soon; gather keeps one
                             // stream across the loops of the clip.
                             "#transcode{vcodec=h264,venc=x264{keyint=15,preset=ultrafast,tune=zerolatency},"
                             "width=640,acodec=none}:gather:rtp{sdp=rtsp://127.0.0.1:%1/cam}")
                             .arg(port_);
    QStringList args = {clip_, "--loop", "--sout-keep", "--no-sout-audio", "--sout", sout};
    if (geteuid() == 0) {
      args = QStringList{"-u", "nobody", "--", "cvlc"} + args;
      proc_.start("runuser", args);
    } else {
      proc_.start("cvlc", args);
    }
    proc_.waitForStarted();
  }
  void stop() {
    if (proc_.state() == QProcess::NotRunning) return;
    proc_.terminate();  // runuser passes it on to VLC
    if (!proc_.waitForFinished(5000)) {
      proc_.kill();
      proc_.waitForFinished(2000);
    }
  }
  QString url() const { return QStringLiteral("rtsp://127.0.0.1:%1/cam").arg(port_); }

 private:
  QString clip_;
  int port_;
  QProcess proc_;
};

// A TCP port on 127.0.0.1 that nothing listens on right now.
int freePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return 0;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  close(fd);
  return port;
}

TEST_F(CameraTest, RtspStreamDropsAndComesBackWithoutRestart) {
  if (QStandardPaths::findExecutable("cvlc").isEmpty()) GTEST_SKIP() << "cvlc (VLC) is not installed";
  // The clip must be readable by the unprivileged server.
  QTemporaryDir shared;
  ASSERT_TRUE(shared.isValid());
  QFile::setPermissions(shared.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                           QFileDevice::ReadOther | QFileDevice::ExeOther |
                                           QFileDevice::ReadGroup | QFileDevice::ExeGroup);
  const QString clip = shared.path() + "/clip.mp4";
  ASSERT_TRUE(QFile::copy(testData(kClip), clip));
  QFile::setPermissions(clip, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther |
                                  QFileDevice::ReadGroup);
  const int port = freePort();
  ASSERT_GT(port, 0);
  RtspServer server(clip, port);
  server.start();

  station.settings.camRtsp = true;
  station.settings.rtsp = server.url();
  Cameras cameras(station, quickOptions());
  cameras.open();
  NetworkCamera* stream = cameras.networkCamera();
  ASSERT_NE(stream, nullptr);
  EXPECT_FALSE(stream->isFile());
  ASSERT_TRUE(waitFor([&] { return !stream->latestFrame().empty(); }, 30000)) << "no frame from the RTSP server";
  // The first attempt may come before the server listens; count what the outage says.
  const int linesBefore = countLines(station.log, QStringLiteral("RTSP - "));
  ASSERT_TRUE(GrabFrame(station, cameras, kFrameNil));
  const cv::Mat picture = readImage(temp("model_full.jpg"));
  EXPECT_EQ(picture.cols, 640);
  EXPECT_EQ(QSize(picture.cols, picture.rows), stream->videoSize());
  EXPECT_FALSE(QFileInfo::exists(temp("model_full.png")));

  // The server goes away: within the freshness limit no frame is handed out any more.
  server.stop();
  ASSERT_TRUE(waitFor([&] { return stream->latestFrame().empty(); }, 8000));
  EXPECT_FALSE(GrabFrame(station, cameras, kFrameNil));
  EXPECT_EQ(messages.shown, QStringList{kFrameNil});
  EXPECT_FALSE(QFileInfo::exists(temp("model_full.jpg")));
  EXPECT_TRUE(stream->latestImage().isNull());
  ASSERT_TRUE(waitFor([&] { return station.log.contains(QStringLiteral("RTSP - поток прерван")); }, 8000));
  QThread::msleep(2500);  // a few reconnection attempts
  QCoreApplication::processEvents();
  EXPECT_EQ(countLines(station.log, QStringLiteral("RTSP - ")), linesBefore + 1)
      << station.log.lines().join('\n').toStdString();

  // Back again: frames return by themselves, same camera object, no restart.
  server.start();
  ASSERT_TRUE(waitFor([&] { return !stream->latestFrame().empty(); }, 30000)) << "stream did not come back";
  EXPECT_EQ(cameras.networkCamera(), stream);
  EXPECT_TRUE(GrabFrame(station, cameras, kFrameNil));
  EXPECT_TRUE(QFileInfo::exists(temp("model_full.jpg")));
  EXPECT_TRUE(waitFor([&] { return station.log.contains(QStringLiteral("RTSP - поток восстановлен")); }, 3000));
  EXPECT_EQ(countLines(station.log, QStringLiteral("RTSP - ")), linesBefore + 2);
}

}  // namespace
}  // namespace tavo::test
