#pragma once
// The networks: detectors, landmarks and the older recogniser built layer by layer on cv::dnn from
// their tfjs weights; the descriptor network read from its ONNX file.
// cv::dnn::Net is not thread-safe: each net has a lock of its own, held for one forward pass.
#include <QString>

#include <opencv2/core.hpp>
#include <opencv2/dnn.hpp>

#include <array>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "face/sdk/fsdk.h"
#include "face/sdk/fsdk_cv.h"

namespace tavo::fsdk::detail {

enum class DetectorKind { Tiny, Ssd };
// Descriptor network: the 512-value one on a 112 px chip (in use), or the older 128-value ResNet on
// a 150 px chip (kept for measurements).
enum class DescriptorKind { Feature512, ResNet128 };

using Landmarks = std::array<cv::Point2f, 68>;

class LockedNet {
 public:
  cv::dnn::Net net;
  std::mutex lock;
};

class FaceNets {
 public:
  // Builds the detector `primary`, the landmark net and the descriptor net `descriptor` from dir
  // and runs each once (the first pass is the slow one). Throws std::runtime_error.
  FaceNets(const QString& dir, DetectorKind primary, DescriptorKind descriptor);

  DetectorKind primary() const { return primary_; }
  DescriptorKind descriptorKind() const { return descriptorKind_; }
  // Faces of a BGR picture (no padding here), best first.
  std::vector<Detection> detect(const cv::Mat& bgr, float minScore, int inputSize);
  std::vector<Detection> detectWith(DetectorKind kind, const cv::Mat& bgr, float minScore,
                                    int inputSize);
  // 68 points of the face in the square box (pixels of bgr; may reach outside the picture).
  Landmarks landmarks(const cv::Mat& bgr, const cv::Rect2f& square);
  // Raw output of the descriptor net in use for an aligned BGR chip (112 px for Feature512,
  // 150 px for ResNet128): 512 or 128 values.
  std::vector<float> describe(const cv::Mat& chip);

 private:
  LockedNet& detector(DetectorKind kind);
  LockedNet& descriptorNet();
  std::vector<Detection> runTiny(const cv::Mat& bgr, float minScore, int inputSize);
  std::vector<Detection> runSsd(const cv::Mat& bgr, float minScore);

  QString dir_;
  DetectorKind primary_;
  DescriptorKind descriptorKind_;
  std::mutex buildLock_;
  std::unique_ptr<LockedNet> tiny_, ssd_;
  LockedNet landmarks_, descriptor_;
  std::vector<float> ssdPriors_;  // 5118 x [ymin, xmin, ymax, xmax]
  std::vector<std::string> ssdOutputs_;  // per predictor: box encodings, class scores
};

// Non-maximum suppression of detections sorted best first.
std::vector<Detection> suppress(std::vector<Detection> found, float iou);

}  // namespace tavo::fsdk::detail
