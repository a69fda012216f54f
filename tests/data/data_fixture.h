#pragma once
#include <gtest/gtest.h>

#include <QDateTime>
#include <memory>

#include "base/clock.h"
#include "base/operator_messages.h"
#include "base/station.h"
#include "data/data_store.h"
#include "data/schema.h"
#include "tests/support/station_on_disk.h"
#include "tests/support/test_env.h"

namespace tavo::test {

// A program directory with a freshly created encrypted "FaceBase.mdb", a station on a fixed
// clock (9 July 2019, 10:00) and an opened data store.
class DataFixture : public ::testing::Test, protected StationOnDisk {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    createDatabaseFile(dbPath(), QLatin1String(kDatabasePassword));
    station.settings.workDir = QStringLiteral("C:\\Face\\Work");
    store = std::make_unique<DataStore>(station);
    store->open();
  }

  QString dbPath() const { return dir.file(QStringLiteral("FaceBase.mdb")); }
  Database& db() { return store->database(); }

  qint64 addModel(const QString& ean, bool active = true, const QVariant& lastSimilarity = {},
                  const QString& fullName = QString(), const QVariant& idEmployees = {},
                  const QDateTime& inserted = QDateTime(QDate(2019, 1, 1), QTime(8, 0))) {
    db().exec(QStringLiteral("INSERT INTO Model (EAN, Active, DateLastSimilarity, FullName, IdEmployees, "
                             "DateInsert) VALUES (?, ?, ?, ?, ?, ?)"),
              {ean, active, lastSimilarity, fullName.isNull() ? QVariant() : QVariant(fullName), idEmployees,
               inserted});
    return db().lastInsertId();
  }

  qint64 addWork(const QDate& day, const QTime& time, const QString& sn = QStringLiteral("1"),
                 int idModel = 0, bool excellent = false, const QString& fileName = QString(),
                 double percent = 0) {
    db().exec(QStringLiteral("INSERT INTO Works (datedoc, timedoc, SN, idModel, excellent, FileName, "
                             "PercentDifference) VALUES (?, ?, ?, ?, ?, ?, ?)"),
              {day, time, sn, idModel, excellent, fileName.isNull() ? QVariant() : QVariant(fileName), percent});
    return db().lastInsertId();
  }

  // All values of one column of a dataset, first row to last; the current row is kept.
  static QStringList column(Dataset& d, const QString& field) {
    QStringList out;
    const int keep = d.currentRow();
    d.setNotificationsEnabled(false);
    for (d.first(); !d.eof(); d.next()) out << d.asString(field);
    if (keep >= 0) d.moveTo(keep);
    d.setNotificationsEnabled(true);
    return out;
  }

  std::unique_ptr<DataStore> store;
};

}  // namespace tavo::test
