#include "data/database.h"

#include <QDate>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QTime>
#include <cerrno>
#include <dlfcn.h>
#include <fcntl.h>
#include <sqlcipher/sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/regular_file.h"
#include "data/filters.h"

namespace tavo {

DatabaseError::DatabaseError(const QString& message, int code)
    : std::runtime_error(message.toStdString()), code_(code) {}

int Rows::columnIndex(const QString& name) const {
  for (int i = 0; i < columns.size(); ++i)
    if (columns[i].compare(name, Qt::CaseInsensitive) == 0) return i;
  return -1;
}

QVariant Rows::value(int row, const QString& column) const {
  const int c = columnIndex(column);
  if (c < 0) throw DatabaseError(QStringLiteral("Unknown column \"%1\"").arg(column));
  if (row < 0 || row >= size()) throw DatabaseError(QStringLiteral("No row %1").arg(row));
  return rows[size_t(row)][c];
}

QString sqlDate(const QDate& d) { return d.isValid() ? d.toString(QStringLiteral("yyyy-MM-dd")) : QString(); }
QString sqlTime(const QTime& t) { return t.isValid() ? t.toString(QStringLiteral("HH:mm:ss")) : QString(); }
QString sqlDateTime(const QDateTime& t) {
  return t.isValid() ? t.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) : QString();
}

namespace {

// contains_text(haystack, needle): literal, case-insensitive (Unicode) containment.
void containsText(sqlite3_context* ctx, int, sqlite3_value** argv) {
  auto text = [](sqlite3_value* v) {
    const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(v));
    return p ? QString::fromUtf8(p, sqlite3_value_bytes(v)) : QString();
  };
  sqlite3_result_int(ctx, text(argv[0]).contains(text(argv[1]), Qt::CaseInsensitive) ? 1 : 0);
}

void bindValue(sqlite3_stmt* st, int i, const QVariant& v, sqlite3* db) {
  int rc = SQLITE_OK;
  auto bindText = [&](const QString& s) {
    const QByteArray u = s.toUtf8();
    return sqlite3_bind_text(st, i, u.constData(), int(u.size()), SQLITE_TRANSIENT);
  };
  if (!v.isValid() || v.isNull()) {
    rc = sqlite3_bind_null(st, i);
  } else {
    switch (v.typeId()) {
      case QMetaType::Bool: rc = sqlite3_bind_int(st, i, v.toBool() ? 1 : 0); break;
      case QMetaType::Int:
      case QMetaType::UInt:
      case QMetaType::Long:
      case QMetaType::LongLong:
      case QMetaType::Short:
      case QMetaType::UShort:
      case QMetaType::ULongLong: rc = sqlite3_bind_int64(st, i, v.toLongLong()); break;
      case QMetaType::Double:
      case QMetaType::Float: rc = sqlite3_bind_double(st, i, v.toDouble()); break;
      case QMetaType::QDate: rc = bindText(sqlDate(v.toDate())); break;
      case QMetaType::QTime: rc = bindText(sqlTime(v.toTime())); break;
      case QMetaType::QDateTime: rc = bindText(sqlDateTime(v.toDateTime())); break;
      case QMetaType::QByteArray: {
        const QByteArray b = v.toByteArray();
        rc = sqlite3_bind_blob(st, i, b.constData(), int(b.size()), SQLITE_TRANSIENT);
        break;
      }
      default: rc = bindText(v.toString()); break;
    }
  }
  if (rc != SQLITE_OK)
    throw DatabaseError(QString::fromUtf8(sqlite3_errmsg(db)), rc);
}

QVariant columnValue(sqlite3_stmt* st, int c) {
  switch (sqlite3_column_type(st, c)) {
    case SQLITE_INTEGER: return QVariant(qlonglong(sqlite3_column_int64(st, c)));
    case SQLITE_FLOAT: return QVariant(sqlite3_column_double(st, c));
    case SQLITE_NULL: return QVariant();
    case SQLITE_BLOB:
      return QVariant(QByteArray(static_cast<const char*>(sqlite3_column_blob(st, c)),
                                 sqlite3_column_bytes(st, c)));
    default:
      return QVariant(QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, c)),
                                        sqlite3_column_bytes(st, c)));
  }
}

// A prepared statement that finalizes itself.
struct Statement {
  sqlite3_stmt* st = nullptr;
  ~Statement() { sqlite3_finalize(st); }
};

QString libraryOf(const char* symbol) {
  void* p = dlsym(RTLD_DEFAULT, symbol);
  Dl_info info{};
  if (!p || !dladdr(p, &info) || !info.dli_fname) return QString();
  return QString::fromLocal8Bit(info.dli_fname);
}

}  // namespace

