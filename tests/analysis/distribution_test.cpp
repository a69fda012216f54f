#include "analysis/distribution.h"
#include "tests/analysis/analysis_fixture.h"

namespace tavo::test {
namespace {

class DistributionTest : public AnalysisFixture {};

const QDate kDay(2019, 7, 8);

TEST_F(DistributionTest, DayWithoutCheckInsGivesHeadingAndTwentyZeros) {
  addMargins(kDay.addDays(1), 1, 1, 1, 1, 80, true);  // another day
  const std::vector<int> counts = Button11Click(station, *store, kDay);
  EXPECT_EQ(counts, std::vector<int>(20, 0));
  QStringList expected{QStringLiteral("*** step - PercentDifference ")};
  for (int i = 0; i < 20; ++i) expected << QStringLiteral("0");
  EXPECT_EQ(memo1(), expected);
}

TEST_F(DistributionTest, BandsAreOpenBelowAndClosedAboveAndCountOnlyConfirmedCheckInsNoAttacks) {
  addMargins(kDay, 1, 1, 1, 1, 75, true);     // (70, 75]
  addMargins(kDay, 1, 1, 1, 1, 75.01, true);  // (75, 80]
  addMargins(kDay, 1, 1, 1, 1, 100, true);    // (95, 100]
  addMargins(kDay, 1, 1, 1, 1, 4.5, true);    // (0, 5]
  addMargins(kDay, 1, 1, 1, 1, 0, true);      // no band
  addMargins(kDay, 1, 1, 1, 1, 120, true);    // no band
  addMargins(kDay, 1, 1, 1, 1, 77, false);    // not confirmed
  addMargins(kDay.addDays(-1), 1, 1, 1, 1, 77, true);
  // A picture judged an attack is no check-in, even when the face matched the barcode's model.
  const qint64 attack = addMargins(kDay, 1, 1, 1, 1, 78, true);
  db().exec(QStringLiteral("UPDATE Works SET tags = 'spoof' WHERE rowid = ?"), {attack});
  const std::vector<int> counts = Button11Click(station, *store, kDay);
  std::vector<int> expected(20, 0);
  expected[0] = 1;
  expected[14] = 1;
  expected[15] = 1;
  expected[19] = 1;
  EXPECT_EQ(counts, expected);
  ASSERT_EQ(memo1().size(), 21);
  EXPECT_EQ(memo1()[15], QStringLiteral("1"));  // the 15th count: band (70, 75]
  EXPECT_EQ(memo1()[17], QStringLiteral("0"));
}

TEST_F(DistributionTest, RunningTwiceAppendsTwoBlocksAfterEarlierLines) {
  station.memo1.add(QStringLiteral("300 - 400 = 128"));
  Button11Click(station, *store, kDay);
  Button11Click(station, *store, kDay);
  ASSERT_EQ(memo1().size(), 43);
  EXPECT_EQ(memo1()[0], QStringLiteral("300 - 400 = 128"));
  EXPECT_EQ(memo1()[22], QStringLiteral("*** step - PercentDifference "));
}

}  // namespace
}  // namespace tavo::test
