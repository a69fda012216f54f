// Milliseconds of the liveness pass of one check-in attempt (AntiSpoof=1): reading the working
// picture the attempt holds, and the network on the square around the face box that PhotoGet
// found. On a 640x480 web-camera capture (nuaa) and a 1080x720 frame of a clip. Wall time and
// the process's CPU time (all threads): on a shared machine the CPU time is the steadier figure.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>
#include <vector>

#include "base/paths.h"
#include "base/station.h"
#include "checkin/spoof_check.h"
#include "face/picture/face_cropper.h"
#include "face/sdk/fsdk.h"
#include "face/sdk/liveness.h"
#include "tests/support/test_env.h"

using namespace tavo;

namespace {

double cpuMs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 50;
  test::TempProgramDir dir;
  RecordingMessages messages;
  Station station(nullptr, &messages);
  station.settings.programPath = dir.path();
  dir.installCascades();
  dir.linkNetworks();
  const QByteArray nets = dir.file(QStringLiteral("nets")).toUtf8();
  FSDK_SetNetworksFolder(nets.constData());
  if (FSDK_Initialize("") != FSDKE_OK) {
    std::fprintf(stderr, "cannot load the networks from %s\n", nets.constData());
    return 1;
  }
  FaceCropper cropper(station);
  cropper.loadCascades();

  cv::Mat clipFrame;
  cv::VideoCapture clip(test::testData("clips/subj01_timepoint01.mp4").toStdString());
  for (int i = 0; i < 30 && clip.read(clipFrame);) ++i;
  const cv::Mat capture = cv::imread(test::testData("nuaa/real/0002/0002_01_00_01_14.jpg").toStdString());
  const QString working = station.tempFile(QStringLiteral("model_full.jpg"));
  std::printf("picture\tread ms\tnetwork ms\tliveness pass ms\tits CPU ms (medians of %d)\n", runs);
  for (const auto& [name, picture] : {std::pair{"640x480 nuaa capture", capture}, std::pair{"1080x720 clip frame", clipFrame}}) {
    if (picture.empty() || !cv::imwrite(QFile::encodeName(hostPath(working)).toStdString(), picture)) return 1;
    const PhotoResult face = cropper.PhotoGet(3, QString());
    if (!face.the_fase) return 1;
    judgeAttempt(working, face);  // the network's first forward pass builds it
    std::vector<double> read, network, pass, cpu;
    for (int i = 0; i < runs; ++i) {
      QElapsedTimer t;
      t.start();
      const cv::Mat bgr = cv::imread(QFile::encodeName(hostPath(working)).toStdString(), cv::IMREAD_COLOR);
      read.push_back(t.nsecsElapsed() / 1e6);
      t.restart();
      fsdk::livenessScore(bgr, cv::Rect2f(face.faceBox));
      network.push_back(t.nsecsElapsed() / 1e6);
      t.restart();
      const double c0 = cpuMs();
      judgeAttempt(working, face);
      cpu.push_back(cpuMs() - c0);
      pass.push_back(t.nsecsElapsed() / 1e6);
    }
    std::printf("%s\t%.1f\t%.1f\t%.1f\t%.1f\n", name, median(read), median(network), median(pass), median(cpu));
  }
  return 0;
}
