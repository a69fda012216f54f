// The start-up steps as the station's parts wire them.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include "app/clock.h"
#include "app/operator_messages.h"
#include "app/paths.h"
#include "app/shell/station_parts.h"
#include "app/station.h"
#include "app/station_app.h"
#include "models/model_import.h"
#include "tests/support/test_env.h"

namespace tavo::test {
namespace {

TEST(StartUpParts, WithoutADatabaseTheImportStillRemovesTheFlagFileThenTheStartUpStops) {
  TempProgramDir dir;  // no "FaceBase.mdb"
  FixedClock clock{QDateTime(QDate(2019, 7, 9), QTime(10, 0))};
  RecordingMessages messages;
  Station station{&clock, &messages};
  ASSERT_TRUE(QDir().mkpath(dir.drives() + "/c/Face"));
  const QString flag = hostPath(QLatin1String(FileNameFlag_load_model_from_ftp));
  ASSERT_TRUE(QDir().mkpath(QFileInfo(flag).absolutePath()));
  writeFile(flag, "");
  {
    StationApp app(station, dir.path());
    StationParts parts(app);
    app.start();
    EXPECT_FALSE(app.startUpSucceeded());
    app.shutdown();
  }
  // The provider's error, then the start-up's own.
  ASSERT_EQ(messages.shown.size(), 2);
  EXPECT_TRUE(messages.shown[1].contains("База данных не открыта"));
  EXPECT_FALSE(QFile::exists(flag));
  EXPECT_FALSE(QFile::exists(dir.file("FaceBase.mdb")));
}

}  // namespace
}  // namespace tavo::test
