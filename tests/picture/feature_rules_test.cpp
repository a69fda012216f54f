// The counting rules of the feature search, on candidate lists as a detector would return them.
#include <gtest/gtest.h>

#include "face/picture/feature_rules.h"

namespace tavo {
namespace {

// A candidate whose centre row is `row` (height 10: centre = y + 5).
cv::Rect at(int row, int x = 0) { return {x, row - 5, 10, 10}; }

TEST(FeatureRules, CentreRoundsHalvesToEven) {
  EXPECT_EQ(centreOf(cv::Rect(0, 0, 5, 5)), cv::Point(2, 2));    // 2.5 -> 2
  EXPECT_EQ(centreOf(cv::Rect(1, 1, 5, 5)), cv::Point(4, 4));    // 3.5 -> 4
  EXPECT_EQ(centreOf(cv::Rect(10, 20, 6, 9)), cv::Point(13, 24));  // 24.5 -> 24
}

TEST(FeatureRules, AtMostTwoEyesCountButTheLastCandidateSetsTheRow) {
  const EyePick p = pickEyes({at(40), at(42, 30), at(90)});
  ASSERT_EQ(p.counted.size(), 2u);
  EXPECT_EQ(p.counted[1], at(42, 30));
  EXPECT_EQ(p.eyeRow, 90);
  EXPECT_EQ(pickEyes({}).eyeRow, 0);
}

TEST(FeatureRules, NoseAboveTheEyesIsNotCounted) {
  EXPECT_FALSE(pickNose({at(30)}, 40).counted);
  EXPECT_FALSE(pickNose({at(40)}, 40).counted);  // level with the eyes is not below them
  const NosePick p = pickNose({at(30), at(60, 1), at(70, 2), at(20, 3)}, 40);
  ASSERT_TRUE(p.counted);
  EXPECT_EQ(*p.counted, at(60, 1));  // the first one below the eyes
  EXPECT_EQ(p.noseRow, 20);          // but the row is the last candidate's
  // Without eyes any nose below row 0 counts.
  EXPECT_TRUE(pickNose({at(10)}, 0).counted);
}

TEST(FeatureRules, MouthAboveTheLastNoseCandidateIsNotCounted) {
  EXPECT_FALSE(pickMouth({at(50), at(60)}, 60));
  EXPECT_EQ(pickMouth({at(50), at(80, 1), at(90, 2)}, 60), at(80, 1));
  EXPECT_FALSE(pickMouth({}, 0));
}

TEST(FeatureRules, FeatureTestNeedsThree) {
  // Two eyes and a nose without a mouth pass; one eye and a nose do not.
  EXPECT_TRUE(passesFeatureTest(2, 1, 0));
  EXPECT_FALSE(passesFeatureTest(1, 1, 0));
  EXPECT_TRUE(passesFeatureTest(1, 1, 1));
  EXPECT_FALSE(passesFeatureTest(2, 0, 0));
}

TEST(FeatureRules, AMissedNoseLetsAHighMouthCount) {
  // A nose candidate above the eyes is not counted, but its row still rules the mouth.
  const EyePick eyes = pickEyes({at(40), at(41)});
  const NosePick nose = pickNose({at(35)}, eyes.eyeRow);
  EXPECT_FALSE(nose.counted);
  EXPECT_EQ(pickMouth({at(38)}, nose.noseRow), at(38));
  EXPECT_TRUE(passesFeatureTest(int(eyes.counted.size()), 0, 1));
}

}  // namespace
}  // namespace tavo
