#pragma once
// The station's check of its own camera with AntiSpoof on. The liveness threshold was chosen on
// a few cameras; another camera or light can score live staff below it, and each of them is then
// refused as an attack with nothing said. Captures known to be live (the photo series of an
// enrolment, taken with the operator beside the new employee, and the attempts of a check-in
// that was confirmed) are scored as they come, per camera, and when too many fall below the
// threshold the operator log and stderr say so, and every start-up after, with the figure.
#include <QString>

#include <map>
#include <vector>

#include "checkin/spoof_check.h"

namespace tavo {

class Station;

class CameraLiveness {
 public:
  static constexpr int kKept = 200;        // newest captures kept per camera
  static constexpr int kMinimum = 20;      // captures needed before a figure is told
  static constexpr double kLimitPercent = 5.0;
  static constexpr char kFileName[] = "CameraLiveness.txt";  // in the program directory

  struct Figure {
    int captures = 0, refused = 0;
    double percent() const { return captures ? 100.0 * refused / captures : 0; }
    bool failing() const { return captures >= kMinimum && percent() > kLimitPercent; }
  };

  explicit CameraLiveness(Station& station) : station_(station) {}

  // A check-in attempt was judged; its score counts once the check-in is known confirmed.
  void attemptJudged(const SpoofVerdict& v);
  // The check-in ended, confirmed or not (an unconfirmed one may have been an attack).
  void checkInEnded(bool confirmed);
  // A photo-series picture with the face detection found in it (Temp\model_full.jpg).
  void seriesPicture(const PhotoResult& face);
  // Scores of captures known to be live, of the camera in use.
  void noteLive(const std::vector<float>& scores);

  // The figure of the camera in use, from the stored captures.
  Figure figure() const;
  // At the end of the start-up: an operator message and the log say so when the camera in use
  // fails too often. Returns whether they did.
  bool reportAtStartUp();

 private:
  QString camera() const;
  std::map<QString, QString> load() const;  // camera -> '0'/'1' per capture, oldest first
  void save(const std::map<QString, QString>& cameras) const;
  void tell(const Figure& f, bool atStartUp);

  Station& station_;
  std::vector<float> pending_;  // judged attempts of the check-in in progress
};

}  // namespace tavo
