#pragma once
#include <memory>

namespace tavo {

class StationApp;

// Puts the station together: creates the parts (data store, cameras, face engine, template base,
// sounds, the office-system poll, ...) and wires them into the start-up steps and timers.
class StationParts {
 public:
  explicit StationParts(StationApp& app);
  ~StationParts();

 private:
  StationApp& app_;
};

}  // namespace tavo
