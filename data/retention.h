#pragma once
#include <QObject>
#include <QString>
#include <QTimer>

namespace tavo {

class Station;
class Database;

// Work-log retention (TimerDataClear): once per start, 300 ms after arming, the 50 oldest work
// rows at least 60 days old go together with their photo files. A failed pass is reported to the
// operator once and tried again after growing pauses.
class Retention : public QObject {
 public:
  static constexpr int kIntervalMs = 300;
  static constexpr int kAgeDays = 60;
  static constexpr int kBatch = 50;
  static constexpr int kFirstRetryMs = 5000;
  static constexpr int kMaxRetryMs = 600000;

  Retention(Station& station, Database& db, QObject* parent = nullptr);

  void arm();  // switches the timer on (done when the data store is created)
  QTimer& timer() { return timer_; }  // TimerDataClear
  bool done() const { return done_; }
  int failures() const { return failures_; }

  // One pass (TimerDataClearTimer). Returns true when it succeeded (the timer is then off);
  // on failure the timer waits longer before the next try.
  bool runPass();

 private:
  void pass();

  Station& station_;
  Database& db_;
  QTimer timer_;
  bool done_ = false;
  bool running_ = false;
  int failures_ = 0;
};

}  // namespace tavo
