#include "face/build_progress.h"

#include <cmath>

namespace tavo {
namespace {

QString duration(int seconds, const char* minutes, const char* secs) {
  if (seconds < 60) return QStringLiteral("%1 %2").arg(seconds).arg(QString::fromUtf8(secs));
  return QStringLiteral("%1 %2 %3 %4")
      .arg(seconds / 60)
      .arg(QString::fromUtf8(minutes))
      .arg(seconds % 60)
      .arg(QString::fromUtf8(secs));
}

}  // namespace

BuildProgress::BuildProgress(int total) : total_(total) { clock_.start(); }

void BuildProgress::step() {
  ++done_;
  const qint64 now = clock_.elapsed();
  logDue_ = now - lastLog_ >= kLogEveryMs;
  if (logDue_) lastLog_ = now;
  labelDue_ = now - lastLabel_ >= kLabelEveryMs;
  if (labelDue_) lastLabel_ = now;
}

double BuildProgress::perSecond() const {
  const qint64 ms = clock_.elapsed();
  return ms > 0 ? done_ * 1000.0 / double(ms) : 0;
}

int BuildProgress::secondsLeft() const {
  const double rate = perSecond();
  if (rate <= 0) return -1;
  return int(std::lround((total_ - done_) / rate));
}

QString BuildProgress::logLine() const {
  const int left = secondsLeft();
  return QStringLiteral("  LUX %1 of %2 models, %3 a second, %4 left")
      .arg(done_)
      .arg(total_)
      .arg(perSecond(), 0, 'f', 1)
      .arg(left < 0 ? QStringLiteral("?") : duration(left, "min", "s"));
}

QString BuildProgress::labelNote() const {
  const int left = secondsLeft();
  QString note = QStringLiteral("%1 из %2").arg(done_).arg(total_);
  if (left >= 0) note += QStringLiteral(", осталось ") + duration(left, "мин", "с");
  return note;
}

}  // namespace tavo
