#pragma once
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

namespace tavo {

// A multi-line text area that parts of the station append to (the analysis memo, the model
// check memo); the window, when there is one, follows it.
class TextMemo {
 public:
  void add(const QString& line) {
    lines_ << line;
    notify();
  }
  void clear() {
    lines_.clear();
    notify();
  }
  const QStringList& lines() const { return lines_; }
  void addWatcher(std::function<void()> w) { watchers_.push_back(std::move(w)); }

 private:
  void notify() {
    for (const auto& w : watchers_) w();
  }
  QStringList lines_;
  std::vector<std::function<void()>> watchers_;
};

}  // namespace tavo
