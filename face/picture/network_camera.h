#pragma once
#include <QImage>
#include <QSize>
#include <QString>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <opencv2/core/mat.hpp>
#include <thread>

class QObject;

namespace tavo {

// The network camera: the RTSP address of the setting RTSP (or a video file, which then plays
// in a loop at its own frame rate, like a live camera) read through FFmpeg on a thread of its
// own that keeps only the latest decoded frame and its arrival time. A frame older than
// staleAfterMs counts as no frame. When the stream drops or cannot be opened, the thread
// reconnects by itself with growing pauses and says so once in the operator log (and once
// more when frames come back). Log lines reach the sink on the thread that created the camera
// (the main thread), through its event loop; drainLog() delivers them by hand.
class NetworkCamera {
 public:
  using LogSink = std::function<void(const QString& line)>;

  struct Options {
    int openTimeoutMs = 5000;  // FFmpeg open timeout
    int readTimeoutMs = 3000;  // FFmpeg read timeout: a silent stream counts as dropped after it
    int staleAfterMs = 2000;   // a frame older than this is no frame
    int firstRetryMs = 250;    // pause before the first reconnection attempt
    int maxRetryMs = 2000;     // pauses double up to this
  };

  // `source`: an rtsp:// (or other URL) address, or a video file path (station or host form).
  NetworkCamera(const QString& source, LogSink sink, Options options);
  NetworkCamera(const QString& source, LogSink sink);
  ~NetworkCamera();  // stops the thread
  NetworkCamera(const NetworkCamera&) = delete;
  NetworkCamera& operator=(const NetworkCamera&) = delete;

  void start();  // no-op when running
  void stop();   // waits for the thread; keeps no frame
  bool isRunning() const { return thread_.joinable(); }
  const QString& source() const { return source_; }
  bool isFile() const { return isFile_; }

  // A copy of the latest frame (BGR) when it is fresh; empty otherwise. Thread-safe.
  cv::Mat latestFrame() const;
  // The same as a QImage (RGB888) for the video view; null when there is no fresh frame.
  QImage latestImage() const;
  // Size of the latest fresh frame (the video's own size); empty when none.
  QSize videoSize() const;
  // Number of frames decoded since start (lets a view tell a new frame from an old one).
  quint64 frameCount() const { return frameCount_.load(); }

  // Writes the latest fresh frame, at the video's own size, as a PNG file (station or host
  // path). false (and no file written) when there is no fresh frame or the file cannot be
  // written.
  bool snapshot(const QString& pngPath) const;

  // Delivers queued log lines now (the event loop does this by itself).
  void drainLog();

 private:
  void run();
  void queueLog(const QString& line);
  void sleepInterruptibly(std::chrono::milliseconds d);

  QString source_;
  std::string openName_;
  bool isFile_ = false;
  LogSink sink_;
  Options options_;

  mutable std::mutex frameMutex_;
  cv::Mat frame_;
  std::chrono::steady_clock::time_point frameTime_{};
  std::atomic<quint64> frameCount_{0};

  std::mutex logMutex_;
  std::deque<QString> logQueue_;
  std::unique_ptr<QObject> logContext_;  // lives on the creating thread; queued drains target it

  std::mutex wakeMutex_;
  std::condition_variable wake_;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace tavo
