#include "checkin/operator_actions.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTimer>
#include <memory>

#include "base/clock.h"
#include "base/operator_messages.h"
#include "base/paths.h"
#include "base/station.h"
#include "checkin/checkin_run.h"
#include "data/data_store.h"
#include "data/schema.h"
#include "face/face_base.h"
#include "face/picture/face_cropper.h"
#include "face/picture/frame_grab.h"
#include "models/model_records.h"
#include "protect/face_file.h"
#include "tests/models/model_fixture.h"
#include "tests/support/station_on_disk.h"
#include "tests/support/test_env.h"

namespace tavo::test {
namespace {

// A program directory with the networks and cascades, an encrypted database, the station's
// folders under the drives root, a template base, and work-log entries whose face pictures are
// lfw10 photos encrypted into the work folder.
class OperatorActionsTest : public ::testing::Test, protected StationOnDisk {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(dir.linkNetworks());
    ASSERT_TRUE(dir.installCascades());
    createDatabaseFile(dir.file(QStringLiteral("FaceBase.mdb")), QLatin1String(kDatabasePassword));
    station.settings.faceWidth = 80;
    station.settings.faceHeight = 80;
    for (const QString& d : {station.settings.modelDir, station.settings.flagDir, station.settings.workDir,
                             QString::fromLatin1(kExportFolder)})
      ASSERT_TRUE(QDir().mkpath(hostPath(d)));
    store = std::make_unique<DataStore>(station);
    store->open();
    base = std::make_unique<FaceBase>(station, *store);
  }

  static QString lfw(const QString& person, int n) {
    return testData(QStringLiteral("lfw10/%1/%1_%2.jpg").arg(person).arg(n, 4, 10, QLatin1Char('0')));
  }

  void addModel(const QString& ean, const QString& photo) {
    const QString fileName = QStringLiteral("20190101-model%1").arg(++serial_);
    EncryptImage(photo, joinPath(station.settings.modelDir, fileName), kSystemKey);
    store->exec(QStringLiteral("INSERT INTO Model (EAN, FileName, Active, DateInsert) VALUES (?, ?, 1, ?)"),
                {ean, fileName, QDateTime(QDate(2019, 1, 1), QTime(8, 0))});
  }

  // Models of two people; the base is built from them.
  void enrol() {
    for (int i = 1; i <= 3; ++i) addModel(QStringLiteral("2200000000011"), lfw(QStringLiteral("George_W_Bush"), i));
    for (int i = 1; i <= 2; ++i) addModel(QStringLiteral("2200000000028"), lfw(QStringLiteral("Tony_Blair"), i));
    store->tableModel().refresh();
    base->Button19Click();
    ASSERT_EQ(base->size(), 5u);
  }

  // A work entry with the photo encrypted as its face file (none when photo is empty); it
  // becomes the current row of the work log.
  qint64 addWork(const QString& sn, const QString& photo, const QString& tags = QString()) {
    const QString fileName = photo.isEmpty() ? QString() : QStringLiteral("2019\\07\\09\\20190709-work%1").arg(++serial_);
    if (!photo.isEmpty()) {
      const QString target = joinPath(station.settings.workDir, fileName);
      EXPECT_TRUE(QDir().mkpath(QFileInfo(hostPath(target)).absolutePath()));
      EncryptImage(photo, target, kSystemKey);
    }
    store->exec(QStringLiteral("INSERT INTO Works (datedoc, timedoc, SN, FileName, tags, idModel, is_face, "
                               "PercentDifference, excellent) VALUES (?, ?, ?, ?, ?, 99, 1, 55.5, 1)"),
                {clock.today(), QTime(9, 0, serial_ % 60), sn, fileName, tags});
    const qint64 id = store->database().lastInsertId();
    works().refresh();
    EXPECT_TRUE(works().locateId(id));
    return id;
  }

  struct Entry {
    int idModel;
    bool isFace;
    double percent;
    bool excellent;
  };
  Entry entry(qint64 id) {
    const Rows r = store->query(
        QStringLiteral("SELECT idModel, is_face, PercentDifference, excellent FROM Works WHERE id = ?"), {id});
    EXPECT_EQ(r.size(), 1);
    if (r.size() != 1) return {};
    return {r.rows[0][0].toInt(), r.rows[0][1].toBool(), r.rows[0][2].toDouble(), r.rows[0][3].toBool()};
  }
  int modelEan(int id) {
    return store->query(QStringLiteral("SELECT EAN FROM Model WHERE id = ?"), {id}).rows.at(0).at(0).toString() ==
           QStringLiteral("2200000000011");
  }
  QString workHost(const QString& suffix) const {
    return hostPath(joinPath(station.settings.workDir, works().asString(QStringLiteral("FileName"))) + suffix);
  }
  Dataset& works() const { return store->tableWorks(); }

