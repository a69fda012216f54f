// The flag folder full or read-only while a check-in is answered: the real poll and check-in run
// over a small tmpfs mounted on the flag folder (root only; skipped otherwise).
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <cerrno>
#include <cstring>

#include "checkin/flag_poll.h"
#include "tests/checkin/checkin_fixture.h"

namespace tavo::test {
namespace {

const QString kEan = QStringLiteral("2200000169020");

class AnswerOutageTest : public CheckInFixture {
 protected:
  void SetUp() override {
    CheckInFixture::SetUp();
    if (HasFatalFailure()) return;
    flagHost = QFile::encodeName(hostPath(station.settings.flagDir));
    if (::mount("tavo-flag", flagHost.constData(), "tmpfs", 0, "size=128k") != 0)
      GTEST_SKIP() << "a tmpfs cannot be mounted on the flag folder (" << std::strerror(errno)
                   << "): run as root to try a full and a read-only flag folder";
    mounted = true;
    poll = std::make_unique<FlagPoll>(station, [](bool) {});
    poll->nowMs = [this] { return now; };
    poll->onCheckIn = [this] { run->FaceDetectionLuxandRTSP(true); };
    poll->checkInBusy = [this] { return run->running(); };
    station.log.addWatcher([this](const QString& line) { everLogged << line; });
  }
  void TearDown() override {
    poll.reset();
    if (mounted) ::umount2(flagHost.constData(), MNT_DETACH);
  }

  bool remount(bool readOnly) {
    const unsigned long flags = MS_REMOUNT | (readOnly ? MS_RDONLY : 0);
    return ::mount(nullptr, flagHost.constData(), nullptr, flags, "size=128k") == 0;
  }
  // Fills the folder's file system up to the last byte.
  void fill() {
    const int fd = ::open((flagHost + "/filler").constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    const QByteArray block(4096, 'x');
    while (::write(fd, block.constData(), block.size()) > 0) {
    }
    ::close(fd);
  }
  int runs() const { return everLogged.filter("start - FaceDetectionLuxandRTSP").size(); }
  int outagesTold() const { return everLogged.filter("was not written").size(); }
  QStringList flagFolder() const {
    return QDir(hostPath(station.settings.flagDir)).entryList(QDir::Files | QDir::Hidden, QDir::Name);
  }
  void request() { writeFile(flagFile("123.txt"), kEan.toLatin1() + "\r\n"); }

  QByteArray flagHost;
  bool mounted = false;
  std::unique_ptr<FlagPoll> poll;
  qint64 now = 0;
  QStringList everLogged;  // the run clears the operator log at its start
};

TEST_F(AnswerOutageTest, NoAnswerAppearsUntilTheFolderCanBeWrittenAgainAndThenTheRequestIsAnswered) {
  const qint64 model = addModel(kEan);
  for (int i = 0; i < 6; ++i) script.push_back({int(model), 90});

  // 1. Disk full.
  request();
  fill();
  poll->Timer1Timer();
  EXPECT_EQ(runs(), 1);
  EXPECT_EQ(flagFolder(), QStringList({"123.txt", "filler"}));  // no answer, not even an empty one
  EXPECT_FALSE(everLogged.filter("end - FaceDetectionLuxandRTSP").size());
  ASSERT_EQ(outagesTold(), 1) << everLogged.join('\n').toStdString();
  EXPECT_TRUE(everLogged.filter("was not written").value(0).contains("No space left on device"));
  ASSERT_EQ(messages.shown.filter("was not written").size(), 1);
  EXPECT_TRUE(messages.shown.filter("was not written").value(0).contains("No space left on device"));

  // The kept answer is tried again, at most every kAnswerRetryMs; the run is never repeated.
  for (int i = 0; i < 3; ++i) {
    now += kAnswerRetryMs - 1000;
    poll->Timer1Timer();
    now += 1000;
    poll->Timer1Timer();
  }
  EXPECT_EQ(runs(), 1);
  EXPECT_EQ(outagesTold(), 1);

  ASSERT_TRUE(QFile::remove(hostPath(joinPath(station.settings.flagDir, "filler"))));
  now += kAnswerRetryMs;
  poll->Timer1Timer();
  EXPECT_EQ(runs(), 1);
  const QByteArray answered = answer(kEan);
  Rows w = works();
  ASSERT_EQ(w.size(), 1);  // one request, one run, one set of rows
  EXPECT_EQ(answered, (kEan + "\r\n" + w.value(0, "FileName").toString() + "\r\n" + kEan + "\r\n").toLatin1());
  EXPECT_EQ(flagFolder(), QStringList{"out" + kEan + ".txt"});  // the request consumed
  EXPECT_EQ(everLogged.filter("Answers are written into the flag folder again").size(), 1);

  // 2. Read-only: the request can be neither answered nor deleted; the older answer stays whole.
  request();
  ASSERT_TRUE(remount(true));
  poll->Timer1Timer();
  EXPECT_EQ(runs(), 2);
  EXPECT_EQ(answer(kEan), answered);
  EXPECT_EQ(outagesTold(), 2);
  EXPECT_TRUE(everLogged.filter("was not written").value(1).contains("Read-only file system"));
  EXPECT_TRUE(everLogged.filter("Cannot delete request file").isEmpty());
  now += kAnswerRetryMs;
  poll->Timer1Timer();
  EXPECT_EQ(answer(kEan), answered);

  ASSERT_TRUE(remount(false));
  now += kAnswerRetryMs;
  poll->Timer1Timer();
  EXPECT_EQ(runs(), 2);
  w = works();
  ASSERT_EQ(w.size(), 2);
  EXPECT_EQ(answer(kEan), (kEan + "\r\n" + w.value(1, "FileName").toString() + "\r\n" + kEan + "\r\n").toLatin1());
  EXPECT_EQ(flagFolder(), QStringList{"out" + kEan + ".txt"});
  EXPECT_EQ(messages.shown.filter("was not written").size(), 2);
}

// A folder planted under the answer's name (no root needed): the answer composed at the request
// is kept and written once the name is free, and names the picture taken then, not a later one.
TEST_F(CheckInFixture, AnAnswerThatCannotBeWrittenIsKeptAndWrittenLaterWithoutASecondRun) {
  const qint64 model = addModel(kEan);
  for (int i = 0; i < 6; ++i) script.push_back({int(model), 90});
  FlagPoll poll(station, [](bool) {});
  qint64 now = 0;
  poll.nowMs = [&] { return now; };
  poll.onCheckIn = [this] { run->FaceDetectionLuxandRTSP(true); };
  const QString blocker = flagFile("out" + kEan + ".txt");
  ASSERT_TRUE(QDir().mkpath(blocker));
  writeFile(flagFile("123.txt"), kEan.toLatin1() + "\r\n");
  for (int i = 0; i < 5; ++i) {
    poll.Timer1Timer();
    now += kAnswerRetryMs;
  }
  ASSERT_TRUE(QFileInfo(blocker).isDir());
  EXPECT_TRUE(QFile::exists(flagFile("123.txt")));
  ASSERT_TRUE(QDir().rmdir(blocker));
  poll.Timer1Timer();
  const Rows w = works();
  ASSERT_EQ(w.size(), 1);
  EXPECT_EQ(results().size(), 1);
  EXPECT_EQ(answer(kEan), (kEan + "\r\n" + w.value(0, "FileName").toString() + "\r\n" + kEan + "\r\n").toLatin1());
  EXPECT_FALSE(QFile::exists(flagFile("123.txt")));
  EXPECT_EQ(messages.shown.filter("was not written").size(), 1);
}

}  // namespace
}  // namespace tavo::test
