// The real station program with --window on an X display: its main window at the designed size
// on "Работа" while the office side (tavolin-office) enrols a person from a photo series and checks
// them in with the command the ready line names; a clean end on SIGTERM. With TAVO_SCREENSHOTS
// set, the running station's window is saved there as work_running.png.
#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
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

  // The office side as the README plays it: a photo series, the enrolment of its first picture,
  // then a check-in with the command of the ready line.
  const QRegularExpressionMatch ready =
      QRegularExpression(QStringLiteral("Ready: flag folder (\\S+); a check-in from the office side: (.+ BARCODE)"))
          .match(station.output());
  ASSERT_TRUE(ready.hasMatch()) << station.output().toStdString();
  const QString flag = ready.captured(1);
  EXPECT_EQ(QDir(flag).canonicalPath(), QDir(station.drive("Face/Monitor")).canonicalPath());
  const auto office = [](const QString& command) {
    QProcess p;
    p.start(QStringLiteral("bash"), {QStringLiteral("-c"), command + QStringLiteral(" --timeout 60")});
    p.waitForFinished(90000);
    EXPECT_EQ(p.exitCode(), 0) << command.toStdString() << ": " << p.readAllStandardError().toStdString();
    return QString::fromLocal8Bit(p.readAllStandardOutput());
  };
  const QString tool = buildDir() + QStringLiteral("/tools/tavolin-office");
  EXPECT_EQ(office(tool + " new " + flag), QStringLiteral("Face101_face.jpg\nFace102_face.jpg\nFace103_face.jpg\n"));
  EXPECT_TRUE(office(tool + " user " + flag + " 2200000169020 Face101").startsWith('\n'));  // enrolled
  QString command = ready.captured(2);
  command.replace(QStringLiteral("BARCODE"), QStringLiteral("2200000169020"));
  const QStringList answer = office(command).split('\n');
  ASSERT_GE(answer.size(), 3) << answer.join('|').toStdString();
  EXPECT_EQ(answer[0], QStringLiteral("2200000169020"));
  EXPECT_EQ(answer[2], QStringLiteral("2200000169020"));  // confirmed

  EXPECT_TRUE(display.window(QStringLiteral("Tavo - 2.6"), QStringLiteral("tavolin")).viewable);
  QTest::qWait(500);  // the work log shows the new entry
  if (const QString folder = qEnvironmentVariable("TAVO_SCREENSHOTS"); !folder.isEmpty()) {
    ASSERT_TRUE(QDir().mkpath(folder));
    EXPECT_TRUE(display.screenshot(w.id, QDir(folder).filePath(QStringLiteral("work_running.png"))));
  }
  EXPECT_EQ(station.stop(SIGTERM), 0) << station.output().toStdString();
}

}  // namespace
}  // namespace tavo::test
