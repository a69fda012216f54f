#include "data/retention.h"

#include <QDateTime>
#include <QStringList>
#include <algorithm>

#include "base/paths.h"
#include "base/station.h"
#include "base/stored_names.h"
#include "data/database.h"
#include "data/orphan_photos.h"

namespace tavo {

Retention::Retention(Station& station, Database& db, QObject* parent)
    : QObject(parent), station_(station), db_(db) {
  timer_.setObjectName(QStringLiteral("TimerDataClear"));
  timer_.setInterval(kIntervalMs);
  connect(&timer_, &QTimer::timeout, this, [this] { runPass(); });
}

void Retention::arm() {
  if (done_) return;
  timer_.setInterval(kIntervalMs);
  timer_.start();
}

bool Retention::runPass() {
  if (done_ || running_) return done_;
  running_ = true;
  try {
    pass();
    running_ = false;
    done_ = true;
    timer_.stop();
    return true;
  } catch (const std::exception& e) {
    running_ = false;
    ++failures_;
    // Wait longer after each failure; the operator hears of it once.
    const int shift = std::min(failures_ - 1, 16);
    timer_.stop();
    timer_.setInterval(int(std::min<qint64>(qint64(kFirstRetryMs) << shift, kMaxRetryMs)));
    timer_.start();
    if (failures_ == 1) station_.messages().show(QString::fromUtf8(e.what()));
    return false;
  }
}

void Retention::pass() {
  const QDate cutOff = station_.clock().today().addDays(-kAgeDays);
  const Rows rows = db_.query(
      QStringLiteral("SELECT id, FileName FROM Works WHERE datedoc <= ? ORDER BY datedoc, id LIMIT ?"),
      {cutOff, kBatch});
  const QString folder = station_.settings.workDir + QLatin1Char('\\');
  QString idList;
  QVariantList ids;
  for (const auto& row : rows.rows) {
    const QString name = row[1].toString();
    // A stored name that would reach outside the work folder is not a work photo of ours.
    if (isSafeStoredName(name)) {
      for (const char* suffix : {"_face.jpg", "_face.bin", "_full.jpg"}) {
        const QString path = folder + name + QLatin1String(suffix);
        if (fileExists(path)) {
          station_.showLog(path);
          removeFile(path);
        }
      }
    }
    idList += QString::number(row[0].toLongLong()) + QLatin1Char(',');
    ids << row[0];
  }
  idList += QLatin1Char('0');
  station_.showLog(idList);
  ids << 0;
  QStringList marks;
  for (int i = 0; i < ids.size(); ++i) marks << QStringLiteral("?");
  Database::Transaction tx(db_);
  db_.exec(QStringLiteral("DELETE FROM Works WHERE id IN (%1)").arg(marks.join(QLatin1Char(','))), ids);
  tx.commit();
  // A check-in killed between its photo and its row leaves a photo nobody will ever delete.
  // File times are wall-clock times, whatever clock the station runs on.
  removeOrphanWorkPhotos(station_, db_, QDateTime::currentDateTime());
}

}  // namespace tavo
