#include "analysis/spoof_count.h"

#include "base/station.h"
#include "data/data_store.h"

namespace tavo {

int SpoofCountClick(Station& station, DataStore& data, const QDate& day) {
  const Rows r = data.query(QStringLiteral("SELECT count(id) AS n FROM Works WHERE tags = ? AND datedoc = ?"),
                            {QStringLiteral("spoof"), day});
  const int n = r.empty() ? 0 : r.value(0, QStringLiteral("n")).toInt();
  station.memo1.add(QStringLiteral("*** spoof - ") + QString::number(n));
  return n;
}

}  // namespace tavo
