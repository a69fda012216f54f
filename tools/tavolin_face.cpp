// tavolin-face: the station's face engine from the command line.
//   tavolin-face [--nets DIR] [--threshold 1..5] detect IMAGE
//   tavolin-face [--nets DIR] compare IMAGE1 IMAGE2
//   tavolin-face [--nets DIR] eval LABELS.csv [--pairs | --identify N] [--station [--cascades DIR]]
//   tavolin-face [--nets DIR] eval LABELS.csv... --calibrate [--shrink N] [--write FILE]
//   tavolin-face [--nets DIR] recall DATASET.xml        (detection recall on boxed faces)
//   tavolin-face [--nets DIR] spoof LABELS.csv [--threshold T] [--attempts N] [--haar CASCADE]
// Measurement switches: --detector light|ssd|tiny (light: the light detector first, the station's
// road; ssd: the SSD alone; recall: that detector alone), --passes N (landmark passes that refine
// the square), --padding FRACTION, --size N (detector input),
// --descriptor resnet (the older network), --no-refine (detector squares as found), --mirror
// (descriptor of the chip averaged with its mirror image), --minimum PERCENT (for --identify).
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>
#include <QTextStream>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "face/sdk/engine.h"
#include "face/sdk/fsdk.h"
#include "face/sdk/fsdk_cv.h"
#include "tools/face_analysis.h"
#include "tools/face_eval.h"
#include "tools/face_spoof_command.h"

using namespace tavo;

