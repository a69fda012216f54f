// The GUI tests run inside a QApplication on the offscreen platform; the screenshot run
// (TAVO_SCREENSHOTS set) keeps the display it is given, such as Xvfb.
#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("TAVO_SCREENSHOTS") || qEnvironmentVariableIsEmpty("DISPLAY"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  if (qEnvironmentVariableIsEmpty("OPENCV_LOG_LEVEL")) qputenv("OPENCV_LOG_LEVEL", "ERROR");
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
