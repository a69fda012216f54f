#include <QRegularExpression>

#include "checkin/work_records.h"
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

}  // namespace
}  // namespace tavo::test
