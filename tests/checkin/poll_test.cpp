#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "base/ansi_text.h"
#include "base/clock.h"
#include "base/operator_messages.h"
#include "base/paths.h"
#include "base/station.h"
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
    poll.nowMs = [this] { return now; };
  }

  QString flag(const QString& name) const { return hostPath(joinPath(station.settings.flagDir, name)); }
  void put(const QString& name, const QByteArray& bytes) { writeFile(flag(name), bytes); }
  // Polls until every request present has had the time to settle (requests are taken in turn).
  void pollSettled() {
    for (int i = 0; i < 4; ++i) {
      poll.Timer1Timer();
      now += kRequestSettleMs;
    }
  }
  // Polls every 50 ms for ms milliseconds of the poll's clock.
  void pollFor(qint64 ms) {
    for (qint64 t = 0; t < ms; t += 50) {
      poll.Timer1Timer();
      now += 50;
    }
  }

  TempProgramDir dir;
  FixedClock clock{QDateTime(QDate(2019, 7, 9), QTime(10, 0))};
  bool timerOn = true;
  TimedMessages messages{&timerOn};
  Station station{&clock, &messages};
  QStringList events;
  qint64 now = 0;
  FlagPoll poll{station, [this](bool on) {
                  timerOn = on;
                  events << (on ? "timer on" : "timer off");
                }};
};

TEST_F(PollTest, CheckInRequestRunsOnceWithTheBarcodeAndIsConsumed) {
  put("123.txt", "2200000169020\r\n");
  poll.Timer1Timer();  // complete with its line break: taken at once
  EXPECT_EQ(events, QStringList({"timer off", "checkin:2200000169020", "timer on"}));
  EXPECT_FALSE(QFile::exists(flag("123.txt")));
  EXPECT_EQ(station.settings.ean, "2200000169020");
  poll.Timer1Timer();
  EXPECT_EQ(events.size(), 3);
}

TEST_F(PollTest, LinesAreUsedUntrimmedAnEmptyLineRunsAnEmptyFileDoesNot) {
  put("123.txt", " 2200000169020 \n");
  pollSettled();
  EXPECT_EQ(events.filter("checkin:"), QStringList{"checkin: 2200000169020 "});
  events.clear();
  put("123.txt", "\r\nsecond");
  pollSettled();
  EXPECT_EQ(events.filter("checkin:"), QStringList{"checkin:"});
  events.clear();
  put("123.txt", "");
  pollSettled();
  EXPECT_EQ(events, QStringList({"timer off", "timer on"}));
  EXPECT_FALSE(QFile::exists(flag("123.txt")));
}

TEST_F(PollTest, AllThreeRequestsAreHandledInOrderInOnePoll) {
  put("user.txt", toAnsi("2200000169020\r\nFace102\r\nДа\r\n"));
  put("New.txt", "anything\r\n");
  put("123.txt", "2200000169020\r\n");
  poll.Timer1Timer();
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
  pollSettled();
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
  pollSettled();
  EXPECT_EQ(messages.shown, QStringList{"too few lines"});
  const QStringList left = QDir(flag("")).entryList(QDir::Files);
  EXPECT_EQ(left, QStringList{"Face106_face.jpg"});
}

// The office system may write slowly: a character every 0.3 s, or with a pause of more than a
// second. A request is taken when its line is complete, or once it has stayed unchanged long
// enough; meanwhile the later requests of the fixed order wait for it.
TEST_F(PollTest, ASlowlyWrittenRequestIsServedWholeAndKeepsItsTurn) {
  auto append = [&](const QByteArray& bytes) {
    QFile f(flag("123.txt"));
    ASSERT_TRUE(f.open(QIODevice::Append));
    f.write(bytes);
  };
  put("New.txt", "\r\n");  // complete, but after "123.txt" in the order
  put("123.txt", "");
  for (const char c : QByteArray("22000001690\r\n")) {  // no EAN-13: whole with its line break
    append(QByteArray(1, c));
    pollFor(300);
  }
  EXPECT_EQ(events.filter(QRegularExpression("checkin|series")), QStringList({"checkin:22000001690", "series"}));

  events.clear();
  put("123.txt", "22000");
  pollFor(1200);  // a pause of 1.2 s in the middle of the barcode
  EXPECT_TRUE(events.isEmpty());
  append("00169020\r\n");
  poll.Timer1Timer();
  EXPECT_EQ(events.filter("checkin:"), QStringList{"checkin:2200000169020"});

  // Without a final line break: taken once unchanged for the settling time, not before; a whole
  // EAN-13 (its check digit right) and "New.txt" (its content unused) at once.
  events.clear();
  put("123.txt", "2200000169021");
  pollFor(kRequestSettleMs - 100);
  EXPECT_TRUE(events.isEmpty());
  pollFor(200);
  EXPECT_EQ(events.filter("checkin:"), QStringList{"checkin:2200000169021"});
  events.clear();
  put("123.txt", "220000016902");
  poll.Timer1Timer();
  EXPECT_TRUE(events.isEmpty());
  append("0");
  put("New.txt", "");
  poll.Timer1Timer();
  EXPECT_EQ(events.filter(QRegularExpression("checkin|series")), QStringList({"checkin:2200000169020", "series"}));

  // "user.txt" is complete with its three lines only.
  events.clear();
  put("user.txt", "2200000169020\r\n");
  pollFor(1000);
  EXPECT_TRUE(events.isEmpty());
  QFile f(flag("user.txt"));
  ASSERT_TRUE(f.open(QIODevice::Append));
  f.write("Face101\r\n\r\n");
  f.close();
  poll.Timer1Timer();
  EXPECT_EQ(events.filter("user:"), QStringList{"user:2200000169020|Face101|"});
}

