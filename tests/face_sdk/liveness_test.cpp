// The liveness network on real photographs: a live capture and a printed photo of the same person
// at the same web camera, and where the network looks.
#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>

#include "face/sdk/fsdk.h"
#include "face/sdk/liveness.h"
#include "tests/support/test_env.h"

using namespace tavo;

namespace {

cv::Mat picture(const QString& relative) {
  const cv::Mat m = cv::imread(test::testData(relative).toStdString(), cv::IMREAD_COLOR);
  EXPECT_FALSE(m.empty()) << relative.toStdString();
  return m;
}

TEST(Liveness, TheAreaIsMovedInsideThePictureAndShrunkOnlyWhenItCannotFit) {
  const cv::Size vga(640, 480);
  EXPECT_EQ(fsdk::livenessArea(vga, {270, 190, 100, 100}), cv::Rect(185, 105, 270, 270));  // centred
  EXPECT_EQ(fsdk::livenessArea(vga, {-10, -20, 100, 100}), cv::Rect(0, 0, 270, 270));      // moved, same size
  EXPECT_EQ(fsdk::livenessArea(vga, {600, 440, 100, 100}), cv::Rect(369, 209, 270, 270));
  const cv::Rect big = fsdk::livenessArea(vga, {170, 90, 300, 300});  // 2.7 x 300 > 480: as tall as it can be
  EXPECT_GE(big.height, 478);
  EXPECT_TRUE((big & cv::Rect(0, 0, 640, 480)) == big);
}

TEST(Liveness, LiveCaptureScoresAboveThePrintedPhotoOfTheSamePerson) {
  const QByteArray dir = (test::thirdPartyDir() + "/face-models").toUtf8();
  ASSERT_EQ(FSDK_SetNetworksFolder(dir.constData()), FSDKE_OK);
  ASSERT_EQ(FSDK_Initialize(""), FSDKE_OK);

  const auto live = fsdk::livenessOfPicture(picture("nuaa/real/0002/0002_01_00_01_14.jpg"));
  const auto print = fsdk::livenessOfPicture(picture("nuaa/print/0002/0002_01_08_03_222.jpg"));
  ASSERT_TRUE(live && print);
  EXPECT_GE(live->score, fsdk::kLivenessThreshold);
  EXPECT_LT(print->score, fsdk::kLivenessThreshold);
  EXPECT_GT(live->face.width, 100);  // the face the engine found, in pixels of the picture
  // The same picture and box give the same score: no state is kept between calls.
  const cv::Mat again = picture("nuaa/real/0002/0002_01_00_01_14.jpg");
  EXPECT_FLOAT_EQ(fsdk::livenessScore(again, live->face), live->score);

  // Nothing to judge without a face; a grey picture is refused as input.
  EXPECT_FALSE(fsdk::livenessOfPicture(picture("samples/017_0.jpg")).has_value());
  EXPECT_THROW(fsdk::livenessScore(cv::Mat(100, 100, CV_8UC1, cv::Scalar(0)), {10, 10, 50, 50}), std::runtime_error);
}

}  // namespace