void Database::checkCipherLibrary() {
  const QString open = libraryOf("sqlite3_open_v2");
  const QString key = libraryOf("sqlite3_key");
  // Statically linked into the executable counts as well, as long as both come from one place.
  if (key.isEmpty() || open != key)
    throw DatabaseError(QStringLiteral(
        "The database library is not SQLCipher (sqlite3_open_v2 from \"%1\", sqlite3_key from "
        "\"%2\"): the program was linked with another SQLite library and cannot encrypt")
                            .arg(open, key.isEmpty() ? QStringLiteral("nowhere") : key));
}

bool Database::looksEncrypted(const QString& hostPath) {
  QFile f(hostPath);
  if (!f.open(QIODevice::ReadOnly)) return false;
  const QByteArray head = f.read(16);
  return head.size() == 16 && head != QByteArray("SQLite format 3\0", 16);
}

Database::~Database() { close(); }

void Database::close() {
  if (db_) sqlite3_close_v2(db_);
  db_ = nullptr;
  path_.clear();
}

void Database::fail(const QString& what, int rc) {
  QString msg = db_ ? QString::fromUtf8(sqlite3_errmsg(db_)) : QString::fromUtf8(sqlite3_errstr(rc));
  throw DatabaseError(what.isEmpty() ? msg : what + QStringLiteral(": ") + msg, rc);
}

namespace {

// The file holds barcodes and face descriptors: the station's user reads and writes it, its group
// may read it (backups), nobody else. A mode that gives more loses the rest; one that gives less
// stays. Its journal files take the same mode (SQLite copies it).
constexpr mode_t kDatabaseMode = 0640;

void tightenMode(const QString& hostPath) {
  struct stat st {};
  const QByteArray path = QFile::encodeName(hostPath);
  // Not the owner's (a copy opened read-only, a file system without modes): the open decides.
  if (::stat(path.constData(), &st) == 0 && (st.st_mode & 07777 & ~kDatabaseMode))
    (void)::chmod(path.constData(), st.st_mode & kDatabaseMode);
}

}  // namespace

void Database::open(const QString& hostPath, const QString& key) {
  tightenMode(hostPath);
  openWith(hostPath, key, SQLITE_OPEN_READWRITE);
}

