#include "face/sdk/engine.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <stdexcept>

#include "base/paths.h"
#include "base/picture_limits.h"

namespace tavo {
namespace fsdk::detail {
namespace {

// --- process-wide state: the networks, the image table, the detection settings -----------------

std::mutex netsLock;
QString netsFolder;
std::unique_ptr<FaceNets> loadedNets;
std::atomic<FaceNets*> netsInUse{nullptr};

std::mutex imagesLock;
std::map<int, cv::Mat> images;
int lastHandle = 0;

std::atomic<int> detectionThreshold{3};
std::atomic<int> detectionInputSize{416};
std::atomic<DetectorKind> chosenDetector{kDetector};
std::atomic<DescriptorKind> chosenDescriptor{DescriptorKind::Feature512};
std::atomic<bool> squareRefinement{true};
std::atomic<bool> mirrorAveraging{false};
std::atomic<double> detectionPadding{kDetectionPadding};
std::atomic<bool> lightDetectorFirst{true};
std::atomic<int> landmarkPasses{kLandmarkPasses};
std::atomic<long> roadCounts[3]{};

void countRoad(DetectorKind kind) { roadCounts[static_cast<int>(kind)].fetch_add(1, std::memory_order_relaxed); }

// Runs one call, turning exceptions into result codes: no error escapes to the caller.
template <typename F>
int guarded(F&& f) {
  try {
    return f();
  } catch (const std::bad_alloc&) {
    return FSDKE_OUT_OF_MEMORY;
  } catch (const cv::Exception& e) {
    return e.code == cv::Error::StsNoMem ? FSDKE_OUT_OF_MEMORY : FSDKE_FAILED;
  } catch (...) {
    return FSDKE_FAILED;
  }
}

bool lookup(HImage h, cv::Mat* out) {
  std::lock_guard<std::mutex> guard(imagesLock);
  const auto it = images.find(h);
  if (it == images.end()) return false;
  *out = it->second;  // shared; pictures in the table are replaced, never written into
  return true;
}

int store(const cv::Mat& m, HImage* h) {
  std::lock_guard<std::mutex> guard(imagesLock);
  if (lastHandle == INT32_MAX) lastHandle = 0;
  do {
    ++lastHandle;
  } while (images.count(lastHandle));
  images[lastHandle] = m;
  *h = lastHandle;
  return FSDKE_OK;
}

int replace(HImage h, const cv::Mat& m) {
  std::lock_guard<std::mutex> guard(imagesLock);
  const auto it = images.find(h);
  if (it == images.end()) return FSDKE_INVALID_HANDLE;
  it->second = m;
  return FSDKE_OK;
}

cv::Mat toBgr(const cv::Mat& picture) {
  cv::Mat src = picture;
  if (src.depth() != CV_8U) {
    double lo = 0, hi = 0;
    cv::minMaxLoc(src.reshape(1), &lo, &hi);
    src.convertTo(src, CV_8U, hi > 255 ? 255.0 / hi : 1.0);
  }
  cv::Mat bgr;
  switch (src.channels()) {
    case 1: cv::cvtColor(src, bgr, cv::COLOR_GRAY2BGR); break;
    case 3: bgr = src.clone(); break;
    case 4: cv::cvtColor(src, bgr, cv::COLOR_BGRA2BGR); break;
    default: throw std::runtime_error("unsupported number of channels");
  }
  return bgr;
}

}  // namespace

void chooseDetector(DetectorKind kind) { chosenDetector.store(kind); }
void chooseDescriptor(DescriptorKind kind) { chosenDescriptor.store(kind); }
void setSquareRefinement(bool on) { squareRefinement.store(on); }
void setMirrorAveraging(bool on) { mirrorAveraging.store(on); }
void setDetectionPadding(double fraction) { detectionPadding.store(fraction); }
void setLightDetectorFirst(bool on) { lightDetectorFirst.store(on); }
void setLandmarkPasses(int passes) { landmarkPasses.store(std::clamp(passes, 1, 3)); }
long facesFoundBy(DetectorKind kind) { return roadCounts[static_cast<int>(kind)].load(); }

std::vector<Detection> findFaces(FaceNets& n, DetectorKind kind, const cv::Mat& bgr, float minScore,
                                 int inputSize, bool padded) {
  cv::Mat work = bgr;
  double scale = 1;
  const int limit = 1600;
  if (std::max(bgr.cols, bgr.rows) > limit) {
    scale = static_cast<double>(limit) / std::max(bgr.cols, bgr.rows);
    // A long thin strip would shrink to nothing across: keep at least one pixel.
    const cv::Size shrunk(cvRound(bgr.cols * scale), cvRound(bgr.rows * scale));
    if (shrunk.width >= 1 && shrunk.height >= 1)
      cv::resize(bgr, work, cv::Size(), scale, scale, cv::INTER_AREA);
    else
      cv::resize(bgr, work, cv::Size(std::max(1, shrunk.width), std::max(1, shrunk.height)), 0, 0, cv::INTER_AREA);
  }
  int pad = 0;
  if (padded) {
    pad = static_cast<int>(std::lround(detectionPadding.load() * std::max(work.cols, work.rows)));
    cv::copyMakeBorder(work, work, pad, pad, pad, pad, cv::BORDER_CONSTANT, cv::Scalar::all(0));
  }
  std::vector<Detection> found = n.detectWith(kind, work, minScore, inputSize);
  for (Detection& d : found) {
    d.box.x = static_cast<float>((d.box.x - pad) / scale);
    d.box.y = static_cast<float>((d.box.y - pad) / scale);
    d.box.width = static_cast<float>(d.box.width / scale);
    d.box.height = static_cast<float>(d.box.height / scale);
  }
  return found;
}

namespace {

// An icon file holding PNG pictures (the usual modern icon): the largest of them. OpenCV has no
// icon decoder.
cv::Mat decodeIcon(const QByteArray& bytes) {
  auto u16 = [&](int at) { return static_cast<unsigned>(static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8); };
  auto u32 = [&](int at) { return u16(at) | u16(at + 2) << 16; };
  if (bytes.size() < 6 || u16(0) != 0 || u16(2) != 1) return {};
  const int count = static_cast<int>(u16(4));
  cv::Mat best;
  for (int i = 0; i < count && 6 + 16 * (i + 1) <= bytes.size(); ++i) {
    const int entry = 6 + 16 * i;
    const unsigned size = u32(entry + 8), offset = u32(entry + 12);
    if (offset >= static_cast<unsigned>(bytes.size()) || size > static_cast<unsigned>(bytes.size()) - offset || size < 8) continue;
    if (bytes.mid(static_cast<int>(offset), 8) != QByteArray("\x89PNG\r\n\x1a\n", 8)) continue;
    const cv::Mat raw(1, static_cast<int>(size), CV_8U, const_cast<char*>(bytes.constData()) + offset);
    cv::Mat picture = cv::imdecode(raw, cv::IMREAD_COLOR);
    if (!picture.empty() && picture.total() > best.total()) best = picture;
  }
  return best;
}

bool positionValid(const TFacePosition* p, const cv::Mat& m) {
  return p && p->w > 0 && p->w <= 4 * std::max(m.cols, m.rows) && p->xc > -p->w && p->yc > -p->w &&
         p->xc < m.cols + p->w && p->yc < m.rows + p->w;
}

}  // namespace

FaceNets* nets() { return netsInUse.load(std::memory_order_acquire); }

namespace {

// The eyes and the template of one face ask for the landmarks of the same square of the same
// picture: the last answer of each thread is kept. It holds a reference to the picture, so its
// pixels cannot be freed and reused by another picture meanwhile (pictures are never written into).
Landmarks landmarksOf(FaceNets& n, const cv::Mat& picture, const cv::Rect2f& square) {
  thread_local struct {
    cv::Mat picture;
    cv::Rect2f square;
    Landmarks points;
  } last;
  if (!last.picture.empty() && last.picture.data == picture.data && last.picture.size() == picture.size() &&
      last.square == square)
    return last.points;
  last.points = n.landmarks(picture, square);
  last.picture = picture;
  last.square = square;
  return last.points;
}

}  // namespace

namespace {

std::vector<Detection>::const_iterator largestOf(const std::vector<Detection>& found) {
  return std::max_element(found.begin(), found.end(), [](const Detection& a, const Detection& b) {
    return a.box.area() < b.box.area();
  });
}

bool tightCrop(const std::vector<Detection>& found, const cv::Mat& bgr) {
  const float side = static_cast<float>(std::max(bgr.cols, bgr.rows));
  return !found.empty() && std::max(largestOf(found)->box.width, largestOf(found)->box.height) >= kTightFaceShare * side;
}

// Bordered search first (tight crops need it); unless it found a face that fills a good part of
// the picture, a search without the border too: the border shrinks a face that is a modest part of
// a larger picture below the detector's reach (and may leave only a smaller face of the background).
std::vector<Detection> searchBothWays(const std::function<std::vector<Detection>(bool)>& search, const cv::Mat& bgr) {
  std::vector<Detection> found = search(true);
  if (!tightCrop(found, bgr)) {
    const std::vector<Detection> plain = search(false);
    found.insert(found.end(), plain.begin(), plain.end());
  }
  return found;
}

// The square the landmarks imply, refined `passes` times from the detector's box; empty when the
// landmarks on the detector's box are no plausible face.
std::optional<cv::Rect2f> refinedSquare(FaceNets& n, const cv::Mat& bgr, const TFacePosition& detected, int passes) {
  cv::Rect2f square = squareOf(detected);
  for (int pass = 0; pass < passes; ++pass) {
    const Landmarks points = n.landmarks(bgr, square);
    if (!eyesPlausible(points, square)) {
      if (pass == 0) return std::nullopt;
      break;
    }
    square = landmarkSquare(points);
  }
  return square;
}

}  // namespace

std::optional<TFacePosition> locateFace(FaceNets& n, const cv::Mat& bgr, float minScore, int inputSize) {
  const bool lightFirst = n.primary() == DetectorKind::Ssd && lightDetectorFirst.load();
  const int passes = squareRefinement.load() ? landmarkPasses.load() : 0;
  // The light detector first; its largest face is taken when the landmarks on its box are a
  // plausible face. The SSD only when the light detector found none or no plausible one.
  if (lightFirst) {
    const float score = std::min(0.95f, minScore + kLightScoreOffset);
    const std::vector<Detection> light = searchBothWays(
        [&](bool padded) { return n.detectLight(bgr, score, padded ? detectionPadding.load() : 0); }, bgr);
    if (!light.empty()) {
      const TFacePosition detected = positionOf(largestOf(light)->box);
      std::optional<TFacePosition> face;
      if (passes == 0) {
        face = detected;
      } else if (const auto square = refinedSquare(n, bgr, detected, passes)) {
        face = positionOf(*square);
      }
      if (face) {
        countRoad(DetectorKind::Light);
        return face;
      }
    }
  }
  const std::vector<Detection> found = searchBothWays(
      [&](bool padded) { return findFaces(n, n.primary(), bgr, minScore, inputSize, padded); }, bgr);
  if (found.empty()) return std::nullopt;
  countRoad(n.primary());
  const TFacePosition detected = positionOf(largestOf(found)->box);
  if (passes == 0) return detected;
  // Detector boxes vary with the framing (and between the bordered and the plain search); the
  // square the landmarks imply does not.
  const auto square = refinedSquare(n, bgr, detected, passes);
  return square ? positionOf(*square) : detected;
}

Descriptor describeFace(FaceNets& n, const cv::Mat& bgr, const Landmarks& points) {
  Descriptor d{};
  if (n.descriptorKind() == DescriptorKind::ResNet128) {
    // Zero-padded: distances stay those of the 128 values; not normalised (measured as it was).
    const std::vector<float> v = n.describe(resnetChip(bgr, points));
    std::copy(v.begin(), v.end(), d.begin());
    return d;
  }
  const cv::Mat chip = featureChip(bgr, points);
  std::vector<float> v = n.describe(chip);
  if (mirrorAveraging.load()) {
    cv::Mat mirrored;
    cv::flip(chip, mirrored, 1);
    const std::vector<float> w = n.describe(mirrored);
    for (std::size_t i = 0; i < v.size(); ++i) v[i] += w[i];
  }
  double norm = 0;
  for (float x : v) norm += static_cast<double>(x) * x;
  norm = std::sqrt(norm);
  if (!(norm > 0) || !std::isfinite(norm)) throw std::runtime_error("degenerate descriptor");
  for (std::size_t i = 0; i < v.size() && i < d.size(); ++i) d[i] = static_cast<float>(v[i] / norm);
  return d;
}

TFacePosition positionOf(const cv::Rect2f& box) {
  TFacePosition p;
  p.xc = static_cast<int32_t>(std::lround(box.x + box.width / 2));
  p.yc = static_cast<int32_t>(std::lround(box.y + box.height / 2));
  p.w = std::max<int32_t>(1, static_cast<int32_t>(std::lround(std::max(box.width, box.height))));
  return p;
}

cv::Rect2f squareOf(const TFacePosition& p) {
  return cv::Rect2f(p.xc - p.w / 2.f, p.yc - p.w / 2.f, static_cast<float>(p.w), static_cast<float>(p.w));
}

int imageFromMatImpl(const cv::Mat& picture, HImage* image) {
  if (!image) return FSDKE_INVALID_ARGUMENT;
  *image = 0;
  if (picture.empty()) return FSDKE_EMPTY_IMAGE;
  return store(toBgr(picture), image);
}

}  // namespace fsdk::detail

using namespace fsdk::detail;

namespace fsdk {

int imageFromMat(const cv::Mat& picture, HImage* image) {
  return guarded([&] { return imageFromMatImpl(picture, image); });
}

cv::Mat matOf(HImage image) {
  cv::Mat m;
  lookup(image, &m);
  return m;
}

float detectionScoreFor(int thresholdSetting) {
  static const float scores[5] = {0.3f, 0.4f, 0.5f, 0.6f, 0.7f};
  return scores[std::clamp(thresholdSetting, 1, 5) - 1];
}

std::vector<Detection> detectFaces(const cv::Mat& bgr, float minScore, int inputSize, bool padded) {
  FaceNets* n = nets();
  if (!n) throw std::runtime_error("the face networks are not loaded");
  return findFaces(*n, n->primary(), bgr, minScore, inputSize, padded);
}

}  // namespace fsdk

int FSDK_SetNetworksFolder(const char* dir) {
  if (!dir) return FSDKE_INVALID_ARGUMENT;
  std::lock_guard<std::mutex> guard(netsLock);
  netsFolder = QString::fromUtf8(dir);
  return FSDKE_OK;
}

QString fsdk::detail::networksFolder() {
  std::lock_guard<std::mutex> guard(netsLock);
  const QString dir = netsFolder.isEmpty() ? QString::fromLocal8Bit(qgetenv("TAVO_NETS")) : netsFolder;
  return dir.isEmpty() ? dir : hostPath(dir);
}

int FSDK_Initialize(const char* /*licenseKey*/) {
  std::lock_guard<std::mutex> guard(netsLock);
  if (loadedNets) return FSDKE_OK;
  QString dir = netsFolder;
  if (dir.isEmpty()) dir = QString::fromLocal8Bit(qgetenv("TAVO_NETS"));
  if (dir.isEmpty()) return FSDKE_NETWORKS_MISSING;
  try {
    if (!std::getenv("OPENCV_LOG_LEVEL")) cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_ERROR);
    // Threads per network pass; $TAVO_CV_THREADS lets a benchmark compare (1 with two build workers).
    const char* threads = std::getenv("TAVO_CV_THREADS");
    cv::setNumThreads(threads && std::atoi(threads) > 0 ? std::atoi(threads) : 2);
    loadedNets = std::make_unique<FaceNets>(hostPath(dir), chosenDetector.load(), chosenDescriptor.load());
    netsInUse.store(loadedNets.get(), std::memory_order_release);
    return FSDKE_OK;
  } catch (const std::bad_alloc&) {
    return FSDKE_OUT_OF_MEMORY;
  } catch (...) {
    return FSDKE_NETWORKS_MISSING;
  }
}

