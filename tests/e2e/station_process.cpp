#include "tests/e2e/station_process.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <csignal>

#include "tests/support/test_env.h"

namespace tavo::test {

StationProcess::StationProcess() {
  QProcess setup;
  setup.start("bash", {sourceDir() + "/scripts/new-station.sh", dir_.path(), buildDir()});
  setup.waitForFinished(60000);
  QDir().mkpath(drive("Face"));
  QDir().mkpath(drive("Korvend"));
  process_.setProcessChannelMode(QProcess::MergedChannels);
}

StationProcess::~StationProcess() {
  if (running()) {
    process_.kill();
    process_.waitForFinished(5000);
  }
}

QString StationProcess::programDir() const { return dir_.path() + '/'; }

QString StationProcess::drive(const QString& relative) const { return dir_.path() + "/drives/c/" + relative; }

void StationProcess::writeIni(const QString& name, const QByteArray& content) {
  writeFile(programDir() + name, content);
}

bool StationProcess::start(const QStringList& extraArgs) {
  process_.setProcessEnvironment(headlessStationEnvironment(dir_.path()));
  process_.setWorkingDirectory(dir_.path());
  process_.start(programDir() + "tavolin", QStringList{"--headless", "--program-dir", dir_.path()} + extraArgs);
  return process_.waitForStarted(10000);
}

bool StationProcess::startOnDisplay(const QString& display, const QStringList& options) {
  QProcessEnvironment env = headlessStationEnvironment(dir_.path());
  env.insert("DISPLAY", display);
  process_.setProcessEnvironment(env);
  process_.setWorkingDirectory(dir_.path());
  process_.start(programDir() + "tavolin", options + QStringList{"--program-dir", dir_.path()});
  return process_.waitForStarted(10000);
}

bool StationProcess::startAndWaitForBase(int timeoutMs) {
  const int builds = output().count("end - LUX");
  if (!start()) return false;
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < timeoutMs && running() && output().count("end - LUX") == builds)
    waitForLog(QStringLiteral("\x01"), 100);
  return output().count("end - LUX") > builds;
}

StationProcess::SqlResult StationProcess::sql(const QString& statement, const QStringList& values,
                                              int timeoutMs) const {
  QProcess p;
  p.start(buildDir() + "/tools/tavolin-db", QStringList{"sql", programDir() + "FaceBase.mdb", statement} + values);
  p.waitForFinished(timeoutMs);
  SqlResult r;
  r.exitCode = p.exitCode();
  r.errors = QString::fromUtf8(p.readAllStandardError());
  r.rows = QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
  return r;
}

QString StationProcess::output() {
  // After the process ended its channel is closed; what it wrote was read on the way.
  if (process_.isOpen()) output_ += QString::fromLocal8Bit(process_.readAll());
  return output_;
}

bool StationProcess::waitForLog(const QString& fragment, int timeoutMs) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < timeoutMs) {
    if (output().contains(fragment)) return true;
    if (process_.state() == QProcess::NotRunning) return output().contains(fragment);
    process_.waitForReadyRead(50);
  }
  return output().contains(fragment);
}

int StationProcess::stop(int signal) {
  if (process_.state() == QProcess::NotRunning) return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
  ::kill(static_cast<pid_t>(process_.processId()), signal);
  if (!process_.waitForFinished(15000)) return -1;
  output();
  return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
}

bool StationProcess::running() const { return process_.state() != QProcess::NotRunning; }

}  // namespace tavo::test
