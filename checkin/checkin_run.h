#pragma once
#include <QObject>
#include <QString>
#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

#include "checkin/spoof_check.h"
#include "face/picture/face_cropper.h"

namespace tavo {

class Cameras;
class DataStore;
class Station;
struct ResultQueryRow;

// Answer texts of the third line when no barcode was confirmed.
inline constexpr char kLowPercent[] = "low percent";
inline constexpr char kNotFound[] = "not found";
inline constexpr char kNoPicture[] = "no picture";  // no attempt got a picture (line 2 empty)
// Work-log tags of an attempt.
inline constexpr char kTagNotFound[] = "not found";  // the barcode has no active model
inline constexpr char kTagNoFrame[] = "no frame";    // the camera gave no picture

// Milliseconds spent in the parts of the last run (figures for the benchmarks).
struct CheckInTimings {
  double grab = 0, detection = 0, matching = 0, database = 0, files = 0, liveness = 0, total = 0;
  int attempts = 0;
};

// The check-in verification run (FaceDetectionLuxandRTSP): up to three pictures, each with its
// face found and identified against the template base, a Result and a Works row per attempt,
// the date columns, the sounds and the answer "out" + barcode + ".txt" in the flag directory.
//
// The barcode is read from settings.ean once, when the run starts. Runs never overlap: a call
// made while a run is in progress (a nested button press, say) is queued and runs after it, from
// the event loop. An attempt whose grab gives no picture is counted: it gets a Result row
// (percentage 0) and a Works row tagged "no frame" with no photo name (no photo file, no face),
// and no picture is analysed. When no attempt got a picture the answer's second line is empty and
// its third "no picture" (for a barcode with models; one without is "not found" all the same). A camera outage shows at most one operator message per run. The office
// system's copy "Temp\model1C_face.jpg" (and its ".bin") is removed before the first grab, so it
// only ever holds a picture of this run. After an error the tone is stopped, the error is logged
// and rethrown; an answer that could not be written is a ResultFileError.
class CheckInRun {
 public:
  CheckInRun(Station& station, DataStore& data, Cameras& cameras, FaceCropper& cropper);
  ~CheckInRun();

  // The template base (FaceRecognitionLuxand and isEmpty of the face base). Unset: the base is
  // empty.
  using Recognize = std::function<void(const QString& filename, int mode, int& idModel,
                                       double& percentdif, QString& name_fio)>;
  Recognize recognize;
  std::function<bool()> templateBaseIsEmpty;

  // Wires a template base with FaceRecognitionLuxand(...) and isEmpty().
  template <class Base>
  void useTemplateBase(Base& base) {
    recognize = [&base](const QString& f, int m, int& id, double& p, QString& n) {
      base.FaceRecognitionLuxand(f, m, id, p, n);
    };
    templateBaseIsEmpty = [&base] { return base.isEmpty(); };
  }

  // Replaceable steps (defaults: GrabFrame on the cameras, PhotoGet mode 3, PlaySouns).
  std::function<bool(const QString& frameNilMessage)> grab;
  std::function<PhotoResult()> detectFace;
  std::function<void(std::uint8_t kind)> playSound;
  // With AntiSpoof on: the verdict on the attempt's picture ("Temp\model_full.jpg", as cropped)
  // and the face detection found in it. An attack is never confirmed; its work row is tagged
  // "spoof", and when every attempt was one the answer's third line is "spoof".
  std::function<SpoofVerdict(const PhotoResult& face)> judgeSpoof;

  // The wait before the first picture, in ms; events run meanwhile.
  int initialWaitMs = 1000;

  void FaceDetectionLuxandRTSP(bool IsTimer);

  bool running() const { return running_; }
  int queuedRuns() const { return static_cast<int>(queue_.size()); }
  const CheckInTimings& lastTimings() const { return timings_; }

 private:
  struct Pending {
    bool isTimer;
    QString ean;
  };
  struct Run;      // the values of one run
  struct Attempt;  // what one attempt found
  void run(bool isTimer, const QString& ean);
  void runQueued();
  void finish();
  // The steps of a run.
  void begin(Run& r, bool isTimer, const QString& ean);
  void checkWebCamera(Run& r);
  void makeAttempts(Run& r);
  Attempt attempt(Run& r);
  bool grabbed(Run& r, const char* frameNilMessage);
  void copyFor1C();
  void findFace(Run& r, Attempt& a);
  void match(Run& r);
  void writeRows(Run& r, const Attempt& a);
  bool confirms(const Run& r, const Attempt& a);
  void answer(Run& r);
  void decide(const Run& r, const std::vector<ResultQueryRow>& top, QString& photo, QString& confirmedEan) const;
  static const ResultQueryRow* answeringRow(const std::vector<ResultQueryRow>& top);

  Station& station_;
  DataStore& data_;
  Cameras& cameras_;
  FaceCropper& cropper_;
  bool running_ = false;
  std::deque<Pending> queue_;
  CheckInTimings timings_;
  QObject context_;  // owner of the queued-run callbacks
};

}  // namespace tavo
