// The encrypted database file: schema, keys, refusal of plain files, opening errors.
#include <QFile>
#include <QFileInfo>
#include <QDir>
#include <QProcess>
#include <sys/stat.h>

#include "data_fixture.h"

namespace tavo::test {
namespace {

using DataConnectionTest = DataFixture;

TEST_F(DataConnectionTest, SchemaRoundTripsThroughTheEncryptedFile) {
  store->close();
  Database fresh;
  fresh.open(dbPath(), QLatin1String(kDatabasePassword));
  for (const TableDef& t : schemaTables()) {
    const Rows info = fresh.query(QStringLiteral("PRAGMA table_info(%1)").arg(t.name));
    ASSERT_EQ(info.size(), int(t.columns.size())) << t.name.toStdString();
    for (int i = 0; i < info.size(); ++i) EXPECT_EQ(info.value(i, "name").toString(), t.columns[size_t(i)].name);
    EXPECT_EQ(info.value(0, "pk").toInt(), 1) << "id is the key of " << t.name.toStdString();
  }
  const Rows idx = fresh.query(QStringLiteral("SELECT tbl_name, sql FROM sqlite_master WHERE type = 'index' ORDER BY name"));
  QStringList indexes;
  for (const auto& r : idx.rows) indexes << r[1].toString();
  EXPECT_TRUE(indexes.join(' ').contains(QStringLiteral("Works (datedoc)")));
  EXPECT_TRUE(indexes.join(' ').contains(QStringLiteral("Model (EAN)")));

  // AutoNumber never reuses an id, even after the newest row was deleted.
  fresh.exec(QStringLiteral("INSERT INTO Result (fio) VALUES ('a')"));
  fresh.exec(QStringLiteral("DELETE FROM Result"));
  fresh.exec(QStringLiteral("INSERT INTO Result (fio) VALUES ('b')"));
  EXPECT_EQ(fresh.lastInsertId(), 2);
}

TEST_F(DataConnectionTest, ColumnLimitsAreEnforcedByTheFile) {
  auto rejects = [&](const QString& sql, const QVariantList& p) {
    EXPECT_THROW(db().exec(sql, p), DatabaseError) << sql.toStdString();
  };
  rejects(QStringLiteral("INSERT INTO Model (EAN) VALUES (?)"), {QStringLiteral("12345678901234")});
  rejects(QStringLiteral("INSERT INTO Works (tags) VALUES (?)"), {QString(101, 'x')});
  rejects(QStringLiteral("INSERT INTO Works (datedoc) VALUES (?)"), {QStringLiteral("09.07.2019")});
  rejects(QStringLiteral("INSERT INTO Works (timedoc) VALUES (?)"), {QDateTime(QDate(2019, 7, 9), QTime(1, 2, 3))});
  rejects(QStringLiteral("INSERT INTO Works (is_face) VALUES (2)"), {});
  rejects(QStringLiteral("INSERT INTO Works (cLeft) VALUES (?)"), {qlonglong(1) << 40});
  db().exec(QStringLiteral("INSERT INTO Model (EAN, FullName) VALUES (?, ?)"),
            {QStringLiteral("1234567890123"), QString(255, QChar(0x0416))});  // 255 Cyrillic letters fit
  EXPECT_EQ(db().scalar(QStringLiteral("SELECT Active FROM Model")).toInt(), 0);  // Yes/No defaults to No
}

TEST_F(DataConnectionTest, FileIsEncryptedAndUnreadableWithoutTheKey) {
  addWork(QDate(2019, 7, 9), QTime(9, 0), QStringLiteral("secret-barcode"));
  store->close();
  const QByteArray bytes = readFile(dbPath());
  EXPECT_FALSE(bytes.startsWith("SQLite format 3"));
  EXPECT_FALSE(bytes.contains("secret-barcode"));
  EXPECT_FALSE(bytes.contains("CREATE TABLE"));

  Database wrong;
  try {
    wrong.open(dbPath(), QStringLiteral("not the password"));
    FAIL() << "a wrong key opened the file";
  } catch (const DatabaseError& e) {
    EXPECT_TRUE(QString::fromUtf8(e.what()).contains(QStringLiteral("not a database"))) << e.what();
  }
  EXPECT_FALSE(wrong.isOpen());

  // The plain sqlite3 program cannot read it.
  QProcess cli;
  cli.start(QStringLiteral("sqlite3"), {dbPath(), QStringLiteral("SELECT SN FROM Works;")});
  ASSERT_TRUE(cli.waitForFinished(10000));
  EXPECT_NE(cli.exitCode(), 0);
  EXPECT_TRUE(cli.readAllStandardError().contains("not a database"));
  EXPECT_FALSE(cli.readAllStandardOutput().contains("secret-barcode"));
}

TEST_F(DataConnectionTest, RefusesAnEmptyKeyAndPlainFiles) {
  Database d;
  const QString fresh = dir.file(QStringLiteral("new.mdb"));
  EXPECT_THROW(d.create(fresh, QString()), DatabaseError);
  EXPECT_FALSE(QFileInfo::exists(fresh));

  // A plain SQLite file made by the sqlite3 program is refused even with the right key.
  const QString plain = dir.file(QStringLiteral("plain.mdb"));
  ASSERT_EQ(QProcess::execute(QStringLiteral("sqlite3"), {plain, QStringLiteral("CREATE TABLE t(x);")}), 0);
  EXPECT_THROW(d.open(plain, QLatin1String(kDatabasePassword)), DatabaseError);
  EXPECT_TRUE(readFile(plain).startsWith("SQLite format 3"));  // left as it was
}

TEST_F(DataConnectionTest, MissingFileIsReportedAndNotCreated) {
  QFile::remove(dbPath());
  DataStore second(station);
  try {
    second.open();
    FAIL() << "opened a missing file";
  } catch (const std::runtime_error& e) {
    EXPECT_TRUE(QString::fromUtf8(e.what()).contains(QStringLiteral("FaceBase.mdb"))) << e.what();
  }
  EXPECT_FALSE(second.isOpen());
  EXPECT_FALSE(QFileInfo::exists(dbPath()));
  EXPECT_FALSE(second.tableModel().isOpen());
  EXPECT_THROW(second.tableWorks().first(), std::runtime_error);
  EXPECT_THROW(second.insertWork({}), std::runtime_error);
}

TEST_F(DataConnectionTest, AnotherSQLiteLibraryAheadOfSQLCipherIsRefused) {
  const QString plainLib = QStringLiteral("/usr/lib/x86_64-linux-gnu/libsqlite3.so.0");
  if (!QFileInfo::exists(plainLib)) GTEST_SKIP() << "no libsqlite3 to load first";
  const QString target = dir.file(QStringLiteral("linked-wrong.mdb"));
  QProcess tool;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("LD_PRELOAD"), plainLib);  // as if linked ahead of libsqlcipher
  tool.setProcessEnvironment(env);
  tool.start(buildDir() + QStringLiteral("/tools/tavolin-db"), {QStringLiteral("create"), target});
  ASSERT_TRUE(tool.waitForFinished(20000));
  EXPECT_EQ(tool.exitCode(), 1);
  EXPECT_TRUE(tool.readAllStandardError().contains("not SQLCipher"));
  EXPECT_FALSE(QFileInfo::exists(target));  // no plain file written
}

TEST_F(DataConnectionTest, CreateNeverOverwrites) {
  addModel(QStringLiteral("1"));
  EXPECT_THROW(createDatabaseFile(dbPath(), QLatin1String(kDatabasePassword)), std::runtime_error);
  EXPECT_EQ(store->query(QStringLiteral("SELECT count(*) FROM Model")).rows[0][0].toInt(), 1);
}

TEST_F(DataConnectionTest, StatementsTakeValuesOnlyAsParameters) {
  EXPECT_THROW(db().exec(QStringLiteral("SELECT ?"), {}), DatabaseError);  // count must match
  EXPECT_THROW(db().exec(QStringLiteral("DELETE FROM Model; DELETE FROM Works")), DatabaseError);
  const QString evil = QStringLiteral("x'); DELETE FROM Model; --");
  addModel(QStringLiteral("1"));
  db().exec(QStringLiteral("INSERT INTO Works (SN) VALUES (?)"), {evil});
  EXPECT_EQ(db().scalar(QStringLiteral("SELECT SN FROM Works")).toString(), evil);
  EXPECT_EQ(db().scalar(QStringLiteral("SELECT count(*) FROM Model")).toInt(), 1);
}

// The file holds barcodes and face descriptors and its key is a constant of the program: it is
// the station's and its group's, never every user's. Created so by tavolin-db (which both
// new-station scripts use) whatever the umask, and tightened, never widened, at every opening.
TEST_F(DataConnectionTest, TheDatabaseFileIsOnlyForTheStationAndItsGroup) {
  auto mode = [](const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
  };
  const QString made = dir.file(QStringLiteral("made/FaceBase.mdb"));
  ASSERT_TRUE(QDir().mkpath(QFileInfo(made).path()));
  const mode_t oldMask = ::umask(022);
  QProcess tool;
  tool.start(buildDir() + QStringLiteral("/tools/tavolin-db"), {QStringLiteral("create"), made});
  ASSERT_TRUE(tool.waitForFinished(30000));
  ::umask(oldMask);
  ASSERT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();
  EXPECT_EQ(mode(made), 0640);

  store->close();
  ASSERT_EQ(::chmod(QFile::encodeName(dbPath()).constData(), 0666), 0);
  store->open();
  EXPECT_EQ(mode(dbPath()), 0640);
  store->close();
  ASSERT_EQ(::chmod(QFile::encodeName(dbPath()).constData(), 0600), 0);
  store->open();
  EXPECT_EQ(mode(dbPath()), 0600);
}

}  // namespace
}  // namespace tavo::test
