// The copy tool, the export and the actuality check on a real database.
#include "tests/models/model_fixture.h"

#include <QTimer>

#include "models/model_maintenance.h"

namespace tavo::test {
namespace {

class MaintenanceTest : public ModelTest {
 protected:
  qint64 model(const QString& ean, const QString& fileName, const QDateTime& inserted,
               const QVariant& lastSimilarity = {}, bool active = true) {
    const qint64 id = addModel(ean, active, lastSimilarity, QString(), {}, inserted);
    db().exec("UPDATE Model SET FileName = ? WHERE id = ?", {fileName, id});
    return id;
  }
  QList<qint64> activeIds(const QString& ean) {
    QList<qint64> out;
    const Rows r = db().query("SELECT id FROM Model WHERE EAN = ? AND Active = 1 ORDER BY id", {ean});
    for (int i = 0; i < r.size(); ++i) out << r.value(i, "id").toLongLong();
    return out;
  }
  const QDateTime old{QDate(2019, 1, 1), QTime(8, 0)};
};

TEST(OneMonthBefore, SameDayOrTheLastDayOfTheMonth) {
  const QTime t(13, 45, 10);
  EXPECT_EQ(oneMonthBefore(QDateTime(QDate(2019, 7, 9), t)), QDateTime(QDate(2019, 6, 9), t));
  EXPECT_EQ(oneMonthBefore(QDateTime(QDate(2019, 3, 31), t)), QDateTime(QDate(2019, 2, 28), t));
  EXPECT_EQ(oneMonthBefore(QDateTime(QDate(2020, 3, 31), t)), QDateTime(QDate(2020, 2, 29), t));
  EXPECT_EQ(oneMonthBefore(QDateTime(QDate(2019, 5, 31), t)), QDateTime(QDate(2019, 4, 30), t));
  EXPECT_EQ(oneMonthBefore(QDateTime(QDate(2019, 1, 15), t)), QDateTime(QDate(2018, 12, 15), t));
}

TEST_F(MaintenanceTest, ThreeActiveModelsAreListedAndLeftAlone) {
  for (int i = 0; i < 3; ++i) model("2000000000015", QString("m%1").arg(i), old);
  EXPECT_EQ(Button17Click(station, *store), 0);
  EXPECT_EQ(station.memo2.lines(), QStringList{"2000000000015"});
  EXPECT_EQ(activeIds("2000000000015").size(), 3);
}

TEST_F(MaintenanceTest, FiveOldModelsLoseTheTwoNeverMatched) {
  const QString ean = "2000000000022";
  const qint64 a = model(ean, "a", old, QDate(2019, 6, 1));
  const qint64 never1 = model(ean, "b", old);
  const qint64 c = model(ean, "c", old, QDate(2019, 5, 1));
  const qint64 never2 = model(ean, "d", old);
  const qint64 e = model(ean, "e", old, QDate(2019, 7, 1));
  model("2000000000039", "x", old);  // another barcode, 1 model
  station.memo2.add("old line");

  EXPECT_EQ(Button17Click(station, *store), 2);
  EXPECT_EQ(station.memo2.lines(), (QStringList{ean, QString("-1) %1").arg(never1), QString("-2) %1").arg(never2),
                                                "2000000000039"}));
  EXPECT_EQ(activeIds(ean), (QList<qint64>{a, c, e}));
}

TEST_F(MaintenanceTest, ModelsOfTheLastMonthAreNeverDeactivated) {
  const QString ean = "2000000000046";
  // Now is 9 July 2019 10:00: the limit is 9 June 2019 10:00.
  const qint64 older = model(ean, "a", QDateTime(QDate(2019, 6, 9), QTime(9, 59, 59)), QDate(2019, 7, 1));
  model(ean, "b", QDateTime(QDate(2019, 6, 9), QTime(10, 0)));  // exactly a month: kept
  model(ean, "c", QDateTime(QDate(2019, 7, 1), QTime(8, 0)));
  model(ean, "d", QDateTime(QDate(2019, 7, 8), QTime(8, 0)));
  model(ean, "e", QDateTime(QDate(2019, 7, 9), QTime(9, 0)));

  EXPECT_EQ(Button17Click(station, *store), 1);
  EXPECT_EQ(station.memo2.lines(), (QStringList{ean, QString("-1) %1").arg(older)}));
  EXPECT_EQ(activeIds(ean).size(), 4);
}

TEST_F(MaintenanceTest, MonthRuleAtTheEndOfMarch) {
  // 31 March 2019 12:00: the limit is 28 February 2019 12:00.
  clock.set(QDateTime(QDate(2019, 3, 31), QTime(12, 0)));
  const QString ean = "2000000000053";
  const qint64 before = model(ean, "a", QDateTime(QDate(2019, 2, 28), QTime(11, 59)));
  model(ean, "b", QDateTime(QDate(2019, 2, 28), QTime(12, 1)));
  model(ean, "c", QDateTime(QDate(2019, 3, 1), QTime(8, 0)));
  model(ean, "d", QDateTime(QDate(2019, 3, 2), QTime(8, 0)));
  EXPECT_EQ(Button17Click(station, *store), 1);
  EXPECT_EQ(station.memo2.lines().last(), QString("-1) %1").arg(before));
}

TEST_F(MaintenanceTest, EmptyTableGivesEmptyExportAndMemo) {
  station.memoOut.add("earlier result");
  Button13Click(station, *store);
  EXPECT_EQ(readFile(dir.file("BaseModel.txt")), QByteArray());
  EXPECT_EQ(Button17Click(station, *store), 0);
  EXPECT_TRUE(station.memo2.lines().isEmpty());
}

TEST_F(MaintenanceTest, ExportListsTheFilteredModelsInCodePage1251) {
  model("2000000000077", "20190101-AAAA", old, {}, true);
  db().exec("UPDATE Model SET FullName = 'Петров' WHERE FileName = '20190101-AAAA'");
  model("2000000000084", "20190101-BBBB", old, {}, false);
  db().exec("UPDATE Model SET FullName = 'Петрова' WHERE FileName = '20190101-BBBB'");
  model("2000000000091", "20190101-CCCC", old);
  db().exec("UPDATE Model SET FullName = 'Сидоров' WHERE FileName = '20190101-CCCC'");
  model("2000000000107", "Файл", old);  // Cyrillic in the name: code page 1251
  store->applyModelFilter(ModelFilter::fullNameContains(QStringLiteral("петров")));

  Button13Click(station, *store);
  EXPECT_EQ(readFile(dir.file("BaseModel.txt")),
            QByteArray("2000000000077;20190101-AAAA_face.jpg;\r\n2000000000084;20190101-BBBB_face.jpg;\r\n"));
  EXPECT_EQ(station.memoOut.lines().size(), 2);

  store->applyModelFilter(ModelFilter::none());
  Button13Click(station, *store);
  const QByteArray all = readFile(dir.file("BaseModel.txt"));
  EXPECT_TRUE(all.endsWith("2000000000107;\xD4\xE0\xE9\xEB_face.jpg;\r\n"));
  EXPECT_EQ(all.count("\r\n"), 4);
}

TEST_F(MaintenanceTest, AnAnswerComposedWhileTheExportLetsEventsRunStaysOutOfTheFile) {
  model("2000000000121", "20190101-DDDD", old);
  model("2000000000138", "20190101-EEEE", old);
  // A check-in handled between two lines clears MemoOut and writes its answer there.
  QTimer::singleShot(0, [this] {
    station.memoOut.clear();
    station.memoOut.add("2200000169020");
  });
  Button13Click(station, *store);
  EXPECT_EQ(readFile(dir.file("BaseModel.txt")),
            QByteArray("2000000000121;20190101-DDDD_face.jpg;\r\n2000000000138;20190101-EEEE_face.jpg;\r\n"));
}

TEST_F(MaintenanceTest, ExportThatCannotBeWrittenKeepsTheMemo) {
  model("2000000000114", "n", old);
  ASSERT_TRUE(QDir().mkpath(dir.file("BaseModel.txt")));  // a folder in its place
  EXPECT_THROW(Button13Click(station, *store), std::runtime_error);
  EXPECT_EQ(station.memoOut.lines(), QStringList{"2000000000114;n_face.jpg;"});
}

TEST_F(MaintenanceTest, CopyToolMarksModelsByTheirPlainFacePhoto) {
  const qint64 withJpg = model("2000000000121", "20190101-JPG", old, {}, false);
  const qint64 onlyBin = model("2000000000121", "20190101-BIN", old);
  const qint64 noFile = model("2000000000138", "20190101-NONE", old);
  const qint64 noName = model("2000000000145", "", old);
  writeFile(modelHost("20190101-JPG") + "_face.jpg", "plain");
  writeFile(modelHost("20190101-BIN") + "_face.bin", "secret");
  store->tableModel().refresh();

  EXPECT_EQ(Button10Click(station, *store), 1);
  EXPECT_EQ(readFile(dir.file("Temp/Model/20190101-JPG_face.jpg")), QByteArray("plain"));
  EXPECT_EQ(QDir(dir.file("Temp/Model")).entryList(QDir::Files).size(), 1);
  const auto active = [&](qint64 id) {
    return db().query("SELECT Active FROM Model WHERE id = ?", {id}).value(0, "Active").toInt();
  };
  EXPECT_EQ(active(withJpg), 1);
  EXPECT_EQ(active(onlyBin), 0);
  EXPECT_EQ(active(noFile), 0);
  EXPECT_EQ(active(noName), 0);

  // A second run replaces the copy.
  writeFile(modelHost("20190101-JPG") + "_face.jpg", "newer");
  EXPECT_EQ(Button10Click(station, *store), 1);
  EXPECT_EQ(readFile(dir.file("Temp/Model/20190101-JPG_face.jpg")), QByteArray("newer"));
}

TEST_F(MaintenanceTest, CopyToolTouchesOnlyTheFilteredModels) {
  const qint64 shown = model("2000000000152", "s", old);
  const qint64 hidden = model("2000000000169", "h", old);
  store->applyModelFilter(ModelFilter::eanContains("152"));
  EXPECT_EQ(Button10Click(station, *store), 0);
  const auto active = [&](qint64 id) {
    return db().query("SELECT Active FROM Model WHERE id = ?", {id}).value(0, "Active").toInt();
  };
  EXPECT_EQ(active(shown), 0);
  EXPECT_EQ(active(hidden), 1);
  EXPECT_EQ(store->tableModel().state(), Dataset::State::Browse);
}

TEST_F(MaintenanceTest, DatabaseErrorKeepsTheRowsChangedBeforeIt) {
  const qint64 first = model("2000000000176", "a", old);
  const qint64 refused = model("2000000000183", "b", old);
  const qint64 last = model("2000000000190", "c", old);
  store->tableModel().refresh();
  db().exec("CREATE TRIGGER refuse BEFORE UPDATE ON Model WHEN OLD.EAN = '2000000000183' "
            "BEGIN SELECT RAISE(ABORT, 'disk full'); END");
  EXPECT_THROW(Button10Click(station, *store), std::runtime_error);
  const auto active = [&](qint64 id) {
    return db().query("SELECT Active FROM Model WHERE id = ?", {id}).value(0, "Active").toInt();
  };
  EXPECT_EQ(active(first), 0);
  EXPECT_EQ(active(refused), 1);
  EXPECT_EQ(active(last), 1);
  EXPECT_EQ(store->tableModel().state(), Dataset::State::Browse);
  // The connection is usable afterwards.
  db().exec("DROP TRIGGER refuse");
  EXPECT_EQ(Button10Click(station, *store), 0);
  EXPECT_EQ(active(last), 0);
}

}  // namespace
}  // namespace tavo::test