void Database::create(const QString& hostPath, const QString& key) {
  if (QFileInfo::exists(hostPath))
    throw DatabaseError(QStringLiteral("The database file \"%1\" already exists").arg(hostPath));
  // Made empty with its mode before SQLite writes a byte (an empty file is a new database to it).
  const int fd = ::open(QFile::encodeName(hostPath).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                        kDatabaseMode);
  if (fd < 0)
    throw DatabaseError(QStringLiteral("Cannot create the database file \"%1\": %2")
                            .arg(hostPath, systemErrorText(errno)));
  const bool modeSet = ::fchmod(fd, kDatabaseMode) == 0;  // whatever the umask
  ::close(fd);
  if (!modeSet) {
    QFile::remove(hostPath);
    throw DatabaseError(QStringLiteral("Cannot set the mode of the database file \"%1\"").arg(hostPath));
  }
  try {
    openWith(hostPath, key, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  } catch (...) {
    QFile::remove(hostPath);  // a refused creation leaves nothing
    throw;
  }
}

void Database::openWith(const QString& hostPath, const QString& key, int flags) {
  close();
  if (key.isEmpty())
    throw DatabaseError(QStringLiteral("An empty database key would leave the file unencrypted"));
  checkCipherLibrary();
  const bool creating = flags & SQLITE_OPEN_CREATE;
  const QString where = QStringLiteral("Cannot open the database \"%1\"").arg(hostPath);
  if (!creating && !QFileInfo(hostPath).isFile())
    throw DatabaseError(where + QStringLiteral(": unable to open database file (no such file)"),
                        SQLITE_CANTOPEN);
  int rc = sqlite3_open_v2(QFile::encodeName(hostPath).constData(), &db_, flags | SQLITE_OPEN_FULLMUTEX, nullptr);
  try {
    if (rc != SQLITE_OK) fail(where, rc);
    const QByteArray k = key.toUtf8();
    rc = sqlite3_key(db_, k.constData(), int(k.size()));
    if (rc != SQLITE_OK) fail(where, rc);
    sqlite3_busy_timeout(db_, 5000);
    sqlite3_extended_result_codes(db_, 0);
    path_ = hostPath;
    // The key is checked by the first read; a wrong key fails here with "file is not a database".
    try {
      scalar(QStringLiteral("SELECT count(*) FROM sqlite_master"));
    } catch (const DatabaseError& e) {
      throw DatabaseError(where + QStringLiteral(": ") + QString::fromUtf8(e.what()), e.code());
    }
    if (scalar(QStringLiteral("PRAGMA cipher_version")).toString().isEmpty())
      throw DatabaseError(where + QStringLiteral(": the SQLite library does not encrypt (no cipher_version)"));
    rc = sqlite3_create_function_v2(db_, kContainsFunction, 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                                    nullptr, containsText, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) fail(where, rc);
    if (creating) {
      // Writes the first page so that the header can be checked now.
      exec(QStringLiteral("PRAGMA user_version = 1"));
    }
    if (!looksEncrypted(hostPath))
      throw DatabaseError(where + QStringLiteral(": the file is not encrypted"));
  } catch (...) {
    const bool remove = creating && db_;
    close();
    if (remove) QFile::remove(hostPath);
    throw;
  }
}

void Database::checkWritableAndSound() {
  if (!db_) throw DatabaseError(QStringLiteral("The database is not open"));
  const QString where = QStringLiteral("База данных \"%1\"").arg(path_);
  if (sqlite3_db_readonly(db_, "main") == 1)
    throw DatabaseError(where + QStringLiteral(" открыта только для чтения: запись невозможна, станция не принимает запросы"),
                        SQLITE_READONLY);
  // Damage first: a write into a damaged file could spread it.
  QStringList problems;
  try {
    for (const auto& row : query(QStringLiteral("PRAGMA quick_check")).rows) problems << row.value(0).toString();
  } catch (const DatabaseError& e) {
    problems = QStringList{QString::fromUtf8(e.what())};
  }
  if (problems != QStringList{QStringLiteral("ok")})
    throw DatabaseError(where + QStringLiteral(" повреждена (quick_check: %1): станция не принимает запросы")
                                    .arg(problems.mid(0, 3).join(QStringLiteral("; "))),
                        SQLITE_CORRUPT);
  // Rewriting the schema version inside a transaction that is rolled back needs a journal and a
  // writable file, and changes nothing.
  try {
    const QVariant version = scalar(QStringLiteral("PRAGMA user_version"));
    Transaction tx(*this);
    exec(QStringLiteral("PRAGMA user_version = %1").arg(version.toLongLong()));
    exec(QStringLiteral("CREATE TABLE tavo_write_probe (x)"));
  } catch (const DatabaseError& e) {
    // Another writer holding the file (an office tool) shows it can be written.
    if (e.code() == SQLITE_BUSY || e.code() == SQLITE_LOCKED) return;
    throw DatabaseError(where + QStringLiteral(" недоступна для записи (%1): станция не принимает запросы")
                                    .arg(QString::fromUtf8(e.what())),
                        e.code());
  }
}

int Database::exec(const QString& sql, const QVariantList& params) {
  query(sql, params);
  return sqlite3_changes(db_);
}

Rows Database::query(const QString& sql, const QVariantList& params) {
  if (!db_) throw DatabaseError(QStringLiteral("The database is not open"));
  Statement s;
  const QByteArray text = sql.toUtf8();
  const char* tail = nullptr;
  int rc = sqlite3_prepare_v2(db_, text.constData(), int(text.size()), &s.st, &tail);
  if (rc != SQLITE_OK) fail(QString(), rc);
  if (!s.st) return {};  // empty statement
  if (tail && QByteArray(tail).trimmed().size() > 0 && QByteArray(tail).trimmed() != ";")
    throw DatabaseError(QStringLiteral("Only one statement at a time: %1").arg(sql));
  const int n = sqlite3_bind_parameter_count(s.st);
  if (n != params.size())
    throw DatabaseError(QStringLiteral("The statement takes %1 parameters, %2 given: %3")
                            .arg(n).arg(params.size()).arg(sql));
  for (int i = 0; i < n; ++i) bindValue(s.st, i + 1, params[i], db_);
  Rows out;
  const int cols = sqlite3_column_count(s.st);
  for (int c = 0; c < cols; ++c) out.columns << QString::fromUtf8(sqlite3_column_name(s.st, c));
  while ((rc = sqlite3_step(s.st)) == SQLITE_ROW) {
    QVariantList row;
    row.reserve(cols);
    for (int c = 0; c < cols; ++c) row << columnValue(s.st, c);
    out.rows.push_back(std::move(row));
  }
  if (rc != SQLITE_DONE) fail(QString(), rc);
  return out;
}

QVariant Database::scalar(const QString& sql, const QVariantList& params) {
  const Rows r = query(sql, params);
  return r.empty() || r.columns.isEmpty() ? QVariant() : r.rows.front().front();
}

qint64 Database::lastInsertId() const { return db_ ? sqlite3_last_insert_rowid(db_) : 0; }

Database::Transaction::Transaction(Database& db) : db_(db) { db_.exec(QStringLiteral("BEGIN IMMEDIATE")); }

Database::Transaction::~Transaction() {
  if (!done_ && db_.isOpen()) {
    try {
      db_.exec(QStringLiteral("ROLLBACK"));
    } catch (...) {
    }
  }
}

void Database::Transaction::commit() {
  db_.exec(QStringLiteral("COMMIT"));
  done_ = true;
}

}  // namespace tavo
