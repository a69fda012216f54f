#pragma once
#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "face/base_statistics.h"
#include "face/own_strangers.h"
#include "face/sdk/fsdk.h"

namespace cv {
class Mat;
}

namespace tavo {

class DataStore;
class Station;
struct BuildJob;
struct BuildOutcome;
class BuildProgress;
class PendingTemplates;

// One enrolled picture of the template base.
struct TFaceRecord {
  FSDK_FaceTemplate Template{};
  TFacePosition FacePosition{};
  FSDK_Features FacialFeatures{};
  QString ImageFileName;
  // Always 0 once a record is in the base: the scaled picture is released as soon as its template
  // is taken (holding about 1 MB a model until the next build would not fit 10000 models).
  HImage ImageHandle = 0;
  int32_t id = 0;
  QString fio;  // the model's barcode, at most 255 characters
};

// Largest size a picture is scaled to before detection: ratio min(width / w, height / h).
struct ScaleBox {
  double width;
  double height;
};
inline constexpr ScaleBox kEnrolmentScale{705.4, 490.4};
inline constexpr ScaleBox kProbeScale{401.4, 249.4};

// What the engine made of one picture file: load, scale, face, eyes, template. Each code is
// FSDKE_OK or the failing call's code; later steps are not tried after a failure.
struct PictureTemplate {
  int loadCode = FSDKE_FAILED;      // load, size and scale
  int faceCode = FSDKE_FAILED;      // FSDK_DetectFace
  int eyesCode = FSDKE_FAILED;      // FSDK_DetectEyesInRegion
  int templateCode = FSDKE_FAILED;  // FSDK_GetFaceTemplateInRegion
  TFacePosition FacePosition{};
  FSDK_Features FacialFeatures{};
  FSDK_FaceTemplate Template{};

  bool loaded() const { return loadCode == FSDKE_OK; }
  bool faceFound() const { return loaded() && faceCode == FSDKE_OK; }
  bool complete() const { return faceFound() && eyesCode == FSDKE_OK && templateCode == FSDKE_OK; }
};

// The per-picture work of enrolment and matching, a pure function of the file (a station or host
// path): it owns and releases every image it makes, so it may run on worker threads. `between`
// runs between the engine steps (the single-threaded callers let pending events run there).
PictureTemplate templateOfPicture(const QString& fileName, int detectionThreshold, ScaleBox scale,
                                  const std::function<void()>& between = {});
// The same for a picture already decoded (BGR, as the engine loads a file).
PictureTemplate templateOfPicture(const cv::Mat& picture, int detectionThreshold, ScaleBox scale);

// File name of a model's export copy: EAN + "_" + id padded to 6 digits + "_id.jpg".
QString exportFileName(const QString& ean, qint64 id);
// Folder of the export copies.
inline constexpr char kExportFolder[] = "C:\\Korvend\\FTP\\";

// The template base (FaceList) and face matching. All descriptors are also kept in one contiguous
// float array in base order, so a 1:N scan runs at memory speed.
class FaceBase {
 public:
  static constexpr int kDefaultCapacity = 10000;

  // `capacity`: a build stops after this many pictures with a face.
  FaceBase(Station& station, DataStore& data, int capacity = kDefaultCapacity);
  ~FaceBase();
  FaceBase(const FaceBase&) = delete;
  FaceBase& operator=(const FaceBase&) = delete;

  // Button19Click: builds the base anew from the active models of TableModel (its current order
  // and filter), keeps the rows' dark/light flags, exports new models and writes "ArrayOk.txt".
  // An error that escapes ends the build: the base keeps what was enrolled, input is enabled
  // again, no end line and no "ArrayOk.txt"; the error propagates.
  void Button19Click();

  // Deactivates every model row whose "_face.bin" file is missing (each change posted at once).
  void CheckModel();
  // Empties the base.
  void ClearDatabase();
  // Appends one record built from the picture file; thresholdCheck tells whether a face was found.
  // Failures go to message boxes (caption "Error") and leave no record.
  void EnrollPicture(const QString& FileName, int id, bool& Threshold_Check, const QString& fio);

  // Matches the probe picture against the whole base. mode 0: work directory, 2: flag directory,
  // 3: program directory "Temp\"; the name loses all spaces and gets "_face.jpg". On return the
  // best record's id, similarity x 100 and barcode, or 0, 0 and empty when nothing matched.
  void FaceRecognitionLuxand(const QString& filename, int mode, int& idModel, double& percentdif,
                             QString& name_fio);

  // Probe path for a name and mode (empty for an unknown mode).
  QString probePath(const QString& filename, int mode) const;

