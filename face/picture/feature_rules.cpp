#include "face/picture/feature_rules.h"

#include <cmath>

namespace tavo {

namespace {
constexpr double scale = 1.0;  // detection works on the full-size picture
int R(double v) { return static_cast<int>(std::nearbyint(v)); }
}  // namespace

cv::Point centreOf(const cv::Rect& r) { return {R((r.width * 0.5 + r.x) * scale), R((r.height * 0.5 + r.y) * scale)}; }

int centreRow(const cv::Rect& r) { return centreOf(r).y; }

EyePick pickEyes(const std::vector<cv::Rect>& candidates) {
  EyePick p;
  for (const cv::Rect& e : candidates) {
    p.eyeRow = centreRow(e);
    if (p.counted.size() < 2) p.counted.push_back(e);
  }
  return p;
}

NosePick pickNose(const std::vector<cv::Rect>& candidates, int eyeRow) {
  NosePick p;
  for (const cv::Rect& n : candidates) {
    p.noseRow = centreRow(n);
    if (p.noseRow > eyeRow && !p.counted) p.counted = n;
  }
  return p;
}

std::optional<cv::Rect> pickMouth(const std::vector<cv::Rect>& candidates, int noseRow) {
  for (const cv::Rect& m : candidates)
    if (centreRow(m) > noseRow) return m;
  return std::nullopt;
}

}  // namespace tavo
