// The counting rules of the feature search, on candidate lists as a detector returns them.
#include "face/picture/feature_rules.h"

#include <gtest/gtest.h>

namespace tavo {
namespace {

cv::Rect at(int row, int x = 0) { return {x, row - 5, 10, 10}; }  // centre row = row

TEST(FeatureRules, CentresRoundHalvesToEven) {
  EXPECT_EQ(centreOf(cv::Rect(0, 0, 5, 5)), cv::Point(2, 2));      // 2.5 -> 2
  EXPECT_EQ(centreOf(cv::Rect(1, 1, 5, 5)), cv::Point(4, 4));      // 3.5 -> 4
  EXPECT_EQ(centreOf(cv::Rect(10, 20, 6, 9)), cv::Point(13, 24));  // 24.5 -> 24
}

TEST(FeatureRules, EyesNoseAndMouthInOrder) {
  // At most two eyes count, but the last candidate sets the eye row.
  const EyePick eyes = pickEyes({at(40), at(42, 30), at(90)});
  ASSERT_EQ(eyes.counted.size(), 2u);
  EXPECT_EQ(eyes.eyeRow, 90);
  EXPECT_EQ(pickEyes({}).eyeRow, 0);
  // A nose at or above the eye row is not counted; the last candidate sets the nose row.
  EXPECT_FALSE(pickNose({at(30), at(40)}, 40).counted);
  const NosePick nose = pickNose({at(30), at(60, 1), at(70, 2), at(20, 3)}, 40);
  EXPECT_EQ(nose.counted, at(60, 1));
  EXPECT_EQ(nose.noseRow, 20);
  // A mouth at or above the nose row is not counted.
  EXPECT_FALSE(pickMouth({at(50), at(60)}, 60));
  EXPECT_EQ(pickMouth({at(50), at(80, 1), at(90, 2)}, 60), at(80, 1));
}

TEST(FeatureRules, FeatureTestNeedsThree) {
  EXPECT_TRUE(passesFeatureTest(2, 1, 0));   // two eyes and a nose, no mouth
  EXPECT_FALSE(passesFeatureTest(1, 1, 0));  // one eye and a nose
  EXPECT_TRUE(passesFeatureTest(1, 1, 1));
}

}  // namespace
}  // namespace tavo
