#include "app/ui/station_tray.h"

#include <QAction>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>

#include "app/shell/station_parts.h"
#include "app/station_app.h"
#include "app/ui/main_window.h"
#include "face/face_base.h"

namespace tavo {

namespace {

constexpr int kRefreshMs = 500;
constexpr int kTrayPollMs = 500;

// A round badge in the colour of the state, drawn here so that no picture file is needed.
QIcon stateIcon(StationStatus::State state) {
  QColor colour;
  switch (state) {
    case StationStatus::State::Ready: colour = QColor(0x2e, 0x9d, 0x3a); break;
    case StationStatus::State::Refusing: colour = QColor(0xc6, 0x28, 0x28); break;
    default: colour = QColor(0xe0, 0xa0, 0x10); break;
  }
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setBrush(colour);
  p.setPen(QPen(Qt::white, 2));
  p.drawEllipse(QRectF(2, 2, 28, 28));
  QFont font(QStringLiteral("DejaVu Sans"), 14, QFont::Bold);
  p.setFont(font);
  p.drawText(QRectF(0, 0, 32, 32), Qt::AlignCenter, QStringLiteral("T"));
  return QIcon(pixmap);
}

}  // namespace

StationTray::StationTray(StationApp& app, MainWindow& window)
    : app_(app), window_(window), icon_(new QSystemTrayIcon(this)), menu_(new QMenu) {
  statusAction_ = menu_->addAction(QString());
  statusAction_->setEnabled(false);
  menu_->addSeparator();
  openAction_ = menu_->addAction(QStringLiteral("Open the window"));
  hideAction_ = menu_->addAction(QStringLiteral("Hide the window"));
  menu_->addSeparator();
  exitAction_ = menu_->addAction(QStringLiteral("Exit"));
  connect(openAction_, &QAction::triggered, this, [this] {
    window_.openForOperator();
    refresh();
  });
  connect(hideAction_, &QAction::triggered, this, [this] {
    window_.hide();
    refresh();
  });
  connect(exitAction_, &QAction::triggered, this, [this] { app_.requestQuit(); });
  connect(icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason != QSystemTrayIcon::Trigger) return;
    (window_.isVisible() ? hideAction_ : openAction_)->trigger();
  });
  icon_->setContextMenu(menu_);
  window_.setCloseHides(true);

  // The build reports busy at its start and its end; the count of its models is taken then.
  if (StationParts* parts = app_.parts()) {
    FaceBase& base = parts->faceBase();
    previousBusy_ = base.setBusy;
    base.setBusy = [this](bool busy) {
      if (busy) total_ = activeModelCount(app_);
      building_ = busy;
      refresh();
      if (previousBusy_) previousBusy_(busy);
    };
  }
  refresh_.setInterval(kRefreshMs);
  connect(&refresh_, &QTimer::timeout, this, &StationTray::refresh);
  refresh_.start();
  waitForTray_.setInterval(kTrayPollMs);
  connect(&waitForTray_, &QTimer::timeout, this, [this] {
    waitedMs_ += kTrayPollMs;
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
      waitForTray_.stop();
      icon_->show();
    } else if (waitedMs_ >= waitMs_) {
      waitForTray_.stop();
      noTray();
    }
  });
  refresh();
}

StationTray::~StationTray() {
  if (StationParts* parts = app_.parts()) parts->faceBase().setBusy = previousBusy_;
  delete icon_;  // before the menu it shows
  delete menu_;
}

void StationTray::showWhenAvailable(int waitMs) {
  waitMs_ = waitMs;
  if (QSystemTrayIcon::isSystemTrayAvailable()) icon_->show();
  else if (waitMs <= 0) noTray();
  else waitForTray_.start();
}

bool StationTray::shown() const { return icon_->isVisible(); }

void StationTray::noTray() {
  app_.station().showLog(QStringLiteral("  no system tray on this desktop: the window stays open"));
  window_.setCloseHides(false);
  window_.keepShown(true);
  window_.openForOperator();
}

void StationTray::setRefusal(const QString& why) {
  refusal_ = why;
  refresh();
}

StationStatus StationTray::status() const { return stationStatus(app_, building_, total_, refusal_); }

void StationTray::refresh() {
  const StationStatus s = status();
  const QString text = s.text();
  if (statusAction_->text() != text) {
    statusAction_->setText(text);
    icon_->setToolTip(QStringLiteral("Tavolin: ") + text);
  }
  if (!iconDrawn_ || s.state != shownState_) {
    icon_->setIcon(stateIcon(s.state));
    shownState_ = s.state;
    iconDrawn_ = true;
  }
  openAction_->setEnabled(!window_.isVisible());
  hideAction_->setEnabled(window_.isVisible());
}

}  // namespace tavo
