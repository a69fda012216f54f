// A desktop station with its tray icon, in this process on the test display with a real system
// tray: the station parts over a program directory whose two models come through the import
// folder, a video file as the web camera, the window opened and hidden from the icon's menu while
// requests in the flag folder are answered, and "Exit" ending the message loop. With
// TAVO_SCREENSHOTS set, the menu and the window opened from it are saved there.
#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTest>

#include "base/operator_messages.h"
#include "app/shell/station_parts.h"
#include "base/station.h"
#include "app/station_app.h"
#include "app/ui/main_window.h"
#include "app/ui/station_tray.h"
#include "data/database.h"
#include "data/schema.h"
#include "models/ui/create_model_form.h"
#include "protect/face_file.h"
#include "tests/support/test_env.h"

namespace tavo::test {
namespace {

class DesktopTray : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.linkNetworks());
    ASSERT_TRUE(dir.installCascades());
    createDatabaseFile(dir.file(QStringLiteral("FaceBase.mdb")), QLatin1String(kDatabasePassword));
    ASSERT_TRUE(QDir().mkpath(dir.drives() + QStringLiteral("/c/Face")));
    // The office's fetching tool leaves encrypted face files named by barcode in the import folder.
    const QString import = dir.drives() + QStringLiteral("/c/Korvend/Model/TempModel/");
    ASSERT_TRUE(QDir().mkpath(import));
    writeFile(import + QStringLiteral("2200000000011_1.jpg"),
              keyStreamTransform(readFile(testData(QStringLiteral("lfw10/Colin_Powell/Colin_Powell_0001.jpg"))), kSystemKey));
    writeFile(import + QStringLiteral("2200000000028_1.jpg"),
              keyStreamTransform(readFile(testData(QStringLiteral("lfw10/Tony_Blair/Tony_Blair_0001.jpg"))), kSystemKey));
    writeFile(dir.file(QStringLiteral("tavo.ini")),
              "[param]\r\nWebCam=" + testData(QStringLiteral("clips/subj01_timepoint01.mp4")).toLocal8Bit() + "\r\n");
    station.setMessages(&messages);
  }

  QString flag(const QString& name) const { return dir.drives() + QStringLiteral("/c/Face/Monitor/") + name; }

  // The office side: a check-in request, and its answer once the run has written it.
  QByteArray checkIn(const QString& ean) {
    const QString answer = flag(QStringLiteral("out") + ean + QStringLiteral(".txt"));
    QFile::remove(answer);
    writeFile(flag(QStringLiteral("123.part")), ean.toLatin1() + "\r\n");
    QFile::rename(flag(QStringLiteral("123.part")), flag(QStringLiteral("123.txt")));
    if (!QTest::qWaitFor([&] { return QFile::exists(answer) && !QFile::exists(flag(QStringLiteral("123.txt"))); }, 60000))
      return {};
    return readFile(answer);
  }

  TempProgramDir dir;
  RecordingMessages messages;
  Station station;
};

TEST_F(DesktopTray, MenuOpensAndHidesTheWindowWhileTheStationAnswers) {
  ASSERT_TRUE(QTest::qWaitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 10000))
      << "no system tray on the test display";
  StationApp app(station, dir.path());
  StationParts parts(app);
  TCreateModelForm editor(station);
  parts.attachModelEditor(editor);
  MainWindow window(app);
  app.setWindow(&window);
  StationTray tray(app, window);
  QStringList states;
  QObject::connect(tray.statusAction(), &QAction::changed, [&] {
    if (states.isEmpty() || states.last() != tray.statusAction()->text()) states << tray.statusAction()->text();
  });
  tray.showWhenAvailable(0);
  EXPECT_TRUE(tray.shown());

  app.start();
  ASSERT_TRUE(app.startUpSucceeded()) << messages.shown.join('\n').toStdString();
  EXPECT_FALSE(window.isVisible());  // hidden, as every station starts
  EXPECT_TRUE(states.contains(QStringLiteral("Building the base: 0 of 2"))) << states.join(" | ").toStdString();
  QTest::qWait(600);  // the next refresh of the status
  EXPECT_EQ(tray.statusAction()->text(), QStringLiteral("Ready: the base is built (2)"));
  EXPECT_TRUE(QFile::exists(flag(QStringLiteral("ArrayOk.txt"))));
  EXPECT_FALSE(tray.hideAction()->isEnabled());

  tray.openAction()->trigger();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  EXPECT_EQ(window.size(), QSize(MainWindow::kClientWidth, MainWindow::kClientHeight));
  EXPECT_EQ(window.tabs()->tabText(window.tabs()->currentIndex()), QStringLiteral("Работа"));
  EXPECT_TRUE(tray.hideAction()->isEnabled());
  EXPECT_FALSE(tray.openAction()->isEnabled());
  EXPECT_TRUE(checkIn(QStringLiteral("2200000000011")).startsWith("2200000000011\r\n"));
  if (const QString folder = qEnvironmentVariable("TAVO_SCREENSHOTS"); !folder.isEmpty()) {
    ASSERT_TRUE(QDir().mkpath(folder));
    QTest::qWait(300);
    EXPECT_TRUE(window.grab().save(QDir(folder).filePath(QStringLiteral("tray_work.png"))));
    tray.menu()->popup(QPoint(1100, 30));
    QTest::qWait(300);
    EXPECT_TRUE(tray.menu()->grab().save(QDir(folder).filePath(QStringLiteral("tray_menu.png"))));
    tray.menu()->hide();
  }

  // Closing the window only hides it: the station goes on answering.
  window.close();
  EXPECT_FALSE(window.isVisible());
  EXPECT_TRUE(checkIn(QStringLiteral("2200000000028")).startsWith("2200000000028\r\n"));

  tray.openAction()->trigger();
  EXPECT_TRUE(window.isVisible());
  tray.hideAction()->trigger();
  EXPECT_FALSE(window.isVisible());
  EXPECT_TRUE(checkIn(QStringLiteral("2200000000011")).startsWith("2200000000011\r\n"));
  EXPECT_TRUE(messages.shown.isEmpty()) << messages.shown.join('\n').toStdString();

  // "Exit" ends the message loop at once.
  tray.exitAction()->trigger();
  EXPECT_EQ(app.exec(), 0);
}

}  // namespace
}  // namespace tavo::test

namespace tavo::test {
namespace {

// Without a tray, closing the window ends the station, also when it is closed while the start-up
// still runs (before the message loop, where a plain quit is lost).
TEST_F(DesktopTray, ClosingTheWindowWithoutATrayEndsTheStation) {
  StationApp app(station, dir.path());
  MainWindow window(app);
  app.setWindow(&window);
  window.openForOperator();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  ASSERT_FALSE(station.log.lines().isEmpty());
  EXPECT_TRUE(station.log.lines().last().endsWith(QStringLiteral("window shown at 1142 x 603, tab \"Работа\"")));
  window.close();
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(app.exec(), 0);  // returns at once
}

}  // namespace
}  // namespace tavo::test
