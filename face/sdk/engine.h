#pragma once
// Inner pieces of the engine shared by the calls, the tool and the tests.
#include <QString>

#include <opencv2/core.hpp>

#include <optional>

#include "face/sdk/fsdk_cv.h"
#include "face/sdk/nets.h"

namespace tavo::fsdk::detail {

// The loaded networks, or nullptr before a successful FSDK_Initialize.
FaceNets* nets();
// The networks folder (FSDK_SetNetworksFolder, else $TAVO_NETS), as a host path; empty when unset.
QString networksFolder();

// The heavy detector, of every face of a picture (detectFaces) and the face's second road: SSD.
// On padded pictures it finds 376/380 orl faces against 303/380 for the tiny detector, and 42/43
// marked group faces against 7/43 (27/43 unpadded), at about 5 times the time (docs/accuracy.md).
constexpr DetectorKind kDetector = DetectorKind::Ssd;
// For measurements only: another detector, to be chosen before FSDK_Initialize.
void chooseDetector(DetectorKind kind);
// The face of a picture (FSDK_DetectFace) is looked for by the light detector first; the SSD only
// where that finds none whose landmarks make a plausible face. Off: the SSD alone (measurements).
void setLightDetectorFirst(bool on);
// The light detector's scores run higher than the SSD's: its minimum is the setting's score plus
// this (0.65 at the default setting, the figure its package filters at).
constexpr float kLightScoreOffset = 0.15f;
// Faces reported by each detector since the start (measurements).
long facesFoundBy(DetectorKind kind);
// For measurements only: the older descriptor network, chosen before FSDK_Initialize.
void chooseDescriptor(DescriptorKind kind);
// For measurements only: switch off the landmark refinement of the face square, or the mirror
// image averaging of the descriptor.
void setSquareRefinement(bool on);
void setMirrorAveraging(bool on);

// Fraction of the larger side added on every side before detecting: tight face crops then look
// like the scenes the detectors were trained on.
constexpr double kDetectionPadding = 0.5;
void setDetectionPadding(double fraction);  // for measurements only
// A face whose box side is at least this share of the picture's larger side makes the picture a
// tight crop: the search without the border is skipped.
constexpr float kTightFaceShare = 0.4f;

// Faces of a picture as the engine sees them: shrunk when very large, padded (when asked),
// detected; boxes in pixels of the picture, best first.
std::vector<Detection> findFaces(FaceNets& n, DetectorKind kind, const cv::Mat& bgr, float minScore,
                                 int inputSize, bool padded);

// The face square of a detection box (centre and larger side).
TFacePosition positionOf(const cv::Rect2f& box);
cv::Rect2f squareOf(const TFacePosition& position);

// The face of a picture as the engine reports it: the largest detection, its square refined by
// the landmarks. Empty when no face is found.
std::optional<TFacePosition> locateFace(FaceNets& n, const cv::Mat& bgr, float minScore, int inputSize);

// 68 landmarks -> the 70 feature points, and whether they form a plausible pair of eyes.
void fillFeatures(const Landmarks& points, FSDK_Features* features);
bool eyesPlausible(const Landmarks& points, const cv::Rect2f& square);

// The square that landmarks imply: centre and side follow the face (the mean face fitted onto
// them), with the framing of the detector's boxes (side 1.52 and centre 0.107 above, measured as the
// mean over 110 lfw10, london and celeba faces), so the same face gives the same square however
// the picture around it was cut.
constexpr double kSquareSide = 1.5;    // side, in mean-face units
constexpr double kSquareShiftX = 0.0;   // centre offset from the mean face's centre
constexpr double kSquareShiftY = -0.10;
cv::Rect2f landmarkSquare(const Landmarks& points);
// Landmark passes that refine the detector's box into that square (the eyes and the template then
// take one more pass on the square found, shared by both).
constexpr int kLandmarkPasses = 1;
void setLandmarkPasses(int passes);  // for measurements only

// The descriptor of the face with these landmarks, ready for matching (unit length for the
// network in use).
Descriptor describeFace(FaceNets& n, const cv::Mat& bgr, const Landmarks& points);

// The 112x112 chip of the descriptor network: a similarity transform of five points (eye centres,
// nose tip, mouth corners) onto its template; a large face is area-downsampled first.
cv::Mat featureChip(const cv::Mat& bgr, const Landmarks& points);
// The 150x150 chip of the older ResNet: landmarks 17..67 onto a mean face with 0.25 padding.
cv::Mat resnetChip(const cv::Mat& bgr, const Landmarks& points);

}  // namespace tavo::fsdk::detail
