#include "face/picture/frame_grab.h"

#include <QByteArray>
#include <opencv2/imgcodecs.hpp>
#include <stdexcept>
#include <vector>

#include "base/paths.h"
#include "base/station.h"
#include "face/picture/image_files.h"

namespace tavo {

Cameras::Cameras(Station& station, NetworkCamera::Options streamOptions)
    : station_(station), streamOptions_(streamOptions) {}

Cameras::~Cameras() { release(); }

void Cameras::open() {
  webCamera_.open(station_.settings.webCam);
  if (camRtsp()) startStream();
}

void Cameras::release() {
  stopStream();
  webCamera_.release();
}

bool Cameras::camRtsp() const { return station_.settings.camRtsp; }

void Cameras::startStream() {
  stopStream();
  const QString source = station_.settings.rtsp.trimmed();
  if (source.isEmpty()) return;
  Station* station = &station_;
  stream_ = std::make_unique<NetworkCamera>(
      source, [station](const QString& line) { station->showLog(line); }, streamOptions_);
  stream_->start();
}

void Cameras::stopStream() {
  if (stream_) stream_->stop();
  stream_.reset();
}

namespace {

bool saveFrameAsJpeg(const cv::Mat& frame, const QString& path) {
  std::vector<uchar> buf;
  try {
    if (!cv::imencode(".jpg", frame, buf)) return false;  // OpenCV's default quality
  } catch (const cv::Exception&) {
    return false;
  }
  return writeWorkingFile(path, QByteArray(reinterpret_cast<const char*>(buf.data()), qsizetype(buf.size())));
}

}  // namespace

bool GrabFrame(Station& station, Cameras& cameras, const QString& frameNilMessage, GrabSource source) {
  const QString jpg = station.tempFile(QStringLiteral("model_full.jpg"));
  // A failed grab must leave no picture behind that a later step could take for this one.
  if (!removeFile(jpg)) {
    station.showLog(QStringLiteral("GrabFrame - не удалось удалить старый снимок ") + hostPath(jpg));
    if (!frameNilMessage.isEmpty()) station.messages().show(frameNilMessage);
    return false;
  }

  bool ok = false;
  QString failure;
  if (source == GrabSource::Stream || cameras.camRtsp()) {
    const QString png = station.tempFile(QStringLiteral("model_full.png"));
    removeFile(png);
    NetworkCamera* stream = cameras.networkCamera();
    if (!stream) {
      failure = QStringLiteral("GrabFrame - сетевая камера не запущена");
    } else if (!stream->snapshot(png)) {
      failure = QStringLiteral("GrabFrame - нет кадра с сетевой камеры");
    } else {
      try {
        PNGtoJPEG(png, jpg, 100);
        ok = true;
      } catch (const std::exception& e) {
        failure = QStringLiteral("GrabFrame - ") + QString::fromStdString(e.what());
      }
    }
  } else {
    const cv::Mat frame = cameras.webCamera().grabFrame();
    if (frame.empty())
      failure = QStringLiteral("GrabFrame - нет кадра с веб-камеры");
    else if (!saveFrameAsJpeg(frame, jpg))
      failure = QStringLiteral("GrabFrame - не удалось записать ") + hostPath(jpg);
    else
      ok = true;
  }

  if (!ok) {
    station.showLog(failure);
    if (!frameNilMessage.isEmpty()) station.messages().show(frameNilMessage);
  }
  return ok;
}

}  // namespace tavo
