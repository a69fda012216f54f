#pragma once
#include <QString>
#include <QStringList>
#include <QTime>
#include <functional>
#include <vector>

namespace tavo {

class Clock;

// The operator log (the memo on the work tab): one line per message, prefixed with the time of
// day "hh:nn:ss:zzz". Nothing is written to a file; watchers (the window, headless echo) are told
// of each line.
class OperatorLog {
 public:
  explicit OperatorLog(const Clock* clock = nullptr) : clock_(clock) {}
  void setClock(const Clock* clock) { clock_ = clock; }

  void show(const QString& message);  // ShowLogs
  void clear();
  const QStringList& lines() const { return lines_; }
  bool contains(const QString& fragment) const;

  using Watcher = std::function<void(const QString& line)>;
  void addWatcher(Watcher w) { watchers_.push_back(std::move(w)); }
  void addClearWatcher(std::function<void()> w) { clearWatchers_.push_back(std::move(w)); }

  // "hh:nn:ss:zzz" of a time of day, 24-hour clock.
  static QString timeStamp(const QTime& t);

 private:
  const Clock* clock_;
  QStringList lines_;
  std::vector<Watcher> watchers_;
  std::vector<std::function<void()>> clearWatchers_;
};

}  // namespace tavo
