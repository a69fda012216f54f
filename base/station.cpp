#include "base/station.h"

namespace tavo {

Station::Station()
    : ownClock_(std::make_unique<SystemClock>()),
      ownMessages_(std::make_unique<LogMessages>(log)),
      clock_(ownClock_.get()),
      messages_(ownMessages_.get()) {
  log.setClock(clock_);
}

Station::Station(const Clock* clock, OperatorMessages* messages) : clock_(clock), messages_(messages) {
  log.setClock(clock_);
}

void Station::setClock(const Clock* clock) {
  clock_ = clock;
  log.setClock(clock);
}

}  // namespace tavo
