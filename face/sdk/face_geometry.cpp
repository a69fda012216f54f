// Face geometry from the 68 landmarks: feature points, the eye check, the face square the
// landmarks imply, and the aligned chips the descriptor networks take.
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <vector>

#include "face/sdk/engine.h"

namespace tavo::fsdk::detail {
namespace {

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


// Least-squares similarity taking points p to points q: q = [a -b; b a] (p - pm) + qm.
struct Similarity {
  double a = 1, b = 0;
  cv::Point2d pm, qm;
  cv::Point2d apply(cv::Point2d p) const {
    const cv::Point2d d = p - pm;
    return {a * d.x - b * d.y + qm.x, b * d.x + a * d.y + qm.y};
  }
  double scale() const { return std::hypot(a, b); }
};

Similarity fitSimilarity(const std::vector<cv::Point2d>& p, const std::vector<cv::Point2d>& q) {
  Similarity t;
  const double n = static_cast<double>(p.size());
  for (std::size_t i = 0; i < p.size(); ++i) t.pm += p[i], t.qm += q[i];
  t.pm *= 1 / n, t.qm *= 1 / n;
  double sa = 0, sb = 0, norm = 0;
  for (std::size_t i = 0; i < p.size(); ++i) {
    const cv::Point2d dp = p[i] - t.pm, dq = q[i] - t.qm;
    sa += dp.x * dq.x + dp.y * dq.y;
    sb += dp.x * dq.y - dp.y * dq.x;
    norm += dp.x * dp.x + dp.y * dp.y;
  }
  if (norm > 0) t.a = sa / norm, t.b = sb / norm;
  return t;
}

// The five points of the 112 px descriptor chip: eye centres, nose tip, mouth corners.
const cv::Point2d kChip112[5] = {
    {38.2946, 51.6963}, {73.5318, 51.5014}, {56.0252, 71.7366}, {41.5493, 92.3655}, {70.7299, 92.2041}};

// The size x size chip whose pixels t takes into the picture. A picture well above the chip's scale
// is area-downsampled first (only the part the chip covers), so the warp does not alias.
cv::Mat warpChip(const cv::Mat& bgr, const Similarity& t, int size) {
  cv::Mat source = bgr;
  double a = t.a, b = t.b;
  cv::Point2d qm = t.qm;
  if (t.scale() > 1.5) {
    std::vector<cv::Point2f> corners;
    for (const cv::Point2d c : {cv::Point2d(0, 0), cv::Point2d(size, 0), cv::Point2d(0, size), cv::Point2d(size, size)})
      corners.emplace_back(t.apply(c));
    const cv::Rect area = (cv::boundingRect(corners) + cv::Size(2, 2) - cv::Point(1, 1)) & cv::Rect(0, 0, bgr.cols, bgr.rows);
    if (area.empty()) return cv::Mat(size, size, CV_8UC3, cv::Scalar::all(0));
    const double shrink = 1 / t.scale();
    cv::resize(bgr(area), source, cv::Size(), shrink, shrink, cv::INTER_AREA);
    qm = (qm - cv::Point2d(area.x, area.y)) * shrink;
    a *= shrink, b *= shrink;
  }
  // Chip -> picture: x' = a x - b y + tx, y' = b x + a y + ty.
  const double tx = qm.x - (a * t.pm.x - b * t.pm.y), ty = qm.y - (b * t.pm.x + a * t.pm.y);
  const cv::Matx23d chipToPicture(a, -b, tx, b, a, ty);
  cv::Mat chip;
  cv::warpAffine(source, chip, cv::Mat(chipToPicture), cv::Size(size, size),
                 cv::INTER_LINEAR | cv::WARP_INVERSE_MAP, cv::BORDER_CONSTANT, cv::Scalar::all(0));
  return chip;
}

}  // namespace

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

cv::Mat resnetChip(const cv::Mat& bgr, const Landmarks& points) {
  const int size = 150;
  const double padding = 0.25;
  std::vector<cv::Point2d> chip(51), found(51);
  for (int i = 0; i < 51; ++i) {
    chip[i] = {(padding + kMeanFaceX[i]) / (2 * padding + 1) * size, (padding + kMeanFaceY[i]) / (2 * padding + 1) * size};
    found[i] = points[17 + i];
  }
  return warpChip(bgr, fitSimilarity(chip, found), size);
}

cv::Rect2f landmarkSquare(const Landmarks& points) {
  // The mean face's unit square fitted onto landmarks 17..67 (brows, nose, eyes, mouth), grown to
  // the framing of the detector's boxes: a square that depends on the face only, not on how the
  // picture was cut.
  std::vector<cv::Point2d> mean(51), found(51);
  for (int i = 0; i < 51; ++i) {
    mean[i] = {kMeanFaceX[i], kMeanFaceY[i]};
    found[i] = points[17 + i];
  }
  const Similarity t = fitSimilarity(mean, found);
  const cv::Point2d centre = t.apply({0.5 + kSquareShiftX, 0.5 + kSquareShiftY});
  const double side = t.scale() * kSquareSide;
  return cv::Rect2f(static_cast<float>(centre.x - side / 2), static_cast<float>(centre.y - side / 2),
                    static_cast<float>(side), static_cast<float>(side));
}

cv::Mat featureChip(const cv::Mat& bgr, const Landmarks& points) {
  const cv::Point2d five[5] = {cv::Point2d(mean(points, 36, 41)), cv::Point2d(mean(points, 42, 47)),
                               cv::Point2d(points[30]), cv::Point2d(points[48]), cv::Point2d(points[54])};
  return warpChip(bgr,
                  fitSimilarity(std::vector<cv::Point2d>(std::begin(kChip112), std::end(kChip112)),
                                std::vector<cv::Point2d>(std::begin(five), std::end(five))),
                  112);
}

}  // namespace tavo::fsdk::detail
