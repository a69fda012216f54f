#pragma once
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>
#include <stdexcept>
#include <vector>

struct sqlite3;

namespace tavo {

// The database password: the key of the encrypted database file.
inline constexpr const char* kDatabasePassword = "Vq3LmZ8rTe2NwK5sHy7J";
// Name of the database file in the program directory.
inline constexpr const char* kDatabaseFileName = "FaceBase.mdb";

// A database error: the text is the provider's message, with the statement when there is one.
class DatabaseError : public std::runtime_error {
 public:
  DatabaseError(const QString& message, int code = 0);
  int code() const { return code_; }  // SQLite result code, 0 when none

 private:
  int code_;
};

// Rows of a query: column names and the values of each row as SQLite returns them
// (integer -> qlonglong, real -> double, text -> QString, NULL -> null QVariant).
struct Rows {
  QStringList columns;
  std::vector<QVariantList> rows;

  int size() const { return int(rows.size()); }
  bool empty() const { return rows.empty(); }
  int columnIndex(const QString& name) const;  // case-insensitive; -1 when absent
  // The value of a column of a row; throws DatabaseError for an unknown column.
  QVariant value(int row, const QString& column) const;
};

// How values are bound: QDate -> "yyyy-MM-dd", QTime -> "HH:mm:ss", QDateTime ->
// "yyyy-MM-ddTHH:mm:ss" (the text forms stored in Date/Time columns, which compare and sort as
// text), bool -> 0/1, integers, doubles, strings as they are, QByteArray -> BLOB, a null
// QVariant -> NULL.
QString sqlDate(const QDate& d);
QString sqlTime(const QTime& t);
QString sqlDateTime(const QDateTime& t);

// One open SQLCipher connection. Every value reaches a statement as a bound parameter.
class Database {
 public:
  Database() = default;
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // Opens an existing encrypted file (never creates one) and checks that it is encrypted and
  // that the key fits. Throws DatabaseError with the provider's text. A file open to others, or
  // writable by its group, is first tightened to 0640 (a stricter mode stays).
  void open(const QString& hostPath, const QString& key);
  // Creates a new encrypted file, mode 0640 whatever the umask; refuses to touch an existing one.
  void create(const QString& hostPath, const QString& key);
  void close();
  // The station's start-up check: the file can be written (a rolled-back write reaches the disk
  // layer, so a read-only file, folder or file system is found) and reports no damage
  // (PRAGMA quick_check answers "ok"). Throws DatabaseError with a text for the operator
  // otherwise; nothing is changed either way.
  void checkWritableAndSound();
  bool isOpen() const { return db_ != nullptr; }
  const QString& path() const { return path_; }

  // Runs one statement with bound parameters; returns the number of rows changed.
  int exec(const QString& sql, const QVariantList& params = {});
  // Runs one statement with bound parameters and returns all of its rows.
  Rows query(const QString& sql, const QVariantList& params = {});
  // First column of the first row (null when there is no row).
  QVariant scalar(const QString& sql, const QVariantList& params = {});
  qint64 lastInsertId() const;

  // A transaction that rolls back unless committed.
  class Transaction {
   public:
    explicit Transaction(Database& db);
    ~Transaction();
    void commit();

   private:
    Database& db_;
    bool done_ = false;
  };

  // Checks that the SQLite functions in this process all come from libsqlcipher; throws
  // DatabaseError when another SQLite library was linked ahead of it (sqlite3_key would crash or
  // write plain text).
  static void checkCipherLibrary();
  // True when the file exists and does not begin with the plain SQLite header.
  static bool looksEncrypted(const QString& hostPath);

 private:
  void openWith(const QString& hostPath, const QString& key, int flags);
  [[noreturn]] void fail(const QString& what, int rc);

  sqlite3* db_ = nullptr;
  QString path_;
};

}  // namespace tavo
