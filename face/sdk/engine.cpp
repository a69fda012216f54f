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
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <stdexcept>

#include "app/paths.h"

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
std::atomic<double> detectionPadding{kDetectionPadding};

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
void setDetectionPadding(double fraction) { detectionPadding.store(fraction); }

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

// Mean face of landmarks 17..67 in a unit square.
const double kMeanFaceX[51] = {
    0.000213256, 0.0752622, 0.18113,  0.29077,  0.393397, 0.586856, 0.689483, 0.799124, 0.904991,
    0.98004,     0.490127,  0.490127, 0.490127, 0.490127, 0.36688,  0.426036, 0.490127, 0.554217,
    0.613373,    0.121737,  0.187122, 0.265825, 0.334606, 0.260918, 0.182743, 0.645647, 0.714428,
    0.793132,    0.858516,  0.79751,  0.719335, 0.254149, 0.340985, 0.428858, 0.490127, 0.551395,
    0.639268,    0.726104,  0.642159, 0.556721, 0.490127, 0.423532, 0.338094, 0.290379, 0.428096,
    0.490127,    0.552157,  0.689874, 0.553364, 0.490127, 0.42689};
const double kMeanFaceY[51] = {
    0.106454, 0.038915, 0.0187482, 0.0344891, 0.0773906, 0.0773906, 0.0344891, 0.0187482, 0.038915,
    0.106454, 0.203352, 0.307009,  0.409805,  0.515625,  0.587326,  0.609345,  0.628106,  0.609345,
    0.587326, 0.216423, 0.178758,  0.179852,  0.231733,  0.245099,  0.244077,  0.231733,  0.179852,
    0.178758, 0.216423, 0.244077,  0.245099,  0.780233,  0.745405,  0.727388,  0.742578,  0.727388,
    0.745405, 0.780233, 0.864805,  0.902192,  0.909281,  0.902192,  0.864805,  0.784792,  0.778746,
    0.785343, 0.778746, 0.784792,  0.824182,  0.831803,  0.824182};

cv::Point2f mean(const Landmarks& p, int from, int to) {
  cv::Point2f s(0, 0);
  for (int i = from; i <= to; ++i) s += p[i];
  return s * (1.f / (to - from + 1));
}

}  // namespace

FaceNets* nets() { return netsInUse.load(std::memory_order_acquire); }

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

void fillFeatures(const Landmarks& points, FSDK_Features* features) {
  for (int i = 0; i < 68; ++i)
    (*features)[i] = {static_cast<int32_t>(std::lround(points[i].x)), static_cast<int32_t>(std::lround(points[i].y))};
  const cv::Point2f left = mean(points, 36, 41), right = mean(points, 42, 47);
  (*features)[FSDKP_LEFT_EYE_CENTER] = {static_cast<int32_t>(std::lround(left.x)), static_cast<int32_t>(std::lround(left.y))};
  (*features)[FSDKP_RIGHT_EYE_CENTER] = {static_cast<int32_t>(std::lround(right.x)), static_cast<int32_t>(std::lround(right.y))};
}

bool eyesPlausible(const Landmarks& points, const cv::Rect2f& square) {
  const cv::Point2f left = mean(points, 36, 41), right = mean(points, 42, 47);
  const cv::Point2f mouth = mean(points, 48, 67);
  if (!square.contains(left) || !square.contains(right)) return false;
  const cv::Point2f eyeLine = right - left;
  const float distance = std::hypot(eyeLine.x, eyeLine.y);
  if (distance < 0.2f * square.width || distance > 0.7f * square.width) return false;
  // The eye line runs from the image's left to its right, tilted under 45 degrees.
  if (eyeLine.x <= 0 || std::abs(eyeLine.y) >= eyeLine.x) return false;
  // The mouth lies below the eyes: on the downward side of the eye line.
  const cv::Point2f toMouth = mouth - (left + right) * 0.5f;
  const float below = (eyeLine.x * toMouth.y - eyeLine.y * toMouth.x) / distance;
  return below > 0.2f * distance;
}

