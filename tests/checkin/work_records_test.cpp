#include <QDirIterator>
#include <QRegularExpression>

#include "base/file_modes.h"

#include "checkin/work_records.h"
#include "models/model_import.h"
#include "protect/face_file.h"
#include "tests/checkin/checkin_fixture.h"

namespace tavo::test {
namespace {

using WorkRecordsTest = CheckInFixture;

TEST_F(WorkRecordsTest, NamesAreDatedMakeTheirFoldersAndNeverRepeat) {
  const QString pathWork = station.settings.workDir + "\\";
  clock.set(QDateTime(QDate(2019, 5, 12), QTime(23, 59, 59, 999)));
  const QString a = CreateFileName(station, pathWork);
  const QString b = CreateFileName(station, pathWork);
  const QRegularExpression shape(R"(^2019\\05\\12\\20190512-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$)");
  EXPECT_TRUE(shape.match(a).hasMatch()) << a.toStdString();
  EXPECT_NE(a, b);
  EXPECT_TRUE(QDir(workFile("2019/05/12")).exists());

  clock.set(QDateTime(QDate(2019, 6, 1), QTime(0, 0)));
  EXPECT_TRUE(CreateFileName(station, pathWork).startsWith("2019\\06\\01\\20190601-"));
  EXPECT_TRUE(QDir(workFile("2019/06/01")).exists());
}

TEST_F(WorkRecordsTest, AFolderThatCannotBeMadeIsAnError) {
  // The work folder itself is not made: only the year, month and day below it.
  EXPECT_THROW(CreateFileName(station, "C:\\Missing\\Work\\"), std::runtime_error);
}

TEST_F(WorkRecordsTest, SaveImageEncryptsTheWorkingPictureAndRemovesTheTemporaryOnes) {
  const QByteArray jpeg = readFile(picture);
  writeFile(dir.file("Temp/model_full.jpg"), jpeg);
  writeFile(dir.file("Temp/model_face.jpg"), "face");
  writeFile(dir.file("Temp/model_f.jpg"), "marked");
  SaveImage(dir.path(), "C:\\Face\\Work\\", "p0", 0);
  EXPECT_EQ(keyStreamTransform(readFile(workFile("p0_face.bin")), kSystemKey), jpeg);
  EXPECT_FALSE(QFile::exists(dir.file("Temp/model_full.jpg")));
  EXPECT_FALSE(QFile::exists(dir.file("Temp/model_f.jpg")));
  EXPECT_TRUE(QFile::exists(dir.file("Temp/model_face.jpg")));  // mode 0 leaves the face picture

  writeFile(dir.file("Temp/model_full.jpg"), jpeg);
  SaveImage(dir.path(), "C:\\Face\\Work\\", "p1", 1);
  EXPECT_EQ(keyStreamTransform(readFile(workFile("p1_face.bin")), kSystemKey), "face");
  EXPECT_FALSE(QFile::exists(dir.file("Temp/model_face.jpg")));
  EXPECT_FALSE(QFile::exists(dir.file("Temp/model_full.jpg")));

  // Nothing to store: an error, no file.
  EXPECT_THROW(SaveImage(dir.path(), "C:\\Face\\Work\\", "p2", 0), std::runtime_error);
  EXPECT_FALSE(QFile::exists(workFile("p2_face.bin")));
}

TEST_F(WorkRecordsTest, WorkRowIsExcellentOnlyForAModelOfThePresentedBarcode) {
  const qint64 own = addModel("111"), other = addModel("222");
  InsertWorkRecord(*store, "n0", false, 0, 0, "111", "", 1, 2, 3, 4, 5, 6);
  InsertWorkRecord(*store, "n1", true, int(other), 90, "111", "", 0, 0, 0, 0, 0, 0);
  InsertWorkRecord(*store, "n2", true, int(own), 80.5, "111", "", 0, 0, 0, 0, 0, 0);
  const Rows w = works();
  ASSERT_EQ(w.size(), 3);
  EXPECT_FALSE(w.value(0, "excellent").toBool());
  EXPECT_FALSE(w.value(1, "excellent").toBool());
  EXPECT_TRUE(w.value(2, "excellent").toBool());
  EXPECT_EQ(w.value(0, "cLeft").toInt(), 1);
  EXPECT_EQ(w.value(0, "cRight").toInt(), 2);
  EXPECT_EQ(w.value(0, "datedoc").toString(), "2019-07-09");
  const Rows sizes = store->database().query("SELECT cTop, cBottom, height, width FROM Works WHERE FileName = 'n0'");
  EXPECT_EQ(sizes.rows.at(0), QVariantList({3, 4, 5, 6}));
}

// Work photos, model files and the pictures of "Temp" are personal data. After the start-up's
// restriction a check-in and an import leave nothing another user of the machine can read or
// write: no file, no folder, not even a working picture that was world-readable before.
TEST_F(WorkRecordsTest, NothingACheckInOrAnImportWritesIsOpenToOtherUsers) {
  const unsigned oldMask = restrictFileModes();
  struct Restore {
    unsigned m;
    ~Restore() { setFileModeMask(m); }
  } restore{oldMask};
  station.settings.modelDir = QStringLiteral("C:\\Face\\Model");
  ASSERT_TRUE(QDir().mkpath(hostPath(station.settings.modelDir)));
  const QString old1C = dir.file(QStringLiteral("Temp/model1C_face.jpg"));
  writeFile(old1C, "previous check-in");
  ASSERT_TRUE(QFile::setPermissions(old1C, QFile::permissions(old1C) | QFile::ReadOther | QFile::WriteOther));
  const QString import = hostPath(QLatin1String(kImportFolder));
  ASSERT_TRUE(QDir().mkpath(import));
  writeFile(import + QStringLiteral("/2200000169020_000001_id.jpg"), readFile(picture));

  const qint64 id = addModel(QStringLiteral("2200000169020"));
  script = {{int(id), 90}};
  checkIn(QStringLiteral("2200000169020"));
  ASSERT_EQ(LoadFromOffice(station, *store).imported, 1);

  const QFileDevice::Permissions others = QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
  QStringList open, seen;
  for (const QString& root : {dir.file(QStringLiteral("Temp")), hostPath(station.settings.workDir),
                              hostPath(station.settings.modelDir)}) {
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
      const QString path = it.next();
      seen << QFileInfo(path).fileName();
      if (QFile::permissions(path) & others) open << path;
    }
  }
  EXPECT_TRUE(open.isEmpty()) << open.join(QLatin1Char(' ')).toStdString();
  // What the road wrote: the 1C copies, the work photo with its dated folders, the model file.
  EXPECT_TRUE(seen.contains(QStringLiteral("model1C_face.jpg")));
  EXPECT_TRUE(seen.contains(QStringLiteral("model1C_face.bin")));
  EXPECT_TRUE(seen.contains(QStringLiteral("07")));
  EXPECT_EQ(seen.filter(QStringLiteral("_face.bin")).size(), 3);
  // The work photo was noted as this station's own while it had no row, and the note went with the row.
  EXPECT_TRUE(seen.contains(QStringLiteral("Unposted")));
  EXPECT_TRUE(QDir(dir.file(QStringLiteral("Temp/Unposted"))).entryList(QDir::Files).isEmpty());
}

}  // namespace
}  // namespace tavo::test
