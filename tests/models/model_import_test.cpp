// LoadFromOffice: files of the import folder become models; the flag file goes.
#include "tests/models/model_fixture.h"

#include "models/model_file_name.h"
#include "models/model_import.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QRegularExpression>
#include <chrono>
#include <cstdio>

namespace tavo::test {
namespace {

class ModelImportTest : public ModelTest {
 protected:
  void SetUp() override {
    ModelTest::SetUp();
    importDir = hostPath(QLatin1String(kImportFolder));
    ASSERT_TRUE(QDir().mkpath(importDir));
  }
  QString flagHost() const { return hostPath(QLatin1String(FileNameFlag_load_model_from_ftp)); }
  QStringList importEntries() const {
    return QDir(importDir).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
  }
  QString importDir;
};

TEST_F(ModelImportTest, TwoFilesOfOneEmployeeBecomeTwoModels) {
  const QByteArray a = readFile(lfw("Vladimir_Putin_0001"));
  const QByteArray b = readFile(lfw("Vladimir_Putin_0002"));
  writeFile(importDir + "/2200000169020_000017_id.jpg", a);
  writeFile(importDir + "/2200000169020_000018_id.jpg", b);
  writeFile(flagHost(), "1");

  const ImportSummary s = LoadFromOffice(station, *store);
  EXPECT_EQ(s.imported, 2);
  EXPECT_EQ(s.failed, 0);

  const Rows r = db().query("SELECT EAN, Active, FileName, DateInsert FROM Model ORDER BY id");
  ASSERT_EQ(r.size(), 2);
  QList<QByteArray> contents;
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(r.value(i, "EAN").toString(), "2200000169020");
    EXPECT_EQ(r.value(i, "Active").toInt(), 1);
    const QString name = r.value(i, "FileName").toString();
    EXPECT_EQ(name.size(), kModelFileNameLength);
    EXPECT_TRUE(name.startsWith("20190709-"));
    EXPECT_EQ(r.value(i, "DateInsert").toString(), "2019-07-09T10:00:00");
    contents << readFile(modelHost(name) + "_face.bin");
  }
  EXPECT_NE(r.value(0, "FileName"), r.value(1, "FileName"));
  // Copied unchanged, in name order.
  EXPECT_EQ(contents, (QList<QByteArray>{a, b}));
  EXPECT_TRUE(importEntries().isEmpty());
  EXPECT_FALSE(QFile::exists(flagHost()));
}

TEST_F(ModelImportTest, OtherFilesAndFoldersAreLeftAlone) {
  writeFile(importDir + "/2200000169037_000001_id.JPG", "upper");  // Windows ignores case
  writeFile(importDir + "/notes.txt", "n");
  writeFile(importDir + "/2200000169044_000002_id.jpeg", "j");
  ASSERT_TRUE(QDir().mkpath(importDir + "/folder.jpg"));
  writeFile(importDir + "/folder.jpg/inner.jpg", "i");
  writeFile(importDir + "/short.jpg", "s");

  EXPECT_EQ(LoadFromOffice(station, *store).imported, 2);
  EXPECT_EQ(importEntries(), (QStringList{"2200000169044_000002_id.jpeg", "folder.jpg", "notes.txt"}));
  EXPECT_TRUE(QFile::exists(importDir + "/folder.jpg/inner.jpg"));
  const Rows r = db().query("SELECT EAN FROM Model ORDER BY EAN");
  ASSERT_EQ(r.size(), 2);
  EXPECT_EQ(r.value(0, "EAN").toString(), "2200000169037");
  EXPECT_EQ(r.value(1, "EAN").toString(), "short.jpg");  // a short name gives a short barcode
}

// The import folder is filled from other machines: a link to a root-only file must never
// become a model file anyone can read, nor any other entry that is no regular file.
TEST_F(ModelImportTest, LinksAndOtherNonFilesAreSkippedAndLoggedNeverCopied) {
  const QString secret = dir.file("secret");
  writeFile(secret, "root only");
  ASSERT_TRUE(QFile::setPermissions(secret, QFile::ReadOwner | QFile::WriteOwner));
  ASSERT_TRUE(QFile::link(secret, importDir + "/2200000169020_000001_id.jpg"));
  ASSERT_TRUE(QFile::link(dir.path(), importDir + "/2200000169020_000002_id.jpg"));  // a folder
  ASSERT_EQ(::mkfifo(QFile::encodeName(importDir + "/2200000169020_000003_id.jpg").constData(), 0600), 0);
  const QByteArray real = readFile(lfw("Vladimir_Putin_0001"));
  writeFile(importDir + "/2200000169020_000004_id.jpg", real);

  const ImportSummary s = LoadFromOffice(station, *store);
  EXPECT_EQ(s.imported, 1);
  EXPECT_EQ(s.skipped, 3);
  const Rows r = db().query("SELECT FileName FROM Model");
  ASSERT_EQ(r.size(), 1);
  EXPECT_EQ(readFile(modelHost(r.value(0, "FileName").toString()) + "_face.bin"), real);
  EXPECT_EQ(modelFiles().size(), 1);
  // The links and the pipe stay where they were, the link's target untouched.
  EXPECT_EQ(importEntries().size(), 2);  // the two links (a pipe is listed only as a system entry)
  EXPECT_TRUE(QFileInfo::exists(importDir + "/2200000169020_000003_id.jpg"));
  EXPECT_TRUE(QFileInfo(importDir + "/2200000169020_000001_id.jpg").isSymLink());
  EXPECT_EQ(readFile(secret), "root only");
  int logged = 0;
  for (const QString& line : station.log.lines())
    if (line.contains("LoadFromOffice") && line.contains("пропущен")) ++logged;
  EXPECT_EQ(logged, 3);
}

TEST_F(ModelImportTest, FlagFileGoesEvenWithNothingToImport) {
  writeFile(flagHost(), "");
  EXPECT_EQ(LoadFromOffice(station, *store).imported, 0);
  EXPECT_FALSE(QFile::exists(flagHost()));

  // A missing import folder is no error either.
  ASSERT_TRUE(QDir(importDir).removeRecursively());
  writeFile(flagHost(), "");
  EXPECT_EQ(LoadFromOffice(station, *store).imported, 0);
  EXPECT_FALSE(QFile::exists(flagHost()));
  EXPECT_EQ(modelRows(), 0);
}

TEST_F(ModelImportTest, WithoutTheDatabaseTheFlagFileStillGoesButNoFileIsTaken) {
  store->close();
  writeFile(flagHost(), "");
  EXPECT_EQ(LoadFromOffice(station, *store).imported, 0);
  EXPECT_FALSE(QFile::exists(flagHost()));

  writeFile(importDir + "/2200000169075_000005_id.jpg", "face");
  EXPECT_THROW(LoadFromOffice(station, *store), std::runtime_error);
  EXPECT_EQ(importEntries(), QStringList{"2200000169075_000005_id.jpg"});
  EXPECT_TRUE(modelFiles().isEmpty());
}

TEST_F(ModelImportTest, FailedCopyKeepsTheFileAndLeavesNoModel) {
  writeFile(importDir + "/2200000169051_000003_id.jpg", "face");
  writeFile(flagHost(), "");
  // The model folder is missing: the copy cannot be written.
  ASSERT_TRUE(QDir(hostPath(station.settings.modelDir)).removeRecursively());

  const ImportSummary s = LoadFromOffice(station, *store);
  EXPECT_EQ(s.imported, 0);
  EXPECT_EQ(s.failed, 1);
  EXPECT_EQ(modelRows(), 0);
  EXPECT_EQ(models().recordCount(), 0);
  EXPECT_EQ(importEntries(), QStringList{"2200000169051_000003_id.jpg"});
  EXPECT_TRUE(station.log.contains("2200000169051_000003_id.jpg"));
  EXPECT_FALSE(QFile::exists(flagHost()));

  // The next start imports it.
  ASSERT_TRUE(QDir().mkpath(hostPath(station.settings.modelDir)));
  EXPECT_EQ(LoadFromOffice(station, *store).imported, 1);
  EXPECT_TRUE(importEntries().isEmpty());
}

TEST_F(ModelImportTest, DatabaseErrorPropagatesAndKeepsTheFile) {
  writeFile(importDir + "/2200000169068_000004_id.jpg", "face");
  db().exec("CREATE TRIGGER refuse BEFORE INSERT ON Model BEGIN SELECT RAISE(ABORT, 'disk full'); END");
  EXPECT_THROW(LoadFromOffice(station, *store), std::runtime_error);
  EXPECT_EQ(importEntries().size(), 1);
  EXPECT_TRUE(modelFiles().isEmpty());
  EXPECT_EQ(models().state(), Dataset::State::Browse);
}

// A name that is no UTF-8, or holds a line feed, cannot give a barcode the office system would
// know again: such a file is refused once, visibly (renamed "*.jpg.refused" in the import folder,
// never read, a log line saying why), and the good files around it are imported, with a progress
// line (files done of all, rate, time left) at every interval.
TEST_F(ModelImportTest, BadNamesAreRefusedVisiblyAndTheRestImportedWithProgress) {
  writeFile(importDir + "/2200000169020_000001_id.jpg", "a");
  writeFile(importDir + "/2200000169020_000002_id.jpg", "b");
  const QByteArray folder = QFile::encodeName(importDir) + '/';
  const QList<QByteArray> bad{"\xFF\xFE" "2200000169037_id.jpg", "2200000169\n044_id.jpg"};
  for (const QByteArray& name : bad) {
    FILE* f = std::fopen((folder + name).constData(), "w");
    ASSERT_TRUE(f);
    std::fputs("bad", f);
    std::fclose(f);
  }

  const ImportSummary s = LoadFromOffice(station, *store, std::chrono::milliseconds(0));
  EXPECT_EQ(s.imported, 2);
  EXPECT_EQ(s.refused, 2);
  const Rows r = db().query("SELECT EAN FROM Model ORDER BY id");
  ASSERT_EQ(r.size(), 2);
  for (int i = 0; i < 2; ++i) EXPECT_EQ(r.value(i, "EAN").toString(), "2200000169020");
  for (const QByteArray& name : bad) {
    struct stat st {};
    EXPECT_EQ(::stat((folder + name + ".refused").constData(), &st), 0) << name.toStdString();
    EXPECT_NE(::stat((folder + name).constData(), &st), 0) << name.toStdString();
  }
  const QStringList log = station.log.lines();
  EXPECT_EQ(log.filter("имя не в UTF-8").size(), 1);
  EXPECT_EQ(log.filter("управляющий символ в имени").size(), 1);
  EXPECT_EQ(log.filter("2200000169\\x0a044_id.jpg").size(), 1);  // the line feed shown, not written
  EXPECT_EQ(log.filter(QRegularExpression("LoadFromOffice: 1 из 2 файлов, [0-9]+\\.[0-9] файлов/с, осталось ")).size(), 1);

  // Refused once: the next start neither logs them again nor takes them.
  const int lines = station.log.lines().size();
  EXPECT_EQ(LoadFromOffice(station, *store).refused, 0);
  EXPECT_EQ(station.log.lines().mid(lines).filter("отклонён").size(), 0);
  EXPECT_EQ(db().query("SELECT EAN FROM Model").size(), 2);
  for (const QByteArray& name : bad) ::unlink((folder + name + ".refused").constData());  // Qt cannot name the first
}

}  // namespace
}  // namespace tavo::test
