// Delay from a stream (re)start to its first frame through NetworkCamera: a clip file played as
// a camera, and a real RTSP stream from VLC on 127.0.0.1 (camera started against a running
// server; server restarted under a running camera).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>

#include "face/picture/network_camera.h"
#include "tests/support/test_env.h"

using namespace tavo;

namespace {

NetworkCamera::Options options() {
  NetworkCamera::Options o;
  o.openTimeoutMs = 3000;
  o.readTimeoutMs = 2000;
  return o;  // default freshness (2000 ms) and retry pauses (250 ms doubling to 2000 ms)
}

// Milliseconds until the camera hands out a fresh frame; -1 after `limitMs`.
qint64 untilFrame(const NetworkCamera& cam, const QElapsedTimer& since, int limitMs = 30000) {
  while (cam.latestFrame().empty()) {
    if (since.elapsed() > limitMs) return -1;
    QThread::msleep(5);
  }
  return since.elapsed();
}

int freePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
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

void startServer(QProcess& p, const QString& clip, int port) {
  const QString sout = QStringLiteral(
                           "#transcode{vcodec=h264,venc=x264{keyint=15,preset=ultrafast,tune=zerolatency},"
                           "width=640,acodec=none}:gather:rtp{sdp=rtsp://127.0.0.1:%1/cam}")
                           .arg(port);
  QStringList args = {clip, "--loop", "--sout-keep", "--no-sout-audio", "--sout", sout};
  if (geteuid() == 0)
    p.start("runuser", QStringList{"-u", "nobody", "--", "cvlc"} + args);
  else
    p.start("cvlc", args);
  p.waitForStarted();
}

void stopServer(QProcess& p) {
  p.terminate();
  if (!p.waitForFinished(5000)) {
    p.kill();
    p.waitForFinished(2000);
  }
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 3;
  const QString clipSource = test::testData("clips/subj01_timepoint01.mp4");

  for (int i = 0; i < rounds; ++i) {
    NetworkCamera cam(clipSource, nullptr, options());
    QElapsedTimer t;
    t.start();
    cam.start();
    std::printf("clip file as camera: start -> first frame %lld ms\n", static_cast<long long>(untilFrame(cam, t)));
  }

  if (QStandardPaths::findExecutable("cvlc").isEmpty()) {
    std::printf("cvlc not installed: RTSP figures skipped\n");
    return 0;
  }
  QTemporaryDir shared;
  QFile::setPermissions(shared.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                           QFileDevice::ReadOther | QFileDevice::ExeOther);
  const QString clip = shared.path() + "/clip.mp4";
  QFile::copy(clipSource, clip);
  QFile::setPermissions(clip, QFileDevice::ReadOwner | QFileDevice::ReadOther);
  const int port = freePort();
  const QString url = QStringLiteral("rtsp://127.0.0.1:%1/cam").arg(port);

  QProcess server;
  startServer(server, clip, port);
  {
    // Let the server come up, as a camera on the network would be.
    NetworkCamera probe(url, nullptr, options());
    QElapsedTimer t;
    t.start();
    probe.start();
    std::printf("RTSP: server start -> first frame (camera started with the server) %lld ms\n",
                static_cast<long long>(untilFrame(probe, t)));
  }
  for (int i = 0; i < rounds; ++i) {
    NetworkCamera cam(url, nullptr, options());
    QElapsedTimer t;
    t.start();
    cam.start();
    std::printf("RTSP: camera start against a running server -> first frame %lld ms\n",
                static_cast<long long>(untilFrame(cam, t)));
  }
  NetworkCamera cam(url, nullptr, options());
  cam.start();
  QElapsedTimer t0;
  t0.start();
  untilFrame(cam, t0);
  for (int i = 0; i < rounds; ++i) {
    QElapsedTimer gone;
    gone.start();
    stopServer(server);
    while (!cam.latestFrame().empty()) QThread::msleep(5);
    const qint64 staleAfter = gone.elapsed();
    QThread::msleep(3000);  // a few reconnection attempts while the server is away
    QElapsedTimer t;
    t.start();
    startServer(server, clip, port);
    const qint64 back = untilFrame(cam, t);
    std::printf("RTSP: server stop requested -> no frame handed out %lld ms; server restart -> first frame %lld ms\n",
                static_cast<long long>(staleAfter), static_cast<long long>(back));
  }
  stopServer(server);
  return 0;
}