cv::Mat alignedChip(const cv::Mat& bgr, const Landmarks& points) {
  const int size = 150;
  const double padding = 0.25;
  // Least-squares similarity (a, b, tx, ty) taking chip points to picture points.
  double pmx = 0, pmy = 0, qmx = 0, qmy = 0;
  std::vector<cv::Point2d> p(51), q(51);
  for (int i = 0; i < 51; ++i) {
    p[i] = {(padding + kMeanFaceX[i]) / (2 * padding + 1) * size, (padding + kMeanFaceY[i]) / (2 * padding + 1) * size};
    q[i] = points[17 + i];
    pmx += p[i].x, pmy += p[i].y, qmx += q[i].x, qmy += q[i].y;
  }
  pmx /= 51, pmy /= 51, qmx /= 51, qmy /= 51;
  double sa = 0, sb = 0, norm = 0;
  for (int i = 0; i < 51; ++i) {
    const double px = p[i].x - pmx, py = p[i].y - pmy, qx = q[i].x - qmx, qy = q[i].y - qmy;
    sa += px * qx + py * qy;
    sb += px * qy - py * qx;
    norm += px * px + py * py;
  }
  double a = sa / norm, b = sb / norm;
  // Scale of the picture per chip pixel: shrink the picture first when it is well above 1.
  double scale = std::hypot(a, b);
  cv::Mat source = bgr;
  double shrink = 1;
  if (scale > 1.5) {
    shrink = 1 / scale;
    // Only the part of the picture that the chip covers.
    std::vector<cv::Point2f> corners;
    for (const cv::Point2d c : {cv::Point2d(0, 0), cv::Point2d(size, 0), cv::Point2d(0, size), cv::Point2d(size, size)})
      corners.emplace_back(static_cast<float>(a * (c.x - pmx) - b * (c.y - pmy) + qmx),
                           static_cast<float>(b * (c.x - pmx) + a * (c.y - pmy) + qmy));
    const cv::Rect area = (cv::boundingRect(corners) + cv::Size(2, 2) - cv::Point(1, 1)) & cv::Rect(0, 0, bgr.cols, bgr.rows);
    if (area.empty()) return cv::Mat(size, size, CV_8UC3, cv::Scalar::all(0));
    cv::resize(bgr(area), source, cv::Size(), shrink, shrink, cv::INTER_AREA);
    qmx = (qmx - area.x) * shrink, qmy = (qmy - area.y) * shrink;
    a *= shrink, b *= shrink;
  }
  // Chip -> picture: x' = a x - b y + tx, y' = b x + a y + ty.
  const double tx = qmx - (a * pmx - b * pmy), ty = qmy - (b * pmx + a * pmy);
  const cv::Matx23d chipToPicture(a, -b, tx, b, a, ty);
  cv::Mat chip;
  cv::warpAffine(source, chip, cv::Mat(chipToPicture), cv::Size(size, size),
                 cv::INTER_LINEAR | cv::WARP_INVERSE_MAP, cv::BORDER_CONSTANT, cv::Scalar::all(0));
  return chip;
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
    loadedNets = std::make_unique<FaceNets>(hostPath(dir), chosenDetector.load());
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
    const std::vector<fsdk::Detection> found =
        findFaces(*n, n->primary(), m, fsdk::detectionScoreFor(detectionThreshold.load()),
                  detectionInputSize.load(), true);
    if (found.empty()) return int(FSDKE_FACE_NOT_FOUND);
    const auto largest = std::max_element(found.begin(), found.end(), [](const auto& a, const auto& b) {
      return a.box.area() < b.box.area();
    });
    *facePosition = positionOf(largest->box);
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
    const Landmarks points = n->landmarks(m, square);
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
    const Landmarks points = n->landmarks(m, squareOf(*facePosition));
    *faceTemplate = fsdk::templateOf(n->describe(alignedChip(m, points)));
    return int(FSDKE_OK);
  });
}

}  // namespace tavo
