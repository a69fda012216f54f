#include "face/face_base.h"

#include <QByteArray>
#include <QFile>
#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <thread>

#include "base/events.h"
#include "base/paths.h"
#include "base/station.h"
#include "data/data_store.h"
#include "face/base_build.h"
#include "face/build_progress.h"
#include "face/sdk/fsdk_cv.h"
#include "face/template_store.h"
#include "protect/face_file.h"

namespace tavo {
namespace {

constexpr int kDetectionResizeWidth = 384;
constexpr int kFioLength = 255;

const QString kErrorCaption = QStringLiteral("Error");

// Releases an engine image when the scope ends, also on an exception.
class ImageGuard {
 public:
  ImageGuard() = default;
  ~ImageGuard() { reset(); }
  ImageGuard(const ImageGuard&) = delete;
  ImageGuard& operator=(const ImageGuard&) = delete;
  HImage* out() { return &handle_; }
  HImage get() const { return handle_; }
  void reset() {
    if (handle_ != 0) FSDK_FreeImage(handle_);
    handle_ = 0;
  }

 private:
  HImage handle_ = 0;
};

// Runs a clean-up when the scope ends, whether the walk ended normally or by an exception.
template <class F>
class Finally {
 public:
  explicit Finally(F f) : f_(std::move(f)) {}
  ~Finally() { f_(); }
  Finally(const Finally&) = delete;
  Finally& operator=(const Finally&) = delete;

