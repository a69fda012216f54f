// Delay from a stream (re)start to its first frame through NetworkCamera: a clip file played as
// a camera, and a real RTSP stream from VLC on 127.0.0.1 (camera started against a running
// server; server restarted under a running camera).

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStandardPaths>
#include <QThread>
#include <cstdio>

#include "face/picture/network_camera.h"
#include "tests/support/rtsp_server.h"
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
  test::RtspServer server(clipSource);
  const QString url = server.url();

  server.start();
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
    server.stop();
    while (!cam.latestFrame().empty()) QThread::msleep(5);
    const qint64 staleAfter = gone.elapsed();
    QThread::msleep(3000);  // a few reconnection attempts while the server is away
    QElapsedTimer t;
    t.start();
    server.start();
    const qint64 back = untilFrame(cam, t);
    std::printf("RTSP: server stop requested -> no frame handed out %lld ms; server restart -> first frame %lld ms\n",
                static_cast<long long>(staleAfter), static_cast<long long>(back));
  }
  return 0;
}
