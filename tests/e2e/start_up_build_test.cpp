// The start-up build of the real headless station over many models with an empty template store:
// progress lines in the journal while it runs, and SIGTERM in the middle of it ends the station
// at once, keeping the templates worked out so far.
#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <csignal>

#include "protect/face_file.h"
#include "tests/e2e/station_process.h"
#include "tests/support/test_env.h"

namespace tavo::test {
namespace {

constexpr int kModels = 1000;  // enough that the build outlasts the first progress line (5 s)

// kModels active, exported models whose face files are the lfw10 photos, encrypted, in turn.
void addModels(StationProcess& station) {
  QStringList photos;
  QDirIterator it(testData(QStringLiteral("lfw10")), {QStringLiteral("*.jpg")}, QDir::Files, QDirIterator::Subdirectories);
  while (it.hasNext()) photos << it.next();
  photos.sort();
  ASSERT_FALSE(photos.isEmpty());
  for (int i = 1; i <= kModels; ++i)
    writeFile(station.drive(QStringLiteral("Face/Model/20190709-%1_face.bin").arg(i, 36, 10, QLatin1Char('0'))),
              keyStreamTransform(readFile(photos[(i - 1) % photos.size()]), kSystemKey));
  const StationProcess::SqlResult r = station.sql(
      QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < ") +
      QString::number(kModels) +
      QStringLiteral(") INSERT INTO Model (EAN, FileName, Active, dark, light, DateInsert) "
                     "SELECT printf('22%011d', i), printf('20190709-%036d', i), 1, 1, 1, '2019-07-09T10:00:00' FROM n"));
  ASSERT_EQ(r.exitCode, 0) << r.errors.toStdString();
}

int storedTemplates(const StationProcess& station) {
  const StationProcess::SqlResult r = station.sql(QStringLiteral("SELECT count(*) FROM FaceTemplate"));
  EXPECT_EQ(r.exitCode, 0) << r.errors.toStdString();
  return r.rows.size() == 2 ? r.rows[1].toInt() : -1;
}

TEST(StartUpBuild, ShowsProgressAndEndsOnSigtermKeepingWhatWasWorkedOut) {
  StationProcess station;
  addModels(station);
  ASSERT_TRUE(station.start());
  const QString ofAll = QStringLiteral(" of %1 models, ").arg(kModels);
  ASSERT_TRUE(station.waitForLog(ofAll, 120000)) << station.output().toStdString();
  const QRegularExpressionMatch line =
      QRegularExpression(QStringLiteral("LUX (\\d+) of %1 models, [0-9.]+ a second, .* left").arg(kModels))
          .match(station.output());
  ASSERT_TRUE(line.hasMatch()) << station.output().toStdString();
  const int doneAtLine = line.captured(1).toInt();

  EXPECT_EQ(station.stop(SIGTERM), 0) << station.output().toStdString();
  const QString out = station.output();
  EXPECT_TRUE(out.contains(QStringLiteral("  LUX stopped: the station is ending"))) << out.toStdString();
  EXPECT_FALSE(out.contains(QStringLiteral("end - LUX")));
  EXPECT_FALSE(QFile::exists(station.drive(QStringLiteral("Face/Monitor/ArrayOk.txt"))));
  const int stored = storedTemplates(station);
  EXPECT_GE(stored, doneAtLine);  // every template worked out before the signal is kept
  EXPECT_LT(stored, kModels);
}

}  // namespace
}  // namespace tavo::test
