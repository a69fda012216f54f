#pragma once
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace tavo::test {

// The real station program, headless, in a fresh program directory made by
// scripts/new-station.sh, with its drives (C:\...) inside that directory.
class StationProcess {
 public:
  StationProcess();
  ~StationProcess();

  QString programDir() const;  // ends with '/'
  QString drive(const QString& relative) const;  // host path of C:\ + relative ('/' separators)
  void writeIni(const QString& name, const QByteArray& content);

  bool start(const QStringList& extraArgs = {});
  // Waits until a log line containing fragment has appeared on stdout.
  bool waitForLog(const QString& fragment, int timeoutMs);
  QString output();  // everything printed so far (stdout and stderr)
  // Sends the signal and waits for the end; returns the exit code, or -1 when it crashed or hung.
  int stop(int signal);
  bool running() const;

 private:
  QTemporaryDir dir_;
  QProcess process_;
  QString output_;
};

}  // namespace tavo::test
