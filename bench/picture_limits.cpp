// Peak memory of decoding a 20000 x 20000 JPEG (a real 250 x 250 photograph whose header is
// rewritten; a few kilobytes on disk): decoded without the pixel limit as the station did,
// and loaded through the station's own roads (face engine loader, PhotoGet) with it. Each
// measurement runs in a child process of its own, so each peak is its own.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <opencv2/imgcodecs.hpp>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "base/station.h"
#include "face/picture/face_cropper.h"
#include "face/sdk/fsdk.h"
#include "tests/support/huge_picture.h"
#include "tests/support/station_on_disk.h"
#include "tests/support/test_env.h"

using namespace tavo;

namespace {

long peakKb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

// Runs `work` in a child; prints the child's peak resident memory before and after it.
template <class F>
void measure(const char* what, F work) {
  std::fflush(stdout);
  const pid_t pid = fork();
  if (pid == 0) {
    const long before = peakKb();
    QElapsedTimer t;
    t.start();
    const QString result = work();
    std::printf("%-44s peak RSS %7.1f MB -> %7.1f MB, %6lld ms, %s\n", what, before / 1024.0, peakKb() / 1024.0,
                t.elapsed(), qPrintable(result));
    std::fflush(stdout);
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  test::StationOnDisk disk;
  disk.dir.installCascades();
  const QByteArray huge =
      test::withJpegSize(test::readFile(test::testData("lfw10/Colin_Powell/Colin_Powell_0001.jpg")), 20000, 20000);
  const QString file = disk.dir.file("huge_face.jpg");
  test::writeFile(file, huge);
  std::printf("20000 x 20000 JPEG of %lld bytes\n", qlonglong(huge.size()));

  measure("cv::imdecode without a limit (before)", [&] {
    const cv::Mat m = cv::imdecode(cv::Mat(1, int(huge.size()), CV_8UC1, const_cast<char*>(huge.constData())),
                                   cv::IMREAD_COLOR);
    return QStringLiteral("decoded %1 x %2").arg(m.cols).arg(m.rows);
  });
  measure("FSDK_LoadImageFromFile (after)", [&] {
    HImage h = 0;
    return QStringLiteral("code %1").arg(FSDK_LoadImageFromFile(&h, file.toUtf8().constData()));
  });
  measure("PhotoGet mode 2 (after)", [&] {
    FaceCropper cropper(disk.station);
    cropper.loadCascades();
    const PhotoResult r = cropper.PhotoGet(2, file);
    return QStringLiteral("face %1").arg(r.the_fase);
  });
  return 0;
}
