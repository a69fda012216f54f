// tavolin-face spoof LABELS.csv [--threshold T] [--attempts N]
//
// LABELS.csv has the columns file and kind (a header line names them; without one the first two
// columns are taken); kind "real" is a bona fide capture, anything else an attack. Files are
// relative to the CSV's folder or absolute. Prints FILE<TAB>SCORE per picture in the order of the
// CSV (higher: more likely live; 0 when no face was found), then the threshold with APCER (attacks
// accepted) and BPCER (real captures refused) at it, and the threshold that refuses at most 1 %
// of the real captures. With --attempts N, consecutive pictures of the same kind form check-ins of
// N attempts: a check-in is judged live when any of its attempts is. With --haar CASCADE the face
// box comes from that cascade as in the check-in (the engine's detector when it finds none). A
// video file (.mp4, .avi, .mkv) stands for every 5th of its frames, printed as FILE#FRAME.
#include "tools/face_spoof_command.h"
#include "tools/face_eval.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>
#include <opencv2/videoio.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <optional>
#include <vector>

#include <unistd.h>

#include "face/picture/cascade_search.h"
#include "face/sdk/fsdk.h"
#include "face/sdk/fsdk_cv.h"
#include "face/sdk/liveness.h"

namespace tavo {
namespace {

struct Row {
  QString file;
  QString group;  // pictures of one folder (or one video) may form a check-in together
  bool real = false;
  float score = 0;
  bool face = false;
};

// The fields of a CSV line, trimmed.
QStringList csvFields(const QString& line) {
  QStringList fields = tools::csvFields(line);
  for (QString& f : fields) f = f.trimmed();
  return fields;
}

bool readLabels(const QString& csv, std::vector<Row>& rows) {
  QFile file(csv);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
    std::fprintf(stderr, "tavolin-face: cannot read %s\n", qPrintable(csv));
    return false;
  }
  QTextStream in(&file);
  int fileColumn = 0, kindColumn = 1;
  bool first = true;
  int lineNo = 0;
  while (!in.atEnd()) {
    const QString line = in.readLine();
    ++lineNo;
    if (line.trimmed().isEmpty()) continue;
    const QStringList f = csvFields(line);
    if (first) {
      first = false;
      const int fc = f.indexOf(QStringLiteral("file")), kc = f.indexOf(QStringLiteral("kind"));
      if (fc >= 0 && kc >= 0) {
        fileColumn = fc;
        kindColumn = kc;
        continue;
      }
    }
    if (f.size() <= std::max(fileColumn, kindColumn) || f[fileColumn].isEmpty()) {
      std::fprintf(stderr, "tavolin-face: %s line %d: no file and kind\n", qPrintable(csv), lineNo);
      return false;
    }
    rows.push_back({f[fileColumn], QString(), f[kindColumn] == QLatin1String("real")});
  }
  return true;
}

// The face box of the check-in: the station's Haar face cascade on the eroded grey picture
// (scale 1.1, 3 neighbours, Canny pruning, at least 120 x 120), the largest face.
std::optional<cv::Rect2f> haarFace(cv::CascadeClassifier& cascade, const cv::Mat& bgr) {
  cv::Mat grey;
  cv::cvtColor(bgr, grey, cv::COLOR_BGR2GRAY);
  cv::erode(grey, grey, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(3, 3)));
  const std::vector<cv::Rect> faces = cascadeSearch(cascade, grey, cv::Size(120, 120));
  if (faces.empty()) return std::nullopt;
  return cv::Rect2f(*std::max_element(faces.begin(), faces.end(),
                                      [](const cv::Rect& a, const cv::Rect& b) { return a.area() < b.area(); }));
}

constexpr int kVideoStep = 5;

bool isVideo(const QString& path) {
  const QString suffix = QFileInfo(path).suffix().toLower();
  return suffix == QLatin1String("mp4") || suffix == QLatin1String("avi") || suffix == QLatin1String("mkv");
}

