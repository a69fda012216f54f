#include "tools/face_eval.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include <unistd.h>

#include "base/operator_messages.h"
#include "base/paths.h"
#include "base/station.h"
#include "face/face_base.h"
#include "face/picture/face_cropper.h"
#include "face/sdk/fsdk.h"
#include "tools/face_analysis.h"
#include "tools/face_scale.h"

namespace tavo::tools {
namespace {

// The labelled pictures of a CSV (header optional). A "kind" column marks presentation attacks:
// only its "real" rows are identities.
std::optional<std::vector<Row>> readLabels(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return std::nullopt;
  const QDir base = QFileInfo(path).absoluteDir();
  std::vector<Row> rows;
  QTextStream in(&file);
  bool first = true;
  int kindColumn = -1;
  while (!in.atEnd()) {
    const QString line = in.readLine().trimmed();
    if (line.isEmpty()) continue;
    const QStringList f = csvFields(line);
    if (f.size() < 2) continue;
    if (first && !QFileInfo(base.filePath(f[0])).isFile()) {  // header line
      first = false;
      for (int i = 0; i < f.size(); ++i)
        if (f[i].trimmed().compare(QLatin1String("kind"), Qt::CaseInsensitive) == 0) kindColumn = i;
      continue;
    }
    first = false;
    if (kindColumn >= 0 && (kindColumn >= f.size() || f[kindColumn].trimmed() != QLatin1String("real"))) continue;
    rows.push_back({base.filePath(f[0].trimmed()), f[1].trimmed(), std::nullopt});
  }
  return rows;
}

// The station's own cut: the picture becomes "Temp\model_full.jpg" and PhotoGet (mode 3, as in the
// check-in and the photo series) leaves the face square in "Temp\model_face.jpg", which is what
// the station enrols and matches, at the station's scale.
class StationCut {
 public:
  explicit StationCut(const QString& cascades) : station_(nullptr, &messages_) {
    station_.settings.programPath = dir_.path() + '/';
    QDir(dir_.path()).mkpath(QStringLiteral("Temp"));
    for (const QString& name : QDir(cascades).entryList({QStringLiteral("*.xml")}, QDir::Files))
      QFile::copy(QDir(cascades).filePath(name), dir_.filePath(name));
    cropper_ = std::make_unique<FaceCropper>(station_);
    cropper_->loadCascades();
  }
  bool ready() const { return cropper_->hasFaceCascade(); }

  std::optional<fsdk::Descriptor> describe(const QString& picture, int threshold, ScaleBox scale) {
    const QString full = hostPath(station_.tempFile(QStringLiteral("model_full.jpg")));
    QFile::remove(full);
    if (!QFile::copy(picture, full)) return std::nullopt;
    cropper_->PhotoGet(3, QString());
    const PictureTemplate t = templateOfPicture(station_.tempFile(QStringLiteral("model_face.jpg")), threshold, scale);
    if (!t.complete()) return std::nullopt;
    return fsdk::descriptorOf(t.Template);
  }

