#pragma once
#include <QString>
#include <QStringList>

namespace tavo {

class OperatorLog;

// Messages for the operator. With a display they are modal message boxes; headless they go to
// the operator log and stderr without blocking. The core never opens a dialog itself.
class OperatorMessages {
 public:
  virtual ~OperatorMessages() = default;
  virtual void show(const QString& text, const QString& caption = QString()) = 0;
  // A Yes/No question; headless answers No.
  virtual bool confirm(const QString& text, const QString& caption = QString()) = 0;
};

// Headless: writes "message: ..." into the operator log and to stderr.
class LogMessages : public OperatorMessages {
 public:
  explicit LogMessages(OperatorLog& log, bool toStderr = true) : log_(log), toStderr_(toStderr) {}
  void show(const QString& text, const QString& caption = QString()) override;
  bool confirm(const QString& text, const QString& caption = QString()) override;

 private:
  OperatorLog& log_;
  bool toStderr_;
};

// Keeps every message; for tests.
class RecordingMessages : public OperatorMessages {
 public:
  void show(const QString& text, const QString& caption = QString()) override { shown << text; captions << caption; }
  bool confirm(const QString& text, const QString& = QString()) override { asked << text; return answer; }
  QStringList shown, captions, asked;
  bool answer = true;
};

}  // namespace tavo
