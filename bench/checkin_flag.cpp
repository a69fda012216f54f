// End-to-end check-in through the flag directory: the real headless station, clip 1 of the test
// data as its web camera, tavolin-office as the office system. The time of one check-in runs from
// starting `tavolin-office checkin` (which writes "123.txt") to its exit (answer read whole); the
// barcode's model is a frame of the same clip, so every check-in is confirmed at the first attempt.
//
//   bench-checkin_flag [MODELS] [CHECKINS]      (defaults 10 and 20)
//
// The other models reuse the 100 lfw10 photos as face files; with more than 100 models their
// stored templates are copied from the first 100 (same bytes, same outcome), so the start is warm.
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <vector>

#include "data/database.h"
#include "protect/face_file.h"
#include "tests/support/test_env.h"

using namespace tavo;

namespace {

const QString kEan = QStringLiteral("2200000169020");

class Station {
 public:
  Station(const QString& dir) : dir_(dir) {}
  bool start() {
    QFile::remove(arrayOk());
    p_.setProcessEnvironment(test::headlessStationEnvironment(dir_));
    p_.setWorkingDirectory(dir_);
    // $TAVO_BENCH_STATION_LOG keeps the station's log lines (with their times) for a breakdown.
    const QString log = qEnvironmentVariable("TAVO_BENCH_STATION_LOG");
    p_.setStandardOutputFile(log.isEmpty() ? QProcess::nullDevice() : log, QIODevice::Append);
    p_.setStandardErrorFile(QProcess::nullDevice());
    p_.start(dir_ + "/tavolin", {"--headless", "--program-dir", dir_});
    if (!p_.waitForStarted(10000)) return false;
    QElapsedTimer t;
    t.start();
    while (!QFile::exists(arrayOk()) && p_.state() == QProcess::Running && t.elapsed() < 1800 * 1000)
      QThread::msleep(50);
    return QFile::exists(arrayOk());
  }
  void stop() {
    ::kill(pid_t(p_.processId()), SIGTERM);
    if (!p_.waitForFinished(20000)) p_.kill();
    p_.waitForFinished(5000);
  }
  QString arrayOk() const { return dir_ + "/drives/c/Face/Monitor/ArrayOk.txt"; }

 private:
  QString dir_;
  QProcess p_;
};

double checkIn(const QString& flagDir) {
  QElapsedTimer t;
  t.start();
  QProcess office;
  office.setStandardOutputFile(QProcess::nullDevice());
  office.start(test::buildDir() + "/tools/tavolin-office", {"checkin", flagDir, kEan, "--timeout", "60"});
  office.waitForFinished(70000);
  return office.exitCode() == 0 ? t.elapsed() / 1000.0 : -1;
}

double percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, std::size_t(p * double(v.size() - 1) + 0.5))];
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int n = argc > 1 ? std::atoi(argv[1]) : 10;
  const int runs = argc > 2 ? std::atoi(argv[2]) : 20;
  QTemporaryDir tmp;
  const QString dir = tmp.path();
  QProcess setup;
  setup.start("bash", {test::sourceDir() + "/scripts/new-station.sh", dir, test::buildDir()});
  setup.waitForFinished(60000);
  const QString drives = dir + "/drives/c/";
  for (const char* d : {"Face/Model/TempModel", "Face/Monitor", "Face/Work", "Korvend/FTP"}) QDir().mkpath(drives + d);
  test::writeFile(dir + "/tavo.ini", "[param]\r\nWebCam=" + test::testData("clips/subj01_timepoint01.mp4").toUtf8() +
                                         "\r\nSoundEnabled=0\r\n");
  QStringList photos;
  QDirIterator it(test::testData("lfw10"), {"*.jpg"}, QDir::Files, QDirIterator::Subdirectories);
  while (it.hasNext()) photos << it.next();
  photos.sort();
  const int photosN = int(photos.size());
  const QString mdb = dir + "/FaceBase.mdb";
  {
    Database db;
    db.open(mdb, QLatin1String(kDatabasePassword));
    Database::Transaction tx(db);
    for (int i = 0; i < n - 1; ++i) {
      const QString name = QStringLiteral("20190709-%1").arg(i, 36, 10, QLatin1Char('0'));
      db.exec("INSERT INTO Model (EAN, FileName, Active, dark, light, DateInsert) VALUES (?, ?, ?, 1, 1, ?)",
              {QStringLiteral("23%1").arg(i, 11, 10, QLatin1Char('0')), name, i < photosN ? 1 : 0,
               QStringLiteral("2019-07-09T10:00:00")});
      QFile f(photos[i % photosN]);
      f.open(QIODevice::ReadOnly);
      test::writeFile(drives + "Face/Model/" + name + "_face.bin", keyStreamTransform(f.readAll(), kSystemKey));
    }
    tx.commit();
  }
  Station station(dir);
  // First start: the first 100 models cold; one check-in of the barcode without models leaves
  // the camera's picture in "Temp\model1C_face.bin", which becomes the barcode's model.
  if (!station.start()) return std::fprintf(stderr, "station did not start\n"), 1;
  checkIn(drives + "Face/Monitor");
  station.stop();
  {
    Database db;
    db.open(mdb, QLatin1String(kDatabasePassword));
    const QString name = QStringLiteral("20190101-0B7C2D3E-4F50-6172-8394-A5B6C7D8E9F0");
    QFile::copy(dir + "/Temp/model1C_face.bin", drives + "Face/Model/" + name + "_face.bin");
    db.exec("UPDATE Model SET Active = 1");
    db.exec("INSERT INTO FaceTemplate SELECT m.id, t.Digest, t.EngineVersion, t.TemplateVersion, t.FaceCode, "
            "t.EyesCode, t.TemplateCode, t.Position, t.Features, t.Descriptor FROM Model m JOIN FaceTemplate t "
            "ON t.ModelId = ((m.id - 1) % ?) + 1 WHERE m.id > ?", {photosN, photosN});
    db.exec("INSERT INTO Model (EAN, Active, dark, light, FileName, DateInsert) VALUES (?, 1, 1, 1, ?, '2019-01-01T08:00:00')",
            {kEan, name});
  }
  if (!station.start()) return std::fprintf(stderr, "station did not restart\n"), 1;
  checkIn(drives + "Face/Monitor");  // warm-up
  std::vector<double> times;
  int failed = 0;
  for (int i = 0; i < runs; ++i) {
    const double s = checkIn(drives + "Face/Monitor");
    if (s < 0) ++failed;
    else times.push_back(s);
  }
  station.stop();
  QFile answer(drives + "Face/Monitor/out" + kEan + ".txt");
  answer.open(QIODevice::ReadOnly);
  const QByteArray last = answer.readAll();
  std::printf("check-in through the flag directory, %d models, %d check-ins (%d failed)\n", n, runs, failed);
  if (!times.empty())
    std::printf("median %.3f s, p95 %.3f s, min %.3f s, max %.3f s; last answer confirmed: %s\n",
                percentile(times, 0.5), percentile(times, 0.95), *std::min_element(times.begin(), times.end()),
                *std::max_element(times.begin(), times.end()), last.endsWith(kEan.toUtf8() + "\r\n") ? "yes" : "no");
  return 0;
}
