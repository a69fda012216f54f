#include "app/station_app.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <stdexcept>

#include "base/paths.h"

namespace tavo {

namespace {
constexpr int kPollMs = 50;
constexpr int kFirstCropMs = 1000;
constexpr int kHourMs = 3600000;
constexpr int kWatchRetryMs = 5000;
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
  steps.readSettings = [this] {
    const QString programDir = station_.settings.programPath;
    station_.settings = Settings::read(programDir, station_.locale);
  };
}

StationApp::~StationApp() { shutdown(); }

void StationApp::start() {
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

void StationApp::shutdown() {
  if (shutDown_) return;
  shutDown_ = true;
  timer1_.stop();
  timer2_.stop();
  if (releaseCamera) releaseCamera();
}

void StationApp::requestQuit() {
  quitRequested_ = true;
  QCoreApplication::quit();  // does nothing before the message loop runs
}

int StationApp::exec() { return quitRequested_ ? 0 : QCoreApplication::exec(); }

void StationApp::timer1Timer() {
  watchFlagFolder();
  if (poll) poll();
}

void StationApp::watchFlagFolder() {
  // The folder is taken from the settings at every tick, as the poll does. A folder that cannot be
  // watched (missing yet, or no watches left) is tried again every few seconds, not at every tick.
  const QString folder = station_.settings.flagDir.isEmpty() ? QString() : hostPath(station_.settings.flagDir);
  const bool watching = !flagWatch_.directories().isEmpty();
  if (folder == watchedFlagFolder_ && (watching || (watchTried_.isValid() && watchTried_.elapsed() < kWatchRetryMs)))
    return;
  if (watching) flagWatch_.removePaths(flagWatch_.directories());
  watchedFlagFolder_ = folder;
  watchTried_.start();
  if (!folder.isEmpty() && QFileInfo(folder).isDir()) flagWatch_.addPath(folder);
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
