// Milliseconds the start-up check of the database (a rolled-back write, PRAGMA quick_check) adds
// to the start, on a work log of N rows (default 200000, about a year of a busy station).
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTime>
#include <cstdio>

#include "data/database.h"
#include "data/schema.h"
#include "tests/support/test_env.h"

using namespace tavo;

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int rows = argc > 1 ? std::max(1, atoi(argv[1])) : 200000;
  test::TempProgramDir dir;
  const QString file = dir.file(QLatin1String(kDatabaseFileName));
  createDatabaseFile(file, QLatin1String(kDatabasePassword));
  {
    Database db;
    db.open(file, QLatin1String(kDatabasePassword));
    db.exec(QStringLiteral("WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < ?) "
                           "INSERT INTO Works (datedoc, timedoc, SN, FileName, cLeft, cRight, is_face) "
                           "SELECT date('2024-01-01', '+' || (x % 365) || ' days'), '09:00:00', '2200000169020', "
                           "printf('2024\\01\\01\\20240101-%036d', x), 300, 300, 1 FROM c"),
            {rows});
  }
  for (int run = 0; run < 3; ++run) {
    Database db;
    QElapsedTimer t;
    t.start();
    db.open(file, QLatin1String(kDatabasePassword));
    const qint64 open = t.elapsed();
    db.checkWritableAndSound();
    std::printf("%d work rows, %.1f MB: open %lld ms, start-up check %lld ms\n", rows,
                QFileInfo(file).size() / 1048576.0, open, t.elapsed() - open);
  }
  return 0;
}
