// Check-in run figures: the run's time (time_ms, the fixed 1000 ms wait left out) for a check-in
// confirmed at the first attempt, with 10, 1000 and 10000 models in the base and the database,
// and its parts: grab, face detection (Haar), matching (probe template + 1:N scan), database,
// files (copies, encryption, work photo, answer file).
//
// The camera is clip 1 of the test data as a video-file web camera. The barcode's model is a face
// cut by the station from a frame of the same clip; the other models are the 100 lfw10 photos,
// enrolled for real, repeated up to the count (10000 real enrolments would take minutes and give
// the same scan).
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <algorithm>
#include <ctime>
#include <cstdio>
#include <vector>

#include "base/paths.h"
#include "base/station.h"
#include "checkin/checkin_run.h"
#include "data/data_store.h"
#include "data/schema.h"
#include "face/face_base.h"
#include "face/picture/face_cropper.h"
#include "face/picture/frame_grab.h"
#include "tests/support/test_env.h"

using namespace tavo;

namespace {

const QString kEan = QStringLiteral("2200000169020");

// CPU milliseconds of the whole process: fairer than wall time on a busy machine.
double cpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("OPENCV_LOG_LEVEL", "ERROR");
  QCoreApplication app(argc, argv);
  const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 7;

  test::TempProgramDir dir;
  dir.linkNetworks();
  dir.installCascades();
  createDatabaseFile(dir.file(QStringLiteral("FaceBase.mdb")), QLatin1String(kDatabasePassword));

  RecordingMessages messages;
  SystemClock clock;
  Station station{&clock, &messages};
  station.settings.programPath = dir.path();
  station.settings.flagDir = QStringLiteral("C:\\Face\\Monitor");
  station.settings.workDir = QStringLiteral("C:\\Face\\Work");
  station.settings.modelDir = QStringLiteral("C:\\Face\\Model");
  station.settings.webCam = test::testData(QStringLiteral("clips/subj01_timepoint01.mp4"));
  station.settings.cutLeft = station.settings.cutRight = QStringLiteral("0");
  for (const QString& d : {station.settings.flagDir, station.settings.workDir, station.settings.modelDir})
    QDir().mkpath(hostPath(d));

  DataStore store(station);
  store.open();
  Cameras cameras(station);
  cameras.open();
  FaceCropper cropper(station, &cameras.webCamera());
  cropper.loadCascades();
  FaceBase base(station, store);

  // The barcode's model: the face of a frame of the clip.
  store.exec(QStringLiteral("INSERT INTO Model (EAN, Active, FileName) VALUES (?, 1, 'own')"), {kEan});
  const int ownId = int(store.database().lastInsertId());
  if (!GrabFrame(station, cameras, QString()) || !cropper.PhotoGet(3, QString()).the_fase) {
    std::printf("no face in the clip's frame: stop\n");
    return 1;
  }
  bool found = false;
  base.EnrollPicture(station.tempFile(QStringLiteral("model_face.jpg")), ownId, found, kEan);
  const TFaceRecord own = base.FaceList().at(0);

  // Other people: the lfw10 photos.
  QStringList photos;
  QDirIterator it(test::testData(QStringLiteral("lfw10")), {QStringLiteral("*.jpg")}, QDir::Files,
                  QDirIterator::Subdirectories);
  while (it.hasNext()) photos << it.next();
  photos.sort();
  std::vector<TFaceRecord> others;
  base.ClearDatabase();
  for (const QString& p : photos) {
    base.EnrollPicture(p, 0, found, QString());
    if (found) others.push_back(base.FaceList().back());
  }

  CheckInRun run(station, store, cameras, cropper);
  run.useTemplateBase(base);
  run.initialWaitMs = 0;  // the fixed wait is not part of time_ms
  run.playSound = [](std::uint8_t) {};

  std::printf("runs per count: %d (median), machine: 2 cores, clip 1 (1080x720) as web camera\n", runs);
  std::printf("%7s %9s %8s %8s %8s %10s %9s %9s %8s %9s %8s\n", "models", "time_ms", "cpu_ms", "grab", "detect",
              "matching", "(scan)", "database", "files", "attempts", "answer");
  int rows = 1;
  for (int n : {10, 1000, 10000}) {
    // Model rows and template records up to n (the barcode's own model first).
    store.exec(QStringLiteral("WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < ?) "
                              "INSERT INTO Model (EAN, Active, FileName) SELECT 2300000000000 + x + ?, 1, 'm' FROM c"),
               {n - rows, rows});
    rows = n;
    const Rows ids = store.query(QStringLiteral("SELECT id, EAN FROM Model WHERE id <> ? ORDER BY id"), {ownId});
    base.ClearDatabase();
    base.append(own);
    for (int i = 0; i + 1 < n; ++i) {
      TFaceRecord r = others[std::size_t(i) % others.size()];
      r.id = ids.rows[std::size_t(i)][0].toInt();
      r.fio = ids.rows[std::size_t(i)][1].toString();
      base.append(r);
    }

    std::vector<double> cpu, total, grab, detect, matching, database, files, timeMs;
    int attempts = 0;
    QString third;
    for (int r = 0; r <= runs; ++r) {
      station.settings.ean = kEan;
      const double cpu0 = cpuMs();
      run.FaceDetectionLuxandRTSP(true);
      if (r == 0) continue;  // warm-up
      cpu.push_back(cpuMs() - cpu0);
      const CheckInTimings& t = run.lastTimings();
      total.push_back(t.total);
      grab.push_back(t.grab);
      detect.push_back(t.detection);
      matching.push_back(t.matching);
      database.push_back(t.database);
      files.push_back(t.files);
      attempts = std::max(attempts, t.attempts);
      const QString last = station.log.lines().last();
      timeMs.push_back(last.mid(last.indexOf(QLatin1String("time_ms = ")) + 10).toDouble());
      third = station.memoOut.lines().value(2);
    }

    // The 1:N scan alone, with the base's own descriptor as probe.
    const float* probe = base.descriptors().data();
    const int reps = 50;
    QElapsedTimer s;
    s.start();
    for (int i = 0; i < reps; ++i) base.bestMatch(probe, 0);
    const double scan = s.nsecsElapsed() / 1e6 / reps;

    std::printf("%7d %9.0f %8.0f %8.1f %8.1f %10.1f %9.2f %9.1f %8.1f %9d %8s\n", n, median(timeMs), median(cpu), median(grab),
                median(detect), median(matching), scan, median(database), median(files), attempts,
                third == kEan ? "ok" : qPrintable(third));
    std::fflush(stdout);
  }
  return 0;
}
