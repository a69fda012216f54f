// tavolin-face, the engine's measuring tool, on real photographs.
#include <gtest/gtest.h>

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include "tests/support/test_env.h"

namespace tavo::test {
namespace {

QString tool() { return buildDir() + QStringLiteral("/tools/tavolin-face"); }

// Runs `tavolin-face eval` over a labels file of the given lfw10 pictures; the output, and a
// failure when the tool did not end normally.
QString evalOutput(const QStringList& pictures, int* exitCode) {
  QTemporaryDir dir;
  QByteArray labels = "file,identity\n";
  for (const QString& p : pictures)
    labels += (testData(QStringLiteral("lfw10/") + p) + QLatin1Char(',') + p.section('/', 0, 0) + '\n').toUtf8();
  writeFile(dir.filePath(QStringLiteral("labels.csv")), labels);
  QProcess run;
  run.start(tool(), {QStringLiteral("--nets"), thirdPartyDir() + QStringLiteral("/face-models"), QStringLiteral("eval"),
                   dir.filePath(QStringLiteral("labels.csv"))});
  EXPECT_TRUE(run.waitForFinished(120000));
  EXPECT_EQ(run.exitStatus(), QProcess::NormalExit) << run.readAllStandardError().toStdString();
  *exitCode = run.exitCode();
  return QString::fromUtf8(run.readAllStandardOutput());
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

}  // namespace
}  // namespace tavo::test