  std::unique_ptr<DataStore> store;
  std::unique_ptr<FaceBase> base;
  int serial_ = 0;
};

TEST_F(OperatorActionsTest, RecheckWithAnEmptyBaseRefusesAndChangesNothing) {
  const qint64 id = addWork(QStringLiteral("2200000000011"), lfw(QStringLiteral("George_W_Bush"), 5));
  EXPECT_FALSE(Button20Click(station, *store, *base));
  EXPECT_EQ(messages.shown, QStringList{QStringLiteral("Please enroll faces first")});
  EXPECT_EQ(messages.captions, QStringList{QStringLiteral("Error")});
  const Entry e = entry(id);
  EXPECT_EQ(e.idModel, 99);
  EXPECT_DOUBLE_EQ(e.percent, 55.5);
  EXPECT_FALSE(QFile::exists(workHost(QStringLiteral("_face.jpg"))));
}

TEST_F(OperatorActionsTest, RecheckFindsTheModelOfTheEntrysOwnBarcode) {
  enrol();
  const qint64 id = addWork(QStringLiteral("2200000000011"), lfw(QStringLiteral("George_W_Bush"), 6));
  int notices = 0;
  works().onChange([&](Dataset::Change) { ++notices; });
  EXPECT_TRUE(Button20Click(station, *store, *base));
  const Entry e = entry(id);
  EXPECT_GT(e.idModel, 0);
  EXPECT_TRUE(modelEan(e.idModel));
  EXPECT_TRUE(e.isFace);
  EXPECT_TRUE(e.excellent);
  EXPECT_GT(e.percent, 0);
  EXPECT_NE(e.percent, 55.5);
  // The restored plain picture stays beside the encrypted one; the views hear of it once.
  EXPECT_TRUE(QFile::exists(workHost(QStringLiteral("_face.jpg"))));
  EXPECT_EQ(notices, 1);
  EXPECT_EQ(messages.shown.last(), QStringLiteral("Готово"));
  EXPECT_EQ(works().id(), id);
}

TEST_F(OperatorActionsTest, ACheckInHandledDuringTheComparisonKeepsItsOwnRow) {
  enrol();
  const qint64 id = addWork(QStringLiteral("2200000000011"), lfw(QStringLiteral("George_W_Bush"), 6));
  // The comparison lets events run; a check-in then posts a work row of its own, which becomes
  // the current row of the work log.
  qint64 nested = 0;
  QTimer::singleShot(0, [&] {
    WorkRecord w;
    w.fileName = QStringLiteral("2019\\07\\09\\20190709-nested");
    w.sn = QStringLiteral("2200000000028");
    w.idModel = 77;
    w.percent = 12.5;
    nested = store->insertWork(w);
  });
  EXPECT_TRUE(Button20Click(station, *store, *base));
  ASSERT_GT(nested, 0);
  const Entry n = entry(nested);
  EXPECT_EQ(n.idModel, 77);
  EXPECT_DOUBLE_EQ(n.percent, 12.5);
  const Entry e = entry(id);
  EXPECT_NE(e.idModel, 99);  // the rechecked entry got the result
  EXPECT_TRUE(e.excellent);
  EXPECT_EQ(works().id(), id);
}

TEST_F(OperatorActionsTest, RecheckOfAPictureMatchingNoTemplateIsAFailedMatchEvenWithAnEmptyBarcode) {
  enrol();
  const qint64 stranger = addWork(QStringLiteral("2200000000011"), testData(QStringLiteral("samples/017_0.jpg")));
  EXPECT_TRUE(Button20Click(station, *store, *base));
  Entry e = entry(stranger);
  EXPECT_EQ(e.idModel, 0);
  EXPECT_FALSE(e.isFace);
  EXPECT_EQ(e.percent, 0);
  EXPECT_FALSE(e.excellent);

  // No model and no barcode: the empty texts are no match.
  const qint64 noSn = addWork(QString(), testData(QStringLiteral("samples/017_0.jpg")));
  EXPECT_TRUE(Button20Click(station, *store, *base));
  e = entry(noSn);
  EXPECT_EQ(e.idModel, 0);
  EXPECT_FALSE(e.excellent);
}

TEST_F(OperatorActionsTest, RecheckOfAnEntryWithoutItsPictureFileFailsAndKeepsTheEntry) {
  enrol();
  const qint64 noFile = addWork(QStringLiteral("2200000000011"), QString(), QStringLiteral("no frame"));
  EXPECT_THROW(Button20Click(station, *store, *base), std::runtime_error);
  EXPECT_EQ(entry(noFile).idModel, 99);

  const qint64 gone = addWork(QStringLiteral("2200000000011"), lfw(QStringLiteral("George_W_Bush"), 7));
  ASSERT_TRUE(QFile::remove(workHost(QStringLiteral("_face.bin"))));
  EXPECT_THROW(Button20Click(station, *store, *base), std::runtime_error);
  EXPECT_EQ(entry(gone).idModel, 99);
  EXPECT_TRUE(works().notificationsEnabled());
  EXPECT_EQ(works().state(), Dataset::State::Browse);
}

TEST_F(OperatorActionsTest, RecheckOfAPictureThatIsNoJpegSavesAnEntryWithoutFace) {
  enrol();
  const qint64 id = addWork(QStringLiteral("2200000000011"), testData(QStringLiteral("samples/formats/corrupted.png")));
  // A plain copy left from an earlier look at the entry is not what its face file holds now.
  ASSERT_TRUE(QFile::copy(lfw(QStringLiteral("George_W_Bush"), 5), workHost(QStringLiteral("_face.jpg"))));
  EXPECT_TRUE(Button20Click(station, *store, *base));
  const Entry e = entry(id);
  EXPECT_EQ(e.idModel, 0);
  EXPECT_FALSE(e.isFace);
  EXPECT_EQ(e.percent, 0);
}

class AddToModelsTest : public OperatorActionsTest {
 protected:
  void SetUp() override {
    OperatorActionsTest::SetUp();
    cropper = std::make_unique<FaceCropper>(station);
    cropper->loadCascades();
    records = std::make_unique<ModelRecords>(station, *store, *cropper, editor);
  }
  int modelCount(const QString& ean) {
    return store->query(QStringLiteral("SELECT id FROM Model WHERE EAN = ?"), {ean}).size();
  }
  QString scratch() const { return dir.file(QStringLiteral("Temp/model_full.jpg")); }

