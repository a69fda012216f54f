#include "app/station_app.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <stdexcept>

#include "base/paths.h"

namespace tavo {

namespace {
constexpr int kPollMs = 50;
constexpr int kFirstCropMs = 1000;
constexpr int kHourMs = 3600000;
constexpr int kWatchRetryMs = 5000;
constexpr qint64 kWatchFailedRetryMs = 3600 * 1000;
const QString kReadyFlag = QStringLiteral("ArrayOk.txt");
}  // namespace

StationApp::StationApp(Station& station, const QString& programPath) : station_(station) {
  station_.settings.programPath = programPath;
  timer1_.setInterval(kPollMs);
  timer2_.setInterval(kFirstCropMs);
  connect(&timer1_, &QTimer::timeout, this, &StationApp::timer1Timer);
  connect(&timer2_, &QTimer::timeout, this, &StationApp::timer2Timer);
  // Only while Timer1 runs: a request that comes during other work waits for it, as before. A
  // burst of changes (another machine writing many files) gives one poll, not one per change.
  connect(&flagWatch_, &QFileSystemWatcher::directoryChanged, this, [this] {
    if (flagPollQueued_) return;
    flagPollQueued_ = true;
    QTimer::singleShot(0, this, [this] {
      flagPollQueued_ = false;
      if (timer1_.isActive()) timer1Timer();
    });
  });
  addFlagWatch = [this](const QString& folder) { return flagWatch_.addPath(folder); };
  steps.claimFlagFolder = [this] { claimFlagFolder(); };
  steps.readSettings = [this] {
    const QString programDir = station_.settings.programPath;
    station_.settings = Settings::read(programDir, station_.locale);
  };
}

StationApp::~StationApp() { shutdown(); }

void StationApp::start() {
  if (!takeProgramDirectory()) return;
  if (openDataStore) {
    try {
      openDataStore();
    } catch (const std::exception& e) {
      // The provider's error is shown; the station goes on without the database.
      station_.messages().show(QString::fromStdString(e.what()));
    }
  }
  // Both timers run from the creation of the main window, before its start-up handler.
  timer1_.start();
  timer2_.start();
  startUpSucceeded_ = runStartUp(station_, *window_, steps);
  if (loadCascades) loadCascades();
}

bool StationApp::takeProgramDirectory() {
  // Two stations on one program directory would share its database, its import and its Temp
  // pictures: the second one touches nothing there.
  QString why;
  if (!programLock_.take(station_.settings.programPath, &why)) {
    window_->showAtDesignedSize();
    station_.messages().show(QStringLiteral("The program directory \"%1\" is served by another station (%2): this station "
                                            "serves nothing")
                                 .arg(station_.settings.programPath, why));
    return false;
  }
  if (!why.isEmpty()) station_.showLog(QStringLiteral("Program directory: ") + why);
  return true;
}

void StationApp::claimFlagFolder() {
  const QString flagDir = station_.settings.flagDir;
  const QString folder = hostPath(flagDir);
  if (flagLock_.held() && flagLock_.folder() == folder) return;
  if (flagDir.isEmpty() || !QFileInfo(folder).isDir()) return;  // claimed once the start-up made it
  QString why;
  if (!flagLock_.take(folder, &why))
    throw std::runtime_error(QStringLiteral("The flag folder \"%1\" is served by another station (%2): this station "
                                            "serves nothing")
                                 .arg(flagDir, why)
                                 .toStdString());
  if (!why.isEmpty()) station_.showLog(QStringLiteral("Flag folder: ") + why);
  // "ArrayOk.txt" tells the office system that this run is ready: one left by an earlier run (or
  // a station killed) goes until the template base is built again.
  const QString flag = joinPath(flagDir, kReadyFlag);
  if (!QFileInfo(hostPath(flag)).isFile()) return;
  if (removeFile(flag))
    station_.showLog(QStringLiteral("An old \"%1\" was removed: it is written again when this run is ready").arg(kReadyFlag));
  else
    station_.messages().show(QStringLiteral("An old \"%1\" cannot be removed: the office system may take this station "
                                            "for ready before it is").arg(flag));
}

void StationApp::shutdown() {
  if (shutDown_) return;
  shutDown_ = true;
  timer1_.stop();
  timer2_.stop();
  if (releaseCamera) releaseCamera();
}

void StationApp::requestQuit() {
  quitRequested_ = true;
  station_.quitRequested = true;
  QCoreApplication::quit();  // does nothing before the message loop runs
}

int StationApp::exec() { return quitRequested_ ? 0 : QCoreApplication::exec(); }

void StationApp::timer1Timer() {
  watchFlagFolder();
  if (poll) poll();
}

void StationApp::watchFlagFolder() {
  // The folder is taken from the settings at every tick, as the poll does. A folder missing yet is
  // tried again every few seconds; one whose watch cannot be set (no inotify watch left) once an
  // hour, and told each time: every failed try is a warning in the journal as well.
  const QString folder = station_.settings.flagDir.isEmpty() ? QString() : hostPath(station_.settings.flagDir);
  const bool watching = !flagWatch_.directories().isEmpty();
  const QDateTime now = station_.clock().now();
  if (folder == watchedFlagFolder_) {
    if (watching) return;
    if (watchFailed_.isValid() ? watchFailed_.msecsTo(now) < kWatchFailedRetryMs
                               : watchTried_.isValid() && watchTried_.msecsTo(now) < kWatchRetryMs)
      return;
  }
  if (watching) flagWatch_.removePaths(flagWatch_.directories());
  watchedFlagFolder_ = folder;
  watchTried_ = now;
  watchFailed_ = QDateTime();
  if (folder.isEmpty() || !QFileInfo(folder).isDir()) return;
  if (!addFlagWatch || addFlagWatch(folder)) return;
  // Timer1 still polls: the watch only saves the wait for the next tick.
  watchFailed_ = now;
  station_.showLog(QStringLiteral("The flag folder \"%1\" cannot be watched (no inotify watch left?): requests are "
                                  "found by the poll every %2 ms; tried again in an hour")
                       .arg(station_.settings.flagDir)
                       .arg(kPollMs));
}

void StationApp::timer2Timer() {
  if (cropBounds) {
    try {
      cropBounds();
    } catch (const std::exception& e) {
      station_.messages().show(QString::fromStdString(e.what()));
    }
  }
  timer2_.setInterval(kHourMs);
}

}  // namespace tavo
