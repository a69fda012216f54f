#pragma once
#include <QDateTime>
#include <QString>

namespace tavo {

class Database;
class Station;

// Work photos older than this with no Works row are left-overs of a check-in that was killed
// between writing the photo and posting its row; younger ones may belong to a run in progress.
inline constexpr int kOrphanMinAgeSeconds = 600;

// Removes the station's own work photo files ("yyyy\mm\dd\yyyymmdd-GUID" + "_face.bin",
// "_face.jpg" or "_full.jpg" in the work folder) that no Works row names and that were last
// written before `now` minus kOrphanMinAgeSeconds. Links are never followed and anything else
// in the folder is left alone. Each removal is logged. Returns how many files went.
int removeOrphanWorkPhotos(Station& station, Database& db, const QDateTime& now);

}  // namespace tavo