int FSDK_LoadImageFromFile(HImage* image, const char* fileName) {
  return guarded([&] {
    if (!image || !fileName) return int(FSDKE_INVALID_ARGUMENT);
    *image = 0;
    const QString path = hostPath(QString::fromUtf8(fileName));
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) return int(FSDKE_IO_ERROR);
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) return int(FSDKE_IO_ERROR);
    if (bytes.isEmpty()) return int(FSDKE_BAD_FILE_FORMAT);
    if (!tavo::pictureSizeProblem(bytes, path).isEmpty()) return int(FSDKE_BAD_FILE_FORMAT);
    const cv::Mat raw(1, static_cast<int>(bytes.size()), CV_8U, const_cast<char*>(bytes.constData()));
    cv::Mat picture;
    try {
      picture = cv::imdecode(raw, cv::IMREAD_COLOR);
      if (picture.empty()) picture = decodeIcon(bytes);
    } catch (const cv::Exception&) {
      return int(FSDKE_BAD_FILE_FORMAT);
    }
    if (picture.empty()) return int(FSDKE_BAD_FILE_FORMAT);
    return store(picture, image);
  });
}

int FSDK_GetImageWidth(HImage image, int* width) {
  if (!width) return FSDKE_INVALID_ARGUMENT;
  cv::Mat m;
  if (!lookup(image, &m)) return FSDKE_INVALID_HANDLE;
  *width = m.cols;
  return FSDKE_OK;
}

