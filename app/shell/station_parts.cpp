#include "app/shell/station_parts.h"

#include "app/station_app.h"

namespace tavo {

StationParts::StationParts(StationApp& app) : app_(app) {}

StationParts::~StationParts() = default;

}  // namespace tavo
