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
  // Starts it with windows on the X display (":N"), with the given options instead of --headless.
  bool startOnDisplay(const QString& display, const QStringList& options);
  // Starts it and waits until its template base is built (the poll runs from then on).
  bool startAndWaitForBase(int timeoutMs);
  // A statement on the station's database through tavolin-db; rows as tab-separated lines,
  // header first.
  struct SqlResult {
    int exitCode = -1;
    QString errors;
    QStringList rows;
  };
  SqlResult sql(const QString& statement, const QStringList& values = {}, int timeoutMs = 30000) const;
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
