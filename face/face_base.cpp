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
}

void FaceBase::EnrollPicture(const QString& FileName, int id, bool& Threshold_Check, const QString& fio) {
  if (!engineReady_) initializeEngine();
  const PictureTemplate p = templateOfPicture(FileName, faceDetectionThreshold_, kEnrolmentScale,
                                              [] { processPendingEvents(); });
  if (!p.loaded()) {
    station_.messages().show(QStringLiteral("Error loading file (EnrollPicture)"), kErrorCaption);
    Threshold_Check = false;
    return;
  }
  if (!p.faceFound()) {
    Threshold_Check = false;
    return;
  }
  if (p.eyesCode != FSDKE_OK)
    station_.messages().show(QStringLiteral("Error detection facial features."), kErrorCaption);
  else if (p.templateCode != FSDKE_OK)
    station_.messages().show(QStringLiteral("Error retrieving face template."), kErrorCaption);
  Threshold_Check = true;
  if (!p.complete()) return;

  TFaceRecord r;
  r.Template = p.Template;
  r.FacePosition = p.FacePosition;
  r.FacialFeatures = p.FacialFeatures;
  r.ImageFileName = FileName;
  r.id = id;
  r.fio = fio;
  append(std::move(r));
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

bool FaceBase::enrolOutcome(const BuildJob& job, const BuildOutcome& o) {
  if (!o.pictureMade || !o.picture.loaded()) {
    station_.messages().show(QStringLiteral("Error loading file (EnrollPicture)"), kErrorCaption);
    return false;
  }
  const PictureTemplate& p = o.picture;
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
    r.ImageFileName = station_.tempFile(QStringLiteral("CreateArreyModel.jpg"));
    r.id = int(job.id);
    r.fio = job.ean;
    append(std::move(r));
  }
  return true;
}

void FaceBase::walkModels(int& counter) {
  Dataset& t = data_.tableModel();
  const Settings& s = station_.settings;
  lastBuild_ = {};

  // The rows as the table shows them now (order and filter); the pictures are worked on threads
  // ahead of this walk, which takes their outcomes in row order.
  std::vector<BuildJob> jobs;
  jobs.reserve(std::size_t(std::max(t.recordCount(), 0)));
  for (t.first(); !t.eof(); t.next()) {
    BuildJob j;
    j.id = t.id();
    j.row = t.currentRow();
    j.active = t.asBool(QStringLiteral("Active"));
    j.ean = t.asString(QStringLiteral("EAN"));
    j.base = joinPath(s.modelDir, t.asString(QStringLiteral("FileName")));
    jobs.push_back(std::move(j));
  }
  TemplateStore store(data_.database(), [this](const QString& line) { station_.showLog(line); });
  const auto stored = store.loadAll();

  // New templates reach the store in batches, each in one transaction.
  struct PendingPut {
    qint64 id;
    QByteArray digest;
    PictureTemplate picture;
  };
  std::vector<PendingPut> pending;
  const auto flush = [&] {
    if (pending.empty()) return;
    if (store.enabled() && data_.database().isOpen()) {
      try {
        Database::Transaction tx(data_.database());
        for (const auto& p : pending) store.put(p.id, p.digest, p.picture);
        tx.commit();
      } catch (const std::exception& e) {
        station_.showLog(QStringLiteral("  FaceTemplate put: ") + QString::fromUtf8(e.what()));
      }
    }
    pending.clear();
  };
  Finally flushAtEnd([&] {
    try {
      flush();
    } catch (...) {
    }
  });

  // Work run while events are let through may move the shared cursor: come back to the row.
  const auto onRow = [&t](const BuildJob& j) {
    if (j.row >= 0 && j.row < t.recordCount()) {
      t.moveTo(j.row);
      if (!t.eof() && t.id() == j.id) return true;
    }
    return t.locateId(j.id);
  };
  BuildPipeline pipeline(jobs, stored, buildWorkers_, faceDetectionThreshold_);
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    const BuildJob& job = jobs[i];
    BuildOutcome o = pipeline.take(i, [] { processPendingEvents(); });
    // A row deleted or deactivated while its picture was worked on is left out.
    bool present = onRow(job);
    if (present && job.active && t.asBool(QStringLiteral("Active"))) {
      if (!o.error.empty()) throw std::runtime_error(o.error);
      const bool check = enrolOutcome(job, o);
      if (o.fromStore) ++lastBuild_.fromStore;
      else if (o.pictureMade && o.picture.loaded()) {
        ++lastBuild_.computed;
        pending.push_back({job.id, o.digest, o.picture});
        if (pending.size() >= 64) flush();
      }
      present = onRow(job);
      if (present && !t.asBool(QStringLiteral("dark"))) {
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
      } else if (present && t.asBool(QStringLiteral("light")) != check) {
        t.edit();
        t.setField(QStringLiteral("light"), check);
        t.post();
      }
      if (check) ++counter;
    }
    if (present) processPendingEvents();
    if (counter == capacity_) break;
    if (present) {
      label_ = QStringLiteral("База моделей ") + QString::number(counter);
      if (onLabel) onLabel(label_);
    }
  }
  flush();
  store.prune();
}

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
  station_.showLog(QStringLiteral("  end - LUX"));
  station_.memoOut.clear();
  station_.memoOut.saveOrThrow(joinPath(station_.settings.flagDir, QStringLiteral("ArrayOk.txt")));
}

std::size_t FaceBase::forget(qint64 id) {
  std::size_t gone = 0;
  for (std::size_t i = records_.size(); i-- > 0;) {
    if (records_[i].id != id) continue;
    records_.erase(records_.begin() + long(i));
    const auto at = descriptors_.begin() + long(i * fsdk::kDescriptorSize);
    descriptors_.erase(at, at + fsdk::kDescriptorSize);
    ++gone;
  }
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
  return bestMatchIn(descriptors_.data(), records_.size(), probe, minSimilarity);
}

FaceBase::Match FaceBase::bestMatchIn(const float* base, std::size_t count, const float* probe,
                                      float minSimilarity) {
  // The same result as comparing similarities record by record (a later record must be strictly
  // more similar), but the similarity is only worked out when the distance improves.
  Match m;
  if (!probe || !base) return m;
  float bestDistance = std::numeric_limits<float>::infinity();
  float bestSimilarity = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const float d = fsdk::squaredDistance(probe, base + i * fsdk::kDescriptorSize);
    if (!(d < bestDistance)) continue;
    bestDistance = d;
    const float s = fsdk::similarityFromDistance(std::sqrt(d));
    if (s > bestSimilarity && s >= minSimilarity) {
      bestSimilarity = s;
      m.index = long(i);
    }
  }
  m.similarity = m.index >= 0 ? bestSimilarity : 0;
  return m;
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
