#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "base/ansi_text.h"
#include "base/clock.h"
#include "base/operator_log.h"
#include "base/paths.h"
#include "base/result_buffer.h"
#include "tests/support/test_env.h"

using namespace tavo;
using tavo::test::readFile;
using tavo::test::TempProgramDir;

TEST(OperatorLog, LineIsTimeWithMillisecondsThenTheMessage) {
  FixedClock clock(QDateTime(QDate(2026, 12, 9), QTime(9, 5, 3, 42)));
  OperatorLog log(&clock);
  log.show("Form1.GetNewPhoto - begin");
  log.show("  start - LUX");
  ASSERT_EQ(log.lines().size(), 2);
  EXPECT_EQ(log.lines()[0], "09:05:03:042 Form1.GetNewPhoto - begin");
  EXPECT_EQ(log.lines()[1], "09:05:03:042   start - LUX");  // the message's own spaces stay
  clock.set(QDateTime(QDate(2026, 12, 9), QTime(23, 59, 59, 999)));
  log.show("x");
  EXPECT_EQ(log.lines()[2], "23:59:59:999 x");
  log.clear();
  EXPECT_TRUE(log.lines().isEmpty());
}

TEST(ResultBuffer, BytesAreCodePage1251WithCrLfAndNoBom) {
  TempProgramDir dir;
  ResultBuffer out;
  out.add("2200000169020");
  out.add("ошибка");
  out.add("");
  const QString path = dir.file("out.txt");
  ASSERT_TRUE(out.saveTo(path));
  EXPECT_EQ(readFile(path), QByteArray("2200000169020\r\n\xEE\xF8\xE8\xE1\xEA\xE0\r\n\r\n"));

  out.clear();
  ASSERT_TRUE(out.saveTo(path));  // replaces the file; an empty buffer gives 0 bytes
  EXPECT_EQ(readFile(path).size(), 0);
  // Nothing but the target is left in the folder: no temporary files.
  EXPECT_EQ(QDir(dir.path()).entryList({"out*"}, QDir::Files).size(), 1);
}

TEST(ResultBuffer, SaveIntoAMissingFolderFailsAndLeavesNothing) {
  TempProgramDir dir;
  ResultBuffer out;
  out.add("x");
  QString error;
  EXPECT_FALSE(out.saveTo(dir.file("missing/out.txt"), &error));
  EXPECT_FALSE(error.isEmpty());
  EXPECT_THROW(out.saveOrThrow(dir.file("missing/out.txt")), std::runtime_error);
}

// The flag folder is shared: a link planted under an answer's name must not make the station
// write through it into whatever it points to.
TEST(ResultBuffer, ALinkUnderTheTargetNameIsReplacedNeverWrittenThrough) {
  TempProgramDir dir;
  const QString secret = dir.file("secret");
  tavo::test::writeFile(secret, "keep");
  ASSERT_TRUE(QFile::link(secret, dir.file("out.txt")));
  ResultBuffer out;
  out.add("2200000169020");
  ASSERT_TRUE(out.saveTo(dir.file("out.txt")));
  EXPECT_EQ(readFile(secret), "keep");
  EXPECT_FALSE(QFileInfo(dir.file("out.txt")).isSymLink());
  EXPECT_EQ(readFile(dir.file("out.txt")), "2200000169020\r\n");
}

TEST(RequestLines, ByteOrderMarksAndLineEnds) {
  EXPECT_EQ(readRequestLines("2200000169020\r\nFace102\r\n\xC4\xE0\r\n"),
            QStringList({"2200000169020", "Face102", "Да"}));
  EXPECT_EQ(readRequestLines("\xEF\xBB\xBF" "abc\nd\xD0\xB0"), QStringList({"abc", "dа"}));
  EXPECT_EQ(readRequestLines(QByteArray("\xFF\xFE" "1\0\r\0\n\0" "2\0", 10)), QStringList({"1", "2"}));
  EXPECT_EQ(readRequestLines(" 123 \r\r\n"), QStringList({" 123 ", ""}));  // untrimmed; CR alone ends a line
  EXPECT_TRUE(readRequestLines("").isEmpty());
  EXPECT_EQ(readRequestLines("\r\n"), QStringList({""}));  // an empty first line
  EXPECT_TRUE(fitsAnsi("ошибка"));
  EXPECT_FALSE(fitsAnsi("漢"));
  // Found by fuzz/request_file_fuzz.cpp: a UTF-16 request cut after the first half of a surrogate
  // pair gives a line whose last character has no code-page 1251 form, and toAnsi drops it.
  const QStringList cut = readRequestLines(QByteArray("\xFE\xFF\0" "1\xD8\x52", 6));
  ASSERT_EQ(cut.size(), 1);
  EXPECT_FALSE(fitsAnsi(cut[0]));
  EXPECT_EQ(toAnsi(cut[0]), "1");
}

TEST(Paths, DriveLettersMapUnderTheDrivesRoot) {
  TempProgramDir dir;  // points $TAVO_DRIVES inside itself
  EXPECT_EQ(hostPath("C:\\Face\\Monitor"), dir.drives() + "/c/Face/Monitor");
  EXPECT_EQ(hostPath("c:\\"), dir.drives() + "/c");
  EXPECT_EQ(hostPath("/srv/x\\2019\\05\\12\\name_face.bin"), "/srv/x/2019/05/12/name_face.bin");
  EXPECT_EQ(joinPath("C:\\Face\\Work", "a"), "C:\\Face\\Work\\a");
}
