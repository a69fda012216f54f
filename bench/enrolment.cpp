// Enrolment figures: the photo series with a clip as the web camera (GrabFrame + PhotoGet x 3),
// NewModel alone, and a whole enrolment request against the real template base.
// Usage: bench-enrolment [runs]
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "base/clock.h"
#include "base/operator_messages.h"
#include "base/paths.h"
#include "base/station.h"
#include "checkin/enrolment_request.h"
#include "checkin/photo_series.h"
#include "data/data_store.h"
#include "data/schema.h"
#include "face/face_base.h"
#include "face/picture/frame_grab.h"
#include "models/new_model.h"
#include "tests/support/station_on_disk.h"
#include "tests/support/test_env.h"

using namespace tavo;

namespace {

struct Env : test::StationOnDisk {
  std::unique_ptr<DataStore> store;
  std::unique_ptr<FaceBase> base;

  Env() {
    dir.linkNetworks();
    dir.installCascades();
    createDatabaseFile(dir.file(kDatabaseFileName), QLatin1String(kDatabasePassword));
    station.settings.waitTime = 0;
    for (const QString& d : {station.settings.modelDir, station.settings.flagDir, QStringLiteral("C:\\Korvend\\FTP")})
      QDir().mkpath(hostPath(d));
    store = std::make_unique<DataStore>(station);
    store->open();
    base = std::make_unique<FaceBase>(station, *store);
    base->Button19Click();
  }
  QString flag(const QString& name) const { return hostPath(joinPath(station.settings.flagDir, name)); }
};

struct Figures {
  std::vector<double> ms;
  void print(const char* what) {
    std::sort(ms.begin(), ms.end());
    double sum = 0;
    for (double v : ms) sum += v;
    std::printf("%-52s mean %7.1f ms  median %7.1f ms  min %7.1f ms  (%zu runs)\n", what, sum / ms.size(),
                ms[ms.size() / 2], ms.front(), ms.size());
  }
};

QString lfw(int n) { return test::testData(QStringLiteral("lfw10/Colin_Powell/Colin_Powell_%1.jpg").arg(n, 4, 10, QLatin1Char('0'))); }

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
  Env env;

  {  // The series: clip camera, three pictures, default face size 120.
    env.station.settings.webCam = test::testData("clips/subj01_timepoint01.mp4");
    Cameras cameras(env.station);
    cameras.open();
    FaceCropper cropper(env.station);
    cropper.loadCascades();
    PhotoSeries series(env.station, cameras, cropper);
    Figures f;
    for (int i = 0; i < runs; ++i) {
      QElapsedTimer t;
      t.start();
      series.GetNewPhoto();
      f.ms.push_back(t.nsecsElapsed() / 1e6);
    }
    f.print("GetNewPhoto (1080x720 clip, WaitTime 0)");
  }

  {  // NewModel alone: encrypt, post, enrol one 250x250 photo.
    QFile::remove(env.flag("Face101_face.jpg"));
    QFile::copy(lfw(1), env.flag("Face101_face.jpg"));
    Figures f;
    const EnrollPictureFn enroll = enrollPictureOf(*env.base);
    for (int i = 0; i < runs; ++i) {
      QElapsedTimer t;
      t.start();
      NewModel(env.station, *env.store, enroll, QStringLiteral("2200000000001"), "Face101_face.jpg", env.station.settings.flagDir);
      f.ms.push_back(t.nsecsElapsed() / 1e6);
    }
    f.print("NewModel (250x250 photo, into the template base)");
  }

  {  // A whole request: compare, three models, answer.
    EnrolmentRequest request(env.station, *env.store);
    request.useTemplateBase(*env.base);
    Figures f;
    for (int i = 0; i < runs; ++i) {
      for (int k = 0; k < 3; ++k) {
        QFile::remove(env.flag(seriesFacePicture(101 + k)));
        QFile::copy(lfw(2 + k), env.flag(seriesFacePicture(101 + k)));
      }
      QElapsedTimer t;
      t.start();
      request.handle({QStringLiteral("%1").arg(2200000000100LL + i), QStringLiteral("Face101"), QStringLiteral("Да")});
      f.ms.push_back(t.nsecsElapsed() / 1e6);
    }
    f.print("EnrolmentRequest::handle (3 pictures, new barcode)");
  }
  std::printf("template base after the runs: %zu records\n", env.base->size());
  return 0;
}
