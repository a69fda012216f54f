#pragma once

namespace tavo {

class DataStore;
class Station;

// Crop bounds "Q - step 100" (Button9Click; Timer2 runs it one second after start, then hourly):
// counts the work rows of the last ten days per 100-pixel band of the left and the right margin,
// writes the 32 lines into memo1, and sets settings.cutLeft / cutRight to the lower bound of the
// first band with at least 100 rows ("0" when none). A database error propagates; the bounds then
// keep what was set so far.
void Button9Click(Station& station, DataStore& data);

inline constexpr int kCropStep = 100;       // band width, and rows for a well-filled band
inline constexpr int kCropBandLimit = 1500;  // bands up to (1400, 1500]
inline constexpr int kCropDays = 10;

}  // namespace tavo
