#pragma once
#include <QDateTime>
#include <QString>

namespace tavo {

class DataStore;
class Station;

// The number of active models per barcode the actuality check always leaves.
inline constexpr int Cntrl = 3;

// Button10Click: for every model of TableModel as filtered, first to last: copies its
// "_face.jpg" to programPath "Temp\Model" (created when missing) and marks it active, or marks
// it inactive when it has none. Returns the number of copies made.
int Button10Click(Station& station, DataStore& data);

// Button13Click: "BaseModel.txt" in the program directory, one line EAN + ";" + FileName +
// "_face.jpg;" per model of TableModel as filtered, composed in MemoOut and written whole
// (code page 1251, CR LF). Throws std::runtime_error when the file cannot be written.
void Button13Click(Station& station, DataStore& data);

// Button17Click: the actuality check. Lists every barcode with active models in memo2; where a
// barcode has more than Cntrl active models, deactivates those inserted before one calendar
// month ago, least recently matched first, until Cntrl remain, listing them as "-i) id".
// Returns the number of models deactivated.
int Button17Click(Station& station, DataStore& data);

// The same day and time one calendar month earlier; the last day of that month when the day
// does not exist there (31 March -> 28 or 29 February).
QDateTime oneMonthBefore(const QDateTime& t);

}  // namespace tavo
