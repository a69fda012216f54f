#include "data/orphan_photos.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

#include "base/paths.h"
#include "base/station.h"
#include "data/database.h"

namespace tavo {

namespace {

// Real folders only: a link inside the work folder could lead anywhere.
QFileInfoList realEntries(const QString& hostDir, QDir::Filters kind, const QRegularExpression& name) {
  QFileInfoList out;
  const QFileInfoList all = QDir(hostDir).entryInfoList(kind | QDir::Hidden | QDir::NoDotAndDotDot | QDir::NoSymLinks | QDir::System, QDir::Name);
  for (const QFileInfo& e : all)
    if (!e.isSymLink() && name.match(e.fileName()).hasMatch()) out << e;
  return out;
}

}  // namespace

int removeOrphanWorkPhotos(Station& station, Database& db, const QDateTime& now) {
  const QString workDir = station.settings.workDir;
  if (workDir.isEmpty()) return 0;
  const QString root = hostPath(workDir);
  const QFileInfo rootInfo(root);
  if (!rootInfo.isDir() || rootInfo.isSymLink()) return 0;

  static const QRegularExpression year(QStringLiteral("^\\d{4}$"));
  static const QRegularExpression twoDigits(QStringLiteral("^\\d{2}$"));
  static const QRegularExpression photo(QStringLiteral(
      "^(\\d{8}-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12})(_face\\.bin|_face\\.jpg|_full\\.jpg)$"));

  QSet<QString> named;
  const QDateTime cutOff = now.addSecs(-kOrphanMinAgeSeconds);
  bool loaded = false;
  int removed = 0;
  for (const QFileInfo& y : realEntries(root, QDir::Dirs, year)) {
    for (const QFileInfo& m : realEntries(y.filePath(), QDir::Dirs, twoDigits)) {
      for (const QFileInfo& d : realEntries(m.filePath(), QDir::Dirs, twoDigits)) {
        for (const QFileInfo& f : realEntries(d.filePath(), QDir::Files, photo)) {
          if (!f.isFile() || f.lastModified() >= cutOff) continue;
          if (!loaded) {
            // One reading of every stored name, only when there is a candidate at all.
            for (const auto& row : db.query(QStringLiteral("SELECT FileName FROM Works WHERE FileName IS NOT NULL")).rows)
              named.insert(row[0].toString().replace(QLatin1Char('/'), QLatin1Char('\\')));
            loaded = true;
          }
          const QString base = photo.match(f.fileName()).captured(1);
          const QString stored = y.fileName() + '\\' + m.fileName() + '\\' + d.fileName() + '\\' + base;
          if (named.contains(stored)) continue;
          if (QFile::remove(f.filePath())) {
            ++removed;
            station.showLog(QStringLiteral("Фото без записи журнала удалено: ") + f.filePath());
          }
        }
      }
    }
  }
  return removed;
}

}  // namespace tavo
