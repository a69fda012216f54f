#pragma once
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace tavo::test {

// A TCP port on 127.0.0.1 that nothing listens on right now; 0 when none could be had.
int freePort();

// VLC's RTSP server on 127.0.0.1 playing a clip in a loop, as an unprivileged user when we are
// root (VLC refuses root). The clip is re-encoded with a key frame every half second, so that a
// client joining at any moment soon gets a picture; gather keeps one stream across the loops.
// The server can be stopped and started again on the same address.
class RtspServer {
 public:
  explicit RtspServer(const QString& clip);
  ~RtspServer();
  RtspServer(const RtspServer&) = delete;
  RtspServer& operator=(const RtspServer&) = delete;

  bool ready() const { return port_ > 0 && copied_; }
  QString url() const;
  void start();
  void stop();

 private:
  QTemporaryDir dir_;  // readable by the unprivileged server
  QString clip_;
  bool copied_ = false;
  int port_ = 0;
  QProcess proc_;
};

}  // namespace tavo::test
