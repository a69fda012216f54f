#include "tests/desktop/desktop_display.h"

#include <QElapsedTimer>
#include <QRegularExpression>

namespace tavo::test {

namespace {
DesktopDisplay* running = nullptr;
}

DesktopDisplay& DesktopDisplay::current() { return *running; }

DesktopDisplay::~DesktopDisplay() {
  if (running == this) running = nullptr;
  for (QProcess* p : {&tray_, &xvfb_}) {
    if (p->state() == QProcess::NotRunning) continue;
    p->terminate();
    if (!p->waitForFinished(5000)) p->kill();
    p->waitForFinished(2000);
  }
}

bool DesktopDisplay::start() {
  // -displayfd: Xvfb picks a free display and prints its number once it accepts clients.
  xvfb_.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                                       QStringLiteral("0"), QStringLiteral("1280x800x24"), QStringLiteral("-nolisten"),
                                       QStringLiteral("tcp")});
  if (!xvfb_.waitForStarted(10000)) {
    error_ = QStringLiteral("Xvfb does not start (package xvfb, scripts/setup.sh)");
    return false;
  }
  QByteArray number;
  QElapsedTimer t;
  t.start();
  while (!number.contains('\n') && t.elapsed() < 15000 && xvfb_.state() == QProcess::Running) {
    xvfb_.waitForReadyRead(100);
    number += xvfb_.readAllStandardOutput();
  }
  if (!number.contains('\n')) {
    error_ = QStringLiteral("Xvfb gave no display: ") + QString::fromLocal8Bit(xvfb_.readAllStandardError());
    return false;
  }
  name_ = QLatin1Char(':') + QString::fromLatin1(number.trimmed());
  running = this;

  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("DISPLAY"), name_);
  tray_.setProcessEnvironment(env);
  tray_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  tray_.start(QStringLiteral("trayer"), {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"),
                                         QStringLiteral("right"), QStringLiteral("--widthtype"), QStringLiteral("request"),
                                         QStringLiteral("--height"), QStringLiteral("24")});
  if (!tray_.waitForStarted(10000)) {
    error_ = QStringLiteral("trayer does not start (package trayer, scripts/setup.sh)");
    return false;
  }
  // The tests wait for the tray itself (QSystemTrayIcon::isSystemTrayAvailable()).
  if (tray_.waitForFinished(300)) {
    error_ = QStringLiteral("trayer ended at once");
    return false;
  }
  return true;
}

DesktopDisplay::WindowInfo DesktopDisplay::window(const QString& title, const QString& program) const {
  WindowInfo info;
  const auto xwininfo = [this](const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral("xwininfo"), QStringList{QStringLiteral("-display"), name_} + args);
    p.waitForFinished(10000);
    return p.exitCode() == 0 ? QString::fromLocal8Bit(p.readAllStandardOutput()) : QString();
  };
  // Top-level windows are listed as: 0x200006 "Tavo - 2.6": ("tavolin" "Tavolin")  1142x603+68+98 ...
  const QRegularExpression line(QStringLiteral("^\\s*(0x[0-9a-f]+) \"%1\": \\(\"%2\"")
                                    .arg(QRegularExpression::escape(title), QRegularExpression::escape(program)),
                                QRegularExpression::MultilineOption);
  info.id = line.match(xwininfo({QStringLiteral("-root"), QStringLiteral("-children")})).captured(1);
  if (info.id.isEmpty()) return info;
  const QString out = xwininfo({QStringLiteral("-id"), info.id});
  info.found = !out.isEmpty();
  info.width = QRegularExpression(QStringLiteral("Width: (\\d+)")).match(out).captured(1).toInt();
  info.height = QRegularExpression(QStringLiteral("Height: (\\d+)")).match(out).captured(1).toInt();
  info.viewable = out.contains(QStringLiteral("Map State: IsViewable"));
  return info;
}

bool DesktopDisplay::screenshot(const QString& windowId, const QString& pngPath) const {
  QProcess p;
  p.start(QStringLiteral("import"), {QStringLiteral("-display"), name_, QStringLiteral("-window"), windowId, pngPath});
  return p.waitForFinished(30000) && p.exitCode() == 0;
}

}  // namespace tavo::test
