#pragma once
#include <QWidget>

#include "app/window_port.h"

class QTabWidget;

namespace tavo {

class StationApp;

// The main window (TForm1): caption "Tavo - 2.6", client area 1142 x 603, Tahoma 8 pt, five tabs.
// In operation it stays hidden; it is shown at its designed size when the start-up is cut short.
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

 protected:
  void closeEvent(QCloseEvent* event) override;  // closing the main window ends the station

 private:
  StationApp& app_;
  QTabWidget* tabs_;
  QWidget* workTab_;
};

}  // namespace tavo
