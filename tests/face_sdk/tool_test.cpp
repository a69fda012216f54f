// tavolin-face, the engine's measuring tool, on real photographs.
#include <gtest/gtest.h>

#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "tests/support/test_env.h"

namespace tavo::test {
namespace {

QString tool() { return buildDir() + QStringLiteral("/tools/tavolin-face"); }

// Runs `tavolin-face eval` over a labels file of the given lfw10 pictures (the folder is the
// identity), with `extraRows` appended as they are; the output, and a failure when the tool did not
// end normally.
QString evalOutput(const QStringList& pictures, int* exitCode, const QStringList& options = {},
                   const QByteArray& header = "file,identity", const QByteArray& extraRows = {}) {
  QTemporaryDir dir;
  QByteArray labels = header + '\n';
  for (const QString& p : pictures)
    labels += (testData(QStringLiteral("lfw10/") + p) + QLatin1Char(',') + p.section('/', 0, 0) +
               (header.count(',') > 1 ? QStringLiteral(",real") : QString()) + '\n').toUtf8();
  writeFile(dir.filePath(QStringLiteral("labels.csv")), labels + extraRows);
  QProcess run;
  run.start(tool(), QStringList{QStringLiteral("--nets"), thirdPartyDir() + QStringLiteral("/face-models"),
                                QStringLiteral("--cascades"), thirdPartyDir() + QStringLiteral("/cascades"),
                                QStringLiteral("eval"), dir.filePath(QStringLiteral("labels.csv"))} + options);
  EXPECT_TRUE(run.waitForFinished(120000));
  EXPECT_EQ(run.exitStatus(), QProcess::NormalExit) << run.readAllStandardError().toStdString();
  *exitCode = run.exitCode();
  return QString::fromUtf8(run.readAllStandardOutput());
}

TEST(FaceTool, WithoutArgumentsListsEveryCommand) {
  if (!QFileInfo::exists(tool())) GTEST_SKIP() << "tavolin-face is not built";
  QProcess run;
  run.start(tool(), QStringList{});
  ASSERT_TRUE(run.waitForFinished(30000));
  EXPECT_EQ(run.exitCode(), 2);
  const QString usage = QString::fromUtf8(run.readAllStandardError());
  for (const char* command : {"detect", "compare", "eval", "recall", "spoof"})
    EXPECT_TRUE(usage.contains(QStringLiteral("] %1 ").arg(QLatin1String(command)))) << command << "\n" << usage.toStdString();
}

TEST(FaceTool, EvalWithoutDifferentPeopleStillReports) {
  if (!QFileInfo::exists(tool())) GTEST_SKIP() << "tavolin-face is not built";
  int code = -1;
  const QString out = evalOutput({QStringLiteral("Tony_Blair/Tony_Blair_0001.jpg"),
                                  QStringLiteral("Tony_Blair/Tony_Blair_0002.jpg"),
                                  QStringLiteral("Tony_Blair/Tony_Blair_0003.jpg")},
                                 &code);
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(out.contains(QStringLiteral("pairs: same 3, different 0"))) << out.toStdString();
  EXPECT_TRUE(out.contains(QStringLiteral("| FAR target |"))) << out.toStdString();
}

TEST(FaceTool, IdentifyFollowsTheStationsRuleOnFullPicturesAndStationCuts) {
  if (!QFileInfo::exists(tool())) GTEST_SKIP() << "tavolin-face is not built";
  QStringList pictures;
  for (const char* who : {"Ariel_Sharon", "Colin_Powell", "Tony_Blair"})
    for (int i = 1; i <= 3; ++i)
      pictures << QStringLiteral("%1/%1_%2.jpg").arg(QLatin1String(who)).arg(i, 4, 10, QLatin1Char('0'));
  // A kind column: attack rows are no identities and stay out.
  const QByteArray attack = (testData(QStringLiteral("nuaa/print/0001/0001_00_00_01_0.jpg")) + ",0001,print\n").toUtf8();
  for (const QStringList& mode : {QStringList{}, QStringList{QStringLiteral("--station")}}) {
    int code = -1;
    const QString out = evalOutput(pictures, &code, QStringList{QStringLiteral("--identify"), QStringLiteral("1")} + mode,
                                   "file,identity,kind", attack);
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(out.contains(QStringLiteral("pictures 9, faces 9"))) << out.toStdString();
    EXPECT_EQ(out.contains(QStringLiteral("(station cut)")), !mode.isEmpty());
    EXPECT_TRUE(out.contains(QStringLiteral("3 models (first 1 of each identity), 6 probes"))) << out.toStdString();
    // Genuine probes confirmed, nobody accepted on another's barcode.
    EXPECT_TRUE(out.contains(QRegularExpression(QStringLiteral("genuine, own barcode \\(confirmed\\) \\| 6 \\| [0-9.]+ % \\([56]\\)"))))
        << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("barcode of his best other match | 6 | 0.00 % (0)"))) << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("barcode of his best match | 6 | 0.00 % (0)"))) << out.toStdString();
  }
}

}  // namespace
}  // namespace tavo::test