int FSDK_GetImageHeight(HImage image, int* height) {
  if (!height) return FSDKE_INVALID_ARGUMENT;
  cv::Mat m;
  if (!lookup(image, &m)) return FSDKE_INVALID_HANDLE;
  *height = m.rows;
  return FSDKE_OK;
}

int FSDK_CreateEmptyImage(HImage* image) {
  if (!image) return FSDKE_INVALID_ARGUMENT;
  return guarded([&] { return store(cv::Mat(), image); });
}

int FSDK_ResizeImage(HImage source, double ratio, HImage target) {
  return guarded([&] {
    cv::Mat src;
    if (!lookup(source, &src)) return int(FSDKE_INVALID_HANDLE);
    cv::Mat probe;
    if (!lookup(target, &probe)) return int(FSDKE_INVALID_HANDLE);
    if (src.empty()) return int(FSDKE_EMPTY_IMAGE);
    if (!(ratio > 0) || !std::isfinite(ratio)) return int(FSDKE_INVALID_ARGUMENT);
    const double w = src.cols * ratio, h = src.rows * ratio;
    if (w > 32768 || h > 32768) return int(FSDKE_INVALID_ARGUMENT);
    const cv::Size size(std::max(1, static_cast<int>(std::lround(w))), std::max(1, static_cast<int>(std::lround(h))));
    cv::Mat out;
    cv::resize(src, out, size, 0, 0, ratio < 1 ? cv::INTER_AREA : cv::INTER_LINEAR);
    return replace(target, out);
  });
}