TEST_F(PollTest, AnUndeletableRequestIsHandledOnceAndAgainOnlyWhenRewritten) {
  poll.deleteRequest = [](const QString&) { return false; };
  put("123.txt", "1");
  pollSettled();
  poll.Timer1Timer();
  poll.Timer1Timer();
  EXPECT_EQ(events.filter("checkin:").size(), 1);
  EXPECT_EQ(station.log.lines().filter("Cannot delete request file").size(), 1);
  QThread::msleep(5);
  put("123.txt", "2");  // a new request under the same name
  pollSettled();
  EXPECT_EQ(events.filter("checkin:"), QStringList({"checkin:1", "checkin:2"}));
}

TEST_F(PollTest, ARequestWrittenDuringTheRunIsKeptAndHandledNext) {
  poll.onCheckIn = [this] {
    events << "checkin:" + station.settings.ean;
    if (station.settings.ean == "1") {
      QThread::msleep(5);
      put("123.txt", "2\r\n");  // the office system's next request replaces the file
    }
  };
  put("123.txt", "1\r\n");
  poll.Timer1Timer();
  EXPECT_TRUE(QFile::exists(flag("123.txt")));
  poll.Timer1Timer();
  EXPECT_EQ(events.filter("checkin:"), QStringList({"checkin:1", "checkin:2"}));
  EXPECT_FALSE(QFile::exists(flag("123.txt")));
}

TEST_F(PollTest, UnsafeBarcodesAreRefusedWithoutRunAndTheRequestIsDeleted) {
  const QString tooLong(65, QLatin1Char('1'));
  // The last one, sent in UTF-8, has no code-page 1251 form: its answer's name and first line
  // could not both be the barcode.
  for (const QString& bad : {QStringLiteral("../../x"), QStringLiteral("a/b"), QStringLiteral("a\\b"),
                             QStringLiteral("12\t3"), tooLong, QStringLiteral("220000016902\u4E2D")}) {
    messages.shown.clear();
    put("123.txt", fitsAnsi(bad) ? toAnsi(bad) : "\xEF\xBB\xBF" + bad.toUtf8() + "\r\n");
    pollSettled();
    EXPECT_FALSE(QFile::exists(flag("123.txt"))) << bad.toStdString();
    EXPECT_EQ(messages.shown.size(), 1) << bad.toStdString();
    EXPECT_TRUE(messages.shown.value(0).startsWith("Check-in request refused")) << bad.toStdString();
  }
  // The box waits for the operator: polling must go on meanwhile.
  EXPECT_EQ(messages.timerOnWhenShown, QList<bool>(6, true));
  EXPECT_TRUE(messages.shown.value(0).contains("outside code page 1251")) << messages.shown.value(0).toStdString();
  EXPECT_TRUE(events.filter("checkin:").isEmpty());
  put("123.txt", QByteArray(64, '1'));
  pollSettled();
  EXPECT_EQ(events.filter("checkin:").size(), 1);
}

TEST_F(PollTest, RequestsWaitForTheStartUpAndForARunningCheckIn) {
  station.startUpInProgress = true;
  put("123.txt", "1\r\n");
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
  pollSettled();
  EXPECT_TRUE(events.isEmpty());
  EXPECT_TRUE(messages.shown.isEmpty());
}

