#include "data/orphan_photos.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

#include "base/atomic_file.h"
#include "base/paths.h"
#include "base/regular_file.h"
#include "base/station.h"
#include "data/database.h"

namespace tavo {

namespace {

const QRegularExpression& photoName() {
  static const QRegularExpression name(QStringLiteral(
      "^\\d{4}\\\\\\d{2}\\\\\\d{2}\\\\(\\d{8}-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12})$"));
  return name;
}

QString notesFolder(const QString& programPath) { return hostPath(programPath + QLatin1String(kUnpostedFolder)); }

QString baseOf(const QString& stationPath) {
  QString p = stationPath;
  p.replace(QLatin1Char('/'), QLatin1Char('\\'));
  return p.mid(p.lastIndexOf(QLatin1Char('\\')) + 1);
}

// Every folder from the work folder down to the photo's day folder is a real folder.
bool realFolders(const QString& root, const QString& relative) {
  QString path = root;
  const QStringList parts = relative.split(QLatin1Char('\\'));
  for (int i = 0; i + 1 < parts.size(); ++i) {
    path += QLatin1Char('/') + parts[i];
    const QFileInfo f(path);
    if (f.isSymLink() || !f.isDir()) return false;
  }
  return true;
}

}  // namespace

bool noteUnpostedWorkPhoto(const QString& programPath, const QString& photoBase) {
  const QString folder = notesFolder(programPath);
  if (!QDir().mkpath(folder)) return false;
  return writeWholeFile(folder + QLatin1Char('/') + baseOf(photoBase), photoBase.toUtf8());
}

void clearUnpostedWorkPhoto(const QString& programPath, const QString& fileName) {
  if (fileName.isEmpty()) return;
  QFile::remove(notesFolder(programPath) + QLatin1Char('/') + baseOf(fileName));
}

int removeOrphanWorkPhotos(Station& station, Database& db, const QDateTime& now) {
  const QString workDir = station.settings.workDir;
  const QString folder = notesFolder(station.settings.programPath);
  if (workDir.isEmpty() || !QFileInfo(folder).isDir()) return 0;
  const QString root = hostPath(workDir);
  const QFileInfo rootInfo(root);
  if (!rootInfo.isDir() || rootInfo.isSymLink()) return 0;
  QString workPrefix = workDir;
  workPrefix.replace(QLatin1Char('/'), QLatin1Char('\\'));
  if (!workPrefix.endsWith(QLatin1Char('\\'))) workPrefix += QLatin1Char('\\');

  const QDateTime cutOff = now.addSecs(-kOrphanMinAgeSeconds);
  QSet<QString> named;
  bool loaded = false;
  int removed = 0;
  const QFileInfoList notes =
      QDir(folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
  for (const QFileInfo& note : notes) {
    if (note.isSymLink() || note.lastModified() >= cutOff) continue;
    QByteArray bytes;
    if (!readRegularFile(note.filePath(), &bytes)) continue;
    QString photo = QString::fromUtf8(bytes);
    photo.replace(QLatin1Char('/'), QLatin1Char('\\'));
    // A note of another work folder (the setting changed since) or not of this form stays.
    if (!photo.startsWith(workPrefix, Qt::CaseInsensitive)) continue;
    const QString relative = photo.mid(workPrefix.size());
    const QRegularExpressionMatch m = photoName().match(relative);
    if (!m.hasMatch() || m.captured(1) != note.fileName()) continue;
    if (!loaded) {
      // One reading of every stored name, only when there is a candidate at all.
      for (const auto& row : db.query(QStringLiteral("SELECT FileName FROM Works WHERE FileName IS NOT NULL")).rows)
        named.insert(row[0].toString().replace(QLatin1Char('/'), QLatin1Char('\\')));
      loaded = true;
    }
    if (!named.contains(relative) && realFolders(root, relative)) {
      for (const char* suffix : {"_face.bin", "_face.jpg", "_full.jpg"}) {
        const QString file = root + QLatin1Char('/') + QString(relative).replace(QLatin1Char('\\'), QLatin1Char('/')) +
                             QLatin1String(suffix);
        const QFileInfo f(file);
        if (f.isSymLink() || !f.isFile()) continue;
        if (QFile::remove(file)) {
          ++removed;
          station.showLog(QStringLiteral("Фото без записи журнала удалено: ") + file);
        }
      }
    }
    QFile::remove(note.filePath());
  }
  return removed;
}

}  // namespace tavo