int FSDK_CopyImage(HImage source, HImage target) {
  cv::Mat src;
  if (!lookup(source, &src)) return FSDKE_INVALID_HANDLE;
  return replace(target, src);  // shared: pictures are never written into
}

int FSDK_FreeImage(HImage image) {
  std::lock_guard<std::mutex> guard(imagesLock);
  return images.erase(image) ? FSDKE_OK : FSDKE_INVALID_HANDLE;
}

int FSDK_SetFaceDetectionParameters(bool, bool, int internalResizeWidth) {
  if (internalResizeWidth <= 0) return FSDKE_INVALID_ARGUMENT;
  const int size = std::clamp((internalResizeWidth + 16) / 32 * 32, 128, 1024);
  detectionInputSize.store(size);
  return FSDKE_OK;
}

int FSDK_SetFaceDetectionThreshold(int threshold) {
  detectionThreshold.store(std::clamp(threshold, 1, 5));
  return FSDKE_OK;
}

int FSDK_DetectFace(HImage image, TFacePosition* facePosition) {
  return guarded([&] {
    if (!facePosition) return int(FSDKE_INVALID_ARGUMENT);
    cv::Mat m;
    if (!lookup(image, &m)) return int(FSDKE_INVALID_HANDLE);
    if (m.empty()) return int(FSDKE_EMPTY_IMAGE);
    FaceNets* n = nets();
    if (!n) return int(FSDKE_NOT_INITIALIZED);
    const std::optional<TFacePosition> face =
        locateFace(*n, m, fsdk::detectionScoreFor(detectionThreshold.load()), detectionInputSize.load());
    if (!face) return int(FSDKE_FACE_NOT_FOUND);
    *facePosition = *face;
    return int(FSDKE_OK);
  });
}

