#include "tests/e2e/office_side.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include "tests/e2e/station_process.h"
#include "tests/support/test_env.h"

namespace tavo::test {

namespace {
constexpr int kAnswerMs = 120000;
}

QByteArray checkIn(StationProcess& station, const QString& ean, const QString& flagDir) {
  const QString flag = flagDir.isEmpty() ? station.drive("Face/Monitor/") : flagDir + '/';
  const QString answer = flag + "out" + ean + ".txt";
  QFile::remove(answer);
  const int runsBefore = station.output().count("time_ms = ");
  writeFile(flag + "123.txt.part", ean.toLatin1() + "\r\n");
  QFile::rename(flag + "123.txt.part", flag + "123.txt");
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < kAnswerMs && station.output().count("time_ms = ") == runsBefore && station.running())
    station.waitForLog(QStringLiteral("\x01"), 100);
  return QFileInfo::exists(answer) ? readFile(answer) : QByteArray();
}

QByteArray lines(const QStringList& l) {
  QByteArray out;
  for (const QString& s : l) out += s.toLatin1() + "\r\n";
  return out;
}

QString secondLine(const QByteArray& answer) { return QString::fromLatin1(answer.split('\n').value(1).trimmed()); }

}  // namespace tavo::test