 private:
  QTemporaryDir dir_;
  RecordingMessages messages_;
  Station station_;
  std::unique_ptr<FaceCropper> cropper_;
};

}  // namespace

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

namespace {

// Descriptors of earlier runs (for measurements: the same pictures evaluated many ways), one
// line per picture: file, then the values; "-" for no face.
std::map<QString, std::optional<fsdk::Descriptor>> readCache(const QString& path) {
  std::map<QString, std::optional<fsdk::Descriptor>> cache;
  QFile f(path);
  if (path.isEmpty() || !f.open(QIODevice::ReadOnly | QIODevice::Text)) return cache;
  QTextStream in(&f);
  while (!in.atEnd()) {
    const QStringList parts = in.readLine().split('\t');
    if (parts.size() == 2 && parts[1] == QLatin1String("-")) cache[parts[0]] = std::nullopt;
    if (parts.size() != 1 + fsdk::kDescriptorSize) continue;
    fsdk::Descriptor d;
    for (int i = 0; i < fsdk::kDescriptorSize; ++i) d[i] = parts[1 + i].toFloat();
    cache[parts[0]] = d;
  }
  return cache;
}

void writeCache(const QString& path, const std::vector<Row>& rows) {
  QFile f(path);
  if (path.isEmpty() || !f.open(QIODevice::WriteOnly | QIODevice::Text)) return;
  QTextStream out(&f);
  for (const Row& r : rows) {
    out << r.file;
    if (!r.descriptor) out << "\t-";
    else
      for (float v : *r.descriptor) out << '\t' << QString::number(v, 'g', 9);
    out << '\n';
  }
}

}  // namespace

namespace {

// The descriptors of a set's pictures, from the cache or the engine; false when pictures could
// not be read.
bool describe(LabelledSet& set, const EvalOptions& o, StationCut* cut, const QString& cachePath) {
  std::map<QString, int> perIdentity;
  int found = 0, eyes = 0, unreadable = 0;
  const auto cache = readCache(cachePath);
  const bool progress = isatty(fileno(stderr));
  const auto start = std::chrono::steady_clock::now();
  std::size_t done = 0;
  for (Row& r : set.rows) {
    if (progress && done++ % 10 == 0)
      std::fprintf(stderr, "\r%s: %zu/%zu pictures", qPrintable(set.name), done, set.rows.size());
    if (const auto hit = cache.find(r.file); hit != cache.end()) {
      r.descriptor = hit->second;
      found += r.descriptor.has_value();
      eyes += r.descriptor.has_value();
      continue;
    }
    if (cut) {
      // Models are enrolled at the base's scale, probes matched at the check-in's.
      const bool model = o.identify > 0 && perIdentity[r.identity]++ < o.identify;
      r.descriptor = cut->describe(r.file, o.threshold, model ? kEnrolmentScale : kProbeScale);
      found += r.descriptor.has_value();
      eyes += r.descriptor.has_value();
      continue;
    }
    const PictureAnalysis a = analysePicture(r.file);
    if (a.code == FSDKE_OK) {
      r.descriptor = fsdk::descriptorOf(a.tmpl);
      ++found;
      eyes += a.eyes;
    } else if (a.code != FSDKE_FACE_NOT_FOUND) {
      std::fprintf(stderr, "tavolin-face: %s: %s (%s)\n", qPrintable(r.file), a.step, fsdk::errorText(a.code));
      ++unreadable;
    }
  }
  if (progress) std::fprintf(stderr, "\r%s: %zu/%zu pictures\n", qPrintable(set.name), set.rows.size(), set.rows.size());
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!cachePath.isEmpty() && cache.empty()) writeCache(cachePath, set.rows);
  std::printf("%s: pictures %zu, faces %d, eyes found %d, %.1f ms per picture%s\n", qPrintable(set.name),
              set.rows.size(), found, eyes, set.rows.empty() ? 0.0 : 1000 * seconds / set.rows.size(),
              o.station ? " (station cut)" : "");
  for (const Row& r : set.rows)
    if (!r.descriptor) std::printf("no face: %s\n", qPrintable(r.file));
  if (unreadable) std::fprintf(stderr, "tavolin-face: %d pictures could not be read\n", unreadable);
  return unreadable == 0;
}

// Models per identity when none is asked for: 3, or fewer where identities hold fewer pictures
// (a probe must be left).
int modelsPerIdentity(const std::vector<Row>& rows) {
  std::map<QString, int> count;
  for (const Row& r : rows) ++count[r.identity];
  int least = 4;
  for (const auto& [who, n] : count) least = std::min(least, n);
  return std::clamp(least - 1, 1, 3);
}

// The set's name: the folder of its labels file.
QString setName(const QString& labels) { return QFileInfo(labels).absoluteDir().dirName(); }

}  // namespace

int runEval(const EvalOptions& o) {
  std::unique_ptr<StationCut> cut;
  if (o.station) {
    cut = std::make_unique<StationCut>(o.cascades);
    if (!cut->ready()) {
      std::fprintf(stderr, "tavolin-face: no face cascade in %s\n", qPrintable(o.cascades));
      return 1;
    }
  }
  // The descriptor cache: a file for one set, a folder (one file per set) for several.
  const QString cacheEnv = QString::fromLocal8Bit(qgetenv("TAVO_EVAL_CACHE"));
  std::vector<LabelledSet> sets;
  bool allRead = true;
  for (const QString& labels : QStringList{o.labels} + o.more) {
    std::optional<std::vector<Row>> rows = readLabels(labels);
    if (!rows) {
      std::fprintf(stderr, "tavolin-face: cannot read %s\n", qPrintable(labels));
      return 1;
    }
    LabelledSet set;
    set.name = setName(labels);
    set.rows = std::move(*rows);
    set.identify = o.identify > 0 ? o.identify : modelsPerIdentity(set.rows);
    QString cachePath = cacheEnv;
    if (!cacheEnv.isEmpty() && QFileInfo(cacheEnv).isDir())
      cachePath = QDir(cacheEnv).filePath(set.name + (o.station ? QStringLiteral("-station") : QString()) +
                                          QStringLiteral(".tsv"));
    allRead = describe(set, o, cut.get(), cachePath) && allRead;
    prepare(set);
    sets.push_back(std::move(set));
  }
  if (o.calibrate) {
    calibrate(sets, o.minimum, o.shrink, o.write);
  } else {
    const Scale scale = Scale::shipped();
    for (const LabelledSet& set : sets) {
      const SetFigures f = measure(set, scale, o.minimum, o.pairs);
      if (o.identify > 0) printIdentification(f, set, o.minimum);
      else printPairs(f, set, scale);
    }
  }
  return allRead ? 0 : 1;
}

}  // namespace tavo::tools
