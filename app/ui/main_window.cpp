#include "app/ui/main_window.h"

#include <QCloseEvent>
#include <QDateEdit>
#include <QGuiApplication>
#include <QScreen>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/station_app.h"
#include "app/ui/about_tab.h"
#include "app/ui/settings_tab.h"
#include "app/ui/station_tabs.h"

namespace tavo {

MainWindow::MainWindow(StationApp& app, QWidget* parent) : QWidget(parent), app_(app) {
  setObjectName("Form1");
  setWindowTitle(QStringLiteral("Tavo - 2.6"));
  setFont(QFont(QStringLiteral("Tahoma"), 8));
  resize(kClientWidth, kClientHeight);

  tabs_ = new QTabWidget(this);
  tabs_->setObjectName("PageControl1");
  workTab_ = createWorkTab(app_, tabs_);
  tabs_->addTab(workTab_, QStringLiteral("Работа"));
  tabs_->addTab(createModelsTab(app_, tabs_), QStringLiteral("Модели"));
  tabs_->addTab(new SettingsTab(app_.station(), tabs_), QStringLiteral("Настройки"));
  tabs_->addTab(new AboutTab(tabs_), QStringLiteral("О программе"));
  tabs_->addTab(createPrototypeTab(app_, tabs_), QStringLiteral("Prototype"));
  tabs_->setCurrentIndex(0);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(tabs_);
}

void MainWindow::setDateDoc(const QDate& date) {
  if (auto* picker = findChild<QDateEdit*>(QStringLiteral("DateDoc"))) picker->setDate(date);
}

void MainWindow::showWorkTab() { tabs_->setCurrentWidget(workTab_); }

void MainWindow::enterHiddenMode() {
  if (keepShown_) return;
  // Borderless and zero-sized in the original; here simply not shown.
  setWindowFlag(Qt::FramelessWindowHint, true);
  hide();
}

void MainWindow::showAtDesignedSize() {
  setWindowFlag(Qt::FramelessWindowHint, false);
  resize(kClientWidth, kClientHeight);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect r = screen->availableGeometry();
    move(r.center() - QPoint(kClientWidth / 2, kClientHeight / 2));
  }
  show();
}

void MainWindow::openForOperator() {
  showAtDesignedSize();
  raise();
  activateWindow();
  app_.station().showLog(QStringLiteral("  window shown at %1 x %2, tab \"%3\"")
                             .arg(width())
                             .arg(height())
                             .arg(tabs_->tabText(tabs_->currentIndex())));
}

void MainWindow::closeEvent(QCloseEvent* event) {
  QWidget::closeEvent(event);
  // A quit asked for while the start-up still builds the base is kept until the loop runs.
  if (!closeHides_) app_.requestQuit();
}

void MainWindow::setBusy(bool busy) { setEnabled(!busy); }

}  // namespace tavo
