#include "data/dataset.h"

#include <QRegularExpression>
#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace tavo {

namespace {

[[noreturn]] void error(const QString& text) { throw std::runtime_error(text.toStdString()); }

const QDate kTimeBaseDate(1899, 12, 30);  // the date part of a time-only value

// SQLite's order of stored values: NULL, numbers, text, blobs.
int typeRank(const QVariant& v) {
  if (v.isNull()) return 0;
  switch (v.typeId()) {
    case QMetaType::LongLong:
    case QMetaType::Double:
    case QMetaType::Int:
    case QMetaType::Bool: return 1;
    case QMetaType::QByteArray: return 3;
    default: return 2;
  }
}

int compareStored(const QVariant& a, const QVariant& b) {
  const int ra = typeRank(a), rb = typeRank(b);
  if (ra != rb) return ra < rb ? -1 : 1;
  if (ra == 0) return 0;
  if (ra == 1) {
    if (a.typeId() == QMetaType::LongLong && b.typeId() == QMetaType::LongLong) {
      const qlonglong x = a.toLongLong(), y = b.toLongLong();
      return x < y ? -1 : (x > y ? 1 : 0);
    }
    const double x = a.toDouble(), y = b.toDouble();
    return x < y ? -1 : (x > y ? 1 : 0);
  }
  if (ra == 3) {
    const QByteArray x = a.toByteArray(), y = b.toByteArray();
    return x < y ? -1 : (x > y ? 1 : 0);
  }
  // BINARY collation compares UTF-8 bytes; UTF-8 byte order is code point order.
  const QByteArray x = a.toString().toUtf8(), y = b.toString().toUtf8();
  return x < y ? -1 : (x > y ? 1 : 0);
}

QDate parseDate(const QString& s) {
  QDate d = QDate::fromString(s.left(10), QStringLiteral("yyyy-MM-dd"));
  return d;
}
QTime parseTime(const QString& s) {
  const QString t = s.size() > 8 ? s.mid(s.indexOf(QLatin1Char('T')) + 1, 8) : s;
  return QTime::fromString(t, QStringLiteral("HH:mm:ss"));
}
QDateTime parseDateTime(const QString& s) {
  QDateTime t = QDateTime::fromString(s.left(19), QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
  if (!t.isValid()) {
    const QDate d = parseDate(s);
    if (d.isValid() && s.size() == 10) t = d.startOfDay();
  }
  return t;
}

}  // namespace

Dataset::Dataset(QString name, Database& db) : name_(std::move(name)), db_(db) {}

void Dataset::requireTable(const char* what) const {
  if (state_ == State::Inactive) error(QStringLiteral("%1: dataset is closed").arg(name_));
  if (!table_) error(QStringLiteral("%1: %2 is not possible on a read-only query").arg(name_, QLatin1String(what)));
}

void Dataset::requireBrowse(const char* what) const {
  if (state_ == State::Inactive) error(QStringLiteral("%1: dataset is closed").arg(name_));
  (void)what;
}

int Dataset::fieldIndex(const QString& name) const {
  for (int i = 0; i < int(fields_.size()); ++i)
    if (fields_[size_t(i)].name.compare(name, Qt::CaseInsensitive) == 0) return i;
  return -1;
}

int Dataset::requireField(const QString& name) const {
  const int i = fieldIndex(name);
  if (i < 0) error(QStringLiteral("%1: field '%2' not found").arg(name_, name));
  return i;
}

void Dataset::openTable(const TableDef& table, std::vector<LookupDef> lookups) {
  close();
  table_ = &table;
  lookups_ = std::move(lookups);
  fields_.clear();
  for (const auto& c : table.columns) {
    fields_.push_back({c.name, c.type, c.textLength, -1});
    for (int l = 0; l < int(lookups_.size()); ++l)
      if (lookups_[size_t(l)].after.compare(c.name, Qt::CaseInsensitive) == 0) {
        const auto& lk = lookups_[size_t(l)];
        const ColumnDef* rc = tableDef(lk.table).column(lk.resultColumn);
        if (!rc) error(QStringLiteral("%1: lookup column %2.%3 not found").arg(name_, lk.table, lk.resultColumn));
        fields_.push_back({lk.name, rc->type, rc->textLength, l});
      }
  }
  fieldNames_.clear();
  for (const auto& f : fields_) fieldNames_ << f.name;
  sort_.clear();
  sortText_.clear();
  filter_ = {};
  state_ = State::Browse;
  try {
    invalidate(-1);
  } catch (...) {
    close();
    throw;
  }
  notify(Change::DataChanged);
}

void Dataset::openQuery(const QString& sql, const QVariantList& params) {
  close();
  querySql_ = sql;
  queryParams_ = params;
  const Rows r = db_.query(sql, params);
  fields_.clear();
  fieldNames_ = r.columns;
  for (const auto& c : r.columns) fields_.push_back({c, ColumnType::Text, 0, -1});
  // Types of a query's columns are taken from the values read.
  for (size_t c = 0; c < fields_.size(); ++c)
    for (const auto& row : r.rows)
      if (!row[int(c)].isNull()) {
        fields_[c].type = row[int(c)].typeId() == QMetaType::LongLong ? ColumnType::LongInt
                          : row[int(c)].typeId() == QMetaType::Double ? ColumnType::Double
                                                                       : ColumnType::Text;
        break;
      }
  rows_ = r.rows;
  loaded_ = true;
  state_ = State::Browse;
  current_ = rows_.empty() ? -1 : 0;
  eof_ = rows_.empty();
  notify(Change::DataChanged);
}

void Dataset::close() {
  state_ = State::Inactive;
  table_ = nullptr;
  rows_.clear();
  loaded_ = false;
  keepId_ = -1;
  buffer_.clear();
  changed_.clear();
  modified_ = false;
  current_ = -1;
  eof_ = true;
}

QString Dataset::selectSql() const {
  QStringList cols;
  const QString t = table_->name;
  for (const auto& f : fields_) {
    if (f.lookup < 0) {
      cols << t + QLatin1Char('.') + f.name;
    } else {
      const auto& l = lookups_[size_t(f.lookup)];
      cols << QStringLiteral("(SELECT L.%1 FROM %2 AS L WHERE L.%3 = %4.%5 LIMIT 1) AS %6")
                  .arg(l.resultColumn, l.table, l.keyColumn, t, l.keyField, l.name);
    }
  }
  return QStringLiteral("SELECT %1 FROM %2").arg(cols.join(QStringLiteral(", ")), t);
}

QString Dataset::readSql() const {
  QString sql = selectSql();
  if (!filter_.empty()) sql += QStringLiteral(" WHERE ") + filter_.sql;
  QStringList order;
  for (const auto& k : sort_)
    order << table_->name + QLatin1Char('.') + fields_[size_t(k.field)].name + (k.desc ? QStringLiteral(" DESC") : QString());
  const bool lastDesc = !sort_.empty() && sort_.back().desc;
  order << table_->name + QStringLiteral(".id") + (lastDesc ? QStringLiteral(" DESC") : QString());
  return sql + QStringLiteral(" ORDER BY ") + order.join(QStringLiteral(", "));
}

void Dataset::invalidate(qint64 keepId) {
  if (!table_) {
    load(keepId);
    return;
  }
  // The statement is checked now, so that a bad table or filter fails where it is set.
  db_.query(readSql() + QStringLiteral(" LIMIT 0"), filter_.params);
  rows_.clear();
  current_ = -1;
  eof_ = true;
  loaded_ = false;
  keepId_ = keepId;
}

void Dataset::ensureLoaded() const {
  if (!loaded_ && state_ != State::Inactive) const_cast<Dataset*>(this)->load(keepId_);
}

int Dataset::recordCount() const {
  ensureLoaded();
  return int(rows_.size());
}

int Dataset::currentRow() const {
  ensureLoaded();
  return current_;
}

bool Dataset::eof() const {
  ensureLoaded();
  return eof_;
}

void Dataset::load(qint64 keepId) {
  if (!table_) {
    const Rows r = db_.query(querySql_, queryParams_);
    rows_ = r.rows;
  } else {
    rows_ = db_.query(readSql(), filter_.params).rows;
  }
  loaded_ = true;
  keepId_ = -1;
  current_ = rows_.empty() ? -1 : 0;
  if (keepId >= 0 && table_) {
    for (int i = 0; i < int(rows_.size()); ++i)
      if (rows_[size_t(i)][0].toLongLong() == keepId) {
        current_ = i;
        break;
      }
  }
  eof_ = rows_.empty();
}

QVariantList Dataset::fetchRow(qint64 id) {
  const Rows r = db_.query(selectSql() + QStringLiteral(" WHERE %1.id = ?").arg(table_->name), {id});
  return r.empty() ? QVariantList() : r.rows.front();
}

QVariant Dataset::lookupValue(const LookupDef& l, const QVariant& key) {
  if (key.isNull()) return {};
  return db_.scalar(QStringLiteral("SELECT %1 FROM %2 WHERE %3 = ? LIMIT 1").arg(l.resultColumn, l.table, l.keyColumn), {key});
}

void Dataset::refresh() {
  requireBrowse("refresh");
  if (state_ == State::Insert || state_ == State::Edit) modified_ ? (void)post() : cancel();
  qint64 keep = keepId_;
  if (table_ && loaded_ && current_ >= 0) keep = rows_[size_t(current_)][0].toLongLong();
  invalidate(keep);
  notify(Change::DataChanged);
}

void Dataset::setSort(const QString& sort) {
  requireTable("sorting");
  std::vector<SortKey> keys;
  for (QString part : sort.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
    const QStringList words = part.simplified().split(QLatin1Char(' '));
    if (words.isEmpty() || words.size() > 2) error(QStringLiteral("%1: bad sort order '%2'").arg(name_, sort));
    const int f = fieldIndex(words[0]);
    if (f < 0 || fields_[size_t(f)].lookup >= 0) error(QStringLiteral("%1: cannot sort by '%2'").arg(name_, words[0]));
    bool desc = false;
    if (words.size() == 2) {
      if (words[1].compare(QLatin1String("DESC"), Qt::CaseInsensitive) == 0) desc = true;
      else if (words[1].compare(QLatin1String("ASC"), Qt::CaseInsensitive) != 0)
        error(QStringLiteral("%1: bad sort order '%2'").arg(name_, sort));
    }
    keys.push_back({f, desc});
  }
  if (state_ == State::Insert || state_ == State::Edit) modified_ ? (void)post() : cancel();
  sort_ = std::move(keys);
  sortText_ = sort;
  refresh();
}

void Dataset::setFilter(const SqlCondition& condition) {
  requireTable("filtering");
  if (state_ == State::Insert || state_ == State::Edit) modified_ ? (void)post() : cancel();
  const SqlCondition old = filter_;
  filter_ = condition;
  try {
    invalidate(-1);
  } catch (...) {
    filter_ = old;
    throw;
  }
  notify(Change::DataChanged);
}

bool Dataset::lessThan(const QVariantList& a, const QVariantList& b) const {
  for (const auto& k : sort_) {
    const int c = compareStored(a[k.field], b[k.field]);
    if (c != 0) return k.desc ? c > 0 : c < 0;
  }
  const bool lastDesc = !sort_.empty() && sort_.back().desc;
  const int c = compareStored(a[0], b[0]);
  return lastDesc ? c > 0 : c < 0;
}

void Dataset::setCurrent(int row) {
  ensureLoaded();
  if (state_ == State::Insert || state_ == State::Edit) modified_ ? (void)post() : cancel();
  current_ = rows_.empty() ? -1 : std::clamp(row, 0, int(rows_.size()) - 1);
  eof_ = rows_.empty();
  notify(Change::Scrolled);
}

void Dataset::first() {
  requireBrowse("first");
  setCurrent(0);
}

void Dataset::last() {
  requireBrowse("last");
  setCurrent(recordCount() - 1);
}

void Dataset::next() {
  ensureLoaded();
  requireBrowse("next");
  if (state_ == State::Insert || state_ == State::Edit) modified_ ? (void)post() : cancel();
  if (current_ + 1 < int(rows_.size())) {
    ++current_;
    eof_ = false;
    notify(Change::Scrolled);
  } else {
    eof_ = true;
  }
}

void Dataset::prior() {
  ensureLoaded();
  requireBrowse("prior");
  if (current_ > 0) setCurrent(current_ - 1);
}

void Dataset::moveTo(int row) {
  ensureLoaded();
  requireBrowse("moveTo");
  if (row < 0 || row >= int(rows_.size())) error(QStringLiteral("%1: no row %2").arg(name_).arg(row));
  setCurrent(row);
}

bool Dataset::locateId(qint64 id) {
  ensureLoaded();
  requireTable("locate");
  for (int i = 0; i < int(rows_.size()); ++i)
    if (rows_[size_t(i)][0].toLongLong() == id) {
      setCurrent(i);
      return true;
    }
  return false;
}

const QVariantList& Dataset::rowValues() const {
  ensureLoaded();
  if (state_ == State::Inactive) error(QStringLiteral("%1: dataset is closed").arg(name_));
  if (state_ == State::Insert || state_ == State::Edit) return buffer_;
  if (current_ < 0) error(QStringLiteral("%1: no current record").arg(name_));
  return rows_[size_t(current_)];
}

QVariant Dataset::typed(int field, const QVariant& v) const {
  if (v.isNull()) return {};
  const Field& f = fields_[size_t(field)];
  switch (f.type) {
    case ColumnType::AutoNumber:
    case ColumnType::LongInt: return v.typeId() == QMetaType::LongLong ? QVariant(int(v.toLongLong())) : v;
    case ColumnType::Bool: return QVariant(v.toLongLong() != 0);
    case ColumnType::Double: return QVariant(v.toDouble());
    case ColumnType::Text: return v.typeId() == QMetaType::LongLong || v.typeId() == QMetaType::Double ? v : QVariant(v.toString());
    case ColumnType::Date: return QVariant(parseDate(v.toString()));
    case ColumnType::Time: return QVariant(parseTime(v.toString()));
    case ColumnType::DateTime: return QVariant(parseDateTime(v.toString()));
  }
  return v;
}

QVariant Dataset::field(const QString& name) const {
  const int i = requireField(name);
  return typed(i, rowValues()[i]);
}

bool Dataset::isNull(const QString& name) const { return rowValues()[requireField(name)].isNull(); }

QString Dataset::asString(const QString& name) const {
  const QVariant v = rowValues()[requireField(name)];
  if (v.isNull()) return {};
  if (v.typeId() == QMetaType::Double) return QString::number(v.toDouble(), 'g', 15);
  return v.toString();
}

int Dataset::asInt(const QString& name) const { return int(asInt64(name)); }

qint64 Dataset::asInt64(const QString& name) const {
  const QVariant v = rowValues()[requireField(name)];
  if (v.isNull()) return 0;
  bool ok = false;
  const qint64 n = v.toLongLong(&ok);
  if (!ok) error(QStringLiteral("%1: '%2' is not an integer value").arg(name_, v.toString()));
  return n;
}

double Dataset::asDouble(const QString& name) const {
  const QVariant v = rowValues()[requireField(name)];
  if (v.isNull()) return 0;
  bool ok = false;
  const double d = v.toDouble(&ok);
  if (!ok) error(QStringLiteral("%1: '%2' is not a floating-point value").arg(name_, v.toString()));
  return d;
}

bool Dataset::asBool(const QString& name) const {
  const QVariant v = rowValues()[requireField(name)];
  return !v.isNull() && v.toLongLong() != 0;
}

QDateTime Dataset::asDateTime(const QString& name) const {
  const int i = requireField(name);
  const QVariant v = rowValues()[i];
  if (v.isNull()) return {};
  const QString s = v.toString();
  switch (fields_[size_t(i)].type) {
    case ColumnType::Date: return parseDate(s).startOfDay();
    case ColumnType::Time: return QDateTime(kTimeBaseDate, parseTime(s));
    default: return parseDateTime(s);
  }
}

QDate Dataset::asDate(const QString& name) const { return asDateTime(name).date(); }
QTime Dataset::asTime(const QString& name) const { return asDateTime(name).time(); }

QVariant Dataset::storable(int field, const QVariant& value) const {
  const Field& f = fields_[size_t(field)];
  const auto bad = [&](const char* kind) {
    error(QStringLiteral("%1: '%2' is not %3 for field '%4'").arg(name_, value.toString(), QLatin1String(kind), f.name));
  };
  if (f.type == ColumnType::Bool) return QVariant(qlonglong(value.isValid() && value.toBool() ? 1 : 0));
  if (!value.isValid() || value.isNull()) return {};
  switch (f.type) {
    case ColumnType::AutoNumber: error(QStringLiteral("%1: field '%2' is read-only").arg(name_, f.name));
    case ColumnType::LongInt: {
      bool ok = false;
      double d = value.toDouble(&ok);
      if (!ok || d != std::floor(d) || d < std::numeric_limits<qint32>::min() || d > std::numeric_limits<qint32>::max())
        bad("a 32-bit whole number");
      return QVariant(qlonglong(d));
    }
    case ColumnType::Double: {
      bool ok = false;
      const double d = value.toDouble(&ok);
      if (!ok) bad("a number");
      return QVariant(d);
    }
    case ColumnType::Text: {
      const QString s = value.toString();
      if (f.textLength > 0 && s.size() > f.textLength)
        error(QStringLiteral("%1: text for field '%2' is longer than %3 characters").arg(name_, f.name).arg(f.textLength));
      return QVariant(s);
    }
    case ColumnType::Date: {
      QDate d = value.typeId() == QMetaType::QDate ? value.toDate()
                : value.typeId() == QMetaType::QDateTime ? value.toDateTime().date()
                                                         : parseDate(value.toString());
      if (!d.isValid()) bad("a date");
      return QVariant(sqlDate(d));
    }
    case ColumnType::Time: {
      QTime t = value.typeId() == QMetaType::QTime ? value.toTime()
                : value.typeId() == QMetaType::QDateTime ? value.toDateTime().time()
                                                         : parseTime(value.toString());
      if (!t.isValid()) bad("a time of day");
      return QVariant(sqlTime(t));
    }
    case ColumnType::DateTime: {
      QDateTime t = value.typeId() == QMetaType::QDateTime ? value.toDateTime()
                    : value.typeId() == QMetaType::QDate ? value.toDate().startOfDay()
                                                         : parseDateTime(value.toString());
      if (!t.isValid()) bad("a date and time");
      return QVariant(sqlDateTime(t));
    }
    case ColumnType::Bool: break;
  }
  return value;
}

void Dataset::insert() {
  requireTable("insert");
  if (state_ == State::Insert || state_ == State::Edit) modified_ ? (void)post() : cancel();
  buffer_.clear();
  for (const auto& f : fields_) buffer_ << (f.type == ColumnType::Bool && f.lookup < 0 ? QVariant(qlonglong(0)) : QVariant());
  changed_.assign(fields_.size(), false);
  modified_ = false;
  state_ = State::Insert;
  notify(Change::StateChanged);
}

void Dataset::edit() {
  ensureLoaded();
  requireTable("edit");
  if (state_ == State::Edit || state_ == State::Insert) return;
  if (current_ < 0) error(QStringLiteral("%1: no current record to edit").arg(name_));
  buffer_ = rows_[size_t(current_)];
  changed_.assign(fields_.size(), false);
  modified_ = false;
  state_ = State::Edit;
  notify(Change::StateChanged);
}

void Dataset::setField(const QString& name, const QVariant& value) {
  requireTable("setField");
  if (state_ != State::Insert && state_ != State::Edit)
    error(QStringLiteral("%1: not in edit or insert mode").arg(name_));
  const int i = requireField(name);
  if (fields_[size_t(i)].lookup >= 0) error(QStringLiteral("%1: field '%2' is a lookup and read-only").arg(name_, fields_[size_t(i)].name));
  buffer_[i] = storable(i, value);
  changed_[size_t(i)] = true;
  modified_ = true;
  for (size_t f = 0; f < fields_.size(); ++f) {
    if (fields_[f].lookup < 0) continue;
    const auto& l = lookups_[size_t(fields_[f].lookup)];
    if (l.keyField.compare(fields_[size_t(i)].name, Qt::CaseInsensitive) == 0) buffer_[int(f)] = lookupValue(l, buffer_[i]);
  }
  notify(Change::FieldChanged);
}

qint64 Dataset::post() {
  requireTable("post");
  if (state_ != State::Insert && state_ != State::Edit) error(QStringLiteral("%1: not in edit or insert mode").arg(name_));
  QStringList cols;
  QVariantList params;
  for (size_t f = 0; f < fields_.size(); ++f)
    if (changed_[f] && fields_[f].lookup < 0) {
      cols << fields_[f].name;
      params << buffer_[int(f)];
    }
  const QString t = table_->name;
  qint64 id = 0;
  if (state_ == State::Insert) {
    if (cols.isEmpty()) {
      db_.exec(QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(t));
    } else {
      QStringList marks;
      for (int k = 0; k < cols.size(); ++k) marks << QStringLiteral("?");
      db_.exec(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)").arg(t, cols.join(QStringLiteral(", ")), marks.join(QStringLiteral(", "))), params);
    }
    id = db_.lastInsertId();
    QVariantList row = fetchRow(id);
    if (row.isEmpty()) error(QStringLiteral("%1: the new row %2 cannot be read back").arg(name_).arg(id));
    if (!loaded_) {
      keepId_ = id;  // read with the rest on first use
      buffer_.clear();
      changed_.clear();
      modified_ = false;
      state_ = State::Browse;
      notify(Change::DataChanged);
      return id;
    }
    const auto pos = std::upper_bound(rows_.begin(), rows_.end(), row,
                                      [this](const QVariantList& a, const QVariantList& b) { return lessThan(a, b); });
    current_ = int(pos - rows_.begin());
    rows_.insert(pos, std::move(row));
  } else {
    id = rows_[size_t(current_)][0].toLongLong();
    if (!cols.isEmpty()) {
      QStringList sets;
      for (const auto& c : cols) sets << c + QStringLiteral(" = ?");
      params << id;
      if (db_.exec(QStringLiteral("UPDATE %1 SET %2 WHERE id = ?").arg(t, sets.join(QStringLiteral(", "))), params) == 0)
        error(QStringLiteral("%1: the row %2 was deleted by someone else and cannot be updated").arg(name_).arg(id));
    }
    QVariantList row = fetchRow(id);
    if (!row.isEmpty()) rows_[size_t(current_)] = std::move(row);
  }
  buffer_.clear();
  changed_.clear();
  modified_ = false;
  state_ = State::Browse;
  eof_ = false;
  notify(Change::DataChanged);
  return id;
}

void Dataset::cancel() {
  if (state_ != State::Insert && state_ != State::Edit) return;
  buffer_.clear();
  changed_.clear();
  modified_ = false;
  state_ = State::Browse;
  notify(Change::DataChanged);
}

void Dataset::remove() {
  ensureLoaded();
  requireTable("delete");
  if (state_ == State::Insert) {
    cancel();
    return;
  }
  if (state_ == State::Edit) cancel();
  if (current_ < 0) error(QStringLiteral("%1: no current record to delete").arg(name_));
  const qint64 id = rows_[size_t(current_)][0].toLongLong();
  db_.exec(QStringLiteral("DELETE FROM %1 WHERE id = ?").arg(table_->name), {id});
  rows_.erase(rows_.begin() + current_);
  current_ = rows_.empty() ? -1 : std::min(current_, int(rows_.size()) - 1);
  eof_ = rows_.empty();
  notify(Change::DataChanged);
}

void Dataset::setNotificationsEnabled(bool on) {
  const bool was = notify_;
  notify_ = on;
  if (on && !was) notify(Change::DataChanged);
}

void Dataset::notify(Change c) {
  if (!notify_) return;
  const auto listeners = listeners_;
  for (const auto& l : listeners) l(c);
}

}  // namespace tavo
