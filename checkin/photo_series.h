#pragma once
#include <QString>
#include <QStringList>
#include <functional>

#include "face/picture/face_cropper.h"

namespace tavo {

class Cameras;
class Station;

// Files of a photo series in the flag folder.
inline constexpr char kSeriesReady[] = "ready.txt";
inline constexpr char kSeriesNoFacePicture[] = "Photo1.jpg";
// "Face" + k + "_face.jpg" for the file number k = 101 .. 105 (a series writes 101 to 103).
QString seriesFacePicture(int k);
// Every file a series may leave: Face101..Face105, "Photo1.jpg", "ready.txt".
QStringList seriesFiles();
// The message for a picture without a frame.
inline constexpr char kSeriesFrameNil[] = "MainUnit 2530: \n\rframe = nil";

// The photo series for the office system (GetNewPhoto): after WaitTime ms (events run
// meanwhile) and with the tone on, three pictures are taken; each face found is put into the
// flag folder as "Face10N_face.jpg", a picture without a face as "Photo1.jpg" (the last such one
// wins); an empty "ready.txt" follows the pictures.
//
// The files of an earlier series are removed first, so that only this series' pictures can be
// enrolled. Every file appears whole (written under a temporary name, then renamed). A picture
// whose frame is missing is skipped after the "frame = nil" message: nothing is searched or
// written for it, and the series goes on with the next picture. An error ends the series: the
// tone is stopped, and the error propagates without "ready.txt".
class PhotoSeries {
 public:
  PhotoSeries(Station& station, Cameras& cameras, FaceCropper& cropper);

  // Replaceable steps (defaults: GrabFrame on the cameras, PhotoGet mode 3 of the cropper).
  std::function<bool(const QString& frameNilMessage)> grab;
  std::function<PhotoResult()> detectFace;

  void GetNewPhoto();

 private:
  Station& station_;
  Cameras& cameras_;
  FaceCropper& cropper_;
};

}  // namespace tavo
