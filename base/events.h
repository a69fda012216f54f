#pragma once

namespace tavo {

// Lets pending events (timer ticks, clicks) run, as long operations do between their steps.
// Does nothing when no Qt application object exists (plain unit tests).
void processPendingEvents();

}  // namespace tavo
