#pragma once
#include <QDate>
#include <QDateTime>

namespace tavo {

// The one source of "now" for the whole station, so tests can set the day and time.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual QDateTime now() const = 0;
  QDate today() const { return now().date(); }
};

class SystemClock : public Clock {
 public:
  QDateTime now() const override { return QDateTime::currentDateTime(); }
};

// A clock that stands still until moved; for tests.
class FixedClock : public Clock {
 public:
  explicit FixedClock(QDateTime t) : t_(std::move(t)) {}
  QDateTime now() const override { return t_; }
  void set(const QDateTime& t) { t_ = t; }
  void advanceMs(qint64 ms) { t_ = t_.addMSecs(ms); }

 private:
  QDateTime t_;
};

}  // namespace tavo
