#pragma once
#include <QSize>
#include <QString>
#include <memory>
#include <opencv2/core/mat.hpp>

namespace cv {
class VideoCapture;
}

namespace tavo {

// The local web camera (`capture`): opened once at start-up, held until the end, never reopened.
// The setting WebCam says what to open: "0" (default) the first camera, another number that
// camera (V4L2; 700, the old "DirectShow, first camera", is camera 0), anything else a video
// file (FFmpeg) that stands in for a camera and starts again at its end.
class WebCamera {
 public:
  WebCamera();
  ~WebCamera();
  WebCamera(const WebCamera&) = delete;
  WebCamera& operator=(const WebCamera&) = delete;

  // Opens the camera; false (a null capture) when none opens. Quiet and quick when there is no
  // camera at all. A second call releases the first capture.
  bool open(const QString& webCamSetting);
  void release();
  // false: `capture` is nil.
  bool isOpen() const;

  // One picture as GrabFrame takes it: a frame is read and dropped, a second is read and
  // returned (BGR). Empty when no frame came back (or the camera is not open).
  cv::Mat grabFrame();
  // One frame, for callers that need just one (e.g. a view). Empty when none.
  cv::Mat readFrame();

  // Frame size as the camera reports it; empty when not open.
  QSize frameSize() const;
  // Frames read since open (both frames of grabFrame count).
  long framesRead() const { return framesRead_; }

 private:
  void skipFrame();

  std::unique_ptr<cv::VideoCapture> capture_;
  bool isFile_ = false;
  long framesRead_ = 0;
};

}  // namespace tavo
