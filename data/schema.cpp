#include "data/schema.h"

#include <QFile>
#include <QStringList>
#include <stdexcept>

#include "data/database.h"

namespace tavo {

namespace {

using T = ColumnType;

std::vector<TableDef> makeTables() {
  return {
      {QStringLiteral("Model"),
       {{"id", T::AutoNumber},         {"Active", T::Bool},
        {"dark", T::Bool},             {"light", T::Bool},
        {"FullName", T::Text, 255},    {"EAN", T::Text, 13},
        {"BirthDay", T::Date},         {"Description", T::Text, 255},
        {"FileName", T::Text, 255},    {"FullPhoto", T::Text, 255},
        {"IdEmployees", T::LongInt},   {"radius", T::Double},
        {"idcascade", T::LongInt},     {"DateLastDetection", T::Date},
        {"DateLastSimilarity", T::Date}, {"DateInsert", T::DateTime}}},
      {QStringLiteral("Works"),
       {{"id", T::AutoNumber},        {"idModel", T::LongInt},
        {"datedoc", T::Date},         {"timedoc", T::Time},
        {"is_face", T::Bool},         {"SN", T::Text, 255},
        {"PercentDifference", T::Double}, {"FileName", T::Text, 255},
        {"excellent", T::Bool},       {"radius", T::Double},
        {"koef", T::Double},          {"idcascade", T::LongInt},
        {"tags", T::Text, 100},       {"cLeft", T::LongInt},
        {"cRight", T::LongInt},       {"cTop", T::LongInt},
        {"cBottom", T::LongInt},      {"width", T::LongInt},
        {"height", T::LongInt}}},
      {QStringLiteral("Result"),
       {{"id", T::AutoNumber},        {"idmodel", T::LongInt},
        {"fio", T::Text, 255},        {"koef", T::Double},
        {"ismirror", T::Bool},        {"PercentDifference", T::Double},
        {"FileName", T::Text, 255}}},
      {QStringLiteral("ModelMatch"),
       {{"id", T::AutoNumber}, {"idModel", T::LongInt}, {"idModelMatch", T::LongInt},
        {"similarity", T::Double}}},
      {QStringLiteral("Employees"),
       {{"id", T::AutoNumber}, {"FullName", T::Text, 255}, {"BirthDay", T::Date},
        {"Description", T::Text, 255}, {"Active", T::Bool}}},
  };
}

QString columnSql(const ColumnDef& c) {
  const QString n = c.name;
  switch (c.type) {
    case T::AutoNumber: return n + QStringLiteral(" INTEGER PRIMARY KEY AUTOINCREMENT");
    case T::Bool:
      return n + QStringLiteral(" INTEGER NOT NULL DEFAULT 0 CHECK (%1 IN (0, 1))").arg(n);
    case T::Text:
      return n + QStringLiteral(" TEXT CHECK (%1 IS NULL OR length(%1) <= %2)").arg(n).arg(c.textLength);
    case T::LongInt:
      return n + QStringLiteral(" INTEGER CHECK (%1 IS NULL OR (typeof(%1) = 'integer' AND %1 "
                                "BETWEEN -2147483648 AND 2147483647))").arg(n);
    case T::Double: return n + QStringLiteral(" REAL");
    case T::Date:
      return n + QStringLiteral(" TEXT CHECK (%1 IS NULL OR %1 GLOB "
                                "'[0-9][0-9][0-9][0-9]-[0-1][0-9]-[0-3][0-9]')").arg(n);
    case T::Time:
      return n + QStringLiteral(" TEXT CHECK (%1 IS NULL OR %1 GLOB '[0-2][0-9]:[0-5][0-9]:[0-5][0-9]')").arg(n);
    case T::DateTime:
      return n + QStringLiteral(" TEXT CHECK (%1 IS NULL OR %1 GLOB '[0-9][0-9][0-9][0-9]-[0-1][0-9]-"
                                "[0-3][0-9]T[0-2][0-9]:[0-5][0-9]:[0-5][0-9]')").arg(n);
  }
  return n;
}

}  // namespace

const ColumnDef* TableDef::column(const QString& n) const {
  for (const auto& c : columns)
    if (c.name.compare(n, Qt::CaseInsensitive) == 0) return &c;
  return nullptr;
}

const std::vector<TableDef>& schemaTables() {
  static const std::vector<TableDef> tables = makeTables();
  return tables;
}

const TableDef& tableDef(const QString& name) {
  for (const auto& t : schemaTables())
    if (t.name.compare(name, Qt::CaseInsensitive) == 0) return t;
  throw std::runtime_error("Unknown table " + name.toStdString());
}

void createSchema(Database& db) {
  Database::Transaction tx(db);
  for (const auto& t : schemaTables()) {
    QStringList cols;
    for (const auto& c : t.columns) cols << columnSql(c);
    db.exec(QStringLiteral("CREATE TABLE %1 (\n  %2\n)").arg(t.name, cols.join(QStringLiteral(",\n  "))));
  }
  // The work log is read by date (browsing filter, retention, statistics); models by barcode.
  db.exec(QStringLiteral("CREATE INDEX Works_datedoc ON Works (datedoc)"));
  db.exec(QStringLiteral("CREATE INDEX Model_EAN ON Model (EAN)"));
  ensureTemplateStoreTable(db);
  tx.commit();
}

void ensureTemplateStoreTable(Database& db) {
  // One row per model: the outcome of its face file under one engine, found again only by the
  // same file digest and the same engine and template versions.
  db.exec(QStringLiteral(
      "CREATE TABLE IF NOT EXISTS FaceTemplate (\n"
      "  ModelId INTEGER NOT NULL PRIMARY KEY,\n"
      "  Digest BLOB NOT NULL,\n"
      "  EngineVersion INTEGER NOT NULL,\n"
      "  TemplateVersion INTEGER NOT NULL,\n"
      "  FaceCode INTEGER NOT NULL,\n"
      "  EyesCode INTEGER NOT NULL,\n"
      "  TemplateCode INTEGER NOT NULL,\n"
      "  Position BLOB,\n"
      "  Features BLOB,\n"
      "  Descriptor BLOB\n"
      ")"));
  // Whoever deletes a model row (editor, import clean-up, tools, another program), its template goes too.
  db.exec(QStringLiteral(
      "CREATE TRIGGER IF NOT EXISTS FaceTemplate_ModelDeleted AFTER DELETE ON Model "
      "BEGIN DELETE FROM FaceTemplate WHERE ModelId = old.id; END"));
}

void createDatabaseFile(const QString& hostPath, const QString& key) {
  Database db;
  db.create(hostPath, key);
  try {
    createSchema(db);
  } catch (...) {
    db.close();
    QFile::remove(hostPath);
    throw;
  }
}

}  // namespace tavo
