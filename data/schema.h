#pragma once
#include <QString>
#include <vector>

namespace tavo {

class Database;

// Column kinds of the tables. Date/Time columns hold ISO-8601 text: Date "yyyy-MM-dd",
// Time "HH:mm:ss", DateTime "yyyy-MM-ddTHH:mm:ss".
enum class ColumnType { AutoNumber, Bool, Text, LongInt, Double, Date, Time, DateTime };

struct ColumnDef {
  QString name;
  ColumnType type;
  int textLength = 0;  // Text(n)
};

struct TableDef {
  QString name;
  std::vector<ColumnDef> columns;  // in table order; the first is the AutoNumber "id"
  const ColumnDef* column(const QString& name) const;  // case-insensitive; nullptr when absent
};

// The five tables: Model, Works, Result, ModelMatch, Employees.
const std::vector<TableDef>& schemaTables();
const TableDef& tableDef(const QString& name);  // throws std::runtime_error for an unknown table

// Creates the tables, indexes and the template store in an empty database (one transaction).
void createSchema(Database& db);
// The table of stored face templates (FaceTemplate), with the trigger that drops a model's
// template with its row. Safe to run on any database: what exists already is kept.
void ensureTemplateStoreTable(Database& db);
// Creates a new encrypted database file with the schema; refuses an existing file.
void createDatabaseFile(const QString& hostPath, const QString& key);

}  // namespace tavo
