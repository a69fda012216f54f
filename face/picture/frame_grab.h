#pragma once
#include <QString>
#include <memory>

#include "face/picture/network_camera.h"
#include "face/picture/web_camera.h"

namespace tavo {

class Station;

// Both picture sources of the station, created at start-up and held to the end: the web camera
// `capture` (always opened) and the network camera (started when Cam_RTSP is set).
class Cameras {
 public:
  explicit Cameras(Station& station, NetworkCamera::Options streamOptions = {});
  ~Cameras();

  // Start-up: opens the web camera from the setting WebCam and, when Cam_RTSP is set, starts
  // the stream from the setting RTSP. Stream log lines go to the station's operator log.
  void open();
  void release();  // shutdown: stops the stream, releases the web camera

  // Cam_RTSP: true selects the network camera.
  bool camRtsp() const;

  WebCamera& webCamera() { return webCamera_; }
  // `capture` = nil: no web camera could be opened.
  bool captureIsNull() const { return !webCamera_.isOpen(); }

  // (Re)starts the stream from the setting RTSP; stops it when the setting is empty.
  void startStream();
  void stopStream();
  // The running stream; null when not started. The video view paints latestImage() of it.
  NetworkCamera* networkCamera() { return stream_.get(); }

 private:
  Station& station_;
  NetworkCamera::Options streamOptions_;
  WebCamera webCamera_;
  std::unique_ptr<NetworkCamera> stream_;
};

// Which source GrabFrame takes the picture from.
enum class GrabSource {
  Selected,  // by Cam_RTSP (check-in run, photo series)
  Stream,    // always the stream snapshot (model editor "Получить фото")
};

// Takes one picture into "Temp\model_full.jpg" of the program directory. Any older
// "Temp\model_full.jpg" is removed first, so that a failed grab never leaves a stale picture.
// Stream: snapshot of the latest fresh frame into "Temp\model_full.png", converted by PNGtoJPEG
// at quality 100. Web camera: two frames, the second saved. Returns false when there is no
// picture (no fresh stream frame, no web-camera frame, a failed conversion): then
// `frameNilMessage` (the caller's "MainUnit NNNN: \n\rframe = nil"; empty for none) is shown
// through station.messages() and a line is written to the operator log.
bool GrabFrame(Station& station, Cameras& cameras, const QString& frameNilMessage,
               GrabSource source = GrabSource::Selected);

}  // namespace tavo
