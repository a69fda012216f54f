#pragma once
#include <QElapsedTimer>
#include <QString>

namespace tavo {

// Progress of a template base build over its active models: when a line is due for the operator
// log (every few seconds) and for the label (about every second), and their texts (models done of
// all, rate, time left).
class BuildProgress {
 public:
  static constexpr int kLogEveryMs = 5000;
  static constexpr int kLabelEveryMs = 1000;

  explicit BuildProgress(int total);

  // One more model done. Sets logDue() and labelDue() when their time has come.
  void step();
  bool logDue() const { return logDue_; }
  bool labelDue() const { return labelDue_; }

  int done() const { return done_; }
  int total() const { return total_; }
  double perSecond() const;
  int secondsLeft() const;  // -1 while no rate is known

  // "  LUX 120 of 1000 models, 11.8 a second, 1 min 15 s left"
  QString logLine() const;
  // "120 из 1000, осталось 1 мин 15 с"
  QString labelNote() const;

 private:
  int total_;
  int done_ = 0;
  QElapsedTimer clock_;
  qint64 lastLog_ = 0;
  qint64 lastLabel_ = 0;
  bool logDue_ = false;
  bool labelDue_ = false;
};

}  // namespace tavo
