// tavolin-face: the station's face engine from the command line.
//   tavolin-face [--nets DIR] [--threshold 1..5] detect IMAGE
//   tavolin-face [--nets DIR] compare IMAGE1 IMAGE2
//   tavolin-face [--nets DIR] eval LABELS.csv [--pairs]
//   tavolin-face [--nets DIR] recall DATASET.xml        (detection recall on boxed faces)
// Measurement switches: --detector tiny|ssd, --padding FRACTION, --size N (detector input).
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
#include "tools/face_spoof_command.h"

using namespace tavo;

namespace {

struct Options {
  QString nets;
  int threshold = 3;
  int inputSize = 384;  // what the station asks for before every detection
  bool pairs = false;
  QStringList args;
};

int usage() {
  std::fprintf(stderr,
               "usage: tavolin-face [--nets DIR] [--threshold 1..5] detect IMAGE\n"
               "       tavolin-face [--nets DIR] compare IMAGE1 IMAGE2\n"
               "       tavolin-face [--nets DIR] eval LABELS.csv [--pairs]\n"
               "       tavolin-face [--nets DIR] recall DATASET.xml\n");
  return 2;
}

QString defaultNets() {
  const QByteArray env = qgetenv("TAVO_NETS");
  if (!env.isEmpty()) return QString::fromLocal8Bit(env);
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

// One picture through the engine: face, eyes, template.
struct Analysis {
  int code = FSDKE_OK;  // first failing call
  const char* step = "";
  TFacePosition face;
  bool eyes = false;
  FSDK_FaceTemplate tmpl;
};

Analysis analyse(const QString& path) {
  Analysis a;
  HImage image = 0;
  const QByteArray p = path.toUtf8();
  a.code = FSDK_LoadImageFromFile(&image, p.constData());
  if (a.code != FSDKE_OK) {
    a.step = "cannot read the picture";
    return a;
  }
  a.code = FSDK_DetectFace(image, &a.face);
  if (a.code != FSDKE_OK) {
    a.step = "no face";
  } else {
    FSDK_Features features;
    a.eyes = FSDK_DetectEyesInRegion(image, &a.face, &features) == FSDKE_OK;
    a.code = FSDK_GetFaceTemplateInRegion(image, &a.face, &a.tmpl);
    if (a.code != FSDKE_OK) a.step = "no template";
  }
  FSDK_FreeImage(image);
  return a;
}

int detect(const Options& o) {
  if (o.args.size() != 2) return usage();
  if (!initialise(o)) return 1;
  const QString path = o.args[1];
  const Analysis a = analyse(path);
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
  Analysis a[2];
  for (int i = 0; i < 2; ++i) {
    a[i] = analyse(o.args[1 + i]);
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

// Splits one CSV line (quotes allowed).
QStringList csvFields(const QString& line) {
  QStringList out;
  QString cur;
  bool quoted = false;
  for (int i = 0; i < line.size(); ++i) {
    const QChar c = line[i];
    if (quoted) {
      if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') cur += '"', ++i;
      else if (c == '"') quoted = false;
      else cur += c;
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      out << cur;
      cur.clear();
    } else {
      cur += c;
    }
  }
  out << cur;
  return out;
}

double quantile(std::vector<double> v, double q) {
  if (v.empty()) return NAN;
  std::sort(v.begin(), v.end());
  const double pos = q * (v.size() - 1);
  const std::size_t i = static_cast<std::size_t>(pos);
  return i + 1 < v.size() ? v[i] + (pos - i) * (v[i + 1] - v[i]) : v[i];
}

int eval(const Options& o) {
  if (o.args.size() != 2) return usage();
  QFile file(o.args[1]);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
    std::fprintf(stderr, "tavolin-face: cannot read %s\n", qPrintable(o.args[1]));
    return 1;
  }
  const QDir base = QFileInfo(o.args[1]).absoluteDir();
  struct Row {
    QString file, identity;
    std::optional<fsdk::Descriptor> descriptor;
  };
  std::vector<Row> rows;
  QTextStream in(&file);
  bool first = true;
  while (!in.atEnd()) {
    const QString line = in.readLine().trimmed();
    if (line.isEmpty()) continue;
    const QStringList f = csvFields(line);
    if (f.size() < 2) continue;
    if (first && !QFileInfo(base.filePath(f[0])).isFile()) {  // header line
      first = false;
      continue;
    }
    first = false;
    rows.push_back({f[0].trimmed(), f[1].trimmed(), std::nullopt});
  }
  if (!initialise(o)) return 1;
  int found = 0, eyes = 0, unreadable = 0;
  const auto start = std::chrono::steady_clock::now();
  for (Row& r : rows) {
    const Analysis a = analyse(base.filePath(r.file));
    if (a.code == FSDKE_OK) {
      r.descriptor = fsdk::descriptorOf(a.tmpl);
      ++found;
      eyes += a.eyes;
    } else if (a.code != FSDKE_FACE_NOT_FOUND) {
      std::fprintf(stderr, "tavolin-face: %s: %s (%s)\n", qPrintable(r.file), a.step, fsdk::errorText(a.code));
      ++unreadable;
    }
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  // Distances of every pair; a picture without a face gives similarity 0 (distance infinite).
  std::vector<double> same, different;
  for (std::size_t i = 0; i < rows.size(); ++i)
    for (std::size_t j = i + 1; j < rows.size(); ++j) {
      double d = INFINITY;
      if (rows[i].descriptor && rows[j].descriptor)
        d = std::sqrt(fsdk::squaredDistance(rows[i].descriptor->data(), rows[j].descriptor->data()));
      const float s = std::isinf(d) ? 0.f : fsdk::similarityFromDistance(static_cast<float>(d));
      if (o.pairs) std::printf("%s\t%s\t%.4f\n", qPrintable(rows[i].file), qPrintable(rows[j].file), s);
      (rows[i].identity == rows[j].identity ? same : different).push_back(d);
    }
  std::sort(same.begin(), same.end());
  std::sort(different.begin(), different.end());
  std::printf("pictures %zu, faces %d, eyes found %d, %.1f ms per picture\n", rows.size(), found, eyes,
              rows.empty() ? 0.0 : 1000 * seconds / rows.size());
  std::printf("pairs: same %zu, different %zu\n", same.size(), different.size());
  std::printf("distance same: median %.3f, 95th %.3f, 99th %.3f, max %.3f\n", quantile(same, 0.5),
              quantile(same, 0.95), quantile(same, 0.99), same.empty() ? NAN : same.back());
  std::printf("distance different: min %.3f, 0.1th %.3f, 1st %.3f, 5th %.3f, median %.3f\n",
              different.empty() ? NAN : different.front(), quantile(different, 0.001), quantile(different, 0.01),
              quantile(different, 0.05), quantile(different, 0.5));
  auto passing = [](const std::vector<double>& v, double maxDistance) {
    return static_cast<double>(std::upper_bound(v.begin(), v.end(), maxDistance) - v.begin());
  };
  std::printf("\n| FAR target | distance | similarity threshold | FAR measured | FRR |\n|---|---|---|---|---|\n");
  for (double far : {1e-1, 1e-2, 1e-3, 1e-4}) {
    // The largest distance at which at most far of the different pairs pass.
    const std::size_t allowed = static_cast<std::size_t>(std::floor(far * different.size() + 1e-9));
    // No different-person pairs (one identity, or one picture): nothing to refuse, everything passes.
    double t = INFINITY;
    if (allowed < different.size()) t = std::nextafter(different[allowed], 0.0);  // just below the first refused pair
    else if (!different.empty()) t = different.back() + 1;
    if (std::isinf(t)) t = 2;
    const double farMeasured = different.empty() ? 0 : passing(different, t) / different.size();
    const double frr = same.empty() ? 0 : 1 - passing(same, t) / same.size();
    std::printf("| %.0e | %.3f | %.3f | %.2e | %.2f %% |\n", far, t, fsdk::similarityFromDistance(static_cast<float>(t)),
                farMeasured, 100 * frr);
  }
  std::printf("\n| similarity | same-person pairs passing | different-person pairs passing |\n|---|---|---|\n");
  for (float s : {0.75f, 0.70f, 0.50f}) {
    const double t = fsdk::distanceFromSimilarity(s);
    std::printf("| %.2f | %.2f %% | %.3f %% (%d) |\n", s, same.empty() ? 0 : 100 * passing(same, t) / same.size(),
                different.empty() ? 0 : 100 * passing(different, t) / different.size(),
                static_cast<int>(passing(different, t)));
  }
  if (unreadable) std::fprintf(stderr, "tavolin-face: %d pictures could not be read\n", unreadable);
  return unreadable ? 1 : 0;
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
    const auto found = fsdk::detectFaces(fsdk::matOf(image), fsdk::detectionScoreFor(o.threshold), o.inputSize, true);
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
    else if (a == "--pairs") o.pairs = true;
    else if (a == "--detector") fsdk::detail::chooseDetector(value() == "ssd" ? fsdk::detail::DetectorKind::Ssd : fsdk::detail::DetectorKind::Tiny);
    else if (a == "--padding") fsdk::detail::setDetectionPadding(value().toDouble());
    else if (a.startsWith("--")) return usage();
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
