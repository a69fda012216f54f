// Template base figures: the build rate on real model photos (decrypt, load, scale, detect, eyes,
// template, flag posts, export copy), peak resident memory with 10000 records, and the 1:N scan.
//
// 10000 real enrolments would take about ten minutes, so the memory figure enrols the 100 lfw10
// photos for real and then appends copies of their records up to 10000 (after reserving room for
// 10000, as a build of a 10000-row table does). Scans at 10^5 and 10^6 run the same code
// (FaceBase::bestMatchIn) over descriptor arrays made from the real descriptors with noise: 10^6
// full records would need 14 GB of templates alone.
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <ctime>

#include "base/clock.h"
#include "base/operator_messages.h"
#include "base/paths.h"
#include "base/station.h"
#include "data/data_store.h"
#include "data/schema.h"
#include "face/face_base.h"
#include "protect/face_file.h"
#include "tests/support/test_env.h"

using namespace tavo;

namespace {

long statusKb(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(key, 0) == 0) return std::stol(line.substr(std::string(key).size()));
  return -1;
}

double mb(long kb) { return kb / 1024.0; }

// CPU seconds of the whole process (all threads): a fairer figure than wall time on a busy machine.
double cpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("OPENCV_LOG_LEVEL", "ERROR");
  QCoreApplication app(argc, argv);

  test::TempProgramDir dir;
  dir.linkNetworks();
  createDatabaseFile(dir.file(QStringLiteral("FaceBase.mdb")), QLatin1String(kDatabasePassword));
  FixedClock clock{QDateTime(QDate(2019, 7, 9), QTime(10, 0))};
  RecordingMessages messages;
  Station station{&clock, &messages};
  station.settings.programPath = dir.path();
  station.settings.modelDir = QStringLiteral("C:\\Face\\Model");
  station.settings.flagDir = QStringLiteral("C:\\Face\\Monitor");
  for (const char* d : {"C:\\Face\\Model", "C:\\Face\\Monitor", kExportFolder})
    QDir().mkpath(hostPath(QString::fromLatin1(d)));

  // Every lfw10 photo becomes an encrypted model.
  QStringList photos;
  QDirIterator it(test::testData(QStringLiteral("lfw10")), {QStringLiteral("*.jpg")}, QDir::Files,
                  QDirIterator::Subdirectories);
  while (it.hasNext()) photos << it.next();
  photos.sort();
  {
    Database db;
    db.open(dir.file(QStringLiteral("FaceBase.mdb")), QLatin1String(kDatabasePassword));
    Database::Transaction tx(db);
    for (int i = 0; i < photos.size(); ++i) {
      const QString name = QStringLiteral("20190101-%1").arg(i, 36, 10, QLatin1Char('0'));
      EncryptImage(photos[i], joinPath(station.settings.modelDir, name), kSystemKey);
      db.exec(QStringLiteral("INSERT INTO Model (EAN, Active, FileName) VALUES (?, 1, ?)"),
              {QString::number(2200000000000LL + i / 10), name});
    }
    tx.commit();
  }
  DataStore store(station);
  store.open();
  FaceBase base(station, store);

  std::printf("models: %lld real photos (lfw10, 250x250)\n", static_cast<long long>(photos.size()));
  std::printf("VmHWM before the engine: %.0f MB\n", mb(statusKb("VmHWM:")));

  QElapsedTimer t;
  t.start();
  FSDK_SetNetworksFolder(dir.file(QStringLiteral("nets")).toUtf8().constData());
  FSDK_Initialize("");
  std::printf("engine start (networks, warm-up): %.0f ms\n", double(t.elapsed()));

  const double n = double(photos.size());
  double cpu = cpuSeconds();
  t.restart();
  base.Button19Click();
  const double first = t.nsecsElapsed() / 1e9, firstCpu = cpuSeconds() - cpu;
  cpu = cpuSeconds();
  t.restart();
  base.Button19Click();
  const double second = t.nsecsElapsed() / 1e9, secondCpu = cpuSeconds() - cpu;
  std::printf("build 1 (exports, posts dark/light): %zu enrolled, %.2f s wall, %.1f models/s, %.1f ms/model; "
              "CPU %.1f ms/model\n",
              base.size(), first, n / first, first * 1000 / n, firstCpu * 1000 / n);
  std::printf("build 2 (rows already exported):     %zu enrolled, %.2f s wall, %.1f models/s, %.1f ms/model; "
              "CPU %.1f ms/model\n",
              base.size(), second, n / second, second * 1000 / n, secondCpu * 1000 / n);
  std::printf("VmHWM after two real builds: %.0f MB, VmRSS %.0f MB\n", mb(statusKb("VmHWM:")),
              mb(statusKb("VmRSS:")));

  // Up to 10000 records: copies of the real ones.
  const std::vector<TFaceRecord> real = base.FaceList();
  if (real.empty()) {
    std::printf("no face enrolled: stop\n");
    return 1;
  }
  base.reserve(10000);
  for (std::size_t i = base.size(); i < 10000; ++i) base.append(real[i % real.size()]);
  std::printf("VmHWM with %zu records: %.0f MB, VmRSS %.0f MB (record %zu bytes)\n", base.size(),
              mb(statusKb("VmHWM:")), mb(statusKb("VmRSS:")), sizeof(TFaceRecord));

  // Whole matching call at 10^4: probe pipeline plus scan.
  const QString probe = hostPath(joinPath(station.settings.flagDir, QStringLiteral("Face101_face.jpg")));
  QFile::copy(photos[1], probe);
  int id = 0;
  double percent = 0;
  QString fio;
  base.FaceRecognitionLuxand(QStringLiteral("Face101"), 2, id, percent, fio);
  const int calls = 10;
  t.restart();
  for (int i = 0; i < calls; ++i) base.FaceRecognitionLuxand(QStringLiteral("Face101"), 2, id, percent, fio);
  std::printf("FaceRecognitionLuxand at %zu records: %.1f ms per call (match %d, %.1f %%)\n", base.size(),
              t.nsecsElapsed() / 1e6 / calls, id, percent);

  // Scans.
  const auto d0 = fsdk::descriptorOf(real[0].Template);
  std::vector<float> query(d0->begin(), d0->end());
  query[0] += 0.05f;
  auto timeScan = [&](const float* descriptors, std::size_t count) {
    int reps = int(std::max<std::size_t>(3, 2000000 / count));
    FaceBase::Match m = FaceBase::bestMatchIn(descriptors, count, query.data(), 0);
    t.restart();
    for (int r = 0; r < reps; ++r) m = FaceBase::bestMatchIn(descriptors, count, query.data(), 0);
    const double ms = t.nsecsElapsed() / 1e6 / reps;
    std::printf("scan %8zu records: %8.3f ms, %6.1f M records/s, %6.2f GB/s (best %ld)\n", count, ms,
                count / ms / 1e3, count * fsdk::kDescriptorSize * 4.0 / ms / 1e6, m.index);
  };
  {
    const int reps = 200;
    FaceBase::Match m;
    t.restart();
    for (int r = 0; r < reps; ++r) m = base.bestMatch(query.data(), 0);
    const double ms = t.nsecsElapsed() / 1e6 / reps;
    std::printf("FaceBase::bestMatch %zu records: %.3f ms (best %ld)\n", base.size(), ms, m.index);
  }
  std::mt19937 rng(7);
  std::normal_distribution<float> noise(0.f, 0.03f);
  for (std::size_t count : {std::size_t(10000), std::size_t(100000), std::size_t(1000000)}) {
    std::vector<float> many(count * fsdk::kDescriptorSize);
    for (std::size_t i = 0; i < count; ++i) {
      const float* src = base.descriptors().data() + (i % real.size()) * fsdk::kDescriptorSize;
      for (int k = 0; k < fsdk::kDescriptorSize; ++k) many[i * fsdk::kDescriptorSize + k] = src[k] + noise(rng);
    }
    timeScan(many.data(), count);
  }
  std::printf("VmHWM at the end (includes the 10^6 scan array): %.0f MB\n", mb(statusKb("VmHWM:")));
  return 0;
}