 private:
  F f_;
};

void appendDescriptor(std::vector<float>& out, const FSDK_FaceTemplate& t) {
  const auto d = fsdk::descriptorOf(t);
  if (d) {
    out.insert(out.end(), d->begin(), d->end());
  } else {
    // A NaN distance is never smaller than the best so far: such a record never matches.
    out.insert(out.end(), fsdk::kDescriptorSize, std::numeric_limits<float>::quiet_NaN());
  }
}

}  // namespace

namespace {

// Scales the loaded picture and runs detection, eyes and template on it.
// The loaded picture is released once scaled.
PictureTemplate templateOfLoaded(PictureTemplate r, ImageGuard& loaded, int detectionThreshold, ScaleBox scale,
                                 const std::function<void()>& between) {
  ImageGuard scaled;
  int width = 0, height = 0;
  if ((r.loadCode = FSDK_GetImageWidth(loaded.get(), &width)) != FSDKE_OK) return r;
  if ((r.loadCode = FSDK_GetImageHeight(loaded.get(), &height)) != FSDKE_OK) return r;
  if (width <= 0 || height <= 0) {
    r.loadCode = FSDKE_EMPTY_IMAGE;
    return r;
  }
  const double ratio = std::min(scale.width / width, scale.height / height);
  if ((r.loadCode = FSDK_CreateEmptyImage(scaled.out())) != FSDKE_OK) return r;
  if ((r.loadCode = FSDK_ResizeImage(loaded.get(), ratio, scaled.get())) != FSDKE_OK) return r;
  loaded.reset();
  if (between) between();
  FSDK_SetFaceDetectionParameters(false, true, kDetectionResizeWidth);
  FSDK_SetFaceDetectionThreshold(detectionThreshold);
  r.faceCode = FSDK_DetectFace(scaled.get(), &r.FacePosition);
  if (r.faceCode != FSDKE_OK) return r;
  if (between) between();
  r.eyesCode = FSDK_DetectEyesInRegion(scaled.get(), &r.FacePosition, &r.FacialFeatures);
  if (r.eyesCode != FSDKE_OK) return r;
  if (between) between();
  r.templateCode = FSDK_GetFaceTemplateInRegion(scaled.get(), &r.FacePosition, &r.Template);
  return r;
}

}  // namespace

PictureTemplate templateOfPicture(const QString& fileName, int detectionThreshold, ScaleBox scale,
                                  const std::function<void()>& between) {
  PictureTemplate r;
  ImageGuard loaded;
  const QByteArray path = fileName.toUtf8();
  r.loadCode = FSDK_LoadImageFromFile(loaded.out(), path.constData());
  if (r.loadCode != FSDKE_OK) return r;
  return templateOfLoaded(r, loaded, detectionThreshold, scale, between);
}

PictureTemplate templateOfPicture(const cv::Mat& picture, int detectionThreshold, ScaleBox scale) {
  PictureTemplate r;
  ImageGuard loaded;
  r.loadCode = fsdk::imageFromMat(picture, loaded.out());
  if (r.loadCode != FSDKE_OK) return r;
  return templateOfLoaded(r, loaded, detectionThreshold, scale, {});
}

QString exportFileName(const QString& ean, qint64 id) {
  return ean + QLatin1Char('_') + QStringLiteral("%1").arg(id, 6, 10, QLatin1Char('0')) +
         QStringLiteral("_id.jpg");
}

FaceBase::FaceBase(Station& station, DataStore& data, int capacity)
    : station_(station), data_(data), capacity_(capacity),
      faceDetectionThreshold_(station.settings.threshold) {
  bool ok = false;
  const int workers = qEnvironmentVariableIntValue("TAVO_BUILD_WORKERS", &ok);
  buildWorkers_ = ok ? std::clamp(workers, 0, 8) : 2;
}

FaceBase::~FaceBase() { ClearDatabase(); }

void FaceBase::initializeEngine() {
  // Loading the networks happens once per process; later calls return at once.
  const QByteArray nets = hostPath(station_.settings.programPath + QStringLiteral("nets")).toUtf8();
  FSDK_SetNetworksFolder(nets.constData());
  const int code = FSDK_Initialize("");
  if (code != FSDKE_OK) {
    // Without networks every picture would look faceless and the rows' flags would be spoilt.
    engineReady_ = false;
    throw std::runtime_error(std::string("Face engine cannot start: ") + fsdk::errorText(code) + " (" +
                             nets.toStdString() + ")");
  }
  engineReady_ = true;
  // The engine loads its networks once per process: their digest is taken once too, so it names
  // the networks in use even when the files are replaced while the station runs.
  if (networks_.isEmpty()) networks_ = networksDigest(QString::fromUtf8(nets));
}

void FaceBase::ClearDatabase() {
  for (auto& r : records_)
    if (r.ImageHandle != 0) {
      FSDK_FreeImage(r.ImageHandle);
      r.ImageHandle = 0;
    }
  records_.clear();
  records_.shrink_to_fit();
  descriptors_.clear();
  descriptors_.shrink_to_fit();
  statistics_.clear();
  ownStrangersStale_ = matchCentreStale_ = true;
}

void FaceBase::reserve(std::size_t n) {
  records_.reserve(n);
  descriptors_.reserve(n * fsdk::kDescriptorSize);
}

void FaceBase::append(TFaceRecord record) {
  if (record.ImageHandle != 0) {
    FSDK_FreeImage(record.ImageHandle);
    record.ImageHandle = 0;
  }
  record.fio.truncate(kFioLength);
  appendDescriptor(descriptors_, record.Template);
  try {
    records_.push_back(std::move(record));
  } catch (...) {
    descriptors_.resize(records_.size() * fsdk::kDescriptorSize);
    throw;
  }
  const float* added = descriptors_.data() + (records_.size() - 1) * fsdk::kDescriptorSize;
  statistics_.add(added, records_.back().fio);
  matchCentreStale_ = true;
  // A build appends thousands: the sample is measured once, at its first use.
  if (!ownStrangersStale_ && !ownStrangers_.appended(added, records_.back())) ownStrangersStale_ = true;
}

bool FaceBase::enrolPicture(const PictureTemplate& p, const QString& fileName, int id, const QString& fio) {
  if (!p.loaded()) {
    station_.messages().show(QStringLiteral("Error loading file (EnrollPicture)"), kErrorCaption);
    return false;
  }
  if (!p.faceFound()) return false;
  if (p.eyesCode != FSDKE_OK)
    station_.messages().show(QStringLiteral("Error detection facial features."), kErrorCaption);
  else if (p.templateCode != FSDKE_OK)
    station_.messages().show(QStringLiteral("Error retrieving face template."), kErrorCaption);
  if (p.complete()) {
    TFaceRecord r;
    r.Template = p.Template;
    r.FacePosition = p.FacePosition;
    r.FacialFeatures = p.FacialFeatures;
    r.ImageFileName = fileName;
    r.id = id;
    r.fio = fio;
    append(std::move(r));
  }
  return true;
}

void FaceBase::EnrollPicture(const QString& FileName, int id, bool& Threshold_Check, const QString& fio) {
  if (!engineReady_) initializeEngine();
  const PictureTemplate p = templateOfPicture(FileName, faceDetectionThreshold_, kEnrolmentScale,
                                              [] { processPendingEvents(); });
  Threshold_Check = enrolPicture(p, FileName, id, fio);
  if (!Threshold_Check) return;
  ++facesAhead_;
  if (newModelsLeftOutAtNextStart())
    station_.showLog(QStringLiteral("  LUX base full (%1 faces): model %2 of %3 is matched until the next start, "
                                    "then left out of the base")
                         .arg(capacity_)
                         .arg(id)
                         .arg(fio.left(kFioLength)));
}

void FaceBase::CheckModel() {
  Dataset& t = data_.tableModel();
  if (!t.isOpen()) return;
  const bool notify = t.notificationsEnabled();
  t.setNotificationsEnabled(false);
  Finally restore([&] { t.setNotificationsEnabled(notify); });
  for (t.first(); !t.eof(); t.next()) {
    if (!t.asBool(QStringLiteral("Active"))) continue;
    const QString bin = joinPath(station_.settings.modelDir, t.asString(QStringLiteral("FileName"))) +
                        QLatin1String(kFaceBinSuffix);
    if (fileExists(bin)) continue;
    t.edit();
    t.setField(QStringLiteral("Active"), false);
    t.post();
  }
}

std::vector<BuildJob> FaceBase::readRows() {
  Dataset& t = data_.tableModel();
  std::vector<BuildJob> jobs;
  jobs.reserve(std::size_t(std::max(t.recordCount(), 0)));
  for (t.first(); !t.eof(); t.next()) {
    BuildJob j;
    j.id = t.id();
    j.row = t.currentRow();
    j.active = t.asBool(QStringLiteral("Active"));
    j.ean = t.asString(QStringLiteral("EAN"));
    j.base = joinPath(station_.settings.modelDir, t.asString(QStringLiteral("FileName")));
    jobs.push_back(std::move(j));
  }
  return jobs;
}

bool FaceBase::backToRow(const BuildJob& job) {
  // Work run while events are let through may move the shared cursor.
  Dataset& t = data_.tableModel();
  if (job.row >= 0 && job.row < t.recordCount()) {
    t.moveTo(job.row);
    if (!t.eof() && t.id() == job.id) return true;
  }
  return t.locateId(job.id);
}

bool FaceBase::applyOutcome(const BuildJob& job, const BuildOutcome& o, PendingTemplates& fresh) {
  if (!o.error.empty()) throw std::runtime_error(o.error);
  const bool check = enrolPicture(o.pictureMade ? o.picture : PictureTemplate{},
                                  station_.tempFile(QStringLiteral("CreateArreyModel.jpg")), int(job.id), job.ean);
  if (o.fromStore) {
    ++lastBuild_.fromStore;
  } else if (o.pictureMade && o.picture.loaded()) {
    ++lastBuild_.computed;
    fresh.add(job.id, o.digest, o.picture);
  }
  return check;
}

void FaceBase::exportAndFlag(const BuildJob& job, bool check) {
  Dataset& t = data_.tableModel();
  if (!t.asBool(QStringLiteral("dark"))) {
    // The outcome of the export copy is ignored: the row counts as exported anyway.
    QFile source(hostPath(job.base + QLatin1String(kFaceBinSuffix)));
    if (source.open(QIODevice::ReadOnly)) {
      const QByteArray bytes = source.readAll();
      source.close();
      writeFileAtomically(QLatin1String(kExportFolder) + exportFileName(job.ean, job.id), bytes);
    }
    t.edit();
    t.setField(QStringLiteral("dark"), true);
    t.setField(QStringLiteral("light"), check);
    t.post();
  } else if (t.asBool(QStringLiteral("light")) != check) {
    t.edit();
    t.setField(QStringLiteral("light"), check);
    t.post();
  }
}

void FaceBase::showProgress(BuildProgress& progress) {
  progress.step();
  if (progress.logDue()) station_.showLog(progress.logLine());
  if (progress.labelDue()) setLabelNote(progress.labelNote());
}

void FaceBase::showCount(int counter) {
  label_ = QStringLiteral("База моделей ") + QString::number(counter);
  if (onLabel) onLabel(label_);
}

void FaceBase::reportEnd(int counter, const BuildProgress& progress) {
  facesAhead_ = counter;
  if (lastBuild_.stopped)
    station_.showLog(QStringLiteral("  LUX stopped: the station is ending (%1 of %2 models done)")
                         .arg(progress.done())
                         .arg(progress.total()));
  if (lastBuild_.leftOut > 0) {
    // Never silently: the rows after the capacity are the newest models.
    station_.showLog(QStringLiteral("  LUX base full: %1 faces, %2 active models left out")
                         .arg(counter)
                         .arg(lastBuild_.leftOut));
    setLabelNote(QStringLiteral("база полна, не вошли: %1").arg(lastBuild_.leftOut));
  } else {
    setLabelNote(QString());
  }
}

void FaceBase::walkModels(int& counter) {
  Dataset& t = data_.tableModel();
  lastBuild_ = {};
  // The rows as the table shows them now (order and filter); the pictures are worked on threads
  // ahead of this walk, which takes their outcomes in row order.
  const std::vector<BuildJob> jobs = readRows();
  const auto activeFrom = [&jobs](std::size_t from) {
    return int(std::count_if(jobs.begin() + long(from), jobs.end(), [](const BuildJob& j) { return j.active; }));
  };
  TemplateStore store(data_.database(), [this](const QString& line) { station_.showLog(line); });
  const auto stored = store.loadAll();
  PendingTemplates fresh(store);
  BuildProgress progress(activeFrom(0));
  BuildPipeline pipeline(jobs, stored, buildWorkers_, OutcomeKey{faceDetectionThreshold_, networks_});
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    // The station is ending: what was worked out so far is stored below, the rest waits.
    if (station_.quitRequested) {
      lastBuild_.stopped = true;
      break;
    }
    const BuildJob& job = jobs[i];
    const BuildOutcome o = pipeline.take(i, [] { processPendingEvents(); });
    // A row deleted or deactivated while its picture was worked on is left out.
    bool present = backToRow(job);
    if (present && job.active && t.asBool(QStringLiteral("Active"))) {
      const bool check = applyOutcome(job, o, fresh);
      present = backToRow(job);
      if (present) exportAndFlag(job, check);
      if (check) ++counter;
    }
    if (job.active) showProgress(progress);
    if (present) processPendingEvents();
    if (counter == capacity_) {
      lastBuild_.leftOut = activeFrom(i + 1);
      break;
    }
    if (present) showCount(counter);
  }
  fresh.flush();
  store.prune();
  reportEnd(counter, progress);
}

