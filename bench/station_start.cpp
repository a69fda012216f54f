// Start-up of the real station program to "ArrayOk.txt": a base of N models (default 1000),
// cold (empty template store) and warm (restart), with the peak resident memory of the process.
//
//   bench-station_start [N] [cold|warm|both] [BUILD_DIR]
//
// The models reuse the 100 lfw10 photos as their face files (encrypted, one file per model, as
// the station keeps them); every row is active and exported already (dark), as on any morning
// after the first. Cold runs empty FaceTemplate first. "warm" alone fills the store from a cold
// start over the first 100 models and copies their rows to the models sharing their face file. $TAVO_BUILD_WORKERS picks the workers of
// the build (0: all work on the message thread). BUILD_DIR runs another build's station (to
// compare with the program before the store: that one is always cold).
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <string>

#include "data/database.h"
#include "protect/face_file.h"
#include "tests/support/test_env.h"

using namespace tavo;

namespace {

long peakKb(qint64 pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

struct StartFigures {
  double seconds = -1;
  long peakKb = -1;
};

StartFigures startOnce(const QString& dir, const QString& arrayOk) {
  QFile::remove(arrayOk);
  QProcess p;
  p.setProcessEnvironment(test::headlessStationEnvironment(dir));
  p.setWorkingDirectory(dir);
  p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  p.setStandardOutputFile(QProcess::nullDevice());
  QElapsedTimer t;
  t.start();
  p.start(dir + "/tavolin", {"--headless", "--program-dir", dir});
  if (!p.waitForStarted(10000)) return {};
  StartFigures f;
  long peak = 0;
  while (p.state() == QProcess::Running && t.elapsed() < 3600 * 1000) {
    if (QFile::exists(arrayOk)) {
      f.seconds = t.elapsed() / 1000.0;
      break;
    }
    peak = std::max(peak, peakKb(p.processId()));
    QThread::msleep(20);
  }
  peak = std::max(peak, peakKb(p.processId()));
  f.peakKb = peak;
  ::kill(pid_t(p.processId()), SIGTERM);
  if (!p.waitForFinished(20000)) p.kill();
  p.waitForFinished(5000);
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int n = argc > 1 ? std::atoi(argv[1]) : 1000;
  const QString what = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("both");
  const QString build = argc > 3 ? QString::fromLocal8Bit(argv[3]) : test::buildDir();

  QTemporaryDir tmp;
  const QString dir = tmp.path();
  QProcess setup;
  setup.start("bash", {test::sourceDir() + "/scripts/new-station.sh", dir, build});
  setup.waitForFinished(60000);
  const QString drives = dir + "/drives/c/";
  for (const char* d : {"Face/Model/TempModel", "Face/Monitor", "Face/Work", "Korvend/FTP"})
    QDir().mkpath(drives + d);

  QStringList photos;
  QDirIterator it(test::testData("lfw10"), {"*.jpg"}, QDir::Files, QDirIterator::Subdirectories);
  while (it.hasNext()) photos << it.next();
  photos.sort();
  std::vector<QByteArray> faceFiles;
  for (const QString& ph : photos) {
    QFile f(ph);
    f.open(QIODevice::ReadOnly);
    faceFiles.push_back(keyStreamTransform(f.readAll(), kSystemKey));
  }
  {
    Database db;
    db.open(dir + "/FaceBase.mdb", QLatin1String(kDatabasePassword));
    Database::Transaction tx(db);
    for (int i = 0; i < n; ++i) {
      const QString name = QStringLiteral("20190709-%1").arg(i, 36, 10, QLatin1Char('0'));
      db.exec("INSERT INTO Model (EAN, FileName, Active, dark, light, DateInsert) VALUES (?, ?, 1, 1, 1, ?)",
              {QStringLiteral("22%1").arg(i, 11, 10, QLatin1Char('0')), name, QStringLiteral("2019-07-09T10:00:00")});
      test::writeFile(drives + "Face/Model/" + name + "_face.bin", faceFiles[std::size_t(i) % faceFiles.size()]);
    }
    tx.commit();
  }
  const QString arrayOk = drives + "Face/Monitor/ArrayOk.txt";
  const auto emptyStore = [&] {
    Database db;
    db.open(dir + "/FaceBase.mdb", QLatin1String(kDatabasePassword));
    try {
      db.exec("DELETE FROM FaceTemplate");
    } catch (const DatabaseError&) {
    }
  };
  const QByteArray workers = qgetenv("TAVO_BUILD_WORKERS");
  std::printf("station start-up to ArrayOk.txt, %d models, workers %s, build %s\n", n,
              workers.isEmpty() ? "default" : workers.constData(), qPrintable(build));
  if (what == "cold" || what == "both") {
    emptyStore();
    const StartFigures c = startOnce(dir, arrayOk);
    std::printf("cold: %.2f s (%.1f models/s), peak RSS %.0f MB\n", c.seconds, n / c.seconds, c.peakKb / 1024.0);
  }
  if (what == "warm" || what == "both") {
    if (what == "warm") {
      // Fills the store: a cold start over the first 100 models (one per photo), whose rows then
      // serve the models that reuse the same face file (same bytes, same digest, same outcome).
      Database db;
      db.open(dir + "/FaceBase.mdb", QLatin1String(kDatabasePassword));
      const int photosN = int(faceFiles.size());
      db.exec("UPDATE Model SET Active = 0 WHERE id > ?", {photosN});
      db.close();
      startOnce(dir, arrayOk);
      db.open(dir + "/FaceBase.mdb", QLatin1String(kDatabasePassword));
      db.exec("UPDATE Model SET Active = 1");
      db.exec("INSERT OR REPLACE INTO FaceTemplate SELECT m.id, t.Digest, t.EngineVersion, t.TemplateVersion, "
              "t.FaceCode, t.EyesCode, t.TemplateCode, t.Position, t.Features, t.Descriptor FROM Model m "
              "JOIN FaceTemplate t ON t.ModelId = ((m.id - 1) % ?) + 1 WHERE m.id > ?", {photosN, photosN});
      std::printf("store rows: %lld\n", db.scalar("SELECT count(*) FROM FaceTemplate").toLongLong());
    }
    for (int run = 0; run < 2; ++run) {
      const StartFigures w = startOnce(dir, arrayOk);
      std::printf("warm: %.2f s, peak RSS %.0f MB\n", w.seconds, w.peakKb / 1024.0);
    }
  }
  std::fflush(stdout);
  return 0;
}
