// Soak: N check-ins in a row through the flag directory on one real headless station (the
// program itself, a real encrypted database, the real networks), the camera a video-file web
// camera on clip 1 of the test data. Four in five requests are for the enrolled barcode (the
// person in the clip: confirmed), one in five for a barcode without models ("not found").
//
//   bench-soak [N]      (N = 500 by default)
//
// Prints answers correct, the station's resident memory every 50 check-ins, the time per
// check-in seen from the office side (request dropped to answer there; median, p95) and the
// station's own time_ms, work rows against answers, and orphan files (work photos no row names,
// rows whose photo is missing, files left in the flag directory and in Temp).
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <QThread>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <thread>
#include <vector>

#include "tests/e2e/office_side.h"
#include "tests/e2e/station_process.h"
#include "tests/support/test_env.h"

using namespace tavo;
using namespace tavo::test;

namespace {

const QString kEan = QStringLiteral("2200000169020");
const QString kUnknown = QStringLiteral("4600000000017");
const QString kClip = QStringLiteral("clips/subj01_timepoint01.mp4");
constexpr int kStartMs = 180000;

QStringList sql(const StationProcess& station, const QString& statement, const QStringList& values = {}) {
  const StationProcess::SqlResult r = station.sql(statement, values, 60000);
  if (r.exitCode != 0) std::fprintf(stderr, "tavolin-db: %s\n", qPrintable(r.errors));
  return r.rows.mid(1);  // no header
}

// Resident memory (MB) of the station program of this program directory.
double stationRssMb(const StationProcess& station) {
  const QByteArray dir = station.programDir().toLocal8Bit();
  for (const QString& pid : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
    QFile cmd("/proc/" + pid + "/cmdline");
    if (!cmd.open(QIODevice::ReadOnly)) continue;
    const QByteArray c = cmd.readAll();
    if (!c.contains("--headless") || !c.contains(dir.chopped(1))) continue;
    QFile status("/proc/" + pid + "/status");
    if (!status.open(QIODevice::ReadOnly)) continue;
    for (const QByteArray& line : status.readAll().split('\n'))
      if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024;
  }
  return -1;
}

double percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, std::size_t(p * double(v.size())))];
}

// The station's own run time of its last check-in.
double lastTimeMs(StationProcess& station) {
  const QString out = station.output();
  const qsizetype at = out.lastIndexOf(QLatin1String("time_ms = "));
  if (at < 0) return -1;
  return out.mid(at + 10, out.indexOf('\n', at) - at - 10).trimmed().toDouble();
}

