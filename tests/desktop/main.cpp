// The desktop tests run on an X display of their own: Xvfb with a system tray (trayer) on it,
// both installed by scripts/setup.sh. The tests' own QApplication and the station programs they
// start use that display.
#include <QApplication>
#include <QProcess>
#include <QThread>
#include <cstdio>
#include <gtest/gtest.h>

#include "tests/desktop/desktop_display.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("OPENCV_LOG_LEVEL")) qputenv("OPENCV_LOG_LEVEL", "ERROR");
  ::testing::InitGoogleTest(&argc, argv);
  // Test discovery only lists the tests: no display is needed for that.
  for (int i = 1; i < argc; ++i)
    if (QByteArray(argv[i]).startsWith("--gtest_list_tests")) return RUN_ALL_TESTS();

  tavo::test::DesktopDisplay display;
  if (!display.start()) {
    std::fprintf(stderr, "desktop tests: %s\n", qPrintable(display.error()));
    return 1;
  }
  qputenv("DISPLAY", display.name().toLatin1());
  qunsetenv("WAYLAND_DISPLAY");
  qunsetenv("QT_QPA_PLATFORM");
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  return RUN_ALL_TESTS();
}
