// Work-log and model filters: filter texts are plain text, never SQL or patterns.
#include "data_fixture.h"

namespace tavo::test {
namespace {

class DataFilterTest : public DataFixture {
 protected:
  void SetUp() override {
    DataFixture::SetUp();
    const QString sns[] = {"O'Brien 22", "100%", "1_0", "10", "Петров", "ПЕТРОВА", "x"};
    int i = 0;
    for (const QString& sn : sns) {
      addWork(QDate(2019, 7, 8 + i % 3), QTime(9, i), sn, i % 2 ? 7 : 8, i % 2 == 0);
      ++i;
    }
    store->tableWorks().refresh();
  }
  QStringList sns() { return column(store->tableWorks(), "SN"); }
  QStringList sorted(QStringList l) {
    l.sort();
    return l;
  }
};

TEST_F(DataFilterTest, ContainsSearchTakesQuotesPercentAndUnderscoreLiterally) {
  WorkFilter f;
  f.snContains = QStringLiteral("'");
  store->applyWorkFilter(f);
  EXPECT_EQ(sns(), QStringList({"O'Brien 22"}));
  f.snContains = QStringLiteral("%");
  store->applyWorkFilter(f);
  EXPECT_EQ(sns(), QStringList({"100%"}));
  f.snContains = QStringLiteral("_");
  store->applyWorkFilter(f);
  EXPECT_EQ(sns(), QStringList({"1_0"}));
  f.snContains = QStringLiteral("петров");  // Cyrillic, any case
  store->applyWorkFilter(f);
  EXPECT_EQ(sorted(sns()), QStringList({"ПЕТРОВА", "Петров"}));
}

TEST_F(DataFilterTest, TermsCombineAndTheDateTermIsOnOrAfter) {
  WorkFilter f;
  f.fromDate = QDate(2019, 7, 9);
  store->applyWorkFilter(f);
  EXPECT_EQ(store->tableWorks().recordCount(), 4);  // 8 July left out
  f.onlyFailed = true;
  store->applyWorkFilter(f);
  EXPECT_EQ(sorted(sns()), QStringList({"100%", "ПЕТРОВА"}));
  f.idModel = 7;
  f.snContains = QStringLiteral("1");
  store->applyWorkFilter(f);
  EXPECT_EQ(sns(), QStringList({"100%"}));

  store->applyWorkFilter(WorkFilter{});
  EXPECT_EQ(store->tableWorks().recordCount(), 7);
  EXPECT_EQ(store->tableWorks().currentRow(), 0);
}

TEST_F(DataFilterTest, ModelFilterIsReplacedByEachEditAndCounts) {
  addModel("2200000000120", true, {}, "Иванов");
  addModel("4600000000000", true, {}, "Петров");
  addModel("1200000000000", true, {}, "Сидоров");
  addModel("100%'_", true, {}, "O'Hara");
  Dataset& m = store->tableModel();
  m.refresh();
  store->applyModelFilter(ModelFilter::fullNameContains("ПЕТ"));
  EXPECT_EQ(m.recordCount(), 1);
  store->applyModelFilter(ModelFilter::eanContains("12"));  // the name no longer filters
  EXPECT_EQ(column(m, "FullName"), QStringList({"Сидоров", "Иванов"}));
  store->applyModelFilter(ModelFilter::fullNameContains("'H"));
  EXPECT_EQ(column(m, "FullName"), QStringList({"O'Hara"}));
  store->applyModelFilter(ModelFilter::eanContains("%'_"));
  EXPECT_EQ(m.recordCount(), 1);
  store->applyModelFilter(ModelFilter::eanContains(""));
  EXPECT_EQ(m.recordCount(), 4);
}

}  // namespace
}  // namespace tavo::test
