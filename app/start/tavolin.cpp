// Process start of the station (Tavolin): options, headless or windowed, then the station runs
// until the window closes or SIGTERM/SIGINT arrives.
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <cstdio>
#include <memory>

#include "app/file_modes.h"
#include "app/station_app.h"
#include "app/shell/station_parts.h"
#include "app/unix_signals.h"
#include "app/station.h"
#include "app/ui/main_window.h"
#include "app/ui/message_boxes.h"
#include "models/ui/create_model_form.h"

namespace {

bool displayAvailable() {
  return qEnvironmentVariableIsSet("DISPLAY") || qEnvironmentVariableIsSet("WAYLAND_DISPLAY") ||
         qEnvironmentVariableIsSet("QT_QPA_PLATFORM");
}

bool wantsHeadless(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (QByteArray(argv[i]) == "--headless") return true;
  return !displayAvailable();
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
  parser.setApplicationDescription(QStringLiteral("Face check-in station"));
  parser.addHelpOption();
  parser.addOption({QStringLiteral("program-dir"), QStringLiteral("Program directory (default: the program's folder)."),
                    QStringLiteral("DIR")});
  parser.addOption({QStringLiteral("headless"), QStringLiteral("Run without any window.")});
  parser.process(*qapp);

  QString programDir = parser.isSet("program-dir") ? parser.value("program-dir") : defaultProgramDir(argv[0]);
  programDir = QDir(programDir).absolutePath();
  if (!QFileInfo(programDir).isDir()) {
    std::fprintf(stderr, "tavolin: program directory %s does not exist\n", qPrintable(programDir));
    return 2;
  }
  if (!programDir.endsWith('/')) programDir += '/';

  tavo::Station station;
  std::unique_ptr<tavo::MessageBoxes> boxes;
  if (headless) {
    // Nobody sees a window: the operator log goes to stdout as it is written.
    station.log.addWatcher([](const QString& line) {
      std::fprintf(stdout, "%s\n", line.toLocal8Bit().constData());
      std::fflush(stdout);
    });
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