void FaceBase::setLabelNote(const QString& note) {
  if (note == labelNote_) return;
  labelNote_ = note;
  if (onLabelNote) onLabelNote();
}

bool FaceBase::newModelsLeftOutAtNextStart() const { return lastBuild_.leftOut > 0 || facesAhead_ > capacity_; }

void FaceBase::Button19Click() {
  station_.showLog(QStringLiteral("  start - LUX"));
  CheckModel();
  ClearDatabase();
  initializeEngine();
  faceDetectionThreshold_ = station_.settings.threshold;
  farValue_ = 100;
  int counter = 0;

  Dataset& t = data_.tableModel();
  reserve(std::size_t(std::clamp(t.recordCount(), 0, std::max(capacity_, 0))));
  {
    const bool notify = t.notificationsEnabled();
    if (setBusy) setBusy(true);
    t.setNotificationsEnabled(false);
    Finally cleanUp([&] {
      t.setNotificationsEnabled(notify);
      if (setBusy) setBusy(false);
      // Pictures are deciphered in memory now; these names may be left by an older version.
      removeFile(station_.tempFile(QStringLiteral("CreateArreyModel.jpg")));
      removeFile(station_.tempFile(QStringLiteral("CreateArreyModel-2.jpg")));
    });
    if (t.isOpen()) walkModels(counter);
  }
  if (lastBuild_.stopped) return;  // not ready: no end line, no "ArrayOk.txt"
  matchCentre();  // the scale of the new base, worked out now rather than in the first check-in
  station_.showLog(QStringLiteral("  end - LUX"));
  station_.memoOut.clear();
  station_.memoOut.saveOrThrow(joinPath(station_.settings.flagDir, QStringLiteral("ArrayOk.txt")));
}

