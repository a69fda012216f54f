#pragma once
#include <opencv2/core.hpp>

namespace tavo {

class DataStore;
class Station;

// The drawing tools over the sample camera picture "Image.jpg" of the program directory. Each
// returns the drawing (BGR) for Image1 and appends its figures to memo1. A missing or unreadable
// "Image.jpg" throws std::runtime_error before anything is drawn or written; a database error
// propagates.

// "All": a yellow frame (2 px) for every row of the work log as the work tab shows it (the walk
// moves its current row and leaves it on the last), then red and green 5 px lines at the
// average left and right frame edges. With no row in view nothing is averaged: the figures are
// zeros and no line is drawn.
cv::Mat Button5Click(Station& station, DataStore& data);
// "Max size": the frame of the smallest margins over the rows with all four margins above 0.
cv::Mat Button6Click(Station& station, DataStore& data);
// "Avg size": the frame of the average margins (rounded, ties to even), a green line at x = 800
// and a cyan line at x = W - 450.
cv::Mat Button7Click(Station& station, DataStore& data);
// "Clear": empties memo1.
void Button8Click(Station& station);

// Colours (BGR) of the drawings.
inline const cv::Scalar kFrameColour{0, 255, 255};  // yellow
inline const cv::Scalar kRedLine{0, 0, 255};
inline const cv::Scalar kGreenLine{0, 255, 0};
inline const cv::Scalar kCyanLine{255, 255, 0};

}  // namespace tavo
