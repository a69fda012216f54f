#include "app/start/ready_line.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

#include "base/paths.h"
#include "base/station.h"

namespace tavo {

namespace {

// Quoted for a POSIX shell where the path holds anything but plain characters.
QString shellWord(const QString& word) {
  static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_@%+=:,./-]+$"));
  if (plain.match(word).hasMatch()) return word;
  QString quoted = word;
  quoted.replace(QLatin1Char('\''), QLatin1String("'\\''"));
  return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

}  // namespace

QString officeToolCommand() {
  const QString name = QStringLiteral("tavolin-office");
  const QString dir = QCoreApplication::applicationDirPath();
  QString tool;
  for (const QString& candidate : {dir + QLatin1Char('/') + name, dir + QStringLiteral("/../../tools/") + name}) {
    if (QFileInfo(candidate).isExecutable()) {
      tool = QFileInfo(candidate).canonicalFilePath();
      break;
    }
  }
  if (tool.isEmpty()) return name;
  const QString onPath = QStandardPaths::findExecutable(name);
  if (!onPath.isEmpty() && QFileInfo(onPath).canonicalFilePath() == tool) return name;
  return shellWord(tool);
}

QString readyLine(const Station& station) {
  const QString flag = QFileInfo(hostPath(station.settings.flagDir)).absoluteFilePath();
  return QStringLiteral("Ready: flag folder %1; a check-in from the office side: %2 checkin %3 BARCODE")
      .arg(flag, officeToolCommand(), shellWord(flag));
}

}  // namespace tavo
