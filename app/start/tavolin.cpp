// Process start of the station (Tavolin): options, headless or windowed, then the station runs
// until the window closes or SIGTERM/SIGINT arrives.
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <sys/stat.h>

#include <cstdio>
#include <memory>

#include "base/file_modes.h"
#include "app/station_app.h"
#include "app/shell/station_parts.h"
#include "app/unix_signals.h"
#include "base/station.h"
#include "app/ui/main_window.h"
#include "app/ui/message_boxes.h"
#include "models/ui/create_model_form.h"

namespace {

bool displayAvailable() {
  return qEnvironmentVariableIsSet("DISPLAY") || qEnvironmentVariableIsSet("WAYLAND_DISPLAY") ||
         qEnvironmentVariableIsSet("QT_QPA_PLATFORM");
}

const char kUsage[] =
    "usage: tavolin [--program-dir DIR] [--headless]\n"
    "       tavolin --help | --version\n"
    "Face check-in station.\n"
    "  --program-dir DIR  program directory (default: the program's folder)\n"
    "  --headless         run without any window (chosen by itself without a display)\n"
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

}  // namespace

int main(int argc, char** argv) {
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
  if (headless) {
    // Nobody sees a window: the operator log goes to stdout as it is written, one line each (a
    // service's journal takes a line break as a new entry). A message is a log line already, so
    // its stderr copy is left out where stderr is the same stream.
    station.log.addWatcher([](const QString& line) {
      QString oneLine = line;
      oneLine.replace(QLatin1String("\r\n"), QLatin1String(" ")).replace('\n', ' ').replace('\r', ' ');
      std::fprintf(stdout, "%s\n", oneLine.toLocal8Bit().constData());
      std::fflush(stdout);
    });
    station.setMessages(&headlessMessages);
  } else {
    boxes = std::make_unique<tavo::MessageBoxes>();
    station.setMessages(boxes.get());
  }

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

  tavo::UnixSignals unixSignals;
  QObject::connect(&unixSignals, &tavo::UnixSignals::quitRequested, qapp.get(), [&app] { app.requestQuit(); });

  app.start();
  const int code = app.exec();
  app.shutdown();
  window.reset();
  editor.reset();
  return code;
}
