#pragma once
// OpenCV side of the face engine: handing pictures in and out of the image table, and the
// detector and landmark passes on plain matrices (for tools, tests and worker threads).
#include <opencv2/core.hpp>

#include <vector>

#include "face/sdk/fsdk.h"

namespace tavo::fsdk {

// A new image holding a copy of an 8-bit picture (grey, BGR or BGRA; kept as BGR).
int imageFromMat(const cv::Mat& picture, HImage* image);
// The picture of an image (shared, never to be written into), or an empty matrix.
cv::Mat matOf(HImage image);

struct Detection {
  cv::Rect2f box;  // pixels of the picture
  float score = 0;
};
// Every face of the picture above the score, best first (non-maximum suppressed). Pads the picture
// first when `padded` (tight face crops). Throws std::runtime_error when the networks are not loaded.
std::vector<Detection> detectFaces(const cv::Mat& bgr, float minScore, int inputSize, bool padded);

// Detector score threshold for a threshold setting 1..5 (clamped).
float detectionScoreFor(int thresholdSetting);

}  // namespace tavo::fsdk