struct Rates {
  int attacks = 0, accepted = 0, reals = 0, refused = 0;
  double apcer() const { return attacks ? 100.0 * accepted / attacks : 0; }
  double bpcer() const { return reals ? 100.0 * refused / reals : 0; }
};

// Per check-in of `attempts` consecutive pictures of one kind (1: per picture): the best score.
std::vector<std::pair<bool, float>> checkIns(const std::vector<Row>& rows, int attempts) {
  std::vector<std::pair<bool, float>> out;
  for (std::size_t i = 0; i < rows.size();) {
    std::size_t j = i;
    float best = 0;
    while (j < rows.size() && j - i < static_cast<std::size_t>(attempts) && rows[j].real == rows[i].real &&
           rows[j].group == rows[i].group)
      best = std::max(best, rows[j++].score);
    out.emplace_back(rows[i].real, best);
    i = j;
  }
  return out;
}

Rates ratesAt(const std::vector<std::pair<bool, float>>& judged, float threshold) {
  Rates r;
  for (const auto& [real, score] : judged) {
    const bool live = score >= threshold;
    if (real) ++r.reals, r.refused += !live;
    else ++r.attacks, r.accepted += live;
  }
  return r;
}

// The highest threshold that refuses at most 1 % of the real ones.
float thresholdForBpcer1(const std::vector<std::pair<bool, float>>& judged) {
  std::vector<float> real;
  for (const auto& [isReal, score] : judged)
    if (isReal) real.push_back(score);
  if (real.empty()) return NAN;
  std::sort(real.begin(), real.end());
  const std::size_t refusable = static_cast<std::size_t>(std::floor(0.01 * real.size() + 1e-9));
  return real[refusable];
}

void printRates(const char* what, const std::vector<std::pair<bool, float>>& judged, float threshold) {
  const Rates r = ratesAt(judged, threshold);
  std::printf("%sthreshold %.4f APCER %.2f %% (%d/%d) BPCER %.2f %% (%d/%d)\n", what, threshold, r.apcer(),
              r.accepted, r.attacks, r.bpcer(), r.refused, r.reals);
  const float t1 = thresholdForBpcer1(judged);
  if (!std::isnan(t1)) {
    const Rates r1 = ratesAt(judged, t1);
    std::printf("%sBPCER 1 %% at threshold %.4f: APCER %.2f %% BPCER %.2f %%\n", what, t1, r1.apcer(), r1.bpcer());
  }
}

}  // namespace