  std::unique_ptr<FaceCropper> cropper;
  ScriptedEditor editor;
  std::unique_ptr<ModelRecords> records;
};

TEST_F(AddToModelsTest, TheEntrysDecryptedPictureBecomesAModelOfItsBarcode) {
  const QString photo = lfw(QStringLiteral("Colin_Powell"), 3);
  addWork(QStringLiteral("2200000000035"), photo);
  QByteArray scratchAtOpen;
  editor.script = [&](const ModelEditorSession& s, ScriptedEditor&) {
    scratchAtOpen = readFile(scratch());
    return ScriptedEditor::pressSave(s);
  };
  EXPECT_TRUE(Button18Click(station, *store, *records));
  EXPECT_EQ(editor.captions, QStringList{QStringLiteral("Новый")});
  // The picture is written as it was encrypted, byte for byte.
  EXPECT_EQ(scratchAtOpen, readFile(photo));
  EXPECT_EQ(modelCount(QStringLiteral("2200000000035")), 1);
}

TEST_F(AddToModelsTest, AnEntryWithoutAFacePictureIsRefusedBeforeTheEditorOpens) {
  editor.script = [](const ModelEditorSession& s, ScriptedEditor&) { return ScriptedEditor::pressSave(s); };
  addWork(QStringLiteral("2200000000035"), QString(), QStringLiteral("no frame"));
  EXPECT_FALSE(Button18Click(station, *store, *records));
  addWork(QStringLiteral("2200000000035"), testData(QStringLiteral("samples/formats/empty.png")));
  EXPECT_FALSE(Button18Click(station, *store, *records));
  EXPECT_EQ(messages.shown, QStringList(2, noFacePictureText()));
  EXPECT_TRUE(editor.captions.isEmpty());
  EXPECT_FALSE(QFile::exists(scratch()));
  EXPECT_EQ(modelCount(QStringLiteral("2200000000035")), 0);
}

TEST_F(AddToModelsTest, WithNoWorkEntryNothingHappensButAClearError) {
  EXPECT_THROW(Button18Click(station, *store, *records), std::runtime_error);
  EXPECT_TRUE(editor.captions.isEmpty());
}

// Stored names come from a database that other tools write: one that leads out of the work
// folder must not make the recheck write or delete "<name>_face.jpg" there, nor "Добавить в
// модели" read a file there. The entry stays as it was.
TEST_F(AddToModelsTest, StoredNamesLeadingOutOfTheWorkFolderTouchNoFile) {
  enrol();
  const QString victim = QFileInfo(hostPath(station.settings.workDir)).absolutePath() + QStringLiteral("/victim");
  EncryptImage(lfw(QStringLiteral("George_W_Bush"), 5), victim, kSystemKey);
  writeFile(victim + QStringLiteral("_face.jpg"), "keep");
  const QByteArray bin = readFile(victim + QStringLiteral("_face.bin"));
  for (const QString& name : {QStringLiteral("..\\victim"), QStringLiteral("2019\\..\\..\\victim"),
                              QStringLiteral("C:\\Face\\victim"), QStringLiteral("\\Face\\victim")}) {
    SCOPED_TRACE(name.toStdString());
    const qint64 id = addWork(QStringLiteral("2200000000011"), QString());
    store->exec(QStringLiteral("UPDATE Works SET FileName = ? WHERE id = ?"), {name, id});
    works().refresh();
    ASSERT_TRUE(works().locateId(id));
    EXPECT_THROW(Button20Click(station, *store, *base), std::runtime_error);
    EXPECT_THROW(Button18Click(station, *store, *records), std::runtime_error);
    const Entry e = entry(id);
    EXPECT_EQ(e.idModel, 99);
    EXPECT_EQ(e.percent, 55.5);
  }
  EXPECT_EQ(readFile(victim + QStringLiteral("_face.jpg")), QByteArray("keep"));
  EXPECT_EQ(readFile(victim + QStringLiteral("_face.bin")), bin);
  EXPECT_TRUE(editor.captions.isEmpty());
  EXPECT_FALSE(QFile::exists(scratch()));
}

}  // namespace
}  // namespace tavo::test
