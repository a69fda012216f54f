#pragma once
// Liveness of a face: is a live person in front of the camera, or a printed photo or a screen?
// One small network (fr_liveness.onnx of the npm package faceplugin-face-recognition-js 0.0.1,
// MIT; its training data is not published) looks at a square of 2.7 face widths around the face,
// where paper edges, fingers and screen frames show. Its net is loaded on first use from the
// engine's networks folder and has a lock of its own.
#include <QString>

#include <opencv2/core.hpp>

#include <optional>

namespace tavo::fsdk {

// Scores at or above this count as live: with the check-in's Haar box and BGR input, no print of
// nuaa subjects 1-3 accepted and the fewest lfw10 faces refused (any value in 0.28-0.43; the
// middle kept), checked on the other sets; see docs/accuracy.md.
inline constexpr float kLivenessThreshold = 0.35f;

// Empty when the liveness network of `folder` (the engine's networks folder) is there and can be
// read; else why not. For the start-up, which refuses AntiSpoof without it.
QString livenessNetworkProblem(const QString& folder);

// The area of the picture the network looks at: a square of `scale` times the larger side of the
// face box around its centre, moved inside the picture (and shrunk only when the picture is too
// small for it).
cv::Rect livenessArea(cv::Size picture, const cv::Rect2f& faceBox, double scale = 2.7);

// Live score in [0, 1] of the face in the box of a BGR picture (higher: more likely live).
// Throws std::runtime_error when the network cannot be loaded.
float livenessScore(const cv::Mat& bgr, const cv::Rect2f& faceBox, double scale = 2.7);

// The largest face of the picture as the engine's detector sees it.
std::optional<cv::Rect2f> largestFace(const cv::Mat& bgr);

struct Liveness {
  float score = 0;
  cv::Rect2f face;  // the face box that was judged
};
// Finds the largest face with the engine's detector and scores it; nothing when the picture holds
// no face. Throws std::runtime_error when the engine or the network is not loaded.
std::optional<Liveness> livenessOfPicture(const cv::Mat& bgr);

}  // namespace tavo::fsdk
