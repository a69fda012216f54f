#pragma once
// The networks: detectors, landmarks and the older recogniser built layer by layer on cv::dnn from
// their tfjs weights; the light detector and the descriptor network read from their ONNX files.
// cv::dnn::Net is not thread-safe: a forward pass takes a copy of the net that no other pass uses.
#include <QString>

#include <opencv2/core.hpp>
#include <opencv2/dnn.hpp>

#include <array>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "face/sdk/fsdk.h"
#include "face/sdk/fsdk_cv.h"
#include "face/sdk/weights.h"

namespace tavo::fsdk::detail {

// Light: the 320x240 ONNX detector (fr_detect.onnx, about 6 ms a pass); Ssd: SSD MobileNet v1
// at 512 (about 40 ms); Tiny: the tfjs tiny detector (measurements only).
enum class DetectorKind { Tiny, Ssd, Light };
// Descriptor network: the 512-value one on a 112 px chip (in use), or the older 128-value ResNet on
// a 150 px chip (kept for measurements).
enum class DescriptorKind { Feature512, ResNet128 };

using Landmarks = std::array<cv::Point2f, 68>;

// Copies of one network for passes on several threads at once (the workers of a template base
// build). Each pass takes a copy no other pass is using; a further copy is built the first time
// all are busy, up to `most`, after which a pass waits for one. One thread alone only ever uses
// the first copy: `first` when given, else built at once.
class NetCopies {
 public:
  using Build = std::function<cv::dnn::Net()>;
  explicit NetCopies(Build build, cv::dnn::Net first = {}, int most = defaultCopies());
  // Runs `pass` with a net of its own for the duration.
  template <class F>
  auto with(F&& pass) {
    Lease lease(*this);
    return pass(lease.net());
  }
  int copies() const;
  // One copy per core, two at most: the build runs two workers.
  static int defaultCopies();

 private:
  struct Copy {
    cv::dnn::Net net;
    bool busy = false;
  };
  class Lease {
   public:
    explicit Lease(NetCopies& owner);
    ~Lease();
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    cv::dnn::Net& net() { return copy_->net; }

   private:
    NetCopies& owner_;
    Copy* copy_;
  };
  Copy* acquire();
  void release(Copy* copy);

  Build build_;
  const int most_;
  mutable std::mutex lock_;
  std::condition_variable freed_;
  std::vector<std::unique_ptr<Copy>> copies_;
  int building_ = 0;
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
  // Faces found by the light detector in bgr surrounded by a black border of `border` times its
  // larger side on every side (boxes in pixels of bgr). The picture is scaled straight into the
  // detector's input, so neither the border nor the full-size picture is ever made.
  std::vector<Detection> detectLight(const cv::Mat& bgr, float minScore, double border);
  // 68 points of the face in the square box (pixels of bgr; may reach outside the picture).
  Landmarks landmarks(const cv::Mat& bgr, const cv::Rect2f& square);
  // Raw output of the descriptor net in use for an aligned BGR chip (112 px for Feature512,
  // 150 px for ResNet128): 512 or 128 values.
  std::vector<float> describe(const cv::Mat& chip);
  // Copies of the primary detector made so far (one until two passes met).
  int detectorCopies() { return detector(primary_).copies(); }

 private:
  NetCopies& detector(DetectorKind kind);
  std::vector<Detection> runTiny(const cv::Mat& bgr, float minScore, int inputSize);
  std::vector<Detection> runSsd(const cv::Mat& bgr, float minScore);

  std::shared_ptr<NetFiles> files_;
  DetectorKind primary_;
  DescriptorKind descriptorKind_;
  std::mutex buildLock_;
  std::unique_ptr<NetCopies> tiny_, ssd_, light_;
  std::unique_ptr<NetCopies> landmarks_, descriptor_;
  std::vector<float> ssdPriors_;  // 5118 x [ymin, xmin, ymax, xmax]
  std::vector<std::string> ssdOutputs_;  // per predictor: box encodings, class scores
};

// Non-maximum suppression of detections sorted best first.
std::vector<Detection> suppress(std::vector<Detection> found, float iou);

}  // namespace tavo::fsdk::detail
