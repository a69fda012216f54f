// Open datasets: sort orders, lookups, editing and change notification.
#include "data_fixture.h"

namespace tavo::test {
namespace {

using DataDatasetTest = DataFixture;

TEST_F(DataDatasetTest, ModelsSortByBarcodeThenLastMatchAndWorksNewestFirst) {
  addModel(QStringLiteral("222"), true, QDate(2019, 5, 1));
  addModel(QStringLiteral("111"), true, QDate(2019, 6, 13));
  addModel(QStringLiteral("111"), true, QDate(2019, 6, 2));
  addModel(QStringLiteral("111"));  // never matched: first of its barcode
  addWork(QDate(2019, 7, 8), QTime(23, 0), QStringLiteral("a"));
  addWork(QDate(2019, 7, 9), QTime(8, 0), QStringLiteral("b"));
  addWork(QDate(2019, 7, 13), QTime(7, 0), QStringLiteral("c"));  // a day of 13 sorts as a date
  addWork(QDate(2019, 7, 9), QTime(9, 30), QStringLiteral("d"));
  store->tableModel().refresh();
  store->tableWorks().refresh();

  EXPECT_EQ(column(store->tableModel(), "EAN"), QStringList({"111", "111", "111", "222"}));
  EXPECT_EQ(column(store->tableModel(), "DateLastSimilarity"),
            QStringList({"", "2019-06-02", "2019-06-13", "2019-05-01"}));
  EXPECT_EQ(column(store->tableWorks(), "SN"), QStringList({"c", "d", "b", "a"}));
  EXPECT_EQ(store->tableWorks().sort(), QStringLiteral("datedoc DESC, timedoc DESC"));
}

TEST_F(DataDatasetTest, LookupsStandInTheirPlacesAndAreEmptyWithoutATarget) {
  db().exec(QStringLiteral("INSERT INTO Employees (FullName) VALUES ('Бухгалтерия')"));
  const qint64 group = db().lastInsertId();
  const qint64 m = addModel(QStringLiteral("2200000169020"), true, {}, QString(), group);
  addModel(QStringLiteral("999"), true, {}, QString(), 77);  // a group that does not exist
  addWork(QDate(2019, 7, 9), QTime(9, 0), QStringLiteral("x"), int(m));
  const qint64 gone = addModel(QStringLiteral("555"));
  addWork(QDate(2019, 7, 9), QTime(8, 0), QStringLiteral("y"), int(gone));
  db().exec(QStringLiteral("DELETE FROM Model WHERE id = ?"), {gone});
  store->tableModel().refresh();
  store->tableWorks().refresh();

  Dataset& works = store->tableWorks();
  const QStringList f = works.fieldNames();
  EXPECT_EQ(f.indexOf("EAN"), f.indexOf("is_face") + 1);
  EXPECT_EQ(f.indexOf("SN"), f.indexOf("EAN") + 1);
  EXPECT_EQ(column(works, "EAN"), QStringList({"2200000169020", ""}));
  works.last();
  EXPECT_TRUE(works.isNull("EAN"));

  Dataset& models = store->tableModel();
  const QStringList mf = models.fieldNames();
  EXPECT_EQ(mf.indexOf("NameGroup"), mf.indexOf("idcascade") + 1);
  EXPECT_EQ(mf.indexOf("DateLastDetection"), mf.indexOf("NameGroup") + 1);
  EXPECT_EQ(column(models, "NameGroup"), QStringList({"Бухгалтерия", ""}));
  EXPECT_THROW({ models.edit(); models.setField("NameGroup", "x"); }, std::runtime_error);
  models.cancel();
}

TEST_F(DataDatasetTest, InsertEditPostCancelDeleteWriteThrough) {
  Dataset& m = store->tableModel();
  addModel(QStringLiteral("300"));
  m.refresh();
  m.insert();
  EXPECT_EQ(m.state(), Dataset::State::Insert);
  EXPECT_FALSE(m.isModified());
  EXPECT_FALSE(m.asBool("Active"));
  m.setField("EAN", "200");
  m.setField("Active", true);
  m.setField("DateInsert", QDateTime(QDate(2019, 7, 9), QTime(10, 0, 5)));
  EXPECT_TRUE(m.isModified());
  EXPECT_THROW(m.setField("EAN", "12345678901234"), std::runtime_error);  // Text(13)
  EXPECT_THROW(m.setField("IdEmployees", "abc"), std::runtime_error);
  EXPECT_THROW(m.setField("id", 5), std::runtime_error);
  const qint64 id = m.post();
  EXPECT_GT(id, 0);
  EXPECT_EQ(m.id(), id);          // the new row is current, in its sorted place
  EXPECT_EQ(m.currentRow(), 0);
  EXPECT_EQ(m.recordCount(), 2);
  EXPECT_EQ(m.asDateTime("DateInsert"), QDateTime(QDate(2019, 7, 9), QTime(10, 0, 5)));
  EXPECT_EQ(db().scalar("SELECT DateInsert FROM Model WHERE id = ?", {id}).toString(), "2019-07-09T10:00:05");

  m.edit();
  m.setField("FullName", "Иванов И. И.");
  m.cancel();
  EXPECT_TRUE(m.isNull("FullName"));
  m.edit();
  m.setField("FullName", "Иванов И. И.");
  m.setField("DateLastSimilarity", QDate(2019, 7, 13));
  m.post();
  EXPECT_EQ(db().scalar("SELECT FullName FROM Model WHERE id = ?", {id}).toString(), "Иванов И. И.");
  EXPECT_EQ(m.asDate("DateLastSimilarity"), QDate(2019, 7, 13));

  m.remove();
  EXPECT_EQ(m.recordCount(), 1);
  EXPECT_EQ(m.asString("EAN"), "300");
  EXPECT_EQ(db().scalar("SELECT count(*) FROM Model").toInt(), 1);

  // A row deleted behind the dataset's back cannot be updated silently.
  db().exec("DELETE FROM Model");
  m.edit();
  m.setField("EAN", "301");
  EXPECT_THROW(m.post(), std::runtime_error);
  m.cancel();
}

TEST_F(DataDatasetTest, WorkRowsFromTheCheckInBecomeCurrentWithTheirLookup) {
  const qint64 same = addModel(QStringLiteral("2200000169020"));
  const qint64 other = addModel(QStringLiteral("4600000000001"));
  addWork(QDate(2019, 7, 9), QTime(9, 0));
  store->tableWorks().refresh();
  clock.set(QDateTime(QDate(2019, 7, 9), QTime(10, 15, 42)));

  WorkRecord w;
  w.fileName = QStringLiteral("2019\\07\\09\\20190709-1B4E28BA-2FA1-11D2-883F-0016D3CCA427");
  w.isFace = true;
  w.idModel = int(same);
  w.percent = 87.5;
  w.sn = QStringLiteral("2200000169020");
  w.cLeft = 310; w.cRight = 290; w.cTop = 120; w.cBottom = 140; w.height = 200; w.width = 180;
  const qint64 id = store->insertWork(w);
  Dataset& t = store->tableWorks();
  EXPECT_EQ(t.id(), id);
  EXPECT_EQ(t.currentRow(), 0);
  EXPECT_TRUE(t.asBool("excellent"));
  EXPECT_EQ(t.asString("EAN"), "2200000169020");
  EXPECT_EQ(t.asDate("datedoc"), QDate(2019, 7, 9));
  EXPECT_EQ(t.asTime("timedoc"), QTime(10, 15, 42));
  EXPECT_EQ(t.asInt("height"), 200);
  EXPECT_EQ(t.asInt("width"), 180);
  EXPECT_EQ(t.asString("FileName"), w.fileName);

  w.idModel = int(other);
  store->insertWork(w);
  EXPECT_FALSE(t.asBool("excellent"));  // best model belongs to another barcode
  w.idModel = 0;
  w.tags = QStringLiteral("not found");
  store->insertWork(w);
  EXPECT_FALSE(t.asBool("excellent"));
  EXPECT_EQ(t.asString("tags"), "not found");
  w.sn.clear();  // an empty barcode does not match a missing model
  store->insertWork(w);
  EXPECT_FALSE(t.asBool("excellent"));
  const Rows r = db().query("SELECT datedoc, timedoc FROM Works WHERE id = ?", {id});
  EXPECT_EQ(r.rows[0][0].toString(), "2019-07-09");
  EXPECT_EQ(r.rows[0][1].toString(), "10:15:42");
}

TEST_F(DataDatasetTest, LookupFollowsItsKeyBeforePosting) {
  const qint64 a = addModel(QStringLiteral("111"));
  const qint64 b = addModel(QStringLiteral("222"));
  addWork(QDate(2019, 7, 9), QTime(9, 0), QStringLiteral("222"), int(a));
  Dataset& t = store->tableWorks();
  t.refresh();
  t.edit();
  t.setField("idModel", int(b));
  EXPECT_EQ(t.asString("EAN"), "222");  // what a recheck compares SN with
  t.setField("excellent", t.asString("SN") == t.asString("EAN"));
  t.post();
  EXPECT_TRUE(t.asBool("excellent"));
  EXPECT_EQ(t.asString("EAN"), "222");
}

TEST_F(DataDatasetTest, ChangesAreReportedUnlessSwitchedOff) {
  for (int i = 0; i < 3; ++i) addModel(QString::number(100 + i));
  Dataset& m = store->tableModel();
  m.refresh();
  std::vector<Dataset::Change> seen;
  m.onChange([&](Dataset::Change c) { seen.push_back(c); });

  m.next();
  m.edit();
  m.setField("FullName", "x");
  m.post();
  using C = Dataset::Change;
  EXPECT_EQ(seen, std::vector<C>({C::Scrolled, C::StateChanged, C::FieldChanged, C::DataChanged}));

  seen.clear();
  m.setNotificationsEnabled(false);
  for (m.first(); !m.eof(); m.next()) {
  }
  EXPECT_TRUE(seen.empty());
  m.setNotificationsEnabled(true);
  EXPECT_EQ(seen, std::vector<C>({C::DataChanged}));  // the view catches up once
  EXPECT_EQ(m.currentRow(), 2);
}

TEST_F(DataDatasetTest, MovingAwayPostsAPendingEdit) {
  addModel(QStringLiteral("1"));
  addModel(QStringLiteral("2"));
  Dataset& m = store->tableModel();
  m.refresh();
  m.edit();
  m.setField("FullName", "posted on move");
  m.next();
  EXPECT_EQ(m.state(), Dataset::State::Browse);
  EXPECT_EQ(db().scalar("SELECT count(*) FROM Model WHERE FullName = 'posted on move'").toInt(), 1);
}

}  // namespace
}  // namespace tavo::test
