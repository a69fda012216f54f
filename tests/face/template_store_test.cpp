// The template store on a real encrypted database: a restart takes stored templates and matches
// as a cold build does; a changed face file, a damaged row, another engine version and a deleted
// model each lead to a fresh template, and so do another detection threshold and a replaced network
// file; a model deleted or deactivated leaves the running base.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstring>
#include <utility>

#include "face/template_store.h"
#include "tests/face/face_fixture.h"

namespace tavo::test {
namespace {

class TemplateStoreTest : public FaceBaseFixture {
 protected:
  struct Match {
    int id = 0;
    double percent = 0;
    QString fio;
  };
  Match match(const QString& photo) {
    const QString probe = hostPath(station.tempFile(QStringLiteral("model_face.jpg")));
    QFile::remove(probe);
    EXPECT_TRUE(QFile::copy(photo, probe));
    Match m;
    base->FaceRecognitionLuxand(QStringLiteral("model"), 3, m.id, m.percent, m.fio);
    return m;
  }
  int storeRows(const QString& where = QStringLiteral("1 = 1")) {
    return int(db().scalar(QStringLiteral("SELECT count(*) FROM FaceTemplate WHERE ") + where).toLongLong());
  }
  // A restart: a new base over a data store opened anew.
  void restart() {
    base.reset();
    store = std::make_unique<DataStore>(station);
    store->open();
    base = std::make_unique<FaceBase>(station, *store);
  }
  static bool sameRecord(const TFaceRecord& a, const TFaceRecord& b) {
    return a.id == b.id && a.fio == b.fio && std::memcmp(&a.Template, &b.Template, sizeof a.Template) == 0 &&
           std::memcmp(&a.FacePosition, &b.FacePosition, sizeof a.FacePosition) == 0 &&
           std::memcmp(&a.FacialFeatures, &b.FacialFeatures, sizeof a.FacialFeatures) == 0;
  }
};

TEST_F(TemplateStoreTest, RestartTakesStoredTemplatesAndAnyChangeMakesAFreshOne) {
  const qint64 tony = addModel(QStringLiteral("2200000000011"), lfw(QStringLiteral("Tony_Blair"), 1));
  const qint64 bush = addModel(QStringLiteral("2200000000028"), lfw(QStringLiteral("George_W_Bush"), 1));
  const qint64 powell = addModel(QStringLiteral("2200000000035"), lfw(QStringLiteral("Colin_Powell"), 1));
  const qint64 dog = addModel(QStringLiteral("2200000000042"), testData(QStringLiteral("samples/017_0.jpg")));

  base->Button19Click();  // cold: every picture worked out and stored (the faceless one too)
  EXPECT_EQ(base->lastBuild().computed, 4);
  EXPECT_EQ(base->lastBuild().fromStore, 0);
  ASSERT_EQ(base->size(), 3u);
  EXPECT_EQ(storeRows(), 4);
  const std::vector<TFaceRecord> cold = base->FaceList();
  const Match coldMatch = match(lfw(QStringLiteral("Tony_Blair"), 2));
  EXPECT_EQ(coldMatch.id, tony);
  const QString coldLabel = base->labelText();
  const QStringList coldMessages = messages.shown;

  restart();
  base->Button19Click();  // warm: nothing decoded, the same base, flags, label and matches
  EXPECT_EQ(base->lastBuild().fromStore, 4);
  EXPECT_EQ(base->lastBuild().computed, 0);
  ASSERT_EQ(base->size(), cold.size());
  for (std::size_t i = 0; i < cold.size(); ++i) EXPECT_TRUE(sameRecord(base->FaceList()[i], cold[i])) << i;
  EXPECT_EQ(base->descriptors().size(), cold.size() * fsdk::kDescriptorSize);
  const Match warmMatch = match(lfw(QStringLiteral("Tony_Blair"), 2));
  EXPECT_EQ(warmMatch.id, coldMatch.id);
  EXPECT_DOUBLE_EQ(warmMatch.percent, coldMatch.percent);
  EXPECT_EQ(base->labelText(), coldLabel);
  EXPECT_EQ(messages.shown, coldMessages);
  EXPECT_FALSE(flags(dog).light);
  EXPECT_TRUE(flags(powell).light);

  // Bush gets another photo, Powell's row is damaged, Tony's row is of another engine version.
  EncryptImage(lfw(QStringLiteral("George_W_Bush"), 2), modelBase(QStringLiteral("m2")), kSystemKey);
  db().exec(QStringLiteral("UPDATE FaceTemplate SET Descriptor = x'00112233' WHERE ModelId = ?"), {powell});
  db().exec(QStringLiteral("UPDATE FaceTemplate SET EngineVersion = ? WHERE ModelId = ?"),
            {qlonglong(fsdk::kEngineVersion) + 1, tony});
  restart();
  base->Button19Click();
  EXPECT_EQ(base->lastBuild().computed, 3);
  EXPECT_EQ(base->lastBuild().fromStore, 1);  // the faceless picture
  ASSERT_EQ(base->size(), 3u);
  EXPECT_TRUE(sameRecord(base->FaceList()[0], cold[0]));  // same picture, same engine: same template
  EXPECT_FALSE(sameRecord(base->FaceList()[1], cold[1]));  // Bush's new photo
  EXPECT_TRUE(sameRecord(base->FaceList()[2], cold[2]));
  EXPECT_EQ(storeRows(QStringLiteral("EngineVersion = %1").arg(fsdk::kEngineVersion)), 4);
  EXPECT_EQ(match(lfw(QStringLiteral("George_W_Bush"), 2)).id, bush);

  // A deleted model takes its stored template with it, whoever deletes the row.
  ASSERT_TRUE(models().locateId(bush));
  models().remove();
  EXPECT_EQ(storeRows(QStringLiteral("ModelId = %1").arg(bush)), 0);
  // A face file that cannot be read never gives the stored template: the build ends there.
  QFile::remove(hostPath(modelBase(QStringLiteral("m3")) + QLatin1String(kFaceBinSuffix)));
  restart();
  base->Button19Click();
  EXPECT_FALSE(flags(powell).active);  // deactivated before the walk
  EXPECT_EQ(base->size(), 1u);
}

TEST_F(TemplateStoreTest, AnotherThresholdOrAChangedNetworkFileWorksEveryPictureOutAgain) {
  // The program's own networks folder: the set-up's files linked, one of them copied so it can
  // be replaced.
  const QString nets = dir.file(QStringLiteral("nets"));
  const QString replaced = QStringLiteral("face_recognition_model-weights_manifest.json");
  ASSERT_TRUE(QFile::remove(nets));
  ASSERT_TRUE(QDir().mkpath(nets));
  for (const QFileInfo& f : QDir(thirdPartyDir() + QStringLiteral("/face-models")).entryInfoList(QDir::Files)) {
    const QString to = nets + QLatin1Char('/') + f.fileName();
    ASSERT_TRUE(f.fileName() == replaced ? QFile::copy(f.absoluteFilePath(), to) : QFile::link(f.absoluteFilePath(), to));
  }
  const qint64 tony = addModel(QStringLiteral("2200000000011"), lfw(QStringLiteral("Tony_Blair"), 1));
  addModel(QStringLiteral("2200000000042"), testData(QStringLiteral("samples/017_0.jpg")));
  const auto rebuild = [&] {
    restart();
    base->Button19Click();
    return std::pair(base->lastBuild().computed, base->lastBuild().fromStore);
  };
  EXPECT_EQ(rebuild(), std::pair(2, 0));
  EXPECT_EQ(rebuild(), std::pair(0, 2));

  // Size decides which faces are found: another value never takes the outcomes of the old one.
  station.settings.threshold = 4;
  EXPECT_EQ(rebuild(), std::pair(2, 0));
  EXPECT_EQ(rebuild(), std::pair(0, 2));
  station.settings.threshold = 3;
  EXPECT_EQ(rebuild(), std::pair(2, 0));

  // A network file replaced in place (same name, other bytes).
  QByteArray manifest = readFile(nets + QLatin1Char('/') + replaced);
  ASSERT_FALSE(manifest.isEmpty());
  writeFile(nets + QLatin1Char('/') + replaced, manifest + '\n');
  EXPECT_EQ(rebuild(), std::pair(2, 0));
  EXPECT_EQ(rebuild(), std::pair(0, 2));
  EXPECT_EQ(storeRows(), 2);  // replaced, one row a model
  EXPECT_EQ(match(lfw(QStringLiteral("Tony_Blair"), 2)).id, tony);
}

TEST_F(TemplateStoreTest, TableIsAddedToAnOlderDatabaseWithoutLosingARow) {
  const qint64 tony = addModel(QStringLiteral("2200000000011"), lfw(QStringLiteral("Tony_Blair"), 1));
  db().exec(QStringLiteral("INSERT INTO Works (SN, FileName) VALUES ('2200000000011', 'w1')"));
  db().exec(QStringLiteral("DROP TRIGGER FaceTemplate_ModelDeleted"));
  db().exec(QStringLiteral("DROP TABLE FaceTemplate"));  // a database made before the store
  restart();
  EXPECT_EQ(storeRows(), 0);
  EXPECT_EQ(db().scalar(QStringLiteral("SELECT count(*) FROM Model")).toLongLong(), 1);
  EXPECT_EQ(db().scalar(QStringLiteral("SELECT count(*) FROM Works")).toLongLong(), 1);
  base->Button19Click();
  EXPECT_EQ(storeRows(QStringLiteral("ModelId = %1").arg(tony)), 1);
  db().exec(QStringLiteral("DELETE FROM Model WHERE id = ?"), {tony});
  EXPECT_EQ(storeRows(), 0);  // the trigger came with the table
}

TEST_F(TemplateStoreTest, DeletedOrDeactivatedModelLeavesTheRunningBase) {
  const qint64 tony = addModel(QStringLiteral("2200000000011"), lfw(QStringLiteral("Tony_Blair"), 1));
  const qint64 tony2 = addModel(QStringLiteral("2200000000011"), lfw(QStringLiteral("Tony_Blair"), 3));
  const qint64 bush = addModel(QStringLiteral("2200000000028"), lfw(QStringLiteral("George_W_Bush"), 1));
  base->Button19Click();
  ASSERT_EQ(base->size(), 3u);
  const Match before = match(lfw(QStringLiteral("Tony_Blair"), 2));
  ASSERT_TRUE(before.id == tony || before.id == tony2);

  // Deactivated by a maintenance tool (plain SQL): the next match never names it.
  store->setModelActive(before.id, false);
  const Match after = match(lfw(QStringLiteral("Tony_Blair"), 2));
  EXPECT_NE(after.id, before.id);
  EXPECT_EQ(base->size(), 2u);
  EXPECT_EQ(after.fio, QStringLiteral("2200000000011"));  // the other photo of the same man

  // Deleted through the table: Bush's photo finds nobody of his.
  ASSERT_TRUE(models().locateId(bush));
  models().remove();
  const Match gone = match(lfw(QStringLiteral("George_W_Bush"), 2));
  EXPECT_NE(gone.id, bush);
  EXPECT_NE(gone.fio, QStringLiteral("2200000000028"));
  EXPECT_EQ(base->forget(tony) + base->forget(tony2), 1u);
  EXPECT_TRUE(base->isEmpty());
}

}  // namespace
}  // namespace tavo::test
