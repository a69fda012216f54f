#include "analysis/crop_bounds.h"

#include <optional>

#include "base/station.h"
#include "data/data_store.h"

namespace tavo {

namespace {

// One side: "0" first, the header line, 15 band lines, then the first well-filled band.
void side(Station& station, DataStore& data, MarginSide which, const QDate& from) {
  QString& bound = which == MarginSide::Left ? station.settings.cutLeft : station.settings.cutRight;
  bound = QStringLiteral("0");
  station.memo1.add(which == MarginSide::Left ? QStringLiteral("*** step - left ")
                                              : QStringLiteral("*** step - right "));
  std::optional<int> first;
  for (int b = 0; b < kCropBandLimit; b += kCropStep) {
    const int count = data.countMarginBand(which, b, b + kCropStep, from);
    station.memo1.add(QStringLiteral("%1 - %2 = %3").arg(b).arg(b + kCropStep).arg(count));
    if (count >= kCropStep && !first) first = b;
  }
  if (first) bound = QString::number(*first);
}

}  // namespace

void Button9Click(Station& station, DataStore& data) {
  const QDate from = station.clock().today().addDays(-kCropDays);
  side(station, data, MarginSide::Left, from);
  side(station, data, MarginSide::Right, from);
}

}  // namespace tavo
