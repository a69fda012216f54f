#pragma once
#include <QDate>

namespace tavo {

class DataStore;
class Station;

// "Атаки (spoof), за день": the check-in attempts of the day judged presentation attacks (work
// rows tagged "spoof", setting AntiSpoof), appended to memo1 as "*** spoof - " and the count.
// Returns the count. A database error propagates.
int SpoofCountClick(Station& station, DataStore& data, const QDate& day);

}  // namespace tavo
