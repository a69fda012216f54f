#pragma once
#include <opencv2/core/types.hpp>
#include <optional>
#include <vector>

namespace tavo {

// The rules by which PhotoGet counts the features found inside a face square. Candidates are in
// the detector's order, in coordinates of the face square; a "row" is the vertical coordinate of
// a candidate's centre (growing downwards), rounded to the nearest integer, ties to even.

struct EyePick {
  std::vector<cv::Rect> counted;  // the first two candidates
  int eyeRow = 0;                 // centre row of the last candidate; 0 without candidates
};
struct NosePick {
  std::optional<cv::Rect> counted;  // the first candidate whose row is below the eye row
  int noseRow = 0;                  // centre row of the last candidate; 0 without candidates
};

int centreRow(const cv::Rect& r);
cv::Point centreOf(const cv::Rect& r);
EyePick pickEyes(const std::vector<cv::Rect>& candidates);
NosePick pickNose(const std::vector<cv::Rect>& candidates, int eyeRow);
// The first candidate whose row is below the nose row.
std::optional<cv::Rect> pickMouth(const std::vector<cv::Rect>& candidates, int noseRow);
// Eyes + nose + mouth of at least 3 passes.
inline bool passesFeatureTest(int eyes, int noses, int mouths) { return eyes + noses + mouths >= 3; }

}  // namespace tavo
