#pragma once
// Inner pieces of the engine shared by the calls, the tool and the tests.
#include <QString>

#include <opencv2/core.hpp>

#include "face/sdk/fsdk_cv.h"
#include "face/sdk/nets.h"

namespace tavo::fsdk::detail {

// The loaded networks, or nullptr before a successful FSDK_Initialize.
FaceNets* nets();
// The networks folder (FSDK_SetNetworksFolder, else $TAVO_NETS), as a host path; empty when unset.
QString networksFolder();

// Detector in use (enrolment and check-in must share it: descriptors move with the box style).
// SSD: on padded pictures it finds 376/380 orl faces against 303/380 for the tiny detector, and
// 42/43 marked group faces against 7/43 (27/43 unpadded), at about 5 times the time
// (docs/accuracy.md).
constexpr DetectorKind kDetector = DetectorKind::Ssd;
// For measurements only: another detector, to be chosen before FSDK_Initialize.
void chooseDetector(DetectorKind kind);

// Fraction of the larger side added on every side before detecting: tight face crops then look
// like the scenes the detectors were trained on.
constexpr double kDetectionPadding = 0.5;
void setDetectionPadding(double fraction);  // for measurements only

// Faces of a picture as the engine sees them: shrunk when very large, padded (when asked),
// detected; boxes in pixels of the picture, best first.
std::vector<Detection> findFaces(FaceNets& n, DetectorKind kind, const cv::Mat& bgr, float minScore,
                                 int inputSize, bool padded);

// The face square of a detection box (centre and larger side).
TFacePosition positionOf(const cv::Rect2f& box);
cv::Rect2f squareOf(const TFacePosition& position);

// 68 landmarks -> the 70 feature points, and whether they form a plausible pair of eyes.
void fillFeatures(const Landmarks& points, FSDK_Features* features);
bool eyesPlausible(const Landmarks& points, const cv::Rect2f& square);

// The 150x150 chip of the face, aligned by a similarity transform of the landmarks onto a mean
// face (0.25 padding), the picture area-downsampled first when the face is larger than the chip.
cv::Mat alignedChip(const cv::Mat& bgr, const Landmarks& points);

}  // namespace tavo::fsdk::detail
