#pragma once
#include <QWidget>

#include "app/window_port.h"

class QTabWidget;

namespace tavo {

class StationApp;

// The main window (TForm1): caption "Tavo - 2.6", client area 1142 x 603, Tahoma 8 pt, five tabs.
// In operation it stays hidden; it is shown at its designed size when the start-up is cut short,
// or when the operator asks for it (the --window option, the tray icon's menu).
class MainWindow : public QWidget, public WindowPort {
  Q_OBJECT
 public:
  explicit MainWindow(StationApp& app, QWidget* parent = nullptr);

  static constexpr int kClientWidth = 1142;
  static constexpr int kClientHeight = 603;

  QTabWidget* tabs() const { return tabs_; }

  // WindowPort
  void setDateDoc(const QDate& date) override;
  void showWorkTab() override;
  void enterHiddenMode() override;
  void showAtDesignedSize() override;
  void setBusy(bool busy) override;

  // The operator's window: the start-up's hidden-mode step leaves it shown.
  void keepShown(bool keep) { keepShown_ = keep; }
  // Closing the window only hides it (a station with a tray icon ends from its menu).
  void setCloseHides(bool hides) { closeHides_ = hides; }
  // Shows the window at its designed size, in front, and says so in the operator log.
  void openForOperator();

 protected:
  void closeEvent(QCloseEvent* event) override;  // ends the station, or hides the window

 private:
  StationApp& app_;
  QTabWidget* tabs_;
  QWidget* workTab_;
  bool keepShown_ = false;
  bool closeHides_ = false;
};

}  // namespace tavo