  bool isEmpty() const { return records_.empty(); }
  std::size_t size() const { return records_.size(); }
  const std::vector<TFaceRecord>& FaceList() const { return records_; }
  // Descriptors of the records, kDescriptorSize floats each, in base order (NaN for a record
  // whose template is not readable: it never matches).
  const std::vector<float>& descriptors() const { return descriptors_; }
  // The population the match scale measures from.
  const BaseStatistics& statistics() const { return statistics_; }
  // The centre matches are measured from (the base's own when the calibration centres on it) and
  // how far the base's own strangers move its minimum; worked out again after every change.
  const fsdk::Centre& matchCentre() const;

  // Appends a finished record (its template must come from the engine).
  void append(TFaceRecord record);
  // Takes every record of the model out of the base (a model deleted or deactivated) and drops
  // its stored template. Returns how many records went.
  std::size_t forget(qint64 id);

  // Worker threads of a build (0: the message thread does all the work). Default: 2, or
  // $TAVO_BUILD_WORKERS.
  void setBuildWorkers(int n) { buildWorkers_ = n; }
  int buildWorkers() const { return buildWorkers_; }
  // Figures of the last build: rows enrolled from the template store and worked out afresh,
  // active models left out by the capacity, and whether a quit request ended it.
  struct BuildFigures {
    int fromStore = 0;
    int computed = 0;
    int leftOut = 0;
    bool stopped = false;
  };
  const BuildFigures& lastBuild() const { return lastBuild_; }

  // Index of the best record for a probe descriptor: similarity at or above minSimilarity and
  // above 0; on ties in similarity the earlier record. -1 when none.
  struct Match {
    long index = -1;
    float similarity = 0;
  };
  Match bestMatch(const float* probe, float minSimilarity) const;
  // The same scan over any contiguous descriptor array (count * kDescriptorSize floats).
  static Match bestMatchIn(const float* descriptors, std::size_t count, const float* probe, float minSimilarity,
                           const fsdk::Centre& centre = fsdk::priorCentre());
  // Room for n records without moving the ones already there (a build reserves for its rows).
  void reserve(std::size_t n);

  int capacity() const { return capacity_; }
  void setCapacity(int capacity) { capacity_ = capacity; }
  int FaceDetectionThreshold() const { return faceDetectionThreshold_; }
  int FARValue() const { return farValue_; }

  // The label next to the build button ("База моделей N"); empty until a build shows a count.
  const QString& labelText() const { return label_; }
  std::function<void(const QString&)> onLabel;
  // What the label adds after its text: the progress while a build runs ("120 из 1000, осталось
  // 1 мин 15 с"), the active models a full base left out after it; empty otherwise.
  const QString& labelNote() const { return labelNote_; }
  std::function<void()> onLabelNote;

  // Whether a model enrolled now stays out of the base at the next start: the build stops at the
  // capacity, and a new model comes after every earlier row in the table.
  bool newModelsLeftOutAtNextStart() const;
  // Input to the window and the model grid off (true) during the build and on again (false).
  std::function<void(bool)> setBusy;

 private:
  void initializeEngine();
  // What EnrollPicture makes of an engine outcome: the message boxes of a failed step and a record
  // when the template was obtained. Returns Threshold_Check (a face was found).
  bool enrolPicture(const PictureTemplate& p, const QString& fileName, int id, const QString& fio);

  // The build's walk over the model table, in its steps: read the rows, take each row's stored or
  // computed outcome, apply it as EnrollPicture would, export the model and keep its flags.
  void walkModels(int& counter);
  std::vector<BuildJob> readRows();
  bool backToRow(const BuildJob& job);
  bool applyOutcome(const BuildJob& job, const BuildOutcome& o, PendingTemplates& fresh);
  void exportAndFlag(const BuildJob& job, bool check);
  void showProgress(BuildProgress& progress);
  void showCount(int counter);
  void reportEnd(int counter, const BuildProgress& progress);
  void setLabelNote(const QString& note);
  // Whether the model still exists and is active (true when the database cannot tell).
  bool stillActive(qint64 id);

  Station& station_;
  DataStore& data_;
  int capacity_;
  int faceDetectionThreshold_ = 3;
  int farValue_ = 100;
  bool engineReady_ = false;
  std::vector<TFaceRecord> records_;
  std::vector<float> descriptors_;
  BaseStatistics statistics_;
  mutable OwnStrangerSample ownStrangers_;
  mutable bool ownStrangersStale_ = true;
  mutable fsdk::Centre matchCentre_;
  mutable bool matchCentreStale_ = true;
  QString label_;
  QString labelNote_;
  QByteArray networks_;  // digest of the networks the engine loaded (once per process)
  // Faces the next build counts before a model added now: the last build's count, plus models
  // enrolled since with a face, less records forgotten.
  int facesAhead_ = 0;
  int buildWorkers_;
  BuildFigures lastBuild_;
};

}  // namespace tavo
