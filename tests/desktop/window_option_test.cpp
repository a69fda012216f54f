// The real station program with --window on an X display: its main window at the designed size
// on "Работа", the ready line's command answered meanwhile, a clean end on SIGTERM. With
// TAVO_SCREENSHOTS set, the running station's window is saved there as work_running.png.
#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <csignal>

#include "tests/desktop/desktop_display.h"
#include "tests/e2e/station_process.h"
#include "tests/support/test_env.h"

namespace tavo::test {
namespace {

TEST(WindowOption, ShowsTheMainWindowWhileTheStationAnswersAndEndsCleanly) {
  DesktopDisplay& display = DesktopDisplay::current();
  {
    QProcess both;
    both.start(buildDir() + "/app/ui/tavolin", {"--headless", "--window"});
    ASSERT_TRUE(both.waitForFinished(30000));
    EXPECT_EQ(both.exitCode(), 2);
    EXPECT_TRUE(both.readAllStandardError().contains("--window"));
  }

  StationProcess station;
  station.writeIni("tavo.ini", "[param]\r\nWebCam=" + testData("clips/subj01_timepoint01.mp4").toLocal8Bit() + "\r\n");
  ASSERT_TRUE(station.startOnDisplay(display.name(), {"--window"}));
  ASSERT_TRUE(station.waitForLog("Ready: flag folder ", 120000)) << station.output().toStdString();

  const DesktopDisplay::WindowInfo w = display.window(QStringLiteral("Tavo - 2.6"), QStringLiteral("tavolin"));
  ASSERT_TRUE(w.found) << station.output().toStdString();
  EXPECT_TRUE(w.viewable);
  EXPECT_EQ(w.width, 1142);
  EXPECT_EQ(w.height, 603);
  EXPECT_TRUE(station.output().contains(QStringLiteral("window shown at 1142 x 603, tab \"Работа\"")))
      << station.output().toStdString();

  // The ready line names the flag folder and a command a newcomer can paste: it gets an answer.
  const QRegularExpressionMatch ready =
      QRegularExpression(QStringLiteral("Ready: flag folder (\\S+); a check-in from the office side: (.+ BARCODE)"))
          .match(station.output());
  ASSERT_TRUE(ready.hasMatch()) << station.output().toStdString();
  EXPECT_EQ(QDir(ready.captured(1)).canonicalPath(), QDir(station.drive("Face/Monitor")).canonicalPath());
  QString command = ready.captured(2);
  command.replace(QStringLiteral("BARCODE"), QStringLiteral("2200000169020"));
  QProcess office;
  office.start(QStringLiteral("bash"), {QStringLiteral("-c"), command + QStringLiteral(" --timeout 60")});
  ASSERT_TRUE(office.waitForFinished(90000));
  EXPECT_EQ(office.exitCode(), 0) << office.readAllStandardError().toStdString();
  const QString answer = QString::fromLocal8Bit(office.readAllStandardOutput());
  EXPECT_TRUE(answer.startsWith(QStringLiteral("2200000169020"))) << answer.toStdString();
  EXPECT_TRUE(answer.contains(QStringLiteral("not found"))) << answer.toStdString();  // no models yet

  EXPECT_TRUE(display.window(QStringLiteral("Tavo - 2.6"), QStringLiteral("tavolin")).viewable);
  if (const QString folder = qEnvironmentVariable("TAVO_SCREENSHOTS"); !folder.isEmpty()) {
    ASSERT_TRUE(QDir().mkpath(folder));
    EXPECT_TRUE(display.screenshot(w.id, QDir(folder).filePath(QStringLiteral("work_running.png"))));
  }
  EXPECT_EQ(station.stop(SIGTERM), 0) << station.output().toStdString();
}

}  // namespace
}  // namespace tavo::test
