#pragma once
#include <QString>

namespace tavo {

class Station;

// The line that tells a newcomer the station is ready: where its flag folder is and the command
// that sends it a check-in from the office side.
QString readyLine(const Station& station);

// How to call tavolin-office from here: its bare name where PATH finds this program's copy, else
// its full path (beside the program when installed, tools/ of the build folder otherwise).
QString officeToolCommand();

}  // namespace tavo
