#include "analysis/spoof_count.h"
#include "tests/analysis/analysis_fixture.h"

namespace tavo::test {
namespace {

class SpoofCountTest : public AnalysisFixture {
 protected:
  void tag(qint64 id, const QString& tags) {
    db().exec(QStringLiteral("UPDATE Works SET tags = ? WHERE id = ?"), {tags, id});
  }
};

TEST_F(SpoofCountTest, CountsOnlyTheDaysAttemptsTaggedSpoof) {
  const QDate day(2019, 7, 8);
  EXPECT_EQ(SpoofCountClick(station, *store, day), 0);
  tag(addMargins(day, 1, 1, 1, 1, 90, true), QStringLiteral("spoof"));  // its similarity does not matter
  tag(addMargins(day, 1, 1, 1, 1), QStringLiteral("spoof"));
  tag(addMargins(day, 1, 1, 1, 1), QStringLiteral("not found"));
  addMargins(day, 1, 1, 1, 1, 80, true);
  tag(addMargins(day.addDays(1), 1, 1, 1, 1), QStringLiteral("spoof"));
  EXPECT_EQ(SpoofCountClick(station, *store, day), 2);
  EXPECT_EQ(memo1(), QStringList({"*** spoof - 0", "*** spoof - 2"}));
}

}  // namespace
}  // namespace tavo::test
