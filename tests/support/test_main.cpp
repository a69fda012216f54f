// Runs the tests inside a Qt core application, so that timers and event processing work.
#include <QCoreApplication>
#include <gtest/gtest.h>

#include "base/picture_limits.h"

int main(int argc, char** argv) {
  // The pictures' second wall, as the station has it.
  tavo::enforceDecoderPixelLimit(argv);
  // No display and a quiet OpenCV, whoever runs the tests.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  if (qEnvironmentVariableIsEmpty("OPENCV_LOG_LEVEL")) qputenv("OPENCV_LOG_LEVEL", "ERROR");
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
