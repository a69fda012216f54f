#pragma once
#include <QString>

namespace tavo {

class CheckInRun;
class DataStore;
class FaceBase;
class ModelRecords;
class Station;

// The barcode of the test check-in ("Отметка").
inline constexpr char kTestBarcode[] = "2200000169020";

// InWorkClick ("Отметка"): EAN := "2200000169020", then a check-in run that writes its answer
// file into the flag directory like a request of the office system.
void InWorkClick(Station& station, CheckInRun& run);

// Button20Click ("Перепроверить"): compares the face picture of the current work-log row with
// the template base again and saves idModel, is_face, PercentDifference and excellent. With an
// empty base it shows "Please enroll faces first" / "Error", changes nothing and returns false.
// The work-log views are not told of the change until the end; then "Готово" is shown.
// Throws std::runtime_error when there is no current row, its stored FileName would lead out of
// the work folder (no file is touched) or its picture file cannot be read (the row is then
// unchanged).
bool Button20Click(Station& station, DataStore& data, FaceBase& base);

// Button18Click ("Добавить в модели"): writes the decrypted face picture of the current
// work-log row to "Temp\model_full.jpg" of the program directory and opens a new model of the
// row's SN from it (NewRecordFromWork). A row without a readable face picture is refused with a
// message and nothing is written; a FileName that would lead out of the work folder throws
// std::runtime_error. Returns whether a model was saved.
bool Button18Click(Station& station, DataStore& data, ModelRecords& records);

// Texts shown by the actions.
inline QString enrollFirstText() { return QStringLiteral("Please enroll faces first"); }
inline QString enrollFirstCaption() { return QStringLiteral("Error"); }
inline QString doneText() { return QStringLiteral("Готово"); }
inline QString noFacePictureText() {
  return QStringLiteral("У выбранной записи нет фото лица: добавить в модели нечего.");
}
inline QString addToModelsCaption() { return QStringLiteral("Добавить в модели"); }

}  // namespace tavo
