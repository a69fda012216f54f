// A writer killed in the middle of inserting work rows leaves every committed row readable.
#include <QFileInfo>
#include <QProcess>
#include <csignal>

#include "data_fixture.h"

namespace tavo::test {
namespace {

using DataCrashTest = DataFixture;

TEST_F(DataCrashTest, KilledWriterLeavesEveryCommittedRow) {
  const QString tool = buildDir() + QStringLiteral("/tools/tavolin-db");
  ASSERT_TRUE(QFileInfo(tool).isExecutable()) << tool.toStdString();
  store->close();

  QProcess writer;
  writer.start(tool, {QStringLiteral("insert-loop"), dbPath()});
  ASSERT_TRUE(writer.waitForStarted(5000));
  long committed = 0;
  QByteArray pending;
  while (committed < 60 && writer.waitForReadyRead(10000)) {
    pending += writer.readAllStandardOutput();
    while (pending.contains('\n')) {
      const QByteArray line = pending.left(pending.indexOf('\n'));
      pending.remove(0, line.size() + 1);
      if (line.startsWith("committed ")) committed = line.split(' ')[1].toLong();
    }
  }
  ASSERT_GE(committed, 60) << writer.readAllStandardError().toStdString();
  ::kill(pid_t(writer.processId()), SIGKILL);  // in the middle of the next insert
  writer.waitForFinished(5000);

  store->open();
  const long rows = store->database().scalar("SELECT count(*) FROM Works").toLongLong();
  EXPECT_GE(rows, committed);
  EXPECT_LE(rows, committed + 1);  // at most the row that was being committed
  EXPECT_EQ(store->database().scalar("PRAGMA integrity_check").toString(), "ok");
  EXPECT_EQ(store->tableWorks().recordCount(), rows);
  // Every row is whole.
  EXPECT_EQ(store->database().scalar("SELECT count(*) FROM Works WHERE FileName IS NULL OR datedoc IS NULL "
                                     "OR timedoc IS NULL OR SN <> '2200000169020'").toInt(), 0);
  EXPECT_EQ(store->database().scalar("SELECT max(id) - min(id) + 1 FROM Works").toLongLong(), rows);
}

}  // namespace
}  // namespace tavo::test
