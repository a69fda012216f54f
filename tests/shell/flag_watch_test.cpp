// The flag folder is watched: a request that lands there is polled without waiting for Timer1.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>

#include "base/clock.h"
#include "base/operator_messages.h"
#include "base/paths.h"
#include "base/station.h"
#include "app/station_app.h"
#include "tests/support/test_env.h"

namespace tavo::test {
namespace {

// Lets events run until `done` or the time limit (a limit, not a measurement).
template <class F>
bool runEventsUntil(F done, int limitMs = 5000) {
  QElapsedTimer t;
  t.start();
  while (!done() && t.elapsed() < limitMs) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  return done();
}

TEST(FlagWatch, ARequestIsPolledWhenItLandsOnlyWhileTimer1Runs) {
  TempProgramDir dir;
  FixedClock clock{QDateTime(QDate(2019, 7, 9), QTime(10, 0))};
  RecordingMessages messages;
  Station station{&clock, &messages};
  StationApp app(station, dir.path());
  int polls = 0;
  app.poll = [&] { ++polls; };
  const QString flagDir = hostPath(QStringLiteral("C:\\Face\\Monitor"));  // the default folder
  ASSERT_TRUE(QDir().mkpath(flagDir));
  app.start();
  ASSERT_EQ(hostPath(station.settings.flagDir), flagDir);
  // The first ticks start watching the folder; after that Timer1 is made too slow to matter.
  ASSERT_TRUE(runEventsUntil([&] { return polls >= 2; }));
  app.timer1().start(3600 * 1000);
  runEventsUntil([] { return false; }, 100);
  polls = 0;

  writeFile(flagDir + "/123.txt", "2200000169020\r\n");
  EXPECT_TRUE(runEventsUntil([&] { return polls > 0; }));

  // Many files at once (another machine's junk) are taken together, not one poll each.
  polls = 0;
  for (int i = 0; i < 200; ++i) writeFile(flagDir + QStringLiteral("/junk%1.tmp").arg(i), "x");
  runEventsUntil([] { return false; }, 300);
  EXPECT_GE(polls, 1);
  EXPECT_LT(polls, 50);

  // While a request is handled Timer1 is off: a change then starts no poll.
  app.timer1().stop();
  polls = 0;
  writeFile(flagDir + "/New.txt", "");
  runEventsUntil([] { return false; }, 300);
  EXPECT_EQ(polls, 0);
  app.shutdown();
}

// No inotify watch left: the poll alone finds requests. Each failed try is a warning of Qt's in
// the journal as well, so it is tried, and told, once an hour rather than every few seconds.
TEST(FlagWatch, AWatchThatCannotBeSetIsToldOnceThenAtMostHourly) {
  TempProgramDir dir;
  FixedClock clock{QDateTime(QDate(2019, 7, 9), QTime(10, 0))};
  RecordingMessages messages;
  Station station{&clock, &messages};
  StationApp app(station, dir.path());
  int polls = 0, tries = 0;
  app.poll = [&] { ++polls; };
  app.addFlagWatch = [&](const QString&) { return ++tries, false; };
  QStringList told;
  station.log.addWatcher([&](const QString& line) {
    if (line.contains("cannot be watched")) told << line;
  });
  ASSERT_TRUE(QDir().mkpath(hostPath(QStringLiteral("C:\\Face\\Monitor"))));
  app.start();
  // A minute of ticks, 6 s of the station's clock per tick (the watch's own retry is 5 s).
  for (int i = 0; i < 10; ++i) {
    ASSERT_TRUE(runEventsUntil([&, n = polls] { return polls > n; }));
    clock.advanceMs(6000);
  }
  EXPECT_EQ(tries, 1);
  EXPECT_EQ(told.size(), 1);
  EXPECT_TRUE(told.value(0).contains("C:\\Face\\Monitor")) << told.value(0).toStdString();
  clock.advanceMs(3600 * 1000);
  const int n = polls;
  ASSERT_TRUE(runEventsUntil([&] { return polls > n + 1; }));
  EXPECT_EQ(tries, 2);
  EXPECT_EQ(told.size(), 2);
  app.shutdown();
}

}  // namespace
}  // namespace tavo::test
