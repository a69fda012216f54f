// tavolin-db: creates an empty station database and runs statements on one.
//   tavolin-db create PATH            a new encrypted database with the schema (never overwrites)
//   tavolin-db sql PATH "SQL" [V...]  one statement, values bound to its "?" marks; rows printed
//                                     tab-separated under a header line
//   tavolin-db --help | --version
// Exit codes: 0 done, 1 failed, 2 usage.
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <cstdio>
#include <algorithm>
#include <exception>

#include "base/station.h"
#include "data/data_store.h"
#include "data/database.h"
#include "data/schema.h"

namespace {

int usage(FILE* to = stderr) {
  std::fprintf(to,
               "usage: tavolin-db create PATH\n"
               "       tavolin-db sql PATH \"SQL\" [VALUE...]\n"
               "       tavolin-db --help | --version\n"
               "Exit codes: 0 done, 1 failed, 2 usage.\n");
  return to == stderr ? 2 : 0;
}

bool isOption(const QString& arg) { return arg.size() > 1 && arg.startsWith(QLatin1Char('-')); }

int create(const QString& path) {
  tavo::createDatabaseFile(path, QLatin1String(tavo::kDatabasePassword));
  std::printf("created %s\n", qPrintable(QDir::toNativeSeparators(path)));
  return 0;
}

int sql(const QString& path, const QString& statement, const QVariantList& params) {
  tavo::Database db;
  db.open(path, QLatin1String(tavo::kDatabasePassword));
  const tavo::Rows rows = db.query(statement, params);
  if (!rows.columns.isEmpty()) {
    std::printf("%s\n", rows.columns.join(QLatin1Char('\t')).toUtf8().constData());
    for (const auto& row : rows.rows) {
      QStringList cells;
      for (const auto& v : row) cells << (v.isNull() ? QStringLiteral("NULL") : v.toString());
      std::printf("%s\n", cells.join(QLatin1Char('\t')).toUtf8().constData());
    }
  } else {
    std::printf("%d row(s) changed\n", db.scalar(QStringLiteral("SELECT changes()")).toInt());
  }
  return 0;
}

// Inserts work rows through the data store, one committed row at a time, and reports each
// commit on stdout; used to check that a killed writer leaves every committed row.
int insertLoop(const QString& path, long count) {
  const QFileInfo fi(path);
  if (fi.fileName() != QLatin1String(tavo::kDatabaseFileName))
    throw std::runtime_error("the database must be named FaceBase.mdb");
  tavo::Station station;
  station.settings.programPath = fi.absolutePath() + QLatin1Char('/');
  tavo::DataStore store(station);
  store.open();
  for (long i = 1; count <= 0 || i <= count; ++i) {
    tavo::WorkRecord w;
    w.fileName = QStringLiteral("2024\\01\\01\\20240101-%1").arg(i, 8, 10, QLatin1Char('0'));
    w.isFace = i % 2;
    w.idModel = int(i % 7);
    w.percent = double(i % 100);
    w.sn = QStringLiteral("2200000169020");
    w.cLeft = int(i % 500);
    const qint64 id = store.insertWork(w);
    std::printf("committed %ld %lld\n", i, static_cast<long long>(id));
    std::fflush(stdout);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QStringList args = app.arguments();
  if (args.size() >= 2 && (args[1] == QLatin1String("--help") || args[1] == QLatin1String("-h"))) return usage(stdout);
  if (args.size() >= 2 && args[1] == QLatin1String("--version")) {
    std::printf("tavolin-db %s\n", TAVO_VERSION);
    return 0;
  }
  // Options stand only before the command; a path that looks like one is a mistake, not a file
  // to create. Values bound to a statement may be anything.
  for (int i = 1; i < std::min<qsizetype>(args.size(), 3); ++i)
    if (isOption(args[i])) {
      std::fprintf(stderr, "tavolin-db: unknown option %s\n", qPrintable(args[i]));
      return usage();
    }
  try {
    if (args.size() == 3 && args[1] == QLatin1String("create")) return create(args[2]);
    if (args.size() >= 4 && args[1] == QLatin1String("sql")) {
      QVariantList params;
      for (int i = 4; i < args.size(); ++i) params << args[i];
      return sql(args[2], args[3], params);
    }
    if ((args.size() == 3 || args.size() == 4) && args[1] == QLatin1String("insert-loop"))
      return insertLoop(args[2], args.size() == 4 ? args[3].toLong() : 0);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tavolin-db: %s\n", e.what());
    return 1;
  }
  return usage();
}
