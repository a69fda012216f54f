#pragma once
#include <QFile>

#include "tests/data/data_fixture.h"

namespace tavo::test {

// The data fixture with work rows that carry face margins, and the installation's sample picture.
class AnalysisFixture : public DataFixture {
 protected:
  // The sample camera picture the set-up supplies (1280 x 720).
  void installSample() {
    ASSERT_TRUE(QFile::copy(thirdPartyDir() + QStringLiteral("/install/Image.jpg"), dir.file(QStringLiteral("Image.jpg"))));
  }

  qint64 addMargins(const QDate& day, int l, int r, int t, int b, double percent = 0, bool excellent = false) {
    db().exec(QStringLiteral("INSERT INTO Works (datedoc, timedoc, SN, cLeft, cRight, cTop, cBottom, "
                             "PercentDifference, excellent) VALUES (?, ?, '1', ?, ?, ?, ?, ?, ?)"),
              {day, QTime(9, 0, int(++serial_ % 60)), l, r, t, b, percent, excellent});
    return db().lastInsertId();
  }

  QStringList memo1() const { return station.memo1.lines(); }

 private:
  int serial_ = 0;
};

}  // namespace tavo::test
