#include "face/sdk/liveness.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <opencv2/dnn.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <stdexcept>

#include "face/sdk/engine.h"
#include "face/sdk/fsdk_cv.h"

namespace tavo::fsdk {
namespace {

const char kNetFile[] = "fr_liveness.onnx";
constexpr int kInput = 128;

// cv::dnn::Net is not thread-safe: one lock for loading and every forward pass.
std::mutex netLock;
cv::dnn::Net net;

cv::dnn::Net readNet(const QString& folder) {
  const QString file = QDir(folder).filePath(QString::fromLatin1(kNetFile));
  if (folder.isEmpty() || !QFileInfo(file).isFile())
    throw std::runtime_error("the liveness network " + file.toStdString() + " is missing");
  cv::dnn::Net read;
  try {
    read = cv::dnn::readNetFromONNX(QFile::encodeName(file).toStdString());
  } catch (const cv::Exception&) {
    read = cv::dnn::Net();
  }
  if (read.empty()) throw std::runtime_error("the liveness network " + file.toStdString() + " cannot be read");
  return read;
}

cv::dnn::Net& loadedNet() {
  if (net.empty()) net = readNet(detail::networksFolder());
  return net;
}

}  // namespace

QString livenessNetworkProblem(const QString& folder) {
  try {
    readNet(folder);
  } catch (const std::exception& e) {
    return QString::fromStdString(e.what());
  }
  return QString();
}

cv::Rect livenessArea(cv::Size picture, const cv::Rect2f& faceBox, double scale) {
  const double w = std::max(1.0f, faceBox.width), h = std::max(1.0f, faceBox.height);
  // As large as asked, but never larger than the picture.
  scale = std::min({scale, (picture.width - 1) / w, (picture.height - 1) / h});
  const double side_w = w * scale, side_h = h * scale;
  const double cx = faceBox.x + faceBox.width / 2.0, cy = faceBox.y + faceBox.height / 2.0;
  double left = cx - side_w / 2, top = cy - side_h / 2;
  // Moved, not cut, at the edges: the network always sees the same share of the scene.
  left = std::clamp(left, 0.0, std::max(0.0, picture.width - 1 - side_w));
  top = std::clamp(top, 0.0, std::max(0.0, picture.height - 1 - side_h));
  cv::Rect area(static_cast<int>(left), static_cast<int>(top), std::max(1, static_cast<int>(side_w)),
                std::max(1, static_cast<int>(side_h)));
  return area & cv::Rect(0, 0, picture.width, picture.height);
}

float livenessScore(const cv::Mat& bgr, const cv::Rect2f& faceBox, double scale) {
  if (bgr.empty() || bgr.type() != CV_8UC3) throw std::runtime_error("liveness: not a colour picture");
  const cv::Rect area = livenessArea(bgr.size(), faceBox, scale);
  if (area.empty()) throw std::runtime_error("liveness: the face lies outside the picture");
  cv::Mat input;
  cv::resize(bgr(area), input, cv::Size(kInput, kInput));
  // BGR as OpenCV holds it, 0..255, planar: the order the network was trained on. Fed RGB it
  // refused most live studio portraits and let more prints through.
  const cv::Mat blob = cv::dnn::blobFromImage(input, 1.0, cv::Size(), cv::Scalar(), false, false);
  cv::Mat out;
  {
    std::lock_guard<std::mutex> guard(netLock);
    cv::dnn::Net& n = loadedNet();
    n.setInput(blob);
    out = n.forward().clone();
  }
  // Softmax over the classes; the first is "live".
  const float* v = out.ptr<float>();
  const int classes = static_cast<int>(out.total());
  if (classes < 2) throw std::runtime_error("liveness: unexpected network output");
  const float top = *std::max_element(v, v + classes);
  double sum = 0;
  for (int i = 0; i < classes; ++i) sum += std::exp(v[i] - top);
  return static_cast<float>(std::exp(v[0] - top) / sum);
}

std::optional<cv::Rect2f> largestFace(const cv::Mat& bgr) {
  if (bgr.empty()) return std::nullopt;
  const std::vector<Detection> faces = detectFaces(bgr, detectionScoreFor(3), 384, false);
  if (faces.empty()) return std::nullopt;
  return std::max_element(faces.begin(), faces.end(), [](const Detection& a, const Detection& b) {
           return a.box.area() < b.box.area();
         })->box;
}

std::optional<Liveness> livenessOfPicture(const cv::Mat& bgr) {
  const std::optional<cv::Rect2f> face = largestFace(bgr);
  if (!face) return std::nullopt;
  return Liveness{livenessScore(bgr, *face), *face};
}

}  // namespace tavo::fsdk