int FSDK_DetectEyesInRegion(HImage image, const TFacePosition* facePosition, FSDK_Features* facialFeatures) {
  return guarded([&] {
    if (!facialFeatures) return int(FSDKE_INVALID_ARGUMENT);
    cv::Mat m;
    if (!lookup(image, &m)) return int(FSDKE_INVALID_HANDLE);
    if (m.empty()) return int(FSDKE_EMPTY_IMAGE);
    if (!positionValid(facePosition, m)) return int(FSDKE_INVALID_ARGUMENT);
    FaceNets* n = nets();
    if (!n) return int(FSDKE_NOT_INITIALIZED);
    const cv::Rect2f square = squareOf(*facePosition);
    const Landmarks points = landmarksOf(*n, m, square);
    fillFeatures(points, facialFeatures);
    return int(eyesPlausible(points, square) ? FSDKE_OK : FSDKE_EYES_NOT_FOUND);
  });
}

int FSDK_GetFaceTemplateInRegion(HImage image, const TFacePosition* facePosition, FSDK_FaceTemplate* faceTemplate) {
  return guarded([&] {
    if (!faceTemplate) return int(FSDKE_INVALID_ARGUMENT);
    cv::Mat m;
    if (!lookup(image, &m)) return int(FSDKE_INVALID_HANDLE);
    if (m.empty()) return int(FSDKE_EMPTY_IMAGE);
    if (!positionValid(facePosition, m)) return int(FSDKE_INVALID_ARGUMENT);
    FaceNets* n = nets();
    if (!n) return int(FSDKE_NOT_INITIALIZED);
    const Landmarks points = landmarksOf(*n, m, squareOf(*facePosition));
    *faceTemplate = fsdk::templateOf(describeFace(*n, m, points));
    return int(FSDKE_OK);
  });
}

}  // namespace tavo
