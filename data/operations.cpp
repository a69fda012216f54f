// Statements the other parts run through the data store; every value is a bound parameter.
#include <QStringList>

#include "base/station.h"
#include "data/data_store.h"

namespace tavo {

namespace {

std::optional<double> optionalDouble(const QVariant& v) {
  if (v.isNull()) return std::nullopt;
  return v.toDouble();
}

MarginFigures margins(Database& db, const char* fn) {
  const QString f = QLatin1String(fn);
  const Rows r = db.query(QStringLiteral("SELECT %1(cLeft), %1(cRight), %1(cTop), %1(cBottom) FROM Works "
                                         "WHERE cLeft > 0 AND cRight > 0 AND cTop > 0 AND cBottom > 0")
                              .arg(f));
  if (r.empty()) return {};
  const auto& row = r.rows.front();
  return {optionalDouble(row[0]), optionalDouble(row[1]), optionalDouble(row[2]), optionalDouble(row[3])};
}

}  // namespace

void DataStore::clearResult() {
  db_.exec(QStringLiteral("DELETE FROM Result"));
  if (tableResult_.isOpen()) tableResult_.refresh();
}

qint64 DataStore::appendResult(std::optional<int> idModel, double percent, const QString& fileName,
                               const QString& fio) {
  db_.exec(QStringLiteral("INSERT INTO Result (idmodel, PercentDifference, FileName, fio) VALUES (?, ?, ?, ?)"),
           {idModel ? QVariant(*idModel) : QVariant(), percent, fileName, fio.isNull() ? QVariant() : QVariant(fio)});
  const qint64 id = db_.lastInsertId();
  if (tableResult_.isOpen()) tableResult_.refresh();
  return id;
}

std::vector<ResultQueryRow> DataStore::openQueryResult(std::optional<double> minimumPercent) {
  QString sql = QStringLiteral(
      "SELECT Result.idmodel, Result.fio, Result.koef, Result.ismirror, Result.PercentDifference, "
      "Result.FileName, Model.FullName, Model.EAN FROM Result LEFT JOIN Model ON Result.idmodel = Model.id ");
  QVariantList params;
  if (minimumPercent) {
    sql += QStringLiteral("WHERE Result.PercentDifference >= ? ");
    params << *minimumPercent;
  }
  sql += QStringLiteral("ORDER BY Result.PercentDifference DESC, Result.id LIMIT 100");
  queryResult_.openQuery(sql, params);
  std::vector<ResultQueryRow> out;
  const Rows r = db_.query(sql, params);
  for (const auto& row : r.rows) {
    ResultQueryRow q;
    if (!row[0].isNull()) q.idModel = int(row[0].toLongLong());
    q.fio = row[1].toString();
    q.koef = row[2].toDouble();
    q.isMirror = row[3].toLongLong() != 0;
    q.percent = row[4].toDouble();
    q.fileName = row[5].toString();
    q.fullName = row[6].toString();
    q.ean = row[7].toString();
    out.push_back(std::move(q));
  }
  return out;
}

Rows DataStore::activeModelsOf(const QString& ean) {
  return db_.query(QStringLiteral("SELECT * FROM Model WHERE Active = 1 AND EAN = ? ORDER BY id"), {ean});
}

qint64 DataStore::insertWork(const WorkRecord& w) {
  const QDateTime now = station_.clock().now();
  Dataset& t = tableWorks_;
  t.insert();
  try {
    t.setField(QStringLiteral("datedoc"), now.date());
    t.setField(QStringLiteral("timedoc"), now.time());
    t.setField(QStringLiteral("FileName"), w.fileName);
    t.setField(QStringLiteral("is_face"), w.isFace);
    t.setField(QStringLiteral("idModel"), w.idModel);
    t.setField(QStringLiteral("PercentDifference"), w.percent);
    t.setField(QStringLiteral("SN"), w.sn);
    t.setField(QStringLiteral("tags"), w.tags);
    t.setField(QStringLiteral("cLeft"), w.cLeft);
    t.setField(QStringLiteral("cRight"), w.cRight);
    t.setField(QStringLiteral("cTop"), w.cTop);
    t.setField(QStringLiteral("cBottom"), w.cBottom);
    t.setField(QStringLiteral("height"), w.height);
    t.setField(QStringLiteral("width"), w.width);
    // The looked-up barcode of model idModel; without a model there is no match, even for an
    // empty barcode.
    t.setField(QStringLiteral("excellent"), !t.isNull(QStringLiteral("EAN")) && w.sn == t.asString(QStringLiteral("EAN")));
    return t.post();
  } catch (...) {
    t.cancel();
    throw;
  }
}

int DataStore::setLastDetection(const QString& ean, const QDate& day) {
  return db_.exec(QStringLiteral("UPDATE Model SET DateLastDetection = ? WHERE EAN = ? AND Active = 1"), {day, ean});
}

int DataStore::setLastSimilarity(const QString& ean, int idModel, const QDate& day) {
  return db_.exec(QStringLiteral("UPDATE Model SET DateLastSimilarity = ? WHERE EAN = ? AND id = ? AND Active = 1"),
                  {day, ean, idModel});
}

int DataStore::countMarginBand(MarginSide side, int lower, int upper, const QDate& from) {
  const QString c = side == MarginSide::Left ? QStringLiteral("cLeft") : QStringLiteral("cRight");
  // Only pictures with a face say where faces lie: a faceless row's margins are no face's.
  return db_.scalar(QStringLiteral("SELECT count(%1) FROM Works WHERE %1 > ? AND %1 <= ? AND datedoc >= ? AND is_face = 1").arg(c),
                    {lower, upper, from})
      .toInt();
}

int DataStore::countPercentBand(double lower, double upper, const QDate& day) {
  // A picture judged a presentation attack (tag "spoof") is no check-in, whatever it matched.
  return db_.scalar(QStringLiteral("SELECT count(PercentDifference) FROM Works WHERE PercentDifference > ? AND "
                                   "PercentDifference <= ? AND excellent = 1 AND datedoc = ? AND "
                                   "(', ' || coalesce(tags, '') || ', ') NOT LIKE '%, spoof, %'"),
                    {lower, upper, day})
      .toInt();
}

MarginFigures DataStore::marginMinimums() { return margins(db_, "min"); }
MarginFigures DataStore::marginAverages() { return margins(db_, "avg"); }

std::vector<std::pair<QString, int>> DataStore::activeModelCountsByEan() {
  const Rows r = db_.query(QStringLiteral("SELECT EAN, count(id) AS CountId FROM Model WHERE Active = 1 GROUP BY EAN ORDER BY EAN"));
  std::vector<std::pair<QString, int>> out;
  for (const auto& row : r.rows) out.emplace_back(row[0].toString(), int(row[1].toLongLong()));
  return out;
}

Rows DataStore::staleModelCandidates(const QString& ean, const QDateTime& insertedBefore) {
  return db_.query(QStringLiteral("SELECT id, EAN, DateLastSimilarity FROM Model WHERE EAN = ? AND DateInsert < ? "
                                  "AND Active = 1 ORDER BY DateLastSimilarity, id"),
                   {ean, insertedBefore});
}

void DataStore::setModelActive(qint64 id, bool active) {
  db_.exec(QStringLiteral("UPDATE Model SET Active = ? WHERE id = ?"), {active, id});
}

}  // namespace tavo
