#include "analysis/distribution.h"

#include "base/station.h"
#include "data/data_store.h"

namespace tavo {

std::vector<int> Button11Click(Station& station, DataStore& data, const QDate& day) {
  station.memo1.add(QStringLiteral("*** step - PercentDifference "));
  std::vector<int> counts;
  counts.reserve(kPercentBands);
  for (int b = 0; b < 100; b += kPercentStep) {
    const int n = data.countPercentBand(b, b + kPercentStep, day);
    station.memo1.add(QString::number(n));
    counts.push_back(n);
  }
  return counts;
}

}  // namespace tavo
