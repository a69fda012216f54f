// Process start of the station (Tavolin): options, headless or with windows (hidden, the window
// open, or a tray icon), then the station runs until the window closes, the tray's "Exit", or
// SIGTERM/SIGINT.
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <sys/stat.h>

#include <cstdio>
#include <memory>

#include "base/file_modes.h"
#include "base/picture_limits.h"
#include "app/start/ready_line.h"
#include "app/station_app.h"
#include "app/shell/station_parts.h"
#include "app/unix_signals.h"
#include "base/station.h"
#include "app/ui/main_window.h"
#include "app/ui/message_boxes.h"
#include "app/ui/station_tray.h"
#include "models/ui/create_model_form.h"

namespace {

bool displayAvailable() {
  return qEnvironmentVariableIsSet("DISPLAY") || qEnvironmentVariableIsSet("WAYLAND_DISPLAY") ||
         qEnvironmentVariableIsSet("QT_QPA_PLATFORM");
}

const char kUsage[] =
    "usage: tavolin [--program-dir DIR] [--headless | --window | --tray [--window]]\n"
    "       tavolin --help | --version\n"
    "Face check-in station. With a display it runs hidden: no window is shown.\n"
    "  --program-dir DIR  program directory (default: the program's folder)\n"
    "  --headless         run without any window (chosen by itself without a display)\n"
    "  --window           show the main window; closing it ends the station\n"
    "  --tray             run hidden with a tray icon whose menu opens the window; closing\n"
    "                     the window hides it, the menu's \"Exit\" ends the station\n"
    "  -h, --help         this text\n"
    "  -v, --version      the program's version\n";

// Help and version need no window, and must work where no display can be reached.
bool wantsHeadless(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const QByteArray a(argv[i]);
    if (a == "--headless" || a == "--help" || a == "-h" || a == "--version" || a == "-v") return true;
  }
  return !displayAvailable();
}

int usageError(const QString& text) {
  std::fprintf(stderr, "tavolin: %s\n%s", qPrintable(text), kUsage);
  return 2;
}

// True when stderr goes where stdout goes (one terminal, one pipe, the journal's stream).
bool stderrIsStdout() {
  struct stat out {}, err {};
  return fstat(1, &out) == 0 && fstat(2, &err) == 0 && out.st_dev == err.st_dev && out.st_ino == err.st_ino;
}

// The program's folder as it was started (a link in a program directory stays that folder).
QString defaultProgramDir(const char* argv0) {
  const QString started = QString::fromLocal8Bit(argv0);
  if (started.contains('/')) return QFileInfo(started).absolutePath();
  return QCoreApplication::applicationDirPath();
}

// Passes messages on and keeps the last one: the one that ended a start-up says why the station
// refuses.
class LastMessage : public tavo::OperatorMessages {
 public:
  void forwardTo(tavo::OperatorMessages* to) { to_ = to; }
  void show(const QString& text, const QString& caption) override {
    last = text;
    to_->show(text, caption);
  }
  bool confirm(const QString& text, const QString& caption) override { return to_->confirm(text, caption); }
  QString last;

 private:
  tavo::OperatorMessages* to_ = nullptr;
};

constexpr int kTrayWaitMs = 15000;  // a panel started in the same session may come later

}  // namespace

