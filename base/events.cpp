#include "base/events.h"

#include <QCoreApplication>

namespace tavo {

void processPendingEvents() {
  if (QCoreApplication::instance()) QCoreApplication::processEvents();
}

}  // namespace tavo
