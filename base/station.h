#pragma once
#include <QLocale>
#include <QString>
#include <memory>

#include "base/clock.h"
#include "base/operator_log.h"
#include "base/operator_messages.h"
#include "base/result_buffer.h"
#include "base/settings.h"
#include "base/text_memo.h"

namespace tavo {

// The running state that every part of the station shares (what the main window holds):
// the settings, the operator log, the result-file buffer, the clock, the operator messages
// and the locale used for numbers in texts. Parts take a Station& and read what they need.
class Station {
 public:
  Station();
  // Tests hand in their own clock and messages; the station does not own them.
  Station(const Clock* clock, OperatorMessages* messages);

  Settings settings;
  OperatorLog log;
  ResultBuffer memoOut;
  TextMemo memo1;  // analysis tools' output (crop bounds, distribution, drawing figures)
  TextMemo memo2;  // model actuality check
  QLocale locale = QLocale::system();
  // True while the start-up handler runs (it lets events run during the template-base build);
  // requests found meanwhile wait for it to end.
  bool startUpInProgress = false;
  // Set by SIGTERM/SIGINT (StationApp::requestQuit): long work that lets events run (the template
  // base build) stops at its next step instead of running to its end.
  bool quitRequested = false;

  const Clock& clock() const { return *clock_; }
  OperatorMessages& messages() { return *messages_; }
  void setClock(const Clock* clock);
  void setMessages(OperatorMessages* messages) { messages_ = messages; }

  void showLog(const QString& message) { log.show(message); }  // ShowLogs

  // Program directory (host path, ends with '/') + name, e.g. programFile("Temp\\model_full.jpg").
  QString programFile(const QString& name) const { return settings.programPath + name; }
  // "Temp\" + name in the program directory.
  QString tempFile(const QString& name) const { return programFile(QStringLiteral("Temp\\") + name); }

 private:
  std::unique_ptr<SystemClock> ownClock_;
  std::unique_ptr<LogMessages> ownMessages_;
  const Clock* clock_;
  OperatorMessages* messages_;
};

}  // namespace tavo
