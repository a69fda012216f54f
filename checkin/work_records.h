#pragma once
#include <QString>
#include <cstdint>

namespace tavo {

class DataStore;
class Station;

// A new work photo name "yyyy\mm\dd\yyyymmdd-GUID" (GUID upper case, no braces) relative to the
// work folder; the year, month and day folders under pathWork (work folder + "\") are created as
// needed, one level each. The clock is read once, so the name's date and its folders always agree.
// Throws std::runtime_error when a folder cannot be created.
QString CreateFileName(const Station& station, const QString& pathWork);

// Stores a working picture of "Temp" encrypted as pathModel + filename + "_face.bin" (system key).
// Mode 0: "Temp\model_full.jpg" (a check-in picture); other modes: "Temp\model_face.jpg", which is
// then deleted. Both modes delete "Temp\model_full.jpg" and "Temp\model_f.jpg" afterwards.
// Mode 0 first notes the photo as this station's own until its row is posted (orphan_photos.h).
// `path` is the program folder (host path ending with '/', settings.programPath), pathModel a
// station path ending with "\". Throws std::runtime_error when the picture cannot be read or the
// file cannot be written (the working pictures are then left in place).
void SaveImage(const QString& path, const QString& pathModel, const QString& filename,
               std::uint8_t mode);

// One work-log row, posted at once (DataStore::insertWork); returns its id, and the photo's note
// of SaveImage goes. Database errors propagate.
qint64 InsertWorkRecord(DataStore& data, const QString& filename, bool is_face, int idModel,
                        double percent, const QString& EAN, const QString& tags, int cLeft,
                        int cRight, int cTop, int cBottom, int cHeight, int cWidth);

}  // namespace tavo
