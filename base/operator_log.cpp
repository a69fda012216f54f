#include "base/operator_log.h"

#include "base/clock.h"

namespace tavo {

QString OperatorLog::timeStamp(const QTime& t) {
  return QStringLiteral("%1:%2:%3:%4")
      .arg(t.hour(), 2, 10, QChar('0'))
      .arg(t.minute(), 2, 10, QChar('0'))
      .arg(t.second(), 2, 10, QChar('0'))
      .arg(t.msec(), 3, 10, QChar('0'));
}

void OperatorLog::show(const QString& message) {
  const QTime t = clock_ ? clock_->now().time() : QTime::currentTime();
  const QString line = timeStamp(t) + ' ' + message;
  lines_ << line;
  for (const auto& w : watchers_) w(line);
}

void OperatorLog::clear() {
  lines_.clear();
  for (const auto& w : clearWatchers_) w();
}

bool OperatorLog::contains(const QString& fragment) const {
  for (const QString& l : lines_)
    if (l.contains(fragment)) return true;
  return false;
}

}  // namespace tavo
