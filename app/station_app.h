#pragma once
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>

#include "app/start_up.h"
#include "app/station_lock.h"
#include "app/window_port.h"
#include "base/station.h"

namespace tavo {

class StationParts;

// The station's process: it owns the running state and the timers, runs the start-up
// (FormCreate) and the shutdown (FormDestroy). The windows, when there is a display, sit on top
// of it; headless it runs the same way with no window at all.
class StationApp : public QObject {
  Q_OBJECT
 public:
  // programPath: host folder of the program, ending with '/'.
  StationApp(Station& station, const QString& programPath);
  ~StationApp() override;

  Station& station() { return station_; }
  void setWindow(WindowPort* window) { window_ = window ? window : &headlessWindow_; }

  // Process start: the data store, then the main window's start-up, then the model editor
  // (cascades). Timers run from here on.
  void start();
  // FormDestroy: releases the camera. Nothing is written.
  void shutdown();
  // Ends the message loop. A request that comes while the start-up still runs (it lets events
  // run) is kept: exec() then returns at once instead of waiting for another.
  void requestQuit();
  // The message loop (QCoreApplication::exec), unless a quit was requested already.
  int exec();

  QTimer& timer1() { return timer1_; }  // 50 ms: the flag-directory poll
  QTimer& timer2() { return timer2_; }  // 1 s, then hourly: crop bounds

  // Wiring of the parts (filled by the composition in station_parts.cpp).
  StartUpSteps steps;
  std::function<void()> openDataStore;   // before the window
  std::function<void()> loadCascades;    // after the window (model editor creation)
  std::function<void()> poll;            // Timer1Timer
  std::function<void()> cropBounds;      // Timer2Timer's work
  std::function<void()> releaseCamera;   // FormDestroy

  bool startUpSucceeded() const { return startUpSucceeded_; }
  // Sets the flag-folder watch (default: the QFileSystemWatcher); false when it cannot be set.
  std::function<bool(const QString& hostFolder)> addFlagWatch;

  // The parts of the station (data store, cameras, face base, ...) for the windows.
  StationParts* parts() const { return parts_; }
  void setParts(StationParts* parts) { parts_ = parts; }

 private:
  void timer1Timer();
  void timer2Timer();
  void watchFlagFolder();
  bool takeProgramDirectory();
  void claimFlagFolder();

  Station& station_;
  WindowPort headlessWindow_;
  WindowPort* window_ = &headlessWindow_;
  QTimer timer1_;
  QTimer timer2_;
  // A request written into a local flag folder is polled at once rather than at the next tick;
  // Timer1 still finds what the watch misses (network mounts report no changes).
  QFileSystemWatcher flagWatch_;
  QString watchedFlagFolder_;
  QDateTime watchTried_;   // station clock
  QDateTime watchFailed_;  // when the watch last could not be set
  // This station's hold on its program directory and its flag folder.
  StationLock programLock_;
  StationLock flagLock_;
  bool flagPollQueued_ = false;
  bool startUpSucceeded_ = false;
  bool shutDown_ = false;
  bool quitRequested_ = false;
  StationParts* parts_ = nullptr;
};

}  // namespace tavo
