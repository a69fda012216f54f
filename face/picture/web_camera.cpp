#include "face/picture/web_camera.h"

#include <QFileInfo>
#include <opencv2/videoio.hpp>

#include "base/paths.h"

namespace tavo {

WebCamera::WebCamera() = default;
WebCamera::~WebCamera() { release(); }

bool WebCamera::open(const QString& webCamSetting) {
  release();
  const QString setting = webCamSetting.trimmed();
  bool isNumber = false;
  int index = setting.isEmpty() ? 0 : setting.toInt(&isNumber);
  // OpenCV numbers of 100 and above name a back end in the hundreds (700: DirectShow, first
  // camera); here the back end is always V4L2 and the rest picks the camera.
  if (index >= 100) index %= 100;
  if (setting.isEmpty()) isNumber = true;
  auto cap = std::make_unique<cv::VideoCapture>();
  try {
    if (isNumber) {
      // V4L2 camera N is /dev/videoN; asking OpenCV for a missing one only prints warnings.
      if (index < 0 || !QFileInfo::exists(QStringLiteral("/dev/video%1").arg(index))) return false;
      cap->open(index, cv::CAP_V4L2);
    } else {
      const QString host = hostPath(setting);
      if (!QFileInfo(host).isFile()) return false;
      // FFmpeg also "opens" a lone picture or a broken file; only a file that yields a frame
      // stands in for a camera, and it starts from its first frame.
      cv::Mat probe;
      if (!cap->open(host.toStdString(), cv::CAP_FFMPEG) || !cap->read(probe) || probe.empty()) return false;
      cap->open(host.toStdString(), cv::CAP_FFMPEG);
      isFile_ = true;
    }
  } catch (const cv::Exception&) {
    return false;
  }
  if (!cap->isOpened()) {
    isFile_ = false;
    return false;
  }
  capture_ = std::move(cap);
  framesRead_ = 0;
  return true;
}

void WebCamera::release() {
  if (capture_) capture_->release();
  capture_.reset();
  isFile_ = false;
}

bool WebCamera::isOpen() const { return capture_ && capture_->isOpened(); }

cv::Mat WebCamera::readFrame() {
  if (!isOpen()) return {};
  cv::Mat frame;
  try {
    if (!capture_->read(frame) && isFile_) {
      // A video file standing in for a camera starts again at its end.
      capture_->set(cv::CAP_PROP_POS_FRAMES, 0);
      capture_->read(frame);
    }
  } catch (const cv::Exception&) {
    frame.release();
  }
  if (!frame.empty()) ++framesRead_;
  return frame;
}

// Takes the next frame from the camera without converting it to a picture.
void WebCamera::skipFrame() {
  if (!isOpen()) return;
  try {
    if (!capture_->grab() && isFile_) {
      capture_->set(cv::CAP_PROP_POS_FRAMES, 0);
      if (!capture_->grab()) return;
    }
  } catch (const cv::Exception&) {
    return;
  }
  ++framesRead_;
}

cv::Mat WebCamera::grabFrame() {
  skipFrame();  // the first frame is dropped: it may be an old one from the driver's buffer
  return readFrame();
}

QSize WebCamera::frameSize() const {
  if (!isOpen()) return {};
  return QSize(int(capture_->get(cv::CAP_PROP_FRAME_WIDTH)), int(capture_->get(cv::CAP_PROP_FRAME_HEIGHT)));
}

}  // namespace tavo
