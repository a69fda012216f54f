#include "face/picture/network_camera.h"

#include <QByteArray>
#include <QMetaObject>
#include <QObject>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>
#include <vector>

#include "base/paths.h"

namespace tavo {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {
const QString kCannotConnect = QStringLiteral("RTSP - нет связи с камерой, переподключение");
const QString kDropped = QStringLiteral("RTSP - поток прерван, переподключение");
const QString kRestored = QStringLiteral("RTSP - поток восстановлен");
// FFmpeg prints every refused reconnection and every damaged frame of a stream joined between
// key frames on stderr; the operator log says what matters. OpenCV reads its FFmpeg log level
// from the environment at each open; set it once, before any capture thread runs, unless the
// user asked for FFmpeg's output.
void quietFfmpeg() {
  static const bool done = [] {
    if (!qEnvironmentVariableIsSet("OPENCV_FFMPEG_DEBUG") && !qEnvironmentVariableIsSet("OPENCV_FFMPEG_LOGLEVEL"))
      qputenv("OPENCV_FFMPEG_LOGLEVEL", "-8");  // AV_LOG_QUIET
    return true;
  }();
  (void)done;
}

}  // namespace

NetworkCamera::NetworkCamera(const QString& source, LogSink sink, Options options)
    : source_(source.trimmed()), sink_(std::move(sink)), options_(options), logContext_(std::make_unique<QObject>()) {
  // Anything with a scheme is an address for FFmpeg; anything else is a video file.
  isFile_ = !source_.contains(QStringLiteral("://"));
  quietFfmpeg();
  openName_ = (isFile_ ? hostPath(source_) : source_).toStdString();
}

NetworkCamera::NetworkCamera(const QString& source, LogSink sink) : NetworkCamera(source, std::move(sink), Options{}) {}

NetworkCamera::~NetworkCamera() { stop(); }

void NetworkCamera::start() {
  if (thread_.joinable()) return;
  stopping_ = false;
  thread_ = std::thread([this] { run(); });
}

void NetworkCamera::stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(wakeMutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
  std::lock_guard<std::mutex> lock(frameMutex_);
  frame_.release();
}

void NetworkCamera::sleepInterruptibly(milliseconds d) {
  std::unique_lock<std::mutex> lock(wakeMutex_);
  wake_.wait_for(lock, d, [this] { return stopping_.load(); });
}

void NetworkCamera::queueLog(const QString& line) {
  {
    std::lock_guard<std::mutex> lock(logMutex_);
    logQueue_.push_back(line);
  }
  // Runs drainLog on the thread that owns logContext_; dropped if the camera is gone by then.
  QMetaObject::invokeMethod(
      logContext_.get(), [this] { drainLog(); }, Qt::QueuedConnection);
}

void NetworkCamera::drainLog() {
  std::deque<QString> lines;
  {
    std::lock_guard<std::mutex> lock(logMutex_);
    lines.swap(logQueue_);
  }
  if (sink_)
    for (const QString& l : lines) sink_(l);
}

void NetworkCamera::run() {
  milliseconds pause(options_.firstRetryMs);
  bool everConnected = false;
  bool announcedDown = false;
  while (!stopping_) {
    bool gotFrame = false;
    try {
      cv::VideoCapture cap;
      const std::vector<int> params = {cv::CAP_PROP_OPEN_TIMEOUT_MSEC, options_.openTimeoutMs,
                                       cv::CAP_PROP_READ_TIMEOUT_MSEC, options_.readTimeoutMs};
      if (cap.open(openName_, cv::CAP_FFMPEG, params)) {
        double fps = isFile_ ? cap.get(cv::CAP_PROP_FPS) : 0.0;
        if (!(fps > 0.5 && fps < 240.0)) fps = 25.0;
        const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / fps));
        auto due = Clock::now();
        while (!stopping_) {
          cv::Mat frame;
          if (!cap.read(frame) || frame.empty()) break;
          if (isFile_) {
            // A file plays at its own frame rate, like a live camera.
            due += period;
            const auto now = Clock::now();
            if (due > now) {
              std::unique_lock<std::mutex> lock(wakeMutex_);
              wake_.wait_until(lock, due, [this] { return stopping_.load(); });
            } else if (now - due > 5 * period) {
              due = now;
            }
            if (stopping_) break;
          }
          {
            std::lock_guard<std::mutex> lock(frameMutex_);
            frame_ = frame;
            frameTime_ = Clock::now();
          }
          ++frameCount_;
          if (!gotFrame) {
            gotFrame = true;
            everConnected = true;
            pause = milliseconds(options_.firstRetryMs);
            if (announcedDown) {
              queueLog(kRestored);
              announcedDown = false;
            }
          }
        }
      }
    } catch (const cv::Exception&) {
      // An FFmpeg failure counts as a dropped stream.
    }
    if (stopping_) break;
    // A file that played to its end starts again at once.
    if (isFile_ && gotFrame) continue;
    if (!announcedDown) {
      queueLog(everConnected ? kDropped : kCannotConnect);
      announcedDown = true;
    }
    sleepInterruptibly(pause);
    pause = std::min(pause * 2, milliseconds(options_.maxRetryMs));
  }
}

cv::Mat NetworkCamera::latestFrame() const {
  std::lock_guard<std::mutex> lock(frameMutex_);
  if (frame_.empty()) return {};
  if (Clock::now() - frameTime_ > milliseconds(options_.staleAfterMs)) return {};
  return frame_.clone();
}

QImage NetworkCamera::latestImage() const {
  const cv::Mat bgr = latestFrame();
  if (bgr.empty()) return {};
  cv::Mat rgb;
  if (bgr.channels() == 1)
    cv::cvtColor(bgr, rgb, cv::COLOR_GRAY2RGB);
  else
    cv::cvtColor(bgr, rgb, cv::COLOR_BGR2RGB);
  return QImage(rgb.data, rgb.cols, rgb.rows, int(rgb.step), QImage::Format_RGB888).copy();
}

QSize NetworkCamera::videoSize() const {
  std::lock_guard<std::mutex> lock(frameMutex_);
  if (frame_.empty() || Clock::now() - frameTime_ > milliseconds(options_.staleAfterMs)) return {};
  return QSize(frame_.cols, frame_.rows);
}

bool NetworkCamera::snapshot(const QString& pngPath) const {
  const cv::Mat frame = latestFrame();
  if (frame.empty()) return false;
  std::vector<uchar> buf;
  try {
    if (!cv::imencode(".png", frame, buf)) return false;
  } catch (const cv::Exception&) {
    return false;
  }
  return writeFileAtomically(pngPath, QByteArray(reinterpret_cast<const char*>(buf.data()), qsizetype(buf.size())));
}

}  // namespace tavo
