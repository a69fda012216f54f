// Statements of the check-in, the analysis tools and the model maintenance.
#include "data_fixture.h"

namespace tavo::test {
namespace {

using DataOperationsTest = DataFixture;

TEST_F(DataOperationsTest, ResultQueryListsBestFirstWithTheModelsBarcode) {
  const qint64 m = addModel("2200000169020", true, {}, "Иванов");
  store->appendResult(7777, 90, "stale");
  store->clearResult();
  store->appendResult(int(m), 74.99, "a");
  store->appendResult(int(m), 88.5, "b");
  store->appendResult(std::nullopt, 0, "c", "2200000169020");  // barcode without models
  store->appendResult(9999, 75, "d");                          // its model is gone

  auto all = store->openQueryResult(std::nullopt);
  ASSERT_EQ(all.size(), 4u);
  EXPECT_EQ(all[0].fileName, "b");
  EXPECT_EQ(all[0].ean, "2200000169020");
  EXPECT_EQ(all[0].fullName, "Иванов");
  EXPECT_EQ(all[1].fileName, "d");
  EXPECT_TRUE(all[1].ean.isEmpty());
  EXPECT_FALSE(all[3].idModel.has_value());
  EXPECT_EQ(all[3].fio, "2200000169020");

  auto reached = store->openQueryResult(75.0);
  ASSERT_EQ(reached.size(), 2u);  // 75 itself reaches the minimum
  EXPECT_EQ(reached[1].fileName, "d");
  EXPECT_EQ(store->queryResult().recordCount(), 2);
  EXPECT_EQ(store->queryResult().asString("EAN"), "2200000169020");

  for (int i = 0; i < 120; ++i) store->appendResult(int(m), i, "n");
  EXPECT_EQ(store->openQueryResult(std::nullopt).size(), 100u);
}

TEST_F(DataOperationsTest, BarcodesCompareForEqualityNotAsPatterns) {
  addModel("22%");
  addModel("2_1");
  addModel("221");
  addModel("O\"1", true);
  addModel("221", false);
  EXPECT_EQ(store->activeModelsOf("221").size(), 1);
  EXPECT_EQ(store->activeModelsOf("2_1").size(), 1);
  EXPECT_EQ(store->activeModelsOf("22%").size(), 1);
  EXPECT_EQ(store->activeModelsOf("%").size(), 0);
  EXPECT_EQ(store->activeModelsOf("O\"1").size(), 1);

  EXPECT_EQ(store->setLastDetection("221", QDate(2019, 7, 9)), 1);  // the inactive one stays
  EXPECT_EQ(store->setLastDetection("O\"1", QDate(2019, 7, 9)), 1);
  const qint64 id = store->activeModelsOf("221").value(0, "id").toLongLong();
  EXPECT_EQ(store->setLastSimilarity("2_1", int(id), QDate(2019, 7, 9)), 0);  // other barcode
  EXPECT_EQ(store->setLastSimilarity("221", int(id), QDate(2019, 7, 13)), 1);
  EXPECT_EQ(db().scalar("SELECT DateLastSimilarity FROM Model WHERE id = ?", {id}).toString(), "2019-07-13");
}

TEST_F(DataOperationsTest, BandCountsIncludeTheUpperBoundOnly) {
  const QDate today(2019, 7, 9);
  auto work = [&](const QDate& d, int left, int right, double pct, bool excellent, bool face = true) {
    db().exec("INSERT INTO Works (datedoc, cLeft, cRight, PercentDifference, excellent, is_face) VALUES (?, ?, ?, ?, ?, ?)",
              {d, left, right, pct, excellent, face});
  };
  work(today, 50, 1450, 0, false, false);  // no face: its margins are counted in no band
  work(today, 100, 0, 75, true);
  work(today, 0, 150, 75.01, true);
  work(today, 200, 1500, 0, true);
  work(today, 150, 100, 80, false);
  work(today.addDays(-11), 150, 150, 75, true);  // before the date
  EXPECT_EQ(store->countMarginBand(MarginSide::Left, 0, 100, today.addDays(-10)), 1);
  EXPECT_EQ(store->countMarginBand(MarginSide::Left, 100, 200, today.addDays(-10)), 2);
  EXPECT_EQ(store->countMarginBand(MarginSide::Right, 1400, 1500, today.addDays(-10)), 1);
  EXPECT_EQ(store->countMarginBand(MarginSide::Right, 100, 200, today.addDays(-20)), 2);
  EXPECT_EQ(store->countPercentBand(70, 75, today), 1);
  EXPECT_EQ(store->countPercentBand(75, 80, today), 1);  // 80 is not excellent
  EXPECT_EQ(store->countPercentBand(0, 5, today), 0);    // exactly 0 falls in no band
}

TEST_F(DataOperationsTest, MarginFiguresSkipRowsWithAnEmptyMargin) {
  EXPECT_FALSE(store->marginMinimums().left.has_value());
  db().exec("INSERT INTO Works (cLeft, cRight, cTop, cBottom) VALUES (10, 20, 30, 40), (30, 40, 50, 61), (1, 1, 1, 0)");
  const MarginFigures min = store->marginMinimums();
  EXPECT_EQ(*min.left, 10);
  EXPECT_EQ(*min.bottom, 40);
  const MarginFigures avg = store->marginAverages();
  EXPECT_DOUBLE_EQ(*avg.left, 20);
  EXPECT_DOUBLE_EQ(*avg.bottom, 50.5);
}

TEST_F(DataOperationsTest, StaleCandidatesAreOldActiveModelsLeastRecentlyMatchedFirst) {
  const QDateTime old(QDate(2019, 5, 1), QTime(8, 0));
  const QDateTime limit(QDate(2019, 6, 9), QTime(10, 0));
  const qint64 a = addModel("111", true, QDate(2019, 6, 1), {}, {}, old);
  const qint64 b = addModel("111", true, {}, {}, {}, old);
  addModel("111", true, {}, {}, {}, limit);               // inserted exactly a month ago: not before
  addModel("111", false, {}, {}, {}, old);                // inactive
  const qint64 c = addModel("111", true, QDate(2019, 5, 20), {}, {}, limit.addSecs(-1));
  addModel("222", true, {}, {}, {}, old);
  const Rows r = store->staleModelCandidates("111", limit);
  ASSERT_EQ(r.size(), 3);
  EXPECT_EQ(r.value(0, "id").toLongLong(), b);
  EXPECT_EQ(r.value(1, "id").toLongLong(), c);
  EXPECT_EQ(r.value(2, "id").toLongLong(), a);

  const auto counts = store->activeModelCountsByEan();
  ASSERT_EQ(counts.size(), 2u);
  EXPECT_EQ(counts[0], std::make_pair(QStringLiteral("111"), 4));
  store->setModelActive(b, false);
  EXPECT_EQ(store->activeModelCountsByEan()[0].second, 3);
}

}  // namespace
}  // namespace tavo::test
