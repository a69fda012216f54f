#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QThread>

#include "app/ansi_text.h"
#include "app/clock.h"
#include "app/operator_messages.h"
#include "app/paths.h"
#include "app/station.h"
#include "checkin/flag_poll.h"
#include "tests/support/test_env.h"

namespace tavo::test {
namespace {

// Messages that also note whether Timer1 was on when each was shown.
struct TimedMessages : RecordingMessages {
  explicit TimedMessages(const bool* on) : timerOn(on) {}
  void show(const QString& text, const QString& caption = QString()) override {
    RecordingMessages::show(text, caption);
    timerOnWhenShown << *timerOn;
  }
  const bool* timerOn;
  QList<bool> timerOnWhenShown;
};

// A flag directory on drive C: and a poll whose work is recorded: every hand-over and every
// switch of Timer1 goes into `events` in order.
class PollTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    station.settings.programPath = dir.path();
    station.settings.flagDir = QStringLiteral("C:\\Face\\Monitor");
    QDir().mkpath(flag(""));
    poll.onCheckIn = [this] { events << "checkin:" + station.settings.ean; };
    poll.onNewPhoto = [this] { events << "series"; };
    poll.onUserRequest = [this](const QStringList& lines) { events << "user:" + lines.join('|'); };
  }

  QString flag(const QString& name) const { return hostPath(joinPath(station.settings.flagDir, name)); }
  void put(const QString& name, const QByteArray& bytes) { writeFile(flag(name), bytes); }
  // Two polls: the first sees a file, the second handles it when it has not changed.
  void pollTwice() {
    poll.Timer1Timer();
    poll.Timer1Timer();
  }

  TempProgramDir dir;
  FixedClock clock{QDateTime(QDate(2019, 7, 9), QTime(10, 0))};
  bool timerOn = true;
  TimedMessages messages{&timerOn};
  Station station{&clock, &messages};
  QStringList events;
  FlagPoll poll{station, [this](bool on) {
                  timerOn = on;
                  events << (on ? "timer on" : "timer off");
                }};
};

TEST_F(PollTest, CheckInRequestRunsOnceWithTheBarcodeAndIsConsumed) {
  put("123.txt", "2200000169020\r\n");
  poll.Timer1Timer();
  EXPECT_TRUE(events.isEmpty());  // seen once: it may still be being written
  poll.Timer1Timer();
  EXPECT_EQ(events, QStringList({"timer off", "checkin:2200000169020", "timer on"}));
  EXPECT_FALSE(QFile::exists(flag("123.txt")));
  EXPECT_EQ(station.settings.ean, "2200000169020");
  poll.Timer1Timer();
  EXPECT_EQ(events.size(), 3);
}

TEST_F(PollTest, LinesAreUsedUntrimmedAnEmptyLineRunsAnEmptyFileDoesNot) {
  put("123.txt", " 2200000169020 \n");
  pollTwice();
  EXPECT_EQ(events.filter("checkin:"), QStringList{"checkin: 2200000169020 "});
  events.clear();
  put("123.txt", "\r\nsecond");
  pollTwice();
  EXPECT_EQ(events.filter("checkin:"), QStringList{"checkin:"});
  events.clear();
  put("123.txt", "");
  pollTwice();
  EXPECT_EQ(events, QStringList({"timer off", "timer on"}));
  EXPECT_FALSE(QFile::exists(flag("123.txt")));
}

TEST_F(PollTest, AllThreeRequestsAreHandledInOrderInOnePoll) {
  put("user.txt", toAnsi("2200000169020\r\nFace102\r\nДа\r\n"));
  put("New.txt", "anything");
  put("123.txt", "2200000169020");
  pollTwice();
  EXPECT_EQ(events, QStringList({"timer off", "checkin:2200000169020", "timer on", "timer off", "series",
                                 "timer on", "timer off", "user:2200000169020|Face102|Да", "timer on"}));
  for (const char* name : {"123.txt", "New.txt", "user.txt"}) EXPECT_FALSE(QFile::exists(flag(name))) << name;
}

TEST_F(PollTest, CheckInErrorsAreSwallowedSeriesErrorsShownAfterTimer1IsOn) {
  poll.onCheckIn = [this] {
    events << "checkin";
    throw std::runtime_error("camera gone");
  };
  poll.onNewPhoto = [this] {
    events << "series";
    throw std::runtime_error("no picture");
  };
  put("123.txt", "1");
  put("New.txt", "");
  pollTwice();
  EXPECT_EQ(messages.shown, QStringList{"no picture"});
  EXPECT_EQ(messages.timerOnWhenShown, QList<bool>{true});
  EXPECT_EQ(events.last(), "timer on");
  EXPECT_FALSE(QFile::exists(flag("123.txt")));
  EXPECT_FALSE(QFile::exists(flag("New.txt")));
}

