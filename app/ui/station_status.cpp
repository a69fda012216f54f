#include "app/ui/station_status.h"

#include <algorithm>
#include <exception>

#include "app/shell/station_parts.h"
#include "app/station_app.h"
#include "data/data_store.h"
#include "face/face_base.h"

namespace tavo {

QString StationStatus::text() const {
  switch (state) {
    case State::Starting: return QStringLiteral("Starting");
    case State::Building: return QStringLiteral("Building the base: %1 of %2").arg(built).arg(total);
    case State::Ready: return QStringLiteral("Ready: the base is built (%1)").arg(built);
    case State::Refusing: return QStringLiteral("Refusing: %1").arg(why.simplified());
  }
  return QString();
}

StationStatus stationStatus(StationApp& app, bool building, int total, const QString& refusal) {
  StationStatus s;
  StationParts* parts = app.parts();
  s.built = parts ? int(parts->faceBase().size()) : 0;
  s.total = std::max(total, s.built);
  if (!refusal.isEmpty() && !app.station().startUpInProgress && !app.startUpSucceeded()) {
    s.state = StationStatus::State::Refusing;
    s.why = refusal;
  } else if (building) {
    s.state = StationStatus::State::Building;
  } else if (app.startUpSucceeded()) {
    s.state = StationStatus::State::Ready;
  }
  return s;
}

int activeModelCount(StationApp& app) {
  StationParts* parts = app.parts();
  if (!parts || !parts->data().isOpen()) return 0;
  try {
    const int n = parts->data().database().scalar(QStringLiteral("SELECT COUNT(*) FROM Model WHERE Active <> 0")).toInt();
    return std::min(n, parts->faceBase().capacity());
  } catch (const std::exception&) {
    return 0;  // the build reports the database itself
  }
}

}  // namespace tavo
