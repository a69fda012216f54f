#include "data/data_store.h"

#include "base/paths.h"
#include "base/station.h"
#include "data/schema.h"

namespace tavo {

DataStore::DataStore(Station& station, QObject* parent)
    : QObject(parent),
      station_(station),
      tableModel_(QStringLiteral("TableModel"), db_),
      tableWorks_(QStringLiteral("TableWorks"), db_),
      tableEmployees_(QStringLiteral("TableEmployees"), db_),
      tableResult_(QStringLiteral("TableResult"), db_),
      tableModelMatch_(QStringLiteral("TableModelMatch"), db_),
      queryResult_(QStringLiteral("QueryResult"), db_),
      retention_(station, db_, this) {}

DataStore::~DataStore() { close(); }

void DataStore::close() {
  for (Dataset* d : {&queryResult_, &tableModelMatch_, &tableResult_, &tableEmployees_, &tableWorks_, &tableModel_})
    d->close();
  db_.close();
}

void DataStore::open() {
  close();
  // The retention timer runs whatever happens here: a pass on a closed database fails, is
  // reported once and retried later.
  retention_.arm();
  db_.open(hostPath(station_.programFile(QLatin1String(kDatabaseFileName))), QLatin1String(kDatabasePassword));
  // A database that cannot be written or is damaged is not used at all: no answers the office
  // system would trust, no writes that could make it worse.
  try {
    db_.checkWritableAndSound();
  } catch (...) {
    db_.close();
    throw;
  }
  try {
    ensureTemplateStoreTable(db_);  // a database made before the template store gets its table here
  } catch (const DatabaseError& e) {
    // A database that cannot take the table (read-only) works on: the base is then built cold.
    station_.showLog(QStringLiteral("  FaceTemplate: ") + QString::fromUtf8(e.what()));
  }
  tableModel_.openTable(tableDef(QStringLiteral("Model")),
                        {{QStringLiteral("NameGroup"), QStringLiteral("IdEmployees"), QStringLiteral("Employees"),
                          QStringLiteral("id"), QStringLiteral("FullName"), QStringLiteral("idcascade")}});
  tableModel_.setSort(modelSort());
  tableWorks_.openTable(tableDef(QStringLiteral("Works")),
                        {{QStringLiteral("EAN"), QStringLiteral("idModel"), QStringLiteral("Model"),
                          QStringLiteral("id"), QStringLiteral("EAN"), QStringLiteral("is_face")}});
  tableWorks_.setSort(worksSort());
  tableEmployees_.openTable(tableDef(QStringLiteral("Employees")));
  tableResult_.openTable(tableDef(QStringLiteral("Result")));
  tableModelMatch_.openTable(tableDef(QStringLiteral("ModelMatch")));
}

void DataStore::applyWorkFilter(const WorkFilter& f) { tableWorks_.setFilter(f.condition()); }
void DataStore::applyModelFilter(const ModelFilter& f) { tableModel_.setFilter(f.condition()); }

int DataStore::exec(const QString& sql, const QVariantList& params) { return db_.exec(sql, params); }
Rows DataStore::query(const QString& sql, const QVariantList& params) { return db_.query(sql, params); }

}  // namespace tavo
