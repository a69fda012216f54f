#pragma once
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <vector>

#include "data/database.h"
#include "data/filters.h"
#include "data/schema.h"

namespace tavo {

// A lookup field: the value of `resultColumn` of the row of `table` whose `keyColumn` equals the
// dataset's field `keyField`; shown after the field `after`. Read-only.
struct LookupDef {
  QString name;
  QString keyField;
  QString table;
  QString keyColumn;
  QString resultColumn;
  QString after;
};

// An open dataset with a static cursor: it holds the rows of its table (or query) in memory, in
// its sort order, and writes changes back row by row. Other writers' changes show after
// refresh(). A table dataset can insert, edit and delete; a query dataset is read-only.
class Dataset {
 public:
  enum class State { Inactive, Browse, Insert, Edit };
  // What a change notification reports.
  enum class Change { Scrolled, DataChanged, FieldChanged, StateChanged };
  using Listener = std::function<void(Change)>;

  Dataset(QString name, Database& db);

  const QString& name() const { return name_; }

  // Opens over a table (all its columns plus lookups) or a read-only query.
  void openTable(const TableDef& table, std::vector<LookupDef> lookups = {});
  void openQuery(const QString& sql, const QVariantList& params = {});
  void close();
  bool isOpen() const { return state_ != State::Inactive; }
  State state() const { return state_; }
  // Re-reads the rows, keeping the current row by id where it can.
  void refresh();

  // Sort order "EAN,DateLastSimilarity" or "datedoc DESC, timedoc DESC" (table datasets only);
  // names are checked against the table. Re-reads the rows.
  void setSort(const QString& sort);
  QString sort() const { return sortText_; }
  // Filter over the table's columns (table datasets only); an empty condition shows all rows.
  // Re-reads; the first row that passes becomes current.
  void setFilter(const SqlCondition& condition);
  const SqlCondition& filter() const { return filter_; }

  // Fields: columns in order, lookups in their places.
  const QStringList& fieldNames() const { return fieldNames_; }
  bool hasField(const QString& name) const { return fieldIndex(name) >= 0; }
  int fieldIndex(const QString& name) const;  // case-insensitive; -1 when absent

  // Navigation.
  int recordCount() const;
  bool isEmpty() const { return recordCount() == 0; }
  int currentRow() const;  // -1 when empty
  void first();
  void last();
  void next();   // past the last row sets eof()
  void prior();
  bool eof() const;
  bool bof() const { return currentRow() <= 0; }
  void moveTo(int row);
  bool locateId(qint64 id);  // makes the row with this id current; false when absent

  // Fields of the current row (or of the row being inserted or edited). Date columns give QDate,
  // Time QTime, DateTime QDateTime, Bool bool, LongInt/AutoNumber int, Double double, Text
  // QString; empty fields give a null QVariant. Throws std::runtime_error for an unknown field or
  // when there is no current row.
  QVariant field(const QString& name) const;
  QString asString(const QString& name) const;  // empty for null
  int asInt(const QString& name) const;         // 0 for null
  qint64 id() const { return asInt64(QStringLiteral("id")); }
  qint64 asInt64(const QString& name) const;
  double asDouble(const QString& name) const;   // 0 for null
  bool asBool(const QString& name) const;       // false for null
  QDateTime asDateTime(const QString& name) const;  // Time fields on 1899-12-30
  QDate asDate(const QString& name) const;
  QTime asTime(const QString& name) const;
  bool isNull(const QString& name) const;

  // Editing (table datasets). setField needs Insert or Edit state and checks the value against
  // the column (type, text length); lookups are read-only but follow their key field at once.
  void insert();  // a new empty row becomes current (Yes/No fields false)
  void edit();    // the current row
  void setField(const QString& name, const QVariant& value);
  bool isModified() const { return modified_; }
  qint64 post();  // writes the row; returns its id (the new id for inserts)
  void cancel();
  void remove();  // deletes the current row

  // Change notification (data source): every move, re-read, field change and state change.
  void onChange(Listener listener) { listeners_.push_back(std::move(listener)); }
  // Off while a walk must not move the pictures; switching it back on reports one DataChanged.
  void setNotificationsEnabled(bool on);
  bool notificationsEnabled() const { return notify_; }

 private:
  struct Field {
    QString name;
    ColumnType type;
    int textLength = 0;
    int lookup = -1;  // index into lookups_, or -1 for a table column
  };
  struct SortKey {
    int field;
    bool desc;
  };

  QString selectSql() const;
  QString readSql() const;  // select with filter and order
  void load(qint64 keepId);
  // Rows are read on first use, so that a filter set right after opening reads only its rows.
  void invalidate(qint64 keepId);
  void ensureLoaded() const;
  QVariantList fetchRow(qint64 id);
  QVariant lookupValue(const LookupDef& l, const QVariant& key);
  QVariant typed(int field, const QVariant& stored) const;
  QVariant storable(int field, const QVariant& value) const;
  const QVariantList& rowValues() const;
  int requireField(const QString& name) const;
  void requireTable(const char* what) const;
  void requireBrowse(const char* what) const;
  bool lessThan(const QVariantList& a, const QVariantList& b) const;
  void notify(Change c);
  void setCurrent(int row);

  QString name_;
  Database& db_;
  State state_ = State::Inactive;
  const TableDef* table_ = nullptr;
  std::vector<LookupDef> lookups_;
  QString querySql_;
  QVariantList queryParams_;
  std::vector<Field> fields_;
  QStringList fieldNames_;
  QString sortText_;
  std::vector<SortKey> sort_;
  SqlCondition filter_;
  std::vector<QVariantList> rows_;  // stored values (as read from the database)
  bool loaded_ = false;
  qint64 keepId_ = -1;
  int current_ = -1;
  bool eof_ = true;
  QVariantList buffer_;             // the row being inserted or edited
  std::vector<bool> changed_;       // fields set since insert()/edit()
  bool modified_ = false;
  bool notify_ = true;
  std::vector<Listener> listeners_;
};

}  // namespace tavo