namespace {

struct Options {
  QString nets;
  std::optional<fsdk::detail::DetectorKind> detector;  // --detector
  int threshold = 3;
  int inputSize = 384;  // what the station asks for before every detection
  tools::EvalOptions eval;
  QStringList args;
};

int usage(FILE* to = stderr) {
  std::fprintf(to,
               "usage: tavolin-face [--nets DIR] [--threshold 1..5] detect IMAGE\n"
               "       tavolin-face [--nets DIR] compare IMAGE1 IMAGE2\n"
               "       tavolin-face [--nets DIR] eval LABELS.csv [--pairs | --identify N] [--station]\n"
               "       tavolin-face [--nets DIR] eval LABELS.csv... --calibrate [--shrink N] [--write FILE]\n"
               "       tavolin-face [--nets DIR] recall DATASET.xml\n"
               "       tavolin-face [--nets DIR] spoof LABELS.csv [--threshold T] [--attempts N] [--haar CASCADE]\n"
               "       tavolin-face --help | --version\n");
  return to == stderr ? 2 : 0;
}

QString defaultNets() {
  const QByteArray env = qgetenv("TAVO_NETS");
  if (!env.isEmpty()) return QString::fromLocal8Bit(env);
  // An installed program's networks (bin/../share/tavolin/nets), wherever the package lies.
  const QString installed = QDir(QCoreApplication::applicationDirPath()).filePath("../share/tavolin/nets");
  if (QFileInfo(installed).isDir()) return QDir::cleanPath(installed);
  // The source tree's third_party/face-models, found from the executable's build folder or the
  // current folder.
  for (QDir d(QCoreApplication::applicationDirPath());; ) {
    if (QFileInfo(d.filePath("third_party/face-models")).isDir()) return d.filePath("third_party/face-models");
    if (QFileInfo(d.filePath("../third_party/face-models")).isDir()) return d.filePath("../third_party/face-models");
    if (!d.cdUp()) break;
  }
  return QDir::current().filePath("third_party/face-models");
}

bool initialise(const Options& o) {
  const QByteArray dir = o.nets.toUtf8();
  FSDK_SetNetworksFolder(dir.constData());
  const int rc = FSDK_Initialize("");
  if (rc != FSDKE_OK) {
    std::fprintf(stderr, "tavolin-face: cannot load the networks from %s: %s\n", dir.constData(), fsdk::errorText(rc));
    return false;
  }
  FSDK_SetFaceDetectionParameters(false, true, o.inputSize);
  FSDK_SetFaceDetectionThreshold(o.threshold);
  return true;
}

int detect(const Options& o) {
  if (o.args.size() != 2) return usage();
  if (!initialise(o)) return 1;
  const QString path = o.args[1];
  const tools::PictureAnalysis a = tools::analysePicture(path);
  if (a.code != FSDKE_OK && a.code != FSDKE_FACE_NOT_FOUND) {
    std::fprintf(stderr, "tavolin-face: %s: %s (%s)\n", qPrintable(path), a.step, fsdk::errorText(a.code));
    return 1;
  }
  HImage image = 0;
  FSDK_LoadImageFromFile(&image, path.toUtf8().constData());
  const std::vector<fsdk::Detection> all =
      fsdk::detectFaces(fsdk::matOf(image), fsdk::detectionScoreFor(o.threshold), o.inputSize, true);
  FSDK_FreeImage(image);
  std::printf("faces: %zu\n", all.size());
  for (const fsdk::Detection& d : all)
    std::printf("  x %.0f y %.0f w %.0f h %.0f score %.3f\n", d.box.x, d.box.y, d.box.width, d.box.height, d.score);
  if (a.code == FSDKE_FACE_NOT_FOUND) {
    std::fprintf(stderr, "tavolin-face: %s: no face\n", qPrintable(path));
    return 1;
  }
  std::printf("face: xc %d yc %d w %d\n", a.face.xc, a.face.yc, a.face.w);
  std::printf("eyes found: %s\n", a.eyes ? "yes" : "no");
  return 0;
}

int compare(const Options& o) {
  if (o.args.size() != 3) return usage();
  if (!initialise(o)) return 1;
  tools::PictureAnalysis a[2];
  for (int i = 0; i < 2; ++i) {
    a[i] = tools::analysePicture(o.args[1 + i]);
    if (a[i].code != FSDKE_OK) {
      std::fprintf(stderr, "tavolin-face: %s: %s (%s)\n", qPrintable(o.args[1 + i]), a[i].step, fsdk::errorText(a[i].code));
      return 1;
    }
  }
  float similarity = 0;
  const int rc = FSDK_MatchFaces(&a[0].tmpl, &a[1].tmpl, &similarity);
  if (rc != FSDKE_OK) {
    std::fprintf(stderr, "tavolin-face: cannot compare: %s\n", fsdk::errorText(rc));
    return 1;
  }
  const auto d0 = fsdk::descriptorOf(a[0].tmpl), d1 = fsdk::descriptorOf(a[1].tmpl);
  std::printf("distance %.4f similarity %.4f\n", std::sqrt(fsdk::squaredDistance(d0->data(), d1->data())), similarity);
  return 0;
}

int eval(const Options& o) {
  if (o.args.size() < 2 || (o.args.size() > 2 && o.eval.identify > 0 && !o.eval.calibrate)) return usage();
  if (!initialise(o)) return 1;
  tools::EvalOptions e = o.eval;
  e.labels = o.args[1];
  e.more = o.args.mid(2);
  e.threshold = o.threshold;
  if (e.cascades.isEmpty()) e.cascades = QFileInfo(o.nets).dir().filePath(QStringLiteral("cascades"));
  const int rc = tools::runEval(e);
  using fsdk::detail::DetectorKind;
  std::fprintf(stderr, "faces found by the light detector %ld, by the SSD %ld, by the tiny detector %ld\n",
               fsdk::detail::facesFoundBy(DetectorKind::Light), fsdk::detail::facesFoundBy(DetectorKind::Ssd),
               fsdk::detail::facesFoundBy(DetectorKind::Tiny));
  return rc;
}

// Detection recall against boxed faces (the dlib dataset XML files of testdata/groups).
int recall(const Options& o) {
  if (o.args.size() != 2) return usage();
  QFile file(o.args[1]);
  if (!file.open(QIODevice::ReadOnly)) {
    std::fprintf(stderr, "tavolin-face: cannot read %s\n", qPrintable(o.args[1]));
    return 1;
  }
  if (!initialise(o)) return 1;
  const QString xml = QString::fromUtf8(file.readAll());
  const QDir base = QFileInfo(o.args[1]).absoluteDir();
  const QRegularExpression imageRe("<image file='([^']+)'[^>]*>(.*?)</image>", QRegularExpression::DotMatchesEverythingOption);
  const QRegularExpression boxRe("<box top='(-?\\d+)' left='(-?\\d+)' width='(\\d+)' height='(\\d+)'");
  int truth = 0, hit = 0, extra = 0;
  double ms = 0;
  int runs = 0;
  for (auto it = imageRe.globalMatch(xml); it.hasNext();) {
    const auto m = it.next();
    std::vector<cv::Rect2f> boxes;
    for (auto b = boxRe.globalMatch(m.captured(2)); b.hasNext();) {
      const auto bm = b.next();
      boxes.emplace_back(bm.captured(2).toFloat(), bm.captured(1).toFloat(), bm.captured(3).toFloat(), bm.captured(4).toFloat());
    }
    HImage image = 0;
    if (FSDK_LoadImageFromFile(&image, base.filePath(m.captured(1)).toUtf8().constData()) != FSDKE_OK) continue;
    const auto t0 = std::chrono::steady_clock::now();
    // Every face by one detector: the station's multi-face search (the SSD) unless another is asked.
    using fsdk::detail::DetectorKind;
    const DetectorKind kind = o.detector.value_or(DetectorKind::Ssd);
    const float score = fsdk::detectionScoreFor(o.threshold) + (kind == DetectorKind::Light ? fsdk::detail::kLightScoreOffset : 0.f);
    const auto found = fsdk::detail::findFaces(*fsdk::detail::nets(), kind, fsdk::matOf(image), score, o.inputSize, true);
    ms += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    ++runs;
    FSDK_FreeImage(image);
    std::vector<bool> used(found.size());
    int imageHits = 0;
    for (const cv::Rect2f& t : boxes) {
      for (std::size_t i = 0; i < found.size(); ++i) {
        if (used[i]) continue;
        const float inter = (t & found[i].box).area();
        // A hit: the found box overlaps the marked face well (IoU) or holds its centre closely.
        const cv::Point2f c = (t.tl() + t.br()) * 0.5f, fc = (found[i].box.tl() + found[i].box.br()) * 0.5f;
        if (inter / (t.area() + found[i].box.area() - inter) > 0.3f ||
            (found[i].box.contains(c) && std::hypot(c.x - fc.x, c.y - fc.y) < 0.5f * t.width)) {
          used[i] = true;
          ++imageHits;
          break;
        }
      }
    }
    truth += static_cast<int>(boxes.size());
    hit += imageHits;
    extra += static_cast<int>(found.size()) - imageHits;
    std::printf("%s: %zu marked, %d found, %zu detections\n", qPrintable(m.captured(1)), boxes.size(), imageHits, found.size());
  }
  std::printf("recall %d/%d (%.1f %%), unmatched detections %d, %.1f ms per picture\n", hit, truth,
              truth ? 100.0 * hit / truth : 0.0, extra, runs ? ms / runs : 0.0);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (!qEnvironmentVariableIsSet("OPENCV_LOG_LEVEL")) qputenv("OPENCV_LOG_LEVEL", "ERROR");
  Options o;
  o.nets = defaultNets();
  const QStringList args = app.arguments().mid(1);
  if (args.contains(QStringLiteral("spoof"))) return spoofCommand(o.nets, args);  // its own options
  for (int i = 0; i < args.size(); ++i) {
    const QString& a = args[i];
    auto value = [&]() -> QString { return i + 1 < args.size() ? args[++i] : QString(); };
    if (a == "--nets") o.nets = value();
    else if (a == "--threshold") o.threshold = value().toInt();
    else if (a == "--size") o.inputSize = value().toInt();
    else if (a == "--pairs") o.eval.pairs = true;
    else if (a == "--identify") o.eval.identify = std::max(1, value().toInt());
    else if (a == "--station") o.eval.station = true;
    else if (a == "--minimum") o.eval.minimum = value().toDouble();
    else if (a == "--calibrate") o.eval.calibrate = true;
    else if (a == "--shrink") o.eval.shrink = std::max(0, value().toInt());
    else if (a == "--write") o.eval.write = value();
    else if (a == "--cascades") o.eval.cascades = value();
    else if (a == "--descriptor") fsdk::detail::chooseDescriptor(value() == "resnet" ? fsdk::detail::DescriptorKind::ResNet128 : fsdk::detail::DescriptorKind::Feature512);
    else if (a == "--no-refine") fsdk::detail::setSquareRefinement(false);
    else if (a == "--mirror") fsdk::detail::setMirrorAveraging(true);
    else if (a == "--detector") {
      using fsdk::detail::DetectorKind;
      const QString kind = value();
      o.detector = kind == "ssd" ? DetectorKind::Ssd : kind == "tiny" ? DetectorKind::Tiny : DetectorKind::Light;
      fsdk::detail::chooseDetector(*o.detector == DetectorKind::Tiny ? DetectorKind::Tiny : DetectorKind::Ssd);
      fsdk::detail::setLightDetectorFirst(*o.detector == DetectorKind::Light);
    }
    else if (a == "--passes") fsdk::detail::setLandmarkPasses(value().toInt());
    else if (a == "--padding") fsdk::detail::setDetectionPadding(value().toDouble());
    else if (a == "--help" || a == "-h") return usage(stdout);
    else if (a == "--version") {
      std::printf("tavolin-face %s\n", TAVO_VERSION);
      return 0;
    }
    else if (a.size() > 1 && a.startsWith('-')) {
      std::fprintf(stderr, "tavolin-face: unknown option %s\n", qPrintable(a));
      return usage();
    }
    else o.args << a;
  }
  if (o.args.isEmpty()) return usage();
  const QString command = o.args[0];
  if (command == "detect") return detect(o);
  if (command == "compare") return compare(o);
  if (command == "eval") return eval(o);
  if (command == "recall") return recall(o);
  return usage();
}
