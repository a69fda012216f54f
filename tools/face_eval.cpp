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

#include "base/operator_messages.h"
#include "base/paths.h"
#include "base/station.h"
#include "face/face_base.h"
#include "face/picture/face_cropper.h"
#include "face/sdk/fsdk.h"
#include "tools/face_analysis.h"

namespace tavo::tools {
namespace {

struct Row {
  QString file, identity;
  std::optional<fsdk::Descriptor> descriptor;
};

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

double quantile(std::vector<double> v, double q) {
  if (v.empty()) return NAN;
  std::sort(v.begin(), v.end());
  const double pos = q * (v.size() - 1);
  const std::size_t i = static_cast<std::size_t>(pos);
  return i + 1 < v.size() ? v[i] + (pos - i) * (v[i + 1] - v[i]) : v[i];
}

float similarity(const Row& a, const Row& b) {
  if (!a.descriptor || !b.descriptor) return 0;
  return fsdk::similarityFromDistance(std::sqrt(fsdk::squaredDistance(a.descriptor->data(), b.descriptor->data())));
}

double distance(const Row& a, const Row& b) {
  if (!a.descriptor || !b.descriptor) return INFINITY;
  return std::sqrt(fsdk::squaredDistance(a.descriptor->data(), b.descriptor->data()));
}

void reportPairs(const std::vector<Row>& rows, bool printPairs) {
  std::vector<double> same, different;  // distances; a picture without a face: infinite
  for (std::size_t i = 0; i < rows.size(); ++i)
    for (std::size_t j = i + 1; j < rows.size(); ++j) {
      const double d = distance(rows[i], rows[j]);
      if (printPairs)
        std::printf("%s\t%s\t%.4f\n", qPrintable(rows[i].file), qPrintable(rows[j].file), similarity(rows[i], rows[j]));
      (rows[i].identity == rows[j].identity ? same : different).push_back(d);
    }
  std::sort(same.begin(), same.end());
  std::sort(different.begin(), different.end());
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
    double t = INFINITY;
    if (allowed < different.size()) t = std::nextafter(different[allowed], 0.0);  // just below the first refused pair
    else if (!different.empty()) t = different.back() + 1;
    if (std::isinf(t)) t = 2;  // no different-person pairs: everything passes
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
}

// The station's rule: the best match over the whole base must belong to the presented barcode and
// reach the minimum. Models: the first n pictures of each identity; probes: the rest.
void reportIdentification(const std::vector<Row>& rows, int n, double minimum) {
  std::map<QString, int> seen;
  std::vector<const Row*> models, probes;
  for (const Row& r : rows) (seen[r.identity]++ < n ? models : probes).push_back(&r);
  const float limit = static_cast<float>(minimum / 100);
  int genuine = 0, confirmed = 0, impostorAccepted = 0, strangerAttempts = 0, strangerAccepted = 0;
  std::vector<double> genuineBest, strangerBest;
  for (const Row* p : probes) {
    // Best over the whole base, and best over the base without the probe's own identity.
    float best = 0, bestOther = 0;
    const Row* bestRow = nullptr;
    bool hasOwnModel = false;
    for (const Row* m : models) {
      const float s = similarity(*p, *m);
      const bool own = m->identity == p->identity;
      hasOwnModel = hasOwnModel || (own && m->descriptor);
      if (s > best) best = s, bestRow = m;
      if (!own && s > bestOther) bestOther = s;
    }
    // Genuine: he shows his own barcode. Impostor: an enrolled person showing the barcode of the
    // colleague he resembles most, who is accepted when that colleague is the best match overall.
    if (hasOwnModel) {
      ++genuine;
      genuineBest.push_back(best);
      if (bestRow && bestRow->identity == p->identity && best >= limit) ++confirmed;
      if (bestRow && bestRow->identity != p->identity && best >= limit) ++impostorAccepted;
    }
    // Stranger: the same person left out of the base, showing the barcode of his best match.
    ++strangerAttempts;
    strangerBest.push_back(bestOther);
    if (bestOther >= limit) ++strangerAccepted;
  }
  std::sort(strangerBest.begin(), strangerBest.end());
  auto pct = [](int a, int b) { return b ? 100.0 * a / b : 0.0; };
  std::printf("identification: %zu models (first %d of each identity), %zu probes, minimum %.1f %%\n", models.size(), n,
              probes.size(), minimum);
  std::printf("\n| attempt | count | accepted |\n|---|---|---|\n");
  std::printf("| genuine, own barcode (confirmed) | %d | %.2f %% (%d) |\n", genuine, pct(confirmed, genuine), confirmed);
  std::printf("| enrolled person, barcode of his best other match | %d | %.2f %% (%d) |\n", genuine,
              pct(impostorAccepted, genuine), impostorAccepted);
  std::printf("| stranger (left out of the base), barcode of his best match | %d | %.2f %% (%d) |\n", strangerAttempts,
              pct(strangerAccepted, strangerAttempts), strangerAccepted);
  std::printf("\nbest similarity: genuine median %.3f, 5th %.3f; stranger median %.3f, 99th %.3f, max %.3f\n",
              quantile(genuineBest, 0.5), quantile(genuineBest, 0.05), quantile(strangerBest, 0.5),
              quantile(strangerBest, 0.99), strangerBest.empty() ? NAN : strangerBest.back());
}

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

int runEval(const EvalOptions& o) {
  std::optional<std::vector<Row>> labelled = readLabels(o.labels);
  if (!labelled) {
    std::fprintf(stderr, "tavolin-face: cannot read %s\n", qPrintable(o.labels));
    return 1;
  }
  std::vector<Row>& rows = *labelled;
  std::unique_ptr<StationCut> cut;
  if (o.station) {
    cut = std::make_unique<StationCut>(o.cascades);
    if (!cut->ready()) {
      std::fprintf(stderr, "tavolin-face: no face cascade in %s\n", qPrintable(o.cascades));
      return 1;
    }
  }
  std::map<QString, int> perIdentity;
  int found = 0, eyes = 0, unreadable = 0;
  const QString cachePath = QString::fromLocal8Bit(qgetenv("TAVO_EVAL_CACHE"));
  const auto cache = readCache(cachePath);
  const auto start = std::chrono::steady_clock::now();
  for (Row& r : rows) {
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
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!cachePath.isEmpty() && cache.empty()) writeCache(cachePath, rows);
  std::printf("pictures %zu, faces %d, eyes found %d, %.1f ms per picture%s\n", rows.size(), found, eyes,
              rows.empty() ? 0.0 : 1000 * seconds / rows.size(), o.station ? " (station cut)" : "");
  for (const Row& r : rows)
    if (!r.descriptor) std::printf("no face: %s\n", qPrintable(r.file));
  if (o.identify > 0) reportIdentification(rows, o.identify, o.minimum);
  else reportPairs(rows, o.pairs);
  if (unreadable) std::fprintf(stderr, "tavolin-face: %d pictures could not be read\n", unreadable);
  return unreadable ? 1 : 0;
}

}  // namespace tavo::tools
