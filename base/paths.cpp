#include "base/paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtGlobal>

#include "base/atomic_file.h"

namespace tavo {

QString drivesRoot() {
  const QByteArray env = qgetenv("TAVO_DRIVES");
  QString root = env.isEmpty() ? QStringLiteral("/mnt") : QString::fromLocal8Bit(env);
  while (root.size() > 1 && root.endsWith('/')) root.chop(1);
  return root;
}

QString hostPath(const QString& path) {
  QString p = path;
  p.replace('\\', '/');
  if (p.size() >= 2 && p[1] == ':' && p[0].isLetter() && p[0].unicode() < 128) {
    QString rest = p.mid(2);
    while (rest.startsWith('/')) rest.remove(0, 1);
    QString mapped = drivesRoot() + '/' + p[0].toLower();
    if (!rest.isEmpty()) mapped += '/' + rest;
    return mapped;
  }
  return p;
}

QString joinPath(const QString& dir, const QString& name) { return dir + '\\' + name; }

bool fileExists(const QString& path) {
  const QFileInfo info(hostPath(path));
  return info.exists() && info.isFile();
}

bool removeFile(const QString& path) {
  const QString host = hostPath(path);
  if (!QFileInfo::exists(host)) return true;
  return QFile::remove(host);
}

bool writeFileAtomically(const QString& path, const QByteArray& data, QString* error) {
  return writeWholeFile(hostPath(path), data, error);
}

bool writeWorkingFile(const QString& path, const QByteArray& data, QString* error) {
  return writeWholeFile(hostPath(path), data, error, Sync::Skipped);
}

}  // namespace tavo
