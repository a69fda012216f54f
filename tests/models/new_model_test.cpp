// NewModel on a real encrypted database and real photographs: the row and its face file appear
// together or not at all.
#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <memory>

#include "base/clock.h"
#include "base/operator_messages.h"
#include "base/paths.h"
#include "base/station.h"
#include "data/data_store.h"
#include "data/schema.h"
#include "models/model_file_name.h"
#include "models/new_model.h"
#include "protect/face_file.h"
#include "tests/support/station_on_disk.h"
#include "tests/support/test_env.h"

namespace tavo::test {
namespace {

struct Enrolled {
  QString file;
  int id;
  QString fio;
};

class NewModelTest : public ::testing::Test, protected StationOnDisk {
 public:
  NewModelTest() : StationOnDisk(QDateTime(QDate(2019, 5, 12), QTime(14, 30, 5))) {}
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    createDatabaseFile(dir.file(kDatabaseFileName), QLatin1String(kDatabasePassword));
    station.settings.modelDir = QStringLiteral("C:\\Face\\Model");
    station.settings.flagDir = QStringLiteral("C:\\Face\\Monitor");
    ASSERT_TRUE(QDir().mkpath(hostPath(station.settings.modelDir)));
    ASSERT_TRUE(QDir().mkpath(hostPath(station.settings.flagDir)));
    store = std::make_unique<DataStore>(station);
    store->open();
    enroll = [this](const QString& f, int id, bool& check, const QString& fio) {
      enrolled.push_back({f, id, fio});
      check = true;
    };
  }

  // A real photograph as the series leaves it in the flag folder.
  QByteArray placePhoto(const QString& name, const QString& source = QStringLiteral("lfw10/Colin_Powell/Colin_Powell_0001.jpg")) {
    const QByteArray bytes = readFile(testData(source));
    writeFile(hostPath(joinPath(station.settings.flagDir, name)), bytes);
    return bytes;
  }

  QStringList modelFiles() const {
    return QDir(hostPath(station.settings.modelDir)).entryList(QDir::Files | QDir::Hidden, QDir::Name);
  }
  int modelRows() { return store->database().scalar(QStringLiteral("SELECT count(*) FROM Model")).toInt(); }

