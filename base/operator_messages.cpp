#include "base/operator_messages.h"

#include <cstdio>

#include "base/operator_log.h"

namespace tavo {

void LogMessages::show(const QString& text, const QString& caption) {
  QString oneLine = text;
  oneLine.replace(QLatin1String("\n\r"), QLatin1String(" ")).replace('\n', ' ').replace('\r', ' ');
  const QString line = caption.isEmpty() ? QStringLiteral("message: %1").arg(oneLine)
                                         : QStringLiteral("message [%1]: %2").arg(caption, oneLine);
  log_.show(line);
  if (toStderr_) std::fprintf(stderr, "tavolin: %s\n", line.toLocal8Bit().constData());
}

bool LogMessages::confirm(const QString& text, const QString& caption) {
  show(text + QStringLiteral(" (no one to answer: No)"), caption);
  return false;
}

}  // namespace tavo
