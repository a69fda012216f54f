#pragma once
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>

#include "app/ui/station_status.h"

class QAction;
class QMenu;
class QSystemTrayIcon;

namespace tavo {

class MainWindow;
class StationApp;

// The tray icon of a station on the operator's desktop: the station runs hidden, and the icon's
// menu shows its status, opens the main window and hides it again; "Exit" ends the station.
// Closing the window only hides it.
class StationTray : public QObject {
  Q_OBJECT
 public:
  StationTray(StationApp& app, MainWindow& window);
  ~StationTray() override;

  // Shows the icon once the desktop has a tray. A tray that comes up after the station (a panel
  // started in the same session) is waited for up to waitMs; without one the window is opened
  // instead and closing it ends the station.
  void showWhenAvailable(int waitMs);
  bool shown() const;

  // The message that ended the start-up: the station refuses requests.
  void setRefusal(const QString& why);
  StationStatus status() const;

  // The menu's entries, in order.
  QMenu* menu() const { return menu_; }
  QAction* statusAction() const { return statusAction_; }
  QAction* openAction() const { return openAction_; }
  QAction* hideAction() const { return hideAction_; }
  QAction* exitAction() const { return exitAction_; }

 private:
  void refresh();
  void noTray();

  StationApp& app_;
  MainWindow& window_;
  QSystemTrayIcon* icon_;
  QMenu* menu_;
  QAction* statusAction_;
  QAction* openAction_;
  QAction* hideAction_;
  QAction* exitAction_;
  QTimer refresh_;
  QTimer waitForTray_;
  int waitedMs_ = 0;
  int waitMs_ = 0;
  std::function<void(bool)> previousBusy_;
  bool building_ = false;
  int total_ = 0;
  QString refusal_;
  StationStatus::State shownState_ = StationStatus::State::Starting;
  bool iconDrawn_ = false;
};

}  // namespace tavo