TEST_F(PollTest, EnrolmentCleansTheSeriesPicturesUpAlsoWhenItFails) {
  poll.onUserRequest = [](const QStringList&) { throw std::runtime_error("too few lines"); };
  for (const char* name : {"Face101_face.jpg", "Face103_face.jpg", "Face105_face.jpg", "Photo1.jpg"})
    put(name, "x");
  put("Face106_face.jpg", "x");
  put("user.txt", "1\r\n");
  pollTwice();
  EXPECT_EQ(messages.shown, QStringList{"too few lines"});
  const QStringList left = QDir(flag("")).entryList(QDir::Files);
  EXPECT_EQ(left, QStringList{"Face106_face.jpg"});
}

TEST_F(PollTest, AFileStillGrowingIsHandledOnlyOnceItStaysUnchanged) {
  put("123.txt", "22000");
  poll.Timer1Timer();
  put("123.txt", "2200000169020");  // the writer goes on
  poll.Timer1Timer();
  EXPECT_TRUE(events.isEmpty());
  poll.Timer1Timer();
  EXPECT_EQ(events.filter("checkin:"), QStringList{"checkin:2200000169020"});
}

TEST_F(PollTest, AnUndeletableRequestIsHandledOnceAndAgainOnlyWhenRewritten) {
  poll.deleteRequest = [](const QString&) { return false; };
  put("123.txt", "1");
  pollTwice();
  poll.Timer1Timer();
  poll.Timer1Timer();
  EXPECT_EQ(events.filter("checkin:").size(), 1);
  EXPECT_EQ(station.log.lines().filter("Cannot delete request file").size(), 1);
  QThread::msleep(5);
  put("123.txt", "2");  // a new request under the same name
  pollTwice();
  EXPECT_EQ(events.filter("checkin:"), QStringList({"checkin:1", "checkin:2"}));
}

TEST_F(PollTest, ARequestWrittenDuringTheRunIsKeptAndHandledNext) {
  poll.onCheckIn = [this] {
    events << "checkin:" + station.settings.ean;
    if (station.settings.ean == "1") {
      QThread::msleep(5);
      put("123.txt", "2");  // the office system's next request replaces the file
    }
  };
  put("123.txt", "1");
  pollTwice();
  EXPECT_TRUE(QFile::exists(flag("123.txt")));
  pollTwice();
  EXPECT_EQ(events.filter("checkin:"), QStringList({"checkin:1", "checkin:2"}));
  EXPECT_FALSE(QFile::exists(flag("123.txt")));
}

TEST_F(PollTest, UnsafeBarcodesAreRefusedWithoutRunAndTheRequestIsDeleted) {
  const QString tooLong(65, QLatin1Char('1'));
  for (const QString& bad : {QStringLiteral("../../x"), QStringLiteral("a/b"), QStringLiteral("a\\b"),
                             QStringLiteral("12\t3"), tooLong}) {
    messages.shown.clear();
    put("123.txt", toAnsi(bad));
    pollTwice();
    EXPECT_FALSE(QFile::exists(flag("123.txt"))) << bad.toStdString();
    EXPECT_EQ(messages.shown.size(), 1) << bad.toStdString();
    EXPECT_TRUE(messages.shown.value(0).startsWith("Check-in request refused")) << bad.toStdString();
  }
  // The box waits for the operator: polling must go on meanwhile.
  EXPECT_EQ(messages.timerOnWhenShown, QList<bool>(5, true));
  EXPECT_TRUE(events.filter("checkin:").isEmpty());
  put("123.txt", QByteArray(64, '1'));
  pollTwice();
  EXPECT_EQ(events.filter("checkin:").size(), 1);
}

TEST_F(PollTest, RequestsWaitForTheStartUpAndForARunningCheckIn) {
  station.startUpInProgress = true;
  put("123.txt", "1");
  for (int i = 0; i < 4; ++i) poll.Timer1Timer();
  EXPECT_TRUE(events.isEmpty());
  EXPECT_EQ(station.log.lines().filter("waits until the start-up has ended").size(), 1);
  station.startUpInProgress = false;

  bool busy = true;
  poll.checkInBusy = [&] { return busy; };
  poll.Timer1Timer();
  EXPECT_TRUE(events.isEmpty());
  busy = false;
  poll.Timer1Timer();
  EXPECT_EQ(events.filter("checkin:"), QStringList{"checkin:1"});
}

TEST_F(PollTest, AMissingFlagDirectoryFindsNothing) {
  station.settings.flagDir = QStringLiteral("C:\\Nowhere");
  pollTwice();
  EXPECT_TRUE(events.isEmpty());
  EXPECT_TRUE(messages.shown.isEmpty());
}

}  // namespace
}  // namespace tavo::test
