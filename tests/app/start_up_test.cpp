#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <QTimer>

#include "base/paths.h"
#include "app/start_up.h"
#include "base/station.h"
#include "app/station_app.h"
#include "tests/support/station_on_disk.h"
#include "tests/support/test_env.h"

using namespace tavo;
using tavo::test::StationOnDisk;
using tavo::test::TempProgramDir;
using tavo::test::writeFile;

namespace {

// Records what the start-up asked of the window.
struct RecordingWindow : WindowPort {
  QStringList calls;
  void setDateDoc(const QDate& d) override { calls << "date " + d.toString(Qt::ISODate); }
  void showWorkTab() override { calls << "work tab"; }
  void enterHiddenMode() override { calls << "hidden"; }
  void showAtDesignedSize() override { calls << "designed size"; }
  void setBusy(bool b) override { calls << (b ? "busy" : "idle"); }
};

struct StartUpFixture : ::testing::Test, StationOnDisk {
  StartUpFixture() : StationOnDisk(QDateTime(QDate(2026, 12, 9), QTime(10, 0))) {}
  RecordingWindow window;
  StartUpSteps steps;
  QStringList order;

  void SetUp() override {
    steps.readSettings = [this] {
      order << "settings";
      station.settings = Settings::read(dir.path(), QLocale::c());
    };
    steps.openWebCamera = [this] { order << "camera"; };
    steps.showWorkLogFrom = [this](const QDate& d) { order << "work log from " + d.toString(Qt::ISODate); };
    steps.importModels = [this] { order << "import"; };
    steps.reopenModelTable = [this] { order << "reopen"; };
    steps.buildTemplateBase = [this] { order << "base"; };
    steps.switchPollOn = [this] { order << "poll on"; };
  }
  QString drive(const QString& rel) const { return dir.drives() + "/c/" + rel; }
};

}  // namespace

TEST_F(StartUpFixture, DefaultSettingsWithoutCFaceStopAtTheFirstFolderError) {
  EXPECT_FALSE(runStartUp(station, window, steps));
  EXPECT_EQ(order, QStringList({"camera", "work log from 2026-12-09", "settings"}));
  EXPECT_TRUE(QDir(dir.path() + "Temp").exists());
  EXPECT_TRUE(QDir(dir.path() + "FTP").exists());
  EXPECT_FALSE(QDir(drive("Face/Monitor")).exists());
  ASSERT_EQ(messages.shown.size(), 1);
  EXPECT_TRUE(messages.shown[0].contains("C:\\Face\\Monitor"));
  EXPECT_TRUE(window.calls.contains("designed size"));  // shown, not hidden
  EXPECT_FALSE(window.calls.contains("hidden"));
  EXPECT_FALSE(station.startUpInProgress);
}

TEST_F(StartUpFixture, FoldersOneLevelEachThenHiddenImportBaseAndPoll) {
  QDir().mkpath(drive("Face"));
  QDir().mkpath(drive("Korvend"));
  writeFile(drive("Korvend/Tavolin+.exe"), "old");
  EXPECT_TRUE(runStartUp(station, window, steps));
  for (const char* f : {"Face/Monitor", "Face/Model", "Face/Model/TempModel", "Face/Work"})
    EXPECT_TRUE(QDir(drive(f)).exists()) << f;
  EXPECT_EQ(order, QStringList({"camera", "work log from 2026-12-09", "settings", "import", "reopen", "base", "poll on"}));
  EXPECT_EQ(window.calls, QStringList({"date 2026-12-09", "work tab", "hidden"}));
  EXPECT_FALSE(QFile::exists(drive("Korvend/Tavolin+.exe")));
  EXPECT_TRUE(messages.shown.isEmpty());
}

TEST_F(StartUpFixture, AnErrorInTheHiddenStepLeavesTheWindowHiddenAndSkipsTheRest) {
  QDir().mkpath(drive("Face"));
  QDir().mkpath(drive("Korvend"));
  writeFile(drive("Korvend/Tavolin+.exe"), "old");
  steps.buildTemplateBase = [] { throw std::runtime_error("base failed"); };
  EXPECT_FALSE(runStartUp(station, window, steps));
  EXPECT_FALSE(window.calls.contains("designed size"));
  EXPECT_FALSE(order.contains("poll on"));
  EXPECT_TRUE(QFile::exists(drive("Korvend/Tavolin+.exe")));  // step 8 skipped too
  EXPECT_EQ(messages.shown, QStringList({"base failed"}));
}

TEST_F(StartUpFixture, StepsNotBuiltYetSaySoInTheLog) {
  QDir().mkpath(drive("Face"));
  steps.importModels = nullptr;
  EXPECT_TRUE(runStartUp(station, window, steps));
  EXPECT_TRUE(station.log.contains("model import - not available"));
}

TEST_F(StartUpFixture, SiblingToolStartsOnlyWithoutItsConfig) {
  QDir().mkpath(drive("Korvend"));
  const QString marker = dir.file("qe-ran");
  writeFile(drive("Korvend/Qe.exe"), ("#!/bin/sh\ntouch '" + marker + "'\n").toUtf8());
  QFile(drive("Korvend/Qe.exe")).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

  writeFile(drive("Korvend/Qe.cfg"), "");
  EXPECT_FALSE(startSiblingTool());
  QThread::msleep(300);
  EXPECT_FALSE(QFile::exists(marker));

  QFile::remove(drive("Korvend/Qe.cfg"));
  EXPECT_TRUE(startSiblingTool());
  QElapsedTimer t;
  t.start();
  while (!QFile::exists(marker) && t.elapsed() < 5000) QThread::msleep(20);
  EXPECT_TRUE(QFile::exists(marker));

  QFile::remove(drive("Korvend/Qe.exe"));
  EXPECT_FALSE(startSiblingTool());  // missing: nothing reported, nothing started
}

TEST(StationTimers, PollEvery50msAndCropBoundsAfterOneSecondThenHourly) {
  TempProgramDir dir;
  QDir().mkpath(dir.drives() + "/c/Face");
  Station station;
  StationApp app(station, dir.path());
  int polls = 0, crops = 0;
  app.poll = [&] { ++polls; };
  app.cropBounds = [&] { ++crops; };
  EXPECT_EQ(app.timer1().interval(), 50);
  EXPECT_EQ(app.timer2().interval(), 1000);
  app.start();
  EXPECT_TRUE(app.startUpSucceeded());
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < 1300) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  EXPECT_EQ(crops, 1);
  EXPECT_EQ(app.timer2().interval(), 3600000);
  EXPECT_GE(polls, 10);
  app.shutdown();
  EXPECT_FALSE(app.timer1().isActive());
}

TEST(StationTimers, AQuitRequestedWhileTheStartUpRunsEndsTheMessageLoopAtOnce) {
  TempProgramDir dir;
  QDir().mkpath(dir.drives() + "/c/Face");
  Station station;
  StationApp app(station, dir.path());
  // SIGTERM arrives while the template base is built, which lets events run.
  app.steps.buildTemplateBase = [&app] {
    QTimer::singleShot(0, [&app] { app.requestQuit(); });
    QCoreApplication::processEvents();
  };
  app.start();
  QTimer watchdog;
  watchdog.setSingleShot(true);
  QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(7); });
  watchdog.start(3000);
  EXPECT_EQ(app.exec(), 0);
  app.shutdown();
}
