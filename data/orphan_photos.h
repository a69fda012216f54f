#pragma once
#include <QDateTime>
#include <QString>

namespace tavo {

class Database;
class Station;

// Work photos older than this with no Works row are left-overs of a check-in that was killed
// between writing the photo and posting its row; younger ones may belong to a run in progress.
inline constexpr int kOrphanMinAgeSeconds = 600;

// The station's own record of a work photo it is writing: a small file in its program folder
// ("Temp\Unposted\" + the photo's base name, holding the photo's station path without suffix),
// made before the photo and removed once its Works row is posted. The work folder may be shared
// with another station, or an older database restored: only a photo with such a note is one this
// station can show it wrote and left without a row.
inline constexpr char kUnpostedFolder[] = "Temp\\Unposted\\";
// `programPath` is the program folder (host path ending with '/'), `photoBase` the photo's station
// path without suffix, e.g. "C:\Face\Work\2019\07\08\20190708-GUID". False when the note could not
// be written (the photo is then never removed as an orphan).
bool noteUnpostedWorkPhoto(const QString& programPath, const QString& photoBase);
// After the row of `fileName` (relative "yyyy\mm\dd\yyyymmdd-GUID") is posted.
void clearUnpostedWorkPhoto(const QString& programPath, const QString& fileName);

// Removes the work photo files ("_face.bin", "_face.jpg", "_full.jpg") that a note of this
// station names, that no Works row names, and whose note was written before `now` minus
// kOrphanMinAgeSeconds; the note goes with them (and so does a note whose row was posted). Only
// regular files in real folders of the current work folder: links are never followed, photos
// without a note are left alone. Each removal is logged. Returns how many files went.
int removeOrphanWorkPhotos(Station& station, Database& db, const QDateTime& now);

}  // namespace tavo
