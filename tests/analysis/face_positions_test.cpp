#include "analysis/face_positions.h"

#include <opencv2/imgcodecs.hpp>

#include "base/paths.h"
#include "tests/analysis/analysis_fixture.h"

namespace tavo::test {
namespace {

class FacePositionsTest : public AnalysisFixture {
 protected:
  void SetUp() override {
    AnalysisFixture::SetUp();
    installSample();
    sample = cv::imread(dir.file(QStringLiteral("Image.jpg")).toStdString());
    ASSERT_FALSE(sample.empty());
    W = sample.cols;
    H = sample.rows;
  }
  static cv::Vec3b colourOf(const cv::Scalar& s) {
    return cv::Vec3b(uchar(s[0]), uchar(s[1]), uchar(s[2]));
  }
  static bool is(const cv::Mat& m, int x, int y, const cv::Scalar& colour) {
    return m.at<cv::Vec3b>(y, x) == colourOf(colour);
  }
  Dataset& works() { return store->tableWorks(); }

  cv::Mat sample;
  int W = 0, H = 0;
};

TEST_F(FacePositionsTest, MissingSamplePictureStopsEveryToolBeforeDrawingOrWriting) {
  ASSERT_TRUE(QFile::remove(dir.file(QStringLiteral("Image.jpg"))));
  addMargins(clock.today(), 100, 100, 100, 100);
  works().refresh();
  EXPECT_THROW(Button5Click(station, *store), std::runtime_error);
  EXPECT_THROW(Button6Click(station, *store), std::runtime_error);
  EXPECT_THROW(Button7Click(station, *store), std::runtime_error);
  EXPECT_TRUE(memo1().isEmpty());
  // Not a picture at all reads the same.
  writeFile(dir.file(QStringLiteral("Image.jpg")), "not a picture");
  EXPECT_THROW(Button6Click(station, *store), std::runtime_error);
  EXPECT_TRUE(memo1().isEmpty());
}

TEST_F(FacePositionsTest, AllWithNoRowShowsZerosAndDrawsNothing) {
  const cv::Mat drawn = Button5Click(station, *store);
  EXPECT_EQ(memo1(), (QStringList{"***", "All - 0", "*** avg calc", "avgLeft - 0", "avgRight - 0", "avgTop - 0",
                                  "avgBottom - 0"}));
  EXPECT_EQ(cv::norm(drawn, sample, cv::NORM_INF), 0);
}

TEST_F(FacePositionsTest, AllFramesEveryRowInViewAndMarksTruncatedAverages) {
  addMargins(clock.today(), 101, 200, 50, 60);
  const qint64 last = addMargins(clock.today().addDays(-1), 300, 401, 70, 80);
  addMargins(clock.today().addDays(-5), 10, 10, 10, 10);  // filtered out of the view
  WorkFilter f;
  f.fromDate = clock.today().addDays(-1);
  store->applyWorkFilter(f);
  int moves = 0;
  works().onChange([&](Dataset::Change c) { moves += c == Dataset::Change::Scrolled; });

  const cv::Mat drawn = Button5Click(station, *store);
  // avgLeft (101 + 300) / 2 = 200.5 -> 200; avgRight ((W-200) + (W-401)) / 2 -> W - 301 (towards zero).
  const int avgRight = (2 * W - 601) / 2;
  EXPECT_EQ(memo1(), (QStringList{"***", "All - 2", "*** avg calc", "avgLeft - 200",
                                  QStringLiteral("avgRight - %1").arg(avgRight), "avgTop - 60",
                                  QStringLiteral("avgBottom - %1").arg((2 * H - 140) / 2)}));
  // The frames' left edges, away from the guide lines; the guide lines at top and bottom.
  EXPECT_TRUE(is(drawn, 101, (50 + H - 60) / 2, kFrameColour));
  EXPECT_TRUE(is(drawn, W - 401, (70 + H - 80) / 2, kFrameColour));
  EXPECT_FALSE(is(drawn, 10, H / 2, kFrameColour));
  EXPECT_TRUE(is(drawn, 200, 5, kRedLine));
  EXPECT_TRUE(is(drawn, 202, H - 5, kRedLine));
  EXPECT_TRUE(is(drawn, avgRight, H / 3, kGreenLine));
  // The walk moves the work log's current row and leaves it on the last row of the view.
  EXPECT_GE(moves, 2);
  EXPECT_EQ(works().id(), last);
}

TEST_F(FacePositionsTest, MaxSizeFramesTheSmallestMarginsOfRowsWithAllMarginsPositive) {
  addMargins(clock.today(), 200, 300, 40, 50);
  addMargins(clock.today().addDays(-30), 150, 350, 60, 30);
  addMargins(clock.today(), 0, 10, 10, 10);   // a margin of 0: ignored
  addMargins(clock.today(), 10, -5, 10, 10);  // a negative margin: ignored
  const cv::Mat drawn = Button6Click(station, *store);
  EXPECT_EQ(memo1(), (QStringList{"*** min", "cLeft - 150", "cRight - 300", "cTop - 40", "cBottom - 30"}));
  EXPECT_TRUE(is(drawn, 150, H / 2, kFrameColour));
  EXPECT_TRUE(is(drawn, W - 300, H / 2, kFrameColour));
  EXPECT_TRUE(is(drawn, W / 2, 40, kFrameColour));
  EXPECT_TRUE(is(drawn, W / 2, H - 30, kFrameColour));
}

TEST_F(FacePositionsTest, MaxAndAvgWithoutQualifyingRowsReadZerosAndFrameTheWholePicture) {
  addMargins(clock.today(), 0, 0, 0, 0);
  const cv::Mat drawn = Button7Click(station, *store);
  EXPECT_EQ(memo1(), (QStringList{"*** avg", "cLeft - 0", "cRight - 0", "cTop - 0", "cBottom - 0"}));
  EXPECT_TRUE(is(drawn, 0, H / 2, kFrameColour));
  EXPECT_TRUE(is(drawn, W / 2, 0, kFrameColour));
}

TEST_F(FacePositionsTest, AvgSizeRoundsTiesToEvenAndDrawsTheFixedMarkers) {
  addMargins(clock.today(), 10, 11, 20, 30);
  addMargins(clock.today(), 11, 12, 21, 30);
  // 10.5 -> 10, 11.5 -> 12, 20.5 -> 20.
  const cv::Mat drawn = Button7Click(station, *store);
  EXPECT_EQ(memo1(), (QStringList{"*** avg", "cLeft - 10", "cRight - 12", "cTop - 20", "cBottom - 30"}));
  EXPECT_TRUE(is(drawn, 800, H / 2, kGreenLine));
  EXPECT_TRUE(is(drawn, W - 450, H / 2, kCyanLine));
  EXPECT_TRUE(is(drawn, 10, H / 2, kFrameColour));
}

}  // namespace
}  // namespace tavo::test