int spoofCommand(const QString& netsFolder, const QStringList& args) {
  QString csv;
  float threshold = fsdk::kLivenessThreshold;
  int attempts = 0;
  double scale = 2.7;  // measurement switch: the share of the scene around the face
  QString haarFile;    // face boxes from this Haar cascade (as the check-in), the engine's as fallback
  QString nets = netsFolder;
  for (int i = 0; i < args.size(); ++i) {
    if (args[i] == QLatin1String("spoof")) continue;
    if (args[i] == QLatin1String("--nets") && i + 1 < args.size()) nets = args[++i];
    else if (args[i] == QLatin1String("--threshold") && i + 1 < args.size()) threshold = args[++i].toFloat();
    else if (args[i] == QLatin1String("--haar") && i + 1 < args.size()) haarFile = args[++i];
    else if (args[i] == QLatin1String("--scale") && i + 1 < args.size()) scale = args[++i].toDouble();
    else if (args[i] == QLatin1String("--attempts") && i + 1 < args.size()) attempts = std::max(1, args[++i].toInt());
    else if (!args[i].startsWith(QLatin1String("--")) && csv.isEmpty()) csv = args[i];
    else csv.clear(), i = static_cast<int>(args.size());
  }
  if (csv.isEmpty()) {
    std::fprintf(stderr, "usage: tavolin-face [--nets DIR] spoof LABELS.csv [--threshold T] [--attempts N] [--haar CASCADE]\n");
    return 2;
  }
  std::vector<Row> rows;
  if (!readLabels(csv, rows)) return 1;

  const QByteArray dir = nets.toUtf8();
  FSDK_SetNetworksFolder(dir.constData());
  const int rc = FSDK_Initialize("");
  if (rc != FSDKE_OK) {
    std::fprintf(stderr, "tavolin-face: cannot load the networks from %s: %s\n", dir.constData(), fsdk::errorText(rc));
    return 1;
  }
  cv::CascadeClassifier haar;
  if (!haarFile.isEmpty() && !haar.load(QFile::encodeName(haarFile).toStdString())) {
    std::fprintf(stderr, "tavolin-face: cannot load the cascade %s\n", qPrintable(haarFile));
    return 1;
  }
  const QDir base = QFileInfo(csv).absoluteDir();
  int unreadable = 0, noFace = 0;
  double ms = 0, detectMs = 0;
  std::vector<Row> judged;  // one per picture: a video row gives one per kVideoStep-th frame
  auto judge = [&](Row r, const cv::Mat& picture) {
    const auto t0 = std::chrono::steady_clock::now();
    std::optional<cv::Rect2f> face;
    if (!haar.empty()) face = haarFace(haar, picture);
    if (!face) face = fsdk::largestFace(picture);
    const auto t1 = std::chrono::steady_clock::now();
    r.face = face.has_value();
    if (face) r.score = fsdk::livenessScore(picture, *face, scale);
    else ++noFace;
    detectMs += std::chrono::duration<double, std::milli>(t1 - t0).count();
    ms += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t1).count();
    std::printf("%s\t%.4f\n", qPrintable(r.file), r.score);
    judged.push_back(r);
  };
  // A long run on a terminal says how far it is; a redirected stderr keeps only the summary.
  const bool progress = isatty(STDERR_FILENO) == 1;
  std::size_t done = 0;
  try {
    for (Row& r : rows) {
      if (progress) std::fprintf(stderr, "\r%zu/%zu files", ++done, rows.size());
      const QString path = QFileInfo(r.file).isAbsolute() ? r.file : base.filePath(r.file);
      r.group = QFileInfo(path).absolutePath();
      if (isVideo(path)) {
        cv::VideoCapture video(QFile::encodeName(path).toStdString());
        cv::Mat frame;
        int frames = 0;
        for (int i = 0; video.read(frame); ++i) {
          if (i % kVideoStep) continue;
          Row f = r;
          f.file = r.file + QStringLiteral("#%1").arg(i);
          f.group = path;
          judge(f, frame);
          ++frames;
        }
        if (frames) continue;
      } else {
        const cv::Mat picture = cv::imread(QFile::encodeName(path).toStdString(), cv::IMREAD_COLOR);
        if (!picture.empty()) {
          judge(r, picture);
          continue;
        }
      }
      std::fprintf(stderr, "tavolin-face: %s: cannot read the picture\n", qPrintable(r.file));
      std::printf("%s\t%.4f\n", qPrintable(r.file), 0.0);
      judged.push_back(r);
      ++unreadable;
    }
  } catch (const std::exception& e) {
    if (progress) std::fprintf(stderr, "\n");
    std::fprintf(stderr, "tavolin-face: %s\n", e.what());
    return 1;
  }
  if (progress) std::fprintf(stderr, "\n");
  rows = std::move(judged);
  printRates("", checkIns(rows, 1), threshold);
  if (attempts > 1) {
    const std::string what = "per check-in of " + std::to_string(attempts) + ": ";
    printRates(what.c_str(), checkIns(rows, attempts), threshold);
  }
  const double n = rows.empty() ? 1.0 : static_cast<double>(rows.size());
  std::fprintf(stderr, "pictures %zu, no face %d, unreadable %d; per picture %.1f ms face detection, %.1f ms liveness\n",
               rows.size(), noFace, unreadable, detectMs / n, ms / n);
  return unreadable ? 1 : 0;
}

}  // namespace tavo