std::size_t FaceBase::forget(qint64 id) {
  std::size_t gone = 0;
  for (std::size_t i = records_.size(); i-- > 0;) {
    if (records_[i].id != id) continue;
    statistics_.remove(descriptors_.data() + i * fsdk::kDescriptorSize, records_[i].fio);
    matchCentreStale_ = true;
    records_.erase(records_.begin() + long(i));
    const auto at = descriptors_.begin() + long(i * fsdk::kDescriptorSize);
    descriptors_.erase(at, at + fsdk::kDescriptorSize);
    ++gone;
  }
  if (gone && !ownStrangersStale_) ownStrangers_.removed(id, descriptors_.data(), records_);
  facesAhead_ = std::max(0, facesAhead_ - int(gone));
  if (data_.isOpen()) TemplateStore(data_.database()).forget(id);
  return gone;
}

bool FaceBase::stillActive(qint64 id) {
  if (!data_.isOpen()) return true;
  try {
    const QVariant active =
        data_.database().scalar(QStringLiteral("SELECT Active FROM Model WHERE id = ?"), {id});
    return !active.isNull() && active.toLongLong() != 0;
  } catch (const DatabaseError&) {
    return true;  // the run that follows reports the database itself
  }
}

QString FaceBase::probePath(const QString& filename, int mode) const {
  QString name = filename;
  name.remove(QLatin1Char(' '));
  name += QLatin1String(kFaceJpgSuffix);
  switch (mode) {
    case 0: return joinPath(station_.settings.workDir, name);
    case 2: return joinPath(station_.settings.flagDir, name);
    case 3: return station_.tempFile(name);
    default: return QString();
  }
}

