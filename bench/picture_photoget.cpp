// Milliseconds per PhotoGet (mode 3: detection, crop, feature search, files) on a 640x480 and a
// 1920x1080 picture made from a real photograph, with the station's default settings.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <algorithm>
#include <cstdio>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "base/station.h"
#include "face/picture/face_cropper.h"
#include "tests/support/test_env.h"

using namespace tavo;

namespace {

// The centre part of the photo with the given aspect, scaled to w x h.
cv::Mat scene(const cv::Mat& photo, int w, int h) {
  const double aspect = double(w) / h;
  cv::Rect r(0, 0, photo.cols, photo.rows);
  if (double(photo.cols) / photo.rows > aspect) {
    r.width = int(photo.rows * aspect);
    r.x = (photo.cols - r.width) / 2;
  } else {
    r.height = int(photo.cols / aspect);
    r.y = (photo.rows - r.height) / 2;
  }
  cv::Mat out;
  cv::resize(photo(r), out, cv::Size(w, h), 0, 0, cv::INTER_AREA);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 20;
  test::TempProgramDir dir;
  RecordingMessages messages;
  Station station(nullptr, &messages);
  station.settings.programPath = dir.path();
  dir.installCascades();
  FaceCropper cropper(station);
  QElapsedTimer load;
  load.start();
  cropper.loadCascades();
  std::printf("cascades loaded once: %lld ms\n", static_cast<long long>(load.elapsed()));

  const QString photoFile = test::testData("samples/007_B.jpg");
  const cv::Mat photo = cv::imread(photoFile.toStdString());
  if (photo.empty()) {
    std::fprintf(stderr, "cannot read %s\n", qPrintable(photoFile));
    return 1;
  }
  for (const cv::Size size : {cv::Size(640, 480), cv::Size(1920, 1080)}) {
    const cv::Mat img = scene(photo, size.width, size.height);
    std::vector<double> ms;
    PhotoResult r;
    for (int i = 0; i < runs + 1; ++i) {
      cv::imwrite(dir.file("Temp/model_full.jpg").toStdString(), img);
      QElapsedTimer t;
      t.start();
      r = cropper.PhotoGet(3, QString());
      if (i > 0) ms.push_back(t.nsecsElapsed() / 1e6);  // the first run warms caches
    }
    std::sort(ms.begin(), ms.end());
    double sum = 0;
    for (double v : ms) sum += v;
    std::printf("PhotoGet %dx%d: mean %.1f ms, median %.1f ms, min %.1f ms over %d runs (face %d, %d features)\n",
                size.width, size.height, sum / ms.size(), ms[ms.size() / 2], ms.front(), runs, r.the_fase, r.features);
  }
  return 0;
}