  std::unique_ptr<DataStore> store;
  std::vector<Enrolled> enrolled;
  EnrollPictureFn enroll;
};

TEST_F(NewModelTest, RowFaceFileAndTemplateTogether) {
  const QByteArray photo = placePhoto(QStringLiteral("Face102_face.jpg"));

  const qint64 id = NewModel(station, *store, enroll, QStringLiteral("2200000169020"),
                             QStringLiteral("Face102_face.jpg"), station.settings.flagDir);

  const Rows rows = store->database().query(QStringLiteral("SELECT * FROM Model"));
  ASSERT_EQ(rows.size(), 1);
  EXPECT_EQ(rows.value(0, "id").toLongLong(), id);
  const QString name = rows.value(0, "FileName").toString();
  EXPECT_TRUE(isModelFileName(name)) << name.toStdString();
  EXPECT_TRUE(name.startsWith(QLatin1String("20190512-")));
  EXPECT_EQ(rows.value(0, "EAN").toString(), QStringLiteral("2200000169020"));
  EXPECT_EQ(rows.value(0, "Active").toInt(), 1);
  EXPECT_EQ(rows.value(0, "DateInsert").toString(), QStringLiteral("2019-05-12T14:30:05"));
  // No other column is written on creation.
  for (const char* c : {"FullName", "FullPhoto", "IdEmployees", "DateLastSimilarity", "DateLastDetection"})
    EXPECT_TRUE(rows.value(0, c).isNull()) << c;

  // The uncropped photo, encrypted with the system key, under the new name.
  EXPECT_EQ(modelFiles(), QStringList{name + "_face.bin"});
  const QByteArray stored = readFile(hostPath(joinPath(station.settings.modelDir, name + "_face.bin")));
  EXPECT_EQ(keyStreamTransform(stored, kSystemKey), photo);

  // The open dataset shows it, and the template base got the plain photo with id and barcode.
  EXPECT_EQ(store->tableModel().state(), Dataset::State::Browse);
  ASSERT_TRUE(store->tableModel().locateId(id));
  ASSERT_EQ(enrolled.size(), 1u);
  EXPECT_EQ(enrolled[0].file, hostPath(joinPath(station.settings.flagDir, "Face102_face.jpg")));
  EXPECT_EQ(enrolled[0].id, id);
  EXPECT_EQ(enrolled[0].fio, QStringLiteral("2200000169020"));
}

TEST_F(NewModelTest, TwoModelsInTheSameSecondGetDifferentNames) {
  placePhoto(QStringLiteral("Face101_face.jpg"));
  NewModel(station, *store, enroll, "1", "Face101_face.jpg", station.settings.flagDir);
  NewModel(station, *store, enroll, "1", "Face101_face.jpg", station.settings.flagDir);
  const Rows rows = store->database().query(QStringLiteral("SELECT FileName FROM Model ORDER BY id"));
  ASSERT_EQ(rows.size(), 2);
  EXPECT_NE(rows.value(0, "FileName"), rows.value(1, "FileName"));
  EXPECT_EQ(modelFiles().size(), 2);
  EXPECT_NE(NewModelFileName(clock), NewModelFileName(clock));
}

TEST_F(NewModelTest, MissingPhotoOrModelFolderLeavesNeitherRowNorFile) {
  EXPECT_THROW(NewModel(station, *store, enroll, "1", "Face104_face.jpg", station.settings.flagDir),
               std::runtime_error);
  placePhoto(QStringLiteral("Face101_face.jpg"));
  station.settings.modelDir = QStringLiteral("C:\\Face\\NoSuchFolder");
  EXPECT_THROW(NewModel(station, *store, enroll, "1", "Face101_face.jpg", station.settings.flagDir),
               std::runtime_error);
  EXPECT_EQ(modelRows(), 0);
  EXPECT_TRUE(enrolled.empty());
  EXPECT_EQ(store->tableModel().state(), Dataset::State::Browse);
}

TEST_F(NewModelTest, RefusedRowTakesItsFaceFileAway) {
  placePhoto(QStringLiteral("Face101_face.jpg"));
  // A barcode too long for its column: the row is refused before it is written.
  EXPECT_THROW(NewModel(station, *store, enroll, "22000001690201234", "Face101_face.jpg", station.settings.flagDir),
               std::runtime_error);
  EXPECT_EQ(modelRows(), 0);
  EXPECT_TRUE(modelFiles().isEmpty());
  EXPECT_EQ(store->tableModel().state(), Dataset::State::Browse);

  // The database itself refuses the insert.
  store->database().exec(QStringLiteral(
      "CREATE TRIGGER refuse BEFORE INSERT ON Model BEGIN SELECT RAISE(ABORT, 'disk full'); END"));
  EXPECT_THROW(NewModel(station, *store, enroll, "1", "Face101_face.jpg", station.settings.flagDir),
               std::runtime_error);
  EXPECT_EQ(modelRows(), 0);
  EXPECT_TRUE(modelFiles().isEmpty());
  EXPECT_TRUE(enrolled.empty());
  EXPECT_EQ(store->tableModel().state(), Dataset::State::Browse);
}

TEST_F(NewModelTest, OperatorsUnsavedRowInTheEditorIsNotPosted) {
  placePhoto(QStringLiteral("Face101_face.jpg"));
  Dataset& table = store->tableModel();
  table.insert();
  table.setField(QStringLiteral("FullName"), QStringLiteral("Иванов"));

  const qint64 id = NewModel(station, *store, enroll, "2200000169020", "Face101_face.jpg", station.settings.flagDir);

  EXPECT_EQ(table.state(), Dataset::State::Insert);
  EXPECT_EQ(table.asString(QStringLiteral("FullName")), QStringLiteral("Иванов"));
  const Rows rows = store->database().query(QStringLiteral("SELECT id, EAN, FullName FROM Model"));
  ASSERT_EQ(rows.size(), 1);
  EXPECT_EQ(rows.value(0, "id").toLongLong(), id);
  EXPECT_TRUE(rows.value(0, "FullName").isNull());
  table.cancel();
  table.refresh();
  EXPECT_TRUE(table.locateId(id));
}

TEST(ModelFileName, FormOfTheName) {
  const QString name = NewModelFileName(QDate(2019, 1, 2));
  EXPECT_EQ(name.size(), kModelFileNameLength);
  EXPECT_TRUE(name.startsWith(QLatin1String("20190102-")));
  EXPECT_EQ(name, name.toUpper());
  EXPECT_FALSE(name.contains('{'));
  EXPECT_TRUE(isModelFileName(name));
  EXPECT_FALSE(isModelFileName(name.toLower()));
  EXPECT_FALSE(isModelFileName(name.left(44)));
}

}  // namespace
}  // namespace tavo::test
