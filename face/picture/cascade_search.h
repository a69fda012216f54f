#pragma once
// The Haar cascade search every caller shares (PhotoGet's faces and features, the tool's face
// box): scale 1.1, at least 3 neighbours, no maximum size.
#include <opencv2/core/types.hpp>
#include <vector>

namespace cv {
class CascadeClassifier;
class Mat;
}  // namespace cv

namespace tavo {

// The objects found in `grey`, largest first (then top to bottom, left to right). OpenCV searches
// stripes of the picture on several threads and returns its groups in the order the threads
// delivered them, so its own order (which face PhotoGet tries first in a group picture) changed
// from run to run; the person at the station is the face nearest the camera.
std::vector<cv::Rect> cascadeSearch(cv::CascadeClassifier& cascade, const cv::Mat& grey, cv::Size minSize);

}  // namespace tavo
