#pragma once
#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <cmath>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>
#include <tuple>
#include <vector>

#include "base/station.h"
#include "face/picture/cascade_search.h"
#include "face/picture/face_cropper.h"
#include "tests/support/station_on_disk.h"
#include "tests/support/test_env.h"

namespace tavo::test {

inline cv::Mat readImage(const QString& hostPath) { return cv::imread(hostPath.toStdString(), cv::IMREAD_COLOR); }
inline void writeImage(const QString& hostPath, const cv::Mat& img) { cv::imwrite(hostPath.toStdString(), img); }

// Mean absolute difference of two pictures (JPEG round trips differ a little); huge if sizes differ.
inline double meanDiff(const cv::Mat& a, const cv::Mat& b) {
  if (a.size() != b.size()) return 1e9;
  cv::Mat d;
  cv::absdiff(a, b, d);
  return cv::mean(cv::mean(d))[0];
}

inline auto fields(const PhotoResult& r) {
  return std::tuple(r.the_fase, r.cLeft, r.cRight, r.cTop, r.cBottom, r.cHeight, r.cWidth);
}

// A program directory with the four cascades and a station whose messages are recorded.
class PictureTest : public ::testing::Test, protected StationOnDisk {
 public:
  PictureTest() : StationOnDisk(QDateTime(QDate(2024, 5, 12), QTime(10, 0))) {}
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.installCascades());
  }

  QString temp(const QString& name) const { return dir.file("Temp/" + name); }

  // Puts the picture in place as the check-in does before PhotoGet mode 3; returns it as read
  // back (JPEG), which is what PhotoGet works on.
  cv::Mat placeWorkingPicture(const cv::Mat& img) {
    writeImage(temp("model_full.jpg"), img);
    return readImage(temp("model_full.jpg"));
  }

  // Faces as PhotoGet's detector must see them: eroded grey copy, the same parameters.
  std::vector<cv::Rect> detectFaces(const cv::Mat& colour) const {
    cv::CascadeClassifier c(thirdPartyDir().toStdString() + "/cascades/haarcascade_frontalface_alt.xml");
    cv::Mat grey;
    cv::cvtColor(colour, grey, cv::COLOR_BGR2GRAY);
    cv::erode(grey, grey, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(3, 3)));
    return cascadeSearch(c, grey, cv::Size(station.settings.faceWidth, station.settings.faceHeight));
  }

  // What PhotoGet must report for a face rectangle, computed from the rules on their own.
  static PhotoResult expectedFor(const cv::Rect& f, double radius, const cv::Size& picture) {
    const auto R = [](double v) { return int(std::nearbyint(v)); };
    const int cx = R(f.width * 0.5 + f.x), cy = R(f.height * 0.5 + f.y), r = R((f.width + f.height) * radius);
    return {true, cx - r, picture.width - cx - r, cy - r, picture.height - cy - r, f.height, f.width};
  }

  // The face square as it is cut: moved at left and top, cut at right and bottom.
  static cv::Rect squareOf(const PhotoResult& e, const cv::Size& picture) {
    const int side = picture.width - e.cLeft - e.cRight;  // 2r
    const int left = std::max(e.cLeft, 0), top = std::max(e.cTop, 0);
    return {left, top, std::min(side, picture.width - left), std::min(side, picture.height - top)};
  }

};

}  // namespace tavo::test
