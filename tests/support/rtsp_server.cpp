#include "tests/support/rtsp_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QFile>

namespace tavo::test {

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

RtspServer::RtspServer(const QString& clip) : clip_(dir_.path() + "/clip.mp4"), port_(freePort()) {
  const auto readable = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther;
  QFile::setPermissions(dir_.path(), readable | QFileDevice::ExeOwner | QFileDevice::ExeOther);
  copied_ = QFile::copy(clip, clip_);
  QFile::setPermissions(clip_, readable);
}

RtspServer::~RtspServer() { stop(); }

QString RtspServer::url() const { return QStringLiteral("rtsp://127.0.0.1:%1/cam").arg(port_); }

void RtspServer::start() {
  if (proc_.state() != QProcess::NotRunning) return;
  const QStringList args = {clip_,
                            "--loop",
                            "--sout-keep",
                            "--no-sout-audio",
                            "--sout",
                            QStringLiteral("#transcode{vcodec=h264,venc=x264{keyint=15,preset=ultrafast,"
                                           "tune=zerolatency},width=640,acodec=none}:gather:rtp{sdp=%1}")
                                .arg(url())};
  if (geteuid() == 0)
    proc_.start("runuser", QStringList{"-u", "nobody", "--", "cvlc"} + args);
  else
    proc_.start("cvlc", args);
  proc_.waitForStarted();
}

void RtspServer::stop() {
  if (proc_.state() == QProcess::NotRunning) return;
  proc_.terminate();  // runuser passes it on to VLC
  if (!proc_.waitForFinished(5000)) {
    proc_.kill();
    proc_.waitForFinished(2000);
  }
}

}  // namespace tavo::test