QStringList filesUnder(const QString& dir) {
  QStringList files;
  QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
  while (it.hasNext()) files << QDir(dir).relativeFilePath(it.next());
  files.sort();
  return files;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("OPENCV_LOG_LEVEL", "ERROR");
  QCoreApplication app(argc, argv);
  const int n = argc > 1 ? std::max(1, atoi(argv[1])) : 500;

  StationProcess station;
  station.writeIni("tavo.ini", "[param]\r\nWebCam=" + testData(kClip).toUtf8() + "\r\nSoundEnabled=0\r\n");

  // The enrolled face: the station's own picture of the clip from a first check-in.
  if (!station.startAndWaitForBase(kStartMs) || checkIn(station, kUnknown).isEmpty()) {
    std::printf("the station did not start or answer: stop\n%s\n", qPrintable(station.output()));
    return 1;
  }
  QThread::msleep(500);
  station.stop(SIGTERM);
  const QString modelName = QStringLiteral("20190101-0B7C2D3E-4F50-6172-8394-A5B6C7D8E9F0");
  QFile::copy(station.programDir() + "Temp/model1C_face.bin", station.drive("Face/Model/" + modelName + "_face.bin"));
  sql(station, "INSERT INTO Model (EAN, Active, FileName, DateInsert) VALUES (?, 1, ?, '2019-01-01T08:00:00')",
      {kEan, modelName});
  sql(station, "DELETE FROM Works");
  for (const QString& f : filesUnder(station.drive("Face/Work"))) QFile::remove(station.drive("Face/Work/" + f));
  if (!station.startAndWaitForBase(kStartMs)) {
    std::printf("the station did not start again: stop\n");
    return 1;
  }

  std::printf("soak: %d check-ins, clip 1 as web camera, machine: %d cores\n", n, int(std::thread::hardware_concurrency()));
  std::printf("%10s %10s %10s %12s\n", "check-ins", "correct", "rss_MB", "median_ms");
  std::fflush(stdout);
  const double rssStart = stationRssMb(station);
  double rssLast = rssStart;
  std::printf("%10d %10d %10.0f %12s\n", 0, 0, rssStart, "-");
  int correct = 0, answered = 0;
  std::vector<double> wall, own;
  QSet<QString> answerPhotos;
  QStringList wrong;
  for (int i = 1; i <= n && station.running(); ++i) {
    const bool known = i % 5 != 0;
    const QString ean = known ? kEan : kUnknown;
    QElapsedTimer t;
    t.start();
    const QByteArray answer = checkIn(station, ean);
    wall.push_back(t.nsecsElapsed() / 1e6);
    own.push_back(lastTimeMs(station));
    if (!answer.isEmpty()) {
      ++answered;
      answerPhotos.insert(secondLine(answer));
      QFile::remove(station.drive("Face/Monitor/out" + ean + ".txt"));  // the office takes its answer
    }
    const QString photo = secondLine(answer);
    const bool ok = answer == lines({ean, photo, known ? ean : QStringLiteral("not found")}) && !photo.isEmpty() &&
                    QFileInfo::exists(station.drive("Face/Work/" + QString(photo).replace('\\', '/') + "_face.bin"));
    if (ok) ++correct;
    else if (wrong.size() < 5) wrong << QString::number(i) + ": " + QString::fromLatin1(answer).replace("\r\n", " | ");
    if (i % 50 == 0 || i == n) {
      rssLast = stationRssMb(station);
      std::printf("%10d %10d %10.0f %12.0f\n", i, correct, rssLast,
                  percentile({wall.end() - std::min<std::size_t>(50, wall.size()), wall.end()}, 0.5));
      std::fflush(stdout);
    }
  }
  QThread::msleep(1000);  // the run ends after its answer
  const int stopCode = station.stop(SIGTERM);

  // Work rows against answers, and files no record names.
  const QStringList rows = sql(station, "SELECT FileName FROM Works");
  QSet<QString> rowPhotos;
  for (const QString& r : rows) rowPhotos.insert(r.trimmed());
  int rowsWithoutFile = 0, answersWithoutRow = 0;
  for (const QString& p : rowPhotos)
    if (!p.isEmpty() && p != "NULL" &&
        !QFileInfo::exists(station.drive("Face/Work/" + QString(p).replace('\\', '/') + "_face.bin")))
      ++rowsWithoutFile;
  for (const QString& p : answerPhotos)
    if (!rowPhotos.contains(p)) ++answersWithoutRow;
  QStringList orphans;
  for (const QString& f : filesUnder(station.drive("Face/Work"))) {
    QString base = f;
    for (const char* suffix : {"_face.bin", "_face.jpg"})
      if (base.endsWith(QLatin1String(suffix))) base.chop(int(qstrlen(suffix)));
    if (!rowPhotos.contains(base) && !rowPhotos.contains(QString(base).replace('/', '\\'))) orphans << "Work/" + f;
  }
  // "ArrayOk.txt" is the station's own sign that its template base is ready: not left over.
  for (const QString& f : filesUnder(station.drive("Face/Monitor")))
    if (f != QLatin1String("ArrayOk.txt")) orphans << "Monitor/" + f;
  const QStringList temp = filesUnder(station.programDir() + "Temp");

  std::printf("\nanswers: %d of %d, correct: %d (%d confirmed expected, %d \"not found\")\n", answered, n, correct,
              n - n / 5, n / 5);
  for (const QString& w : wrong) std::printf("  wrong: %s\n", qPrintable(w));
  std::printf("time per check-in, office side (request written to answer there): median %.0f ms, p95 %.0f ms, max %.0f ms\n",
              percentile(wall, 0.5), percentile(wall, 0.95), percentile(wall, 1.0));
  std::printf("station time_ms (its own run, without the fixed 1000 ms wait): median %.0f ms, p95 %.0f ms\n",
              percentile(own, 0.5), percentile(own, 0.95));
  std::printf("resident memory: %.0f MB at start, %.0f MB after the last check-in\n", rssStart, rssLast);
  std::printf("work rows: %d for %d answers (%.2f per answer); answers whose photo has no row: %d; rows whose photo "
              "is missing: %d\n",
              int(rows.size()), answered, answered ? double(rows.size()) / answered : 0.0, answersWithoutRow,
              rowsWithoutFile);
  std::printf("orphan files: %d%s\n", int(orphans.size()), orphans.isEmpty() ? "" : ":");
  for (const QString& o : orphans.mid(0, 10)) std::printf("  %s\n", qPrintable(o));
  std::printf("Temp after the soak: %s\n", qPrintable(temp.join(", ")));
  std::printf("station exit code on SIGTERM: %d\n", stopCode);
  return 0;
}
