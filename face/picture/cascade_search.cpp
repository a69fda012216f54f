#include "face/picture/cascade_search.h"

#include <algorithm>
#include <opencv2/objdetect.hpp>
#include <tuple>

namespace tavo {

std::vector<cv::Rect> cascadeSearch(cv::CascadeClassifier& cascade, const cv::Mat& grey, cv::Size minSize) {
  // The flag is the Canny pruning of the older searches; OpenCV ignores it for these cascades.
  // Which groups come out does not depend on the threads, only their order.
  std::vector<cv::Rect> found;
  cascade.detectMultiScale(grey, found, 1.1, 3, cv::CASCADE_DO_CANNY_PRUNING, minSize);
  std::sort(found.begin(), found.end(), [](const cv::Rect& a, const cv::Rect& b) {
    const int areaA = a.area(), areaB = b.area();
    return std::tie(areaB, a.y, a.x, a.width) < std::tie(areaA, b.y, b.x, b.width);
  });
  return found;
}

}  // namespace tavo
