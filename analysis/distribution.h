#pragma once
#include <QDate>
#include <vector>

namespace tavo {

class DataStore;
class Station;

inline constexpr int kPercentStep = 5;    // band width in percentage points
inline constexpr int kPercentBands = 20;  // (0, 5] up to (95, 100]

// Button11Click ("Совпадения по группам %, за день"): counts the confirmed check-ins of the day
// (excellent) per 5-point band of PercentDifference and appends the heading and the 20 counts to
// memo1. Returns the counts, band (0, 5] first. A database error propagates; lines appended
// before it stay.
std::vector<int> Button11Click(Station& station, DataStore& data, const QDate& day);

// The date the picker starts at until the operator picks another.
inline QDate distributionDefaultDay() { return QDate(2018, 7, 25); }

}  // namespace tavo
