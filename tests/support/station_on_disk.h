#pragma once
#include <QDateTime>

#include "base/clock.h"
#include "base/operator_messages.h"
#include "base/station.h"
#include "tests/support/test_env.h"

namespace tavo::test {

// A station over a temporary program directory: a fixed clock, and operator messages recorded
// instead of shown. Fixtures and benchmarks add the parts they need on top.
struct StationOnDisk {
  explicit StationOnDisk(const QDateTime& now = QDateTime(QDate(2019, 7, 9), QTime(10, 0))) : clock(now) {
    station.settings.programPath = dir.path();
  }

  TempProgramDir dir;
  FixedClock clock;
  RecordingMessages messages;
  Station station{&clock, &messages};
};

}  // namespace tavo::test
