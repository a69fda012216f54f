#pragma once
#include <QString>

namespace tavo {

class StationApp;

// What the station is doing, in one line for the operator (the tray icon's menu and tip):
// starting, building its template base, ready for the office system, or refusing because its
// start-up ended early.
struct StationStatus {
  enum class State { Starting, Building, Ready, Refusing };
  State state = State::Starting;
  int built = 0;  // templates in the base
  int total = 0;  // active models the build works through
  QString why;    // what ended the start-up

  QString text() const;
};

// Reads the status off the running station. `building` and `total` come from the base's busy
// signal; `refusal` is the message that ended the start-up (empty while none did).
StationStatus stationStatus(StationApp& app, bool building, int total, const QString& refusal);

// Active models the build will work through (capped at the base's capacity); 0 without a database.
int activeModelCount(StationApp& app);

}  // namespace tavo
