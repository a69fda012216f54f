#pragma once
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cmath>
#include <memory>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>
#include <vector>

#include "app/station.h"
#include "face/picture/editor_picture_view.h"
#include "face/picture/face_cropper.h"
#include "tests/support/test_env.h"

namespace tavo::test {

// The model editor's picture area, recording what PhotoGet does to it.
class RecordingPictureView : public EditorPictureView {
 public:
  void clearPicture() override { ++clears; shown.clear(); }
  void showPicture(const QString& hostPath) override { shown = hostPath; }
  void setPhotoChanged(bool changed) override { photoChanged = changed; }
  int clears = 0;
  QString shown;
  bool photoChanged = false;
};

inline cv::Mat readImage(const QString& hostPath) { return cv::imread(hostPath.toStdString(), cv::IMREAD_COLOR); }

inline void writeImage(const QString& hostPath, const cv::Mat& img) {
  ASSERT_TRUE(cv::imwrite(hostPath.toStdString(), img)) << hostPath.toStdString();
}

// A program directory with the four cascades and a station whose messages are recorded.
class PictureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    station.settings.programPath = dir.path();
    for (const char* name : {"haarcascade_frontalface_alt.xml", FaceCropper::cascade_name_left_eye,
                             FaceCropper::cascade_name_nose, FaceCropper::cascade_name_mouth})
      copyCascade(QString::fromLatin1(name));
  }

  void copyCascade(const QString& name) {
    ASSERT_TRUE(QFile::copy(thirdPartyDir() + "/cascades/" + name, dir.file(name))) << name.toStdString();
  }

  QString temp(const QString& name) const { return dir.file("Temp/" + name); }

  // Puts a picture in place as the check-in does before PhotoGet mode 3; returns it as read back
  // (JPEG), which is what PhotoGet works on.
  cv::Mat placeWorkingPicture(const cv::Mat& img) {
    writeImage(temp("model_full.jpg"), img);
    return readImage(temp("model_full.jpg"));
  }

  // Faces as PhotoGet's detector sees them: eroded grey copy, the same parameters.
  std::vector<cv::Rect> detectFaces(const cv::Mat& colour) const {
    cv::CascadeClassifier c(thirdPartyDir().toStdString() + "/cascades/haarcascade_frontalface_alt.xml");
    cv::Mat grey;
    cv::cvtColor(colour, grey, cv::COLOR_BGR2GRAY);
    cv::erode(grey, grey, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(3, 3)));
    std::vector<cv::Rect> faces;
    c.detectMultiScale(grey, faces, 1.1, 3, cv::CASCADE_DO_CANNY_PRUNING,
                       cv::Size(station.settings.faceWidth, station.settings.faceHeight));
    return faces;
  }

  // What PhotoGet must report for a face rectangle, computed from the rules on its own.
  PhotoResult expectedFor(const cv::Rect& f, double radius, const cv::Size& picture) const {
    const auto R = [](double v) { return int(std::nearbyint(v)); };
    const int cx = R(f.width * 0.5 + f.x), cy = R(f.height * 0.5 + f.y), r = R((f.width + f.height) * radius);
    PhotoResult e;
    e.the_fase = true;
    e.cLeft = cx - r;
    e.cTop = cy - r;
    e.cRight = picture.width - cx - r;
    e.cBottom = picture.height - cy - r;
    e.cHeight = f.height;
    e.cWidth = f.width;
    return e;
  }

  // The face square as it is cut: moved at left and top, cut at right and bottom.
  static cv::Rect squareOf(const PhotoResult& e, const cv::Size& picture) {
    const int side = picture.width - e.cLeft - e.cRight;  // 2r
    const int left = std::max(e.cLeft, 0), top = std::max(e.cTop, 0);
    return {left, top, std::min(side, picture.width - left), std::min(side, picture.height - top)};
  }

  TempProgramDir dir;
  RecordingMessages messages;
  Station station{nullptr, &messages};
  FixedClock clock{QDateTime(QDate(2024, 5, 12), QTime(10, 0))};
};

}  // namespace tavo::test