// The flag folder is shared: a request name may be a link to a file the station can read and the
// other machine cannot (ln -s /etc/shadow 123.txt). It is deleted unread, never followed.
TEST_F(PollTest, LinksAreDeletedUnreadAndLoggedOnce) {
  const QString secret = dir.file("secret.txt");  // outside the flag folder
  writeFile(secret, "2200000169020\r\nFace101\r\nДа\r\n");
  for (const char* name : {"123.txt", "New.txt", "user.txt"})
    ASSERT_TRUE(QFile::link(secret, flag(name))) << name;
  pollSettled();
  EXPECT_TRUE(events.isEmpty()) << events.join(", ").toStdString();
  for (const char* name : {"123.txt", "New.txt", "user.txt"})
    EXPECT_FALSE(QFileInfo(flag(name)).isSymLink()) << name;
  EXPECT_EQ(readFile(secret), "2200000169020\r\nFace101\r\nДа\r\n");
  EXPECT_EQ(station.log.lines().filter("is a symbolic link: deleted unread").size(), 3);

  // A link that cannot be deleted (and a dangling one) is still never read, and logged once.
  poll.deleteRequest = [](const QString&) { return false; };
  ASSERT_TRUE(QFile::link(dir.file("nothing-here"), flag("123.txt")));
  for (int i = 0; i < 5; ++i) pollSettled();
  EXPECT_TRUE(events.isEmpty());
  EXPECT_EQ(station.log.lines().filter("is a symbolic link: not read, and it cannot be deleted").size(), 1);
  QFile::remove(flag("123.txt"));

  // A folder under a request name is no request; it does not hold up the later names.
  QDir().mkpath(flag("New.txt"));
  put("user.txt", "2200000169020\r\nFace102\r\n\r\n");
  // The enrolment reads the series pictures by name: links among them are gone before it starts,
  // the picture named by line 2 included.
  put("Face101_face.jpg", "a real picture");
  ASSERT_TRUE(QFile::link(secret, flag("Face102_face.jpg")));
  ASSERT_TRUE(QFile::link(secret, flag("Face103_face.jpg")));
  QStringList presentAtHandOver;
  poll.deleteRequest = [](const QString& path) { return QFile::remove(hostPath(path)); };
  poll.onUserRequest = [&](const QStringList& lines) {
    events << "user:" + lines.join('|');
    presentAtHandOver = QDir(flag("")).entryList({"Face*"}, QDir::Files | QDir::System);
  };
  for (int i = 0; i < 3; ++i) pollSettled();
  EXPECT_EQ(events, QStringList({"timer off", "user:2200000169020|Face102|", "timer on"}));
  EXPECT_EQ(presentAtHandOver, QStringList{"Face101_face.jpg"});
  EXPECT_EQ(station.log.lines().filter(QRegularExpression("Picture .* is a symbolic link: deleted unread")).size(), 2);
  EXPECT_EQ(station.log.lines().filter("is not a regular file").size(), 1);
  EXPECT_EQ(readFile(secret), "2200000169020\r\nFace101\r\nДа\r\n");
}

// Root reads any file: while alive, this thread's permission overrides are off, so that a
// mode-000 file is as unreadable to the test as it is to an ordinary user.
class NoPermissionOverride {
 public:
  NoPermissionOverride() {
    header_.version = _LINUX_CAPABILITY_VERSION_3;
    header_.pid = 0;
    if (syscall(SYS_capget, &header_, saved_) != 0) return;
    __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
    reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
    active_ = syscall(SYS_capset, &header_, reduced) == 0;
  }
  ~NoPermissionOverride() {
    if (active_) syscall(SYS_capset, &header_, saved_);
  }

 private:
  __user_cap_header_struct header_{};
  __user_cap_data_struct saved_[2]{};
  bool active_ = false;
};

TEST_F(PollTest, AnUnreadableRequestIsLoggedOnceAndDeleted) {
  put("123.txt", "2200000169020\r\n");
  ASSERT_TRUE(QFile::setPermissions(flag("123.txt"), QFileDevice::Permissions()));
  NoPermissionOverride asAnOrdinaryUser;
  if (QFile(flag("123.txt")).open(QIODevice::ReadOnly)) GTEST_SKIP() << "a mode-000 file stays readable here";

  poll.deleteRequest = [](const QString&) { return false; };  // held open by its writer, say
  for (int i = 0; i < 5; ++i) pollSettled();
  EXPECT_TRUE(events.filter("checkin:").isEmpty());
  const QStringList logged = station.log.lines().filter("cannot be read");
  ASSERT_EQ(logged.size(), 1) << station.log.lines().join('\n').toStdString();
  EXPECT_TRUE(logged[0].contains("Permission denied")) << logged[0].toStdString();

  poll.deleteRequest = [](const QString& path) { return QFile::remove(hostPath(path)); };
  ASSERT_TRUE(QFile::remove(flag("123.txt")));
  pollSettled();
  put("123.txt", "4600000000017\r\n");  // a new request, unreadable again
  ASSERT_TRUE(QFile::setPermissions(flag("123.txt"), QFileDevice::Permissions()));
  pollSettled();
  EXPECT_FALSE(QFile::exists(flag("123.txt")));
  EXPECT_EQ(station.log.lines().filter("cannot be read").size(), 2);
  EXPECT_TRUE(events.filter("checkin:").isEmpty());
}

}  // namespace
}  // namespace tavo::test