FaceBase::Match FaceBase::bestMatch(const float* probe, float minSimilarity) const {
  return bestMatchIn(descriptors_.data(), records_.size(), probe, minSimilarity, matchCentre());
}

const fsdk::Centre& FaceBase::matchCentre() const {
  if (!matchCentreStale_) return matchCentre_;
  matchCentre_ = fsdk::kCentreOnBase ? statistics_.centre() : fsdk::priorCentre();
  if (fsdk::kOwnStrangerMinimum) {
    if (ownStrangersStale_) ownStrangers_.rebuild(descriptors_.data(), records_);
    ownStrangersStale_ = false;
    matchCentre_.shift = fsdk::ownMinimumShift(ownStrangers_.statistics(statistics_.people()));
  }
  matchCentreStale_ = false;
  return matchCentre_;
}

FaceBase::Match FaceBase::bestMatchIn(const float* base, std::size_t count, const float* probe, float minSimilarity,
                                      const fsdk::Centre& centre) {
  // A record at similarity 0 never matches; on ties the earlier record.
  const fsdk::ScanResult r = fsdk::findBest(probe, base, count, minSimilarity, centre);
  if (r.index < 0 || !(r.similarity > 0)) return {};
  return {r.index, r.similarity};
}

void FaceBase::FaceRecognitionLuxand(const QString& filename, int mode, int& idModel, double& percentdif,
                                     QString& name_fio) {
  station_.showLog(QStringLiteral("  start - FaceRecognitionLuxand"));
  const QString path = probePath(filename, mode);
  idModel = 0;
  percentdif = 0;
  name_fio.clear();
  if (path.isEmpty()) return;
  if (!engineReady_) initializeEngine();

  const PictureTemplate p = templateOfPicture(path, faceDetectionThreshold_, kProbeScale);
  if (!p.loaded()) return;
  float best = 0;
  if (p.complete()) {
    float threshold = 0;
    FSDK_GetMatchingThresholdAtFAR(float(farValue_) / 100.f, &threshold);
    if (const auto probe = fsdk::descriptorOf(p.Template)) {
      // A model deleted or deactivated since the build leaves the base here, before it can answer.
      for (;;) {
        const Match m = bestMatch(probe->data(), threshold);
        if (m.index < 0) break;
        const TFaceRecord& r = records_[std::size_t(m.index)];
        if (!stillActive(r.id)) {
          forget(r.id);
          continue;
        }
        best = m.similarity;
        idModel = r.id;
        name_fio = r.fio;
        break;
      }
    }
    processPendingEvents();
  }
  percentdif = double(best) * 100;
  station_.showLog(QStringLiteral("  end - FaceRecognitionLuxand"));
}

}  // namespace tavo