int main(int argc, char** argv) {
  tavo::enforceDecoderPixelLimit(argv);
  tavo::restrictFileModes();
  qputenv("OPENCV_LOG_LEVEL", qgetenv("OPENCV_LOG_LEVEL").isEmpty() ? "ERROR" : qgetenv("OPENCV_LOG_LEVEL"));
  const bool headless = wantsHeadless(argc, argv);
  std::unique_ptr<QCoreApplication> qapp;
  if (headless) qapp = std::make_unique<QCoreApplication>(argc, argv);
  else qapp = std::make_unique<QApplication>(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("Tavolin"));

  QCommandLineParser parser;
  const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QString());
  const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")}, QString());
  parser.addOption(help);
  parser.addOption(version);
  parser.addOption({QStringLiteral("program-dir"), QString(), QStringLiteral("DIR")});
  parser.addOption({QStringLiteral("headless"), QString()});
  parser.addOption({QStringLiteral("window"), QString()});
  parser.addOption({QStringLiteral("tray"), QString()});
  if (!parser.parse(qapp->arguments())) return usageError(parser.errorText());
  if (!parser.positionalArguments().isEmpty())
    return usageError(QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first()));
  if (parser.isSet(help)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (parser.isSet(version)) {
    std::printf("tavolin %s\n", TAVO_VERSION);
    return 0;
  }

  const bool windowOpen = parser.isSet("window");
  const bool tray = parser.isSet("tray");
  if (parser.isSet("headless") && (windowOpen || tray))
    return usageError(QStringLiteral("--headless runs without any window: not with --%1").arg(windowOpen ? "window" : "tray"));
  if (headless && (windowOpen || tray))
    return usageError(QStringLiteral("--%1 needs a display (DISPLAY or WAYLAND_DISPLAY)").arg(windowOpen ? "window" : "tray"));

  QString programDir = parser.isSet("program-dir") ? parser.value("program-dir") : defaultProgramDir(argv[0]);
  programDir = QDir(programDir).absolutePath();
  if (!QFileInfo(programDir).isDir()) {
    std::fprintf(stderr, "tavolin: program directory %s does not exist\n", qPrintable(programDir));
    return 2;
  }
  if (!programDir.endsWith('/')) programDir += '/';

  tavo::Station station;
  std::unique_ptr<tavo::MessageBoxes> boxes;
  tavo::LogMessages headlessMessages(station.log, !stderrIsStdout());
  // The operator log goes to stdout as it is written, one line each (a service's journal takes a
  // line break as a new entry; a desktop session keeps it in its own log).
  station.log.addWatcher([](const QString& line) {
    QString oneLine = line;
    oneLine.replace(QLatin1String("\r\n"), QLatin1String(" ")).replace('\n', ' ').replace('\r', ' ');
    std::fprintf(stdout, "%s\n", oneLine.toLocal8Bit().constData());
    std::fflush(stdout);
  });
  // Headless nobody sees a window: a message is a log line already, so its stderr copy is left
  // out where stderr is the same stream.
  if (!headless) boxes = std::make_unique<tavo::MessageBoxes>();
  LastMessage messages;
  messages.forwardTo(boxes ? static_cast<tavo::OperatorMessages*>(boxes.get()) : &headlessMessages);
  station.setMessages(&messages);

  tavo::StationApp app(station, programDir);
  tavo::StationParts parts(app);
  std::unique_ptr<tavo::TCreateModelForm> editor;
  std::unique_ptr<tavo::MainWindow> window;
  if (!headless) {
    editor = std::make_unique<tavo::TCreateModelForm>(station);
    parts.attachModelEditor(*editor);
    window = std::make_unique<tavo::MainWindow>(app);
    app.setWindow(window.get());
    // A message box closed while the main window is hidden must not end the station.
    QApplication::setQuitOnLastWindowClosed(false);
  }
  std::unique_ptr<tavo::StationTray> trayIcon;
  if (tray) {
    trayIcon = std::make_unique<tavo::StationTray>(app, *window);
    trayIcon->showWhenAvailable(kTrayWaitMs);
  }
  if (windowOpen) {
    // The same station, its window open from the start: the hidden-mode step leaves it shown.
    window->keepShown(true);
    window->openForOperator();
  }

  tavo::UnixSignals unixSignals;
  QObject::connect(&unixSignals, &tavo::UnixSignals::quitRequested, qapp.get(), [&app] { app.requestQuit(); });

  app.start();
  if (app.startUpSucceeded()) station.showLog(tavo::readyLine(station));
  else if (trayIcon) {
    trayIcon->setRefusal(messages.last.isEmpty() ? QStringLiteral("the start-up ended early") : messages.last);
  }
  const int code = app.exec();
  app.shutdown();
  trayIcon.reset();
  window.reset();
  editor.reset();
  return code;
}
