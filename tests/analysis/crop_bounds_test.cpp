#include "analysis/crop_bounds.h"
#include "tests/data/data_fixture.h"

namespace tavo::test {
namespace {

class CropBoundsTest : public DataFixture {
 protected:
  // n work rows of a day with the given margins, with a face unless told otherwise.
  void addRows(int n, int left, int right, const QDate& day = QDate(2019, 7, 8), bool face = true) {
    if (n <= 0) return;
    db().exec(QStringLiteral("WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < ?) "
                             "INSERT INTO Works (datedoc, timedoc, cLeft, cRight, is_face) SELECT ?, ?, ?, ?, ? FROM c"),
              {n, day, QTime(9, 0), left, right, face});
  }
};

TEST_F(CropBoundsTest, NoCheckInsGiveZeroBoundsAndThirtyTwoLines) {
  station.settings.cutLeft = "300";
  Button9Click(station, *store);
  EXPECT_EQ(station.settings.cutLeft, "0");
  EXPECT_EQ(station.settings.cutRight, "0");
  const QStringList& m = station.memo1.lines();
  ASSERT_EQ(m.size(), 32);
  EXPECT_EQ(m[0], "*** step - left ");
  EXPECT_EQ(m[1], "0 - 100 = 0");
  EXPECT_EQ(m[15], "1400 - 1500 = 0");
  EXPECT_EQ(m[16], "*** step - right ");
}

TEST_F(CropBoundsTest, TheFirstBandWithAHundredRowsSetsTheBound) {
  addRows(40, 50, 0);
  addRows(150, 150, 0);
  addRows(300, 250, 0);
  addRows(99, 0, 350);    // right: 99 is not enough
  addRows(100, 0, 1500);  // right: exactly 100 in the last band, margin 1500 included
  Button9Click(station, *store);
  EXPECT_EQ(station.settings.cutLeft, "100");
  EXPECT_EQ(station.settings.cutRight, "1400");
  const QStringList& m = station.memo1.lines();
  EXPECT_EQ(m[1], "0 - 100 = 40");
  EXPECT_EQ(m[2], "100 - 200 = 150");
  EXPECT_EQ(m[3], "200 - 300 = 300");
  EXPECT_EQ(m[16 + 4], "300 - 400 = 99");
}

// A hundred faceless attempts (margins of the crop only) must not pull the bounds to their band.
TEST_F(CropBoundsTest, RowsWithoutAFaceAreLeftOut) {
  addRows(150, 50, 60, QDate(2019, 7, 8), false);
  addRows(120, 250, 350);
  Button9Click(station, *store);
  EXPECT_EQ(station.settings.cutLeft, "200");
  EXPECT_EQ(station.settings.cutRight, "300");
  const QStringList& m = station.memo1.lines();
  EXPECT_EQ(m[1], "0 - 100 = 0");
  EXPECT_EQ(m[16 + 1], "0 - 100 = 0");
}

TEST_F(CropBoundsTest, BandEdgesAndTheTenDayPeriod) {
  addRows(100, 100, 0);                      // 100 falls into (0, 100]
  addRows(200, 0, 0);                        // a margin of 0 into no band
  addRows(200, 250, 0, QDate(2019, 6, 28));  // older than ten days
  addRows(100, 0, 120, QDate(2019, 6, 29));  // today minus ten days counts
  Button9Click(station, *store);
  EXPECT_EQ(station.settings.cutLeft, "0");
  EXPECT_EQ(station.memo1.lines()[1], "0 - 100 = 100");
  EXPECT_EQ(station.memo1.lines()[3], "200 - 300 = 0");
  EXPECT_EQ(station.settings.cutRight, "100");
}

TEST_F(CropBoundsTest, ADatabaseErrorKeepsTheBoundsSetSoFar) {
  addRows(100, 120, 0);
  store->close();
  station.settings.cutLeft = "700";
  EXPECT_ANY_THROW(Button9Click(station, *store));
  EXPECT_EQ(station.settings.cutLeft, "0");
}

}  // namespace
}  // namespace tavo::test
