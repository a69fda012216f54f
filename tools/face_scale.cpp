#include "tools/face_scale.h"

#include <QFile>
#include <QSaveFile>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <array>
#include <map>
#include <memory>
#include <numeric>

namespace tavo::tools {
namespace {

const float kFars[4] = {1e-1f, 1e-2f, 1e-3f, 1e-4f};

float dot(const fsdk::Descriptor& a, const float* b) {
  double s = 0;
  for (int i = 0; i < fsdk::kDescriptorSize; ++i) s += double(a[i]) * b[i];
  return float(s);
}

fsdk::Centre centreOfRows(const LabelledSet& set, const std::vector<char>& in, const Scale& scale) {
  std::vector<double> mean(fsdk::kDescriptorSize, 0.0);
  std::map<QString, int> people;
  std::size_t n = 0;
  for (std::size_t i = 0; i < set.rows.size(); ++i) {
    if (!in[i] || !set.rows[i].descriptor) continue;
    for (int k = 0; k < fsdk::kDescriptorSize; ++k) mean[k] += (*set.rows[i].descriptor)[k];
    ++n;
    ++people[set.rows[i].identity];
  }
  if (n == 0) return scale.prior;
  for (double& v : mean) v /= double(n);
  return fsdk::centreOf(mean.data(), people.size(), scale.prior, scale.shrink);
}

// Scores of probes against the records of one base under one scale.
class Scorer {
 public:
  Scorer(const LabelledSet& set, const Scale& scale, std::vector<char> inBase)
      : set_(set), scale_(scale), in_(std::move(inBase)) {
    const std::size_t n = set.rows.size();
    if (scale.kind == Scale::Centred || scale.kind == Scale::Combined) {
      centre_ = centreOfRows(set, in_, scale);
      pc_.resize(n, NAN);
      for (std::size_t i = 0; i < n; ++i)
        if (set.rows[i].descriptor) pc_[i] = dot(*set.rows[i].descriptor, centre_.mean.data());
    }
    std::map<QString, int> ids;
    for (const Row& r : set.rows) ids.emplace(r.identity, int(ids.size()));
    for (const Row& r : set.rows) identity_.push_back(ids[r.identity]);
    identities_ = int(ids.size());
  }

  bool inBase(std::size_t j) const { return in_[j] && set_.rows[j].descriptor.has_value(); }

  // Ranks the records for a probe (the greatest is its best match).
  float rank(std::size_t i, std::size_t j) const {
    return scale_.kind == Scale::Cohort ? set_.cos(i, j) : decision(i, j);
  }

  // The score the similarity is made of, probe i against record j.
  float decision(std::size_t i, std::size_t j) const {
    const float c = set_.cos(i, j);
    if (std::isnan(c)) return NAN;
    switch (scale_.kind) {
      case Scale::Raw:
      case Scale::OwnStrangers: return c;
      case Scale::Cohort: return cohort(i, j, c);
      case Scale::Centred:
      case Scale::Combined: {
        const float n2 = centre_.norm2;
        const float den = std::sqrt((1 - 2 * pc_[i] + n2) * (1 - 2 * pc_[j] + n2));
        const float s = den > 0 ? (c - pc_[i] - pc_[j] + n2) / den : 0.f;
        if (scale_.kind == Scale::Combined && c < scale_.floor) return -1;
        return s;
      }
    }
    return NAN;
  }

 private:
  // Raw cosine against the probe's cosines to the base outside the claimed identity.
  float cohort(std::size_t i, std::size_t j, float c) const {
    if (cohortProbe_ != long(i)) {
      cohortProbe_ = long(i);
      stats_.assign(std::size_t(identities_), {0, 0, 0});
      total_ = {0, 0, 0};
      for (std::size_t k = 0; k < set_.rows.size(); ++k) {
        if (k == i || !inBase(k)) continue;
        const double v = set_.cos(i, k);
        auto& s = stats_[std::size_t(identity_[k])];
        s[0] += 1, s[1] += v, s[2] += v * v;
        total_[0] += 1, total_[1] += v, total_[2] += v * v;
      }
    }
    const auto& s = stats_[std::size_t(identity_[j])];
    const double n = total_[0] - s[0];
    if (n < 2) return NAN;
    const double mean = (total_[1] - s[1]) / n;
    const double var = std::max((total_[2] - s[2]) / n - mean * mean, 1e-8);
    return float((c - mean) / std::sqrt(var));
  }

  const LabelledSet& set_;
  const Scale& scale_;
  std::vector<char> in_;
  fsdk::Centre centre_;
  std::vector<float> pc_;
  std::vector<int> identity_;
  int identities_ = 0;
  mutable long cohortProbe_ = -1;
  mutable std::vector<std::array<double, 3>> stats_;
  mutable std::array<double, 3> total_{};
};

struct PairScores {
  std::vector<float> same, different;  // -inf: a picture without a face
};

PairScores pairScores(const LabelledSet& set, const Scale& scale) {
  PairScores p;
  const Scorer scorer(set, scale, std::vector<char>(set.rows.size(), 1));
  for (std::size_t i = 0; i < set.rows.size(); ++i)
    for (std::size_t j = i + 1; j < set.rows.size(); ++j) {
      float s = scorer.decision(i, j);
      if (std::isnan(s)) s = -INFINITY;
      (set.rows[i].identity == set.rows[j].identity ? p.same : p.different).push_back(s);
    }
  std::sort(p.same.begin(), p.same.end());
  std::sort(p.different.begin(), p.different.end());
  return p;
}

// The least score at which at most `far` of the different-person pairs pass.
float scoreAtFar(const std::vector<float>& differentSorted, double far) {
  const std::size_t n = differentSorted.size();
  if (n == 0) return -1;
  const std::size_t allowed = std::size_t(std::floor(far * double(n) + 1e-9));
  if (allowed >= n) return differentSorted.front();
  return std::nextafter(differentSorted[n - 1 - allowed], INFINITY);
}

std::size_t passing(const std::vector<float>& sorted, float threshold) {
  return std::size_t(sorted.end() - std::lower_bound(sorted.begin(), sorted.end(), threshold));
}

double pct(int a, int b) { return b ? 100.0 * a / b : 0.0; }

// The stranger rate the fit allows; $TAVO_STRANGER_RATE measures others.
double strangerRate() {
  bool ok = false;
  const double r = qEnvironmentVariable("TAVO_STRANGER_RATE").toDouble(&ok);
  return ok && r > 0 ? r : kStrangerRate;
}

// The station's rule: the first `identify` pictures of each identity are its models.
std::vector<char> modelsOf(const LabelledSet& set) {
  std::vector<char> model(set.rows.size(), 0);
  std::map<QString, int> seen;
  for (std::size_t i = 0; i < set.rows.size(); ++i) model[i] = seen[set.rows[i].identity]++ < set.identify;
  return model;
}

// The share of the base's own strangers the minimum is put above; $TAVO_OWN_RATE measures others.
double ownRateWanted() {
  bool ok = false;
  const double r = qEnvironmentVariable("TAVO_OWN_RATE").toDouble(&ok);
  return ok && r > 0 ? r : 0.01;
}

// The base's own strangers: each model's best raw cosine against the models of the other people
// (what a stranger who looks like him would score), sorted; and how many people the base holds.
std::vector<float> ownStrangerScores(const LabelledSet& set, const std::vector<char>& model, std::size_t* people) {
  std::vector<float> best;
  std::map<QString, int> ids;
  for (std::size_t i = 0; i < set.rows.size(); ++i) {
    if (!model[i] || !set.rows[i].descriptor) continue;
    ++ids[set.rows[i].identity];
    float b = -INFINITY;
    for (std::size_t j = 0; j < set.rows.size(); ++j)
      if (model[j] && set.rows[j].descriptor && set.rows[j].identity != set.rows[i].identity)
        if (set.cos(i, j) < fsdk::kSamePhotoScore) b = std::max(b, set.cos(i, j));
    if (b > -INFINITY) best.push_back(b);
  }
  std::sort(best.begin(), best.end());
  if (people) *people = ids.size();
  return best;
}

// The tail of a base's own strangers the minimum is measured from: its centre and spread
// ($TAVO_OWN_STAT: "quantile" puts the centre at ownRate and the spread at 1; "robust" median and
// half the 16-84 % range; else mean and standard deviation).
struct OwnTail {
  float centre = 0, spread = 0;
};
OwnTail ownTail(const std::vector<float>& own, double rate) {
  const QByteArray how = qgetenv("TAVO_OWN_STAT");
  auto q = [&own](double x) { return own[std::size_t(x * double(own.size() - 1) + 0.5)]; };
  if (how == "quantile") return {scoreAtFar(own, rate), 1.f};
  if (how == "robust") return {q(0.5), (q(0.84) - q(0.16)) / 2};
  double m = 0, m2 = 0;
  for (float v : own) m += v, m2 += double(v) * v;
  m /= double(own.size());
  return {float(m), float(std::sqrt(std::max(m2 / double(own.size()) - m * m, 0.0)))};
}

// Where a base of `people` whose own strangers score `own` puts the minimum: ownMargin spreads
// above their centre, trusted for people / (people + shrink), the rest the fixed minimum; never
// under the floor. A base of one person has no strangers of its own: the fixed minimum.
float ownMinimum(const Scale& s, const std::vector<float>& own, std::size_t people) {
  if (people < 2 || own.empty()) return s.knot75;
  const OwnTail t = ownTail(own, s.ownRate);
  const float q = t.centre + s.ownMargin * t.spread;
  const double w = double(people) / double(people + std::size_t(std::max(s.shrink, 0)));
  return std::clamp(float(w * q + (1 - w) * s.knot75), s.ownFloor, std::max(s.ownFloor, s.knot90));
}

}  // namespace

Scale Scale::forBase(const LabelledSet& set, const std::vector<char>& model) const {
  if (kind != OwnStrangers) return *this;
  std::size_t people = 0;
  const std::vector<float> own = ownStrangerScores(set, model, &people);
  Scale s = *this;
  const float shift = ownMinimum(*this, own, people) - knot75;
  s.knot75 += shift, s.knot70 += shift, s.knot50 += shift, s.knot0 += shift;
  s.knot90 = s.knot75 + 0.49f * (1 - s.knot75);
  for (float& v : s.far) v += shift;
  return s;
}

void prepare(LabelledSet& set, bool quiet) {
  auto gram = [&set] {
    const std::size_t n = set.rows.size();
    set.cosine.assign(n * n, NAN);
    for (std::size_t i = 0; i < n; ++i) {
      if (!set.rows[i].descriptor) continue;
      for (std::size_t j = i; j < n; ++j) {
        if (!set.rows[j].descriptor) continue;
        const float c = dot(*set.rows[i].descriptor, set.rows[j].descriptor->data());
        set.cosine[i * n + j] = set.cosine[j * n + i] = c;
      }
    }
  };
  gram();
  std::vector<char> drop(set.rows.size(), 0);
  int errors = 0;
  for (std::size_t i = 0; i < set.rows.size(); ++i)
    for (std::size_t j = i + 1; j < set.rows.size(); ++j)
      if (set.rows[i].identity != set.rows[j].identity && set.cos(i, j) >= fsdk::kSamePhotoScore) {
        if (!quiet)
          std::printf("label error (the same photo under two identities, cosine %.4f): %s %s\n", set.cos(i, j),
                      qPrintable(set.rows[i].file), qPrintable(set.rows[j].file));
        drop[i] = drop[j] = 1;
        ++errors;
      }
  if (errors) {
    std::vector<Row> kept;
    for (std::size_t i = 0; i < set.rows.size(); ++i)
      if (!drop[i]) kept.push_back(set.rows[i]);
    if (!quiet)
      std::printf("%d label-error pairs: their %zu pictures are left out of the figures\n", errors,
                  set.rows.size() - kept.size());
    set.rows = std::move(kept);
    gram();
  }
  set.mean.assign(fsdk::kDescriptorSize, 0.0);
  std::map<QString, int> people;
  std::size_t n = 0;
  for (const Row& r : set.rows) {
    if (!r.descriptor) continue;
    for (int k = 0; k < fsdk::kDescriptorSize; ++k) set.mean[k] += (*r.descriptor)[k];
    ++n;
    ++people[r.identity];
  }
  for (double& v : set.mean) v /= double(std::max<std::size_t>(n, 1));
  set.people = people.size();
}

const char* Scale::name(Kind kind) {
  switch (kind) {
    case Raw: return "raw cosine";
    case Centred: return "centred on the base";
    case Cohort: return "cohort z-score";
    case Combined: return "centred, raw-cosine floor";
    case OwnStrangers: return "own strangers";
  }
  return "?";
}

float Scale::similarity(float score) const {
  if (std::isnan(score)) return 0;
  const float top = kind == Cohort ? knot90 + 2 * (knot90 - knot75) : 1.f;
  const std::pair<float, float> knots[] = {{top, 1.f}, {knot90, 0.9f}, {knot75, 0.75f},
                                           {knot70, 0.7f}, {knot50, 0.5f}, {knot0, 0.f}};
  if (score >= top) return 1;
  for (int i = 1; i < 6; ++i)
    if (score >= knots[i].first) {
      const auto [a, sa] = knots[i - 1];
      const auto [b, sb] = knots[i];
      return std::clamp(sa + (a - score) / (a - b) * (sb - sa), 0.f, 1.f);
    }
  return 0;
}

Scale Scale::shipped() {
  Scale s;
  s.kind = fsdk::kCentreOnBase ? Centred : fsdk::kOwnStrangerMinimum ? OwnStrangers : Raw;
  s.prior = fsdk::priorCentre();
  s.shrink = fsdk::kShrinkPeople;
  s.knot90 = fsdk::scoreOfSimilarity(0.9f);
  s.knot75 = fsdk::scoreOfSimilarity(0.75f);
  s.knot70 = fsdk::scoreOfSimilarity(0.7f);
  s.knot50 = fsdk::scoreOfSimilarity(0.5f);
  s.knot0 = fsdk::scoreOfSimilarity(0.f);
  for (int i = 0; i < 4; ++i) {
    float t = 0;
    FSDK_GetMatchingThresholdAtFAR(kFars[i], &t);
    s.far[i] = fsdk::scoreOfSimilarity(t);
  }
  s.ownFloor = fsdk::kOwnFloorScore;
  s.ownMargin = fsdk::kOwnMarginSpreads;
  return s;
}

Scale fit(Scale::Kind kind, const std::vector<const LabelledSet*>& sets, int shrink) {
  Scale s;
  s.kind = kind;
  s.shrink = shrink;
  // The prior: the mean of the sets' means, each set weighing the same.
  double n2 = 0;
  for (int k = 0; k < fsdk::kDescriptorSize; ++k) {
    double m = 0;
    for (const LabelledSet* set : sets) m += set->mean[k];
    m /= double(std::max<std::size_t>(sets.size(), 1));
    s.prior.mean[k] = float(m);
    n2 += m * m;
  }
  s.prior.norm2 = float(n2);
  if (kind == Scale::Raw || kind == Scale::OwnStrangers) s.prior = fsdk::Centre{};
  if (kind == Scale::Combined) {
    // The floor: no raw cosine under what one different-person pair in a hundred reaches on the
    // loosest of the sets.
    Scale raw;
    raw.kind = Scale::Raw;
    s.floor = INFINITY;
    for (const LabelledSet* set : sets) s.floor = std::min(s.floor, scoreAtFar(pairScores(*set, raw).different, 1e-2));
  }
  // Every knot where the strictest set puts it (the floor aside: it only refuses).
  Scale knots = s;
  if (kind == Scale::Combined) knots.kind = Scale::Centred;
  float far[4] = {-INFINITY, -INFINITY, -INFINITY, -INFINITY};
  if (kind == Scale::OwnStrangers) knots.kind = Scale::Raw;
  float median = -INFINITY, strangers = -INFINITY;
  std::vector<float> needed;  // per set: the least minimum that holds its strangers
  for (const LabelledSet* set : sets) {
    const PairScores p = pairScores(*set, knots);
    for (int i = 0; i < 4; ++i) far[i] = std::max(far[i], scoreAtFar(p.different, kFars[i]));
    if (!p.different.empty()) median = std::max(median, p.different[p.different.size() / 2]);
    SetFigures f = measure(*set, knots, 75);
    std::sort(f.strangerScores.begin(), f.strangerScores.end());
    needed.push_back(scoreAtFar(f.strangerScores, strangerRate()));
    strangers = std::max(strangers, needed.back());
  }
  for (int i = 0; i < 4; ++i) s.far[i] = far[i];
  s.knot75 = std::max(far[2], strangers) + 1e-4f;  // strictly above the last refused score
  s.knot70 = std::min(far[1], s.knot75 - 1e-3f);
  s.knot50 = std::min(far[0], s.knot70 - 1e-3f);
  s.knot0 = std::min(median, s.knot50 - 1e-3f);
  const float top = kind == Scale::Cohort ? s.knot75 + 4 * (s.knot75 - s.knot70) : 1.f;
  s.knot90 = s.knot75 + 0.49f * (top - s.knot75);
  if (kind == Scale::Cohort) s.knot90 = s.knot75 + (s.knot75 - s.knot70);
  if (kind == Scale::OwnStrangers) {
    // The floor holds the different-person pairs of every set; the margin is the least that puts
    // every set's minimum, worked out from its own base, above what its strangers need.
    s.ownFloor = far[2] + 1e-4f;
    s.ownRate = ownRateWanted();
    s.ownMargin = -INFINITY;
    for (std::size_t k = 0; k < sets.size(); ++k) {
      const LabelledSet& set = *sets[k];
      std::size_t people = 0;
      const std::vector<float> own = ownStrangerScores(set, modelsOf(set), &people);
      if (people < 2 || own.empty()) continue;
      const double w = double(people) / double(people + std::size_t(std::max(shrink, 0)));
      const OwnTail t = ownTail(own, s.ownRate);
      if (t.spread <= 0) continue;
      s.ownMargin = std::max(s.ownMargin, float(((needed[k] + 1e-4 - (1 - w) * s.knot75) / w - t.centre) / t.spread));
    }
    if (s.ownMargin == -INFINITY) s.ownMargin = 0;
  }
  return s;
}

namespace {

// Pairs: the whole set is the base.
void measurePairs(const LabelledSet& set, const Scale& scale, float limit, bool printEvery, SetFigures& f) {
  const Scorer scorer(set, scale, std::vector<char>(set.rows.size(), 1));
  std::vector<float> same, different;
  for (std::size_t i = 0; i < set.rows.size(); ++i)
    for (std::size_t j = i + 1; j < set.rows.size(); ++j) {
      float s = scorer.decision(i, j);
      if (std::isnan(s)) s = -INFINITY;
      const float sim = scale.similarity(s);
      if (printEvery) std::printf("%s\t%s\t%.4f\n", qPrintable(set.rows[i].file), qPrintable(set.rows[j].file), sim);
      const bool pass = sim >= limit;
      if (set.rows[i].identity == set.rows[j].identity) {
        ++f.same, f.samePass += pass;
        same.push_back(s);
      } else {
        ++f.different, f.differentPass += pass;
        different.push_back(s);
      }
    }
  std::sort(same.begin(), same.end());
  std::sort(different.begin(), different.end());
  f.sameAtOwnFmr = same.empty() ? 0 : 100.0 * passing(same, scoreAtFar(different, 1e-3)) / same.size();
}

// One probe under the station's rule, against the whole base and against the base without his
// own identity (as a stranger).
struct Attempt {
  bool genuine = false, confirmed = false;
  long bestOther = -1;     // the best record of another identity (whole base)
  long best = -1;          // the best record (whole base)
  float bestSim = 0;
  float ownBest = 0;       // the best similarity to his own models
  long strangerBest = -1;  // the best record with his identity left out of the base
  float strangerSim = 0, strangerRank = -INFINITY, otherRank = -INFINITY;
  float strangerScore = NAN;
};

Attempt attemptOf(const LabelledSet& set, const Scale& scale, const Scorer& full, const Scorer& stranger,
                  std::size_t p, float limit) {
  const QString& who = set.rows[p].identity;
  Attempt a;
  float bestRank = -INFINITY;
  for (std::size_t m = 0; m < set.rows.size(); ++m) {
    if (!full.inBase(m)) continue;
    const bool own = set.rows[m].identity == who;
    // Every probe of an identity with models is a genuine attempt (a picture without a face fails).
    a.genuine = a.genuine || own;
    if (!set.rows[p].descriptor) continue;
    const float r = full.rank(p, m);
    if (own) a.ownBest = std::max(a.ownBest, scale.similarity(full.decision(p, m)));
    if (r > bestRank) bestRank = r, a.best = long(m);
    if (!own && r > a.otherRank) a.otherRank = r, a.bestOther = long(m);
    if (stranger.inBase(m)) {
      const float sr = stranger.rank(p, m);
      if (sr > a.strangerRank) a.strangerRank = sr, a.strangerBest = long(m);
    }
  }
  if (a.best >= 0) a.bestSim = scale.similarity(full.decision(p, std::size_t(a.best)));
  if (a.strangerBest >= 0) {
    a.strangerScore = stranger.decision(p, std::size_t(a.strangerBest));
    a.strangerSim = scale.similarity(a.strangerScore);
  }
  a.confirmed = a.best >= 0 && set.rows[std::size_t(a.best)].identity == who && a.bestSim >= limit;
  return a;
}

// Whether any attempt of [at, end) matched a record of the claimed record's identity at the limit.
bool anyAccepts(const LabelledSet& set, const std::vector<Attempt>& attempts, std::size_t at, std::size_t end,
                long claim, long Attempt::*record, float Attempt::*similarity, float limit) {
  if (claim < 0) return false;
  for (std::size_t k = at; k < end; ++k) {
    const Attempt& a = attempts[k];
    if (a.*record >= 0 && set.rows[std::size_t(a.*record)].identity == set.rows[std::size_t(claim)].identity &&
        a.*similarity >= limit)
      return true;
  }
  return false;
}

// The barcode shown through a check-in: that of the best match over its attempts.
long claimOf(const std::vector<Attempt>& attempts, std::size_t at, std::size_t end, long Attempt::*record,
             float Attempt::*rank) {
  long claim = -1;
  float claimRank = -INFINITY;
  for (std::size_t k = at; k < end; ++k)
    if (attempts[k].*record >= 0 && attempts[k].*rank > claimRank) claimRank = attempts[k].*rank, claim = attempts[k].*record;
  return claim;
}

// Check-ins: three consecutive probes of one identity; accepted when any attempt is. An impostor
// or stranger shows one barcode throughout: that of his best match over the three.
void countCheckIns(const LabelledSet& set, const std::vector<Attempt>& attempts, float limit, SetFigures& f) {
  for (std::size_t at = 0; at < attempts.size(); at += 3) {
    const std::size_t end = std::min(attempts.size(), at + 3);
    if (attempts[at].genuine) {
      ++f.genuineCheckIns;
      bool ok = false;
      float best = 0;
      for (std::size_t k = at; k < end; ++k)
        if (attempts[k].confirmed) ok = true, best = std::max(best, attempts[k].bestSim);
      const long claim = claimOf(attempts, at, end, &Attempt::bestOther, &Attempt::otherRank);
      f.confirmedCheckIns += ok;
      f.impostorCheckInsAccepted += anyAccepts(set, attempts, at, end, claim, &Attempt::best, &Attempt::bestSim, limit);
      f.worstGenuineCheckIn = std::min(f.worstGenuineCheckIn, ok ? best : 0.f);
    }
    ++f.strangerCheckIns;
    const long claim = claimOf(attempts, at, end, &Attempt::strangerBest, &Attempt::strangerRank);
    f.strangerCheckInsAccepted +=
        anyAccepts(set, attempts, at, end, claim, &Attempt::strangerBest, &Attempt::strangerSim, limit);
  }
}

}  // namespace

SetFigures measure(const LabelledSet& set, const Scale& fixed, double minimum, bool printEvery) {
  SetFigures f;
  const float limit = float(minimum / 100);
  const std::size_t n = set.rows.size();
  const std::vector<char> model = modelsOf(set);
  const Scale scale = fixed.forBase(set, model);
  measurePairs(set, scale, limit, printEvery, f);
  for (std::size_t i = 0; i < n; ++i) f.models += model[i] && set.rows[i].descriptor;
  const Scorer full(set, scale, model);
  std::map<QString, std::unique_ptr<Scorer>> without;  // the base without one identity
  std::map<QString, std::vector<Attempt>> byIdentity;
  for (std::size_t p = 0; p < n; ++p) {
    if (model[p]) continue;
    const QString& who = set.rows[p].identity;
    auto& w = without[who];
    if (!w) {
      std::vector<char> in = model;
      for (std::size_t j = 0; j < n; ++j)
        if (set.rows[j].identity == who) in[j] = 0;
      w = std::make_unique<Scorer>(set, scale, std::move(in));
    }
    const Attempt a = attemptOf(set, scale, full, *w, p, limit);
    if (a.strangerBest >= 0) f.strangerScores.push_back(std::isnan(a.strangerScore) ? -INFINITY : a.strangerScore);
    if (a.genuine) {
      ++f.genuine, f.confirmed += a.confirmed;
      f.worstGenuine = std::min(f.worstGenuine, a.ownBest);
      // An enrolled person showing the barcode of the colleague he resembles most.
      if (a.best >= 0 && set.rows[std::size_t(a.best)].identity != who && a.bestSim >= limit) ++f.impostorAccepted;
    }
    ++f.strangers;
    f.strangerAccepted += a.strangerSim >= limit;
    f.bestStranger = std::max(f.bestStranger, a.strangerSim);
    byIdentity[who].push_back(a);
  }
  for (const auto& [who, attempts] : byIdentity) countCheckIns(set, attempts, limit, f);
  return f;
}

void printPairs(const SetFigures& f, const LabelledSet& set, const Scale& scale) {
  const PairScores p = pairScores(set, scale);
  std::printf("pairs: same %d, different %d (scale: %s)\n", f.same, f.different, Scale::name(scale.kind));
  auto q = [](const std::vector<float>& v, double x) { return v.empty() ? NAN : v[std::size_t(x * (v.size() - 1))]; };
  std::printf("score same: 1st %.3f, 5th %.3f, median %.3f; different: median %.3f, 99th %.3f, 99.9th %.3f, max %.3f\n",
              q(p.same, 0.01), q(p.same, 0.05), q(p.same, 0.5), q(p.different, 0.5), q(p.different, 0.99),
              q(p.different, 0.999), p.different.empty() ? NAN : p.different.back());
  std::printf("\n| FAR target | score | similarity threshold | FAR measured | FRR |\n|---|---|---|---|---|\n");
  for (float far : kFars) {
    const float t = scoreAtFar(p.different, far);
    std::printf("| %.0e | %.3f | %.3f | %.2e | %.2f %% |\n", far, t, scale.similarity(t),
                p.different.empty() ? 0 : double(passing(p.different, t)) / p.different.size(),
                p.same.empty() ? 0 : 100 - 100.0 * passing(p.same, t) / p.same.size());
  }
  std::printf("\n| similarity | same-person pairs passing | different-person pairs passing |\n|---|---|---|\n");
  for (float sim : {0.75f, 0.70f, 0.50f}) {
    int same = 0, diff = 0;
    for (float s : p.same) same += scale.similarity(s) >= sim;
    for (float s : p.different) diff += scale.similarity(s) >= sim;
    std::printf("| %.2f | %.2f %% | %.3f %% (%d) |\n", sim, pct(same, int(p.same.size())),
                pct(diff, int(p.different.size())), diff);
  }
}

void printIdentification(const SetFigures& f, const LabelledSet& set, double minimum) {
  std::printf("identification: %d models (first %d of each identity), %d probes, minimum %.1f %%\n", f.models,
              set.identify, f.strangers, minimum);
  std::printf("\n| attempt | count | accepted | check-ins (3 attempts) | accepted |\n|---|---|---|---|---|\n");
  std::printf("| genuine, own barcode (confirmed) | %d | %.2f %% (%d) | %d | %.2f %% (%d) |\n", f.genuine,
              pct(f.confirmed, f.genuine), f.confirmed, f.genuineCheckIns, pct(f.confirmedCheckIns, f.genuineCheckIns),
              f.confirmedCheckIns);
  std::printf("| enrolled person, barcode of his best other match | %d | %.2f %% (%d) | %d | %.2f %% (%d) |\n",
              f.genuine, pct(f.impostorAccepted, f.genuine), f.impostorAccepted, f.genuineCheckIns,
              pct(f.impostorCheckInsAccepted, f.genuineCheckIns), f.impostorCheckInsAccepted);
  std::printf("| stranger (left out of the base), barcode of his best match | %d | %.2f %% (%d) | %d | %.2f %% (%d) |\n",
              f.strangers, pct(f.strangerAccepted, f.strangers), f.strangerAccepted, f.strangerCheckIns,
              pct(f.strangerCheckInsAccepted, f.strangerCheckIns), f.strangerCheckInsAccepted);
  const double m = minimum / 100;
  std::printf("\nmargin: best stranger %.3f (%+.3f against the minimum); worst genuine attempt %.3f (%+.3f), worst "
              "genuine check-in %.3f (%+.3f)\n",
              f.bestStranger, f.bestStranger - m, f.worstGenuine, f.worstGenuine - m, f.worstGenuineCheckIn,
              f.worstGenuineCheckIn - m);
}

namespace {

void printRowHeader() {
  std::printf("| set | same at 75 %% | different at 75 %% | same at own FMR 1e-3 | genuine per attempt | per check-in "
              "| enrolled impostor per attempt | stranger per attempt | per check-in | best stranger | worst genuine "
              "attempt | check-in |\n|---|---|---|---|---|---|---|---|---|---|---|---|\n");
}

void printRow(const QString& name, const SetFigures& f) {
  std::printf("| %s | %.1f %% | %.3f %% (%d) | %.1f %% | %.1f %% (%d/%d) | %.1f %% (%d/%d) | %.2f %% (%d) | %.2f %% (%d/%d) "
              "| %.2f %% (%d/%d) | %.3f | %.3f | %.3f |\n",
              qPrintable(name), pct(f.samePass, f.same), pct(f.differentPass, f.different), f.differentPass,
              f.sameAtOwnFmr, pct(f.confirmed, f.genuine), f.confirmed, f.genuine,
              pct(f.confirmedCheckIns, f.genuineCheckIns), f.confirmedCheckIns, f.genuineCheckIns,
              pct(f.impostorAccepted, f.genuine), f.impostorAccepted, pct(f.strangerAccepted, f.strangers),
              f.strangerAccepted, f.strangers, pct(f.strangerCheckInsAccepted, f.strangerCheckIns),
              f.strangerCheckInsAccepted, f.strangerCheckIns, f.bestStranger, f.worstGenuine, f.worstGenuineCheckIn);
}

void printScale(const Scale& s) {
  std::printf("knots (score -> similarity): %.4f -> 0.90, %.4f -> 0.75, %.4f -> 0.70, %.4f -> 0.50, %.4f -> 0; FAR "
              "1e-1..1e-4 at %.4f %.4f %.4f %.4f",
              s.knot90, s.knot75, s.knot70, s.knot50, s.knot0, s.far[0], s.far[1], s.far[2], s.far[3]);
  if (s.kind == Scale::Combined) std::printf("; raw floor %.4f", s.floor);
  if (s.kind == Scale::OwnStrangers)
    std::printf("; a base of its own: its strangers' centre + %.4f spreads (quantile rule: at %.2f %%), floor %.4f",
                s.ownMargin, 100 * s.ownRate, s.ownFloor);
  std::printf("\n");
}

void writeCalibration(const Scale& s, const QString& path) {
  QSaveFile f(path);
  if (!f.open(QIODevice::WriteOnly | QIODevice::Text)) {
    std::fprintf(stderr, "tavolin-face: cannot write %s\n", qPrintable(path));
    return;
  }
  QByteArray out;
  out += "// Written by `tavolin-face eval --calibrate` (docs/accuracy.md): the prior centre is the mean\n"
         "// of the development sets' means (zero for the raw cosine); each knot is where the strictest\n"
         "// set puts it.\n";
  out += "constexpr bool kCentreOnOwnBase = " +
         QByteArray(s.kind == Scale::Raw || s.kind == Scale::OwnStrangers ? "false" : "true") + ";\n";
  out += "constexpr int kShrink = " + QByteArray::number(s.shrink) + ";\n";
  out += "constexpr bool kOwnStrangers = " + QByteArray(s.kind == Scale::OwnStrangers ? "true" : "false") + ";\n";
  out += "constexpr float kOwnMargin = " + QByteArray::number(double(s.ownMargin), 'f', 4) + "f;\n";
  out += "constexpr float kOwnFloor = " + QByteArray::number(double(s.ownFloor), 'f', 4) + "f;\n";
  out += "constexpr float kPriorMean[kDescriptorSize] = {";
  for (int i = 0; i < fsdk::kDescriptorSize; ++i) {
    if (i % 8 == 0) out += "\n   ";
    QByteArray v = QByteArray::number(double(s.prior.mean[i]), 'g', 9);
    if (!v.contains('.') && !v.contains('e')) v += ".0";  // "0f" is no float literal
    out += ' ' + v + "f,";
  }
  auto num = [](float v) { return QByteArray::number(double(v), 'f', 4) + 'f'; };
  out += "\n};\nconstexpr Knot kKnots[] = {\n    {1.0000f, 1.00f}, {" + num(s.knot90) + ", 0.90f}, {" + num(s.knot75) +
         ", 0.75f}, {" + num(s.knot70) + ", 0.70f}, {" + num(s.knot50) + ", 0.50f}, {" + num(s.knot0) + ", 0.00f},\n};\n";
  out += "constexpr FarPoint kFarScores[] = {\n    {1e-1f, " + num(s.far[0]) + "}, {1e-2f, " + num(s.far[1]) +
         "}, {1e-3f, " + num(s.far[2]) + "}, {1e-4f, " + num(s.far[3]) + "},\n};\n";
  f.write(out);
  if (!f.commit()) std::fprintf(stderr, "tavolin-face: cannot write %s\n", qPrintable(path));
  else std::printf("calibration written to %s\n", qPrintable(path));
}

}  // namespace

// The candidate the station ships: measured on every set and each set left out, the raw cosine
// with the minimum moved by the base's own strangers met more of the goals than the fixed raw
// table and centring on the base's mean (docs/accuracy.md).
constexpr Scale::Kind kWrittenKind = Scale::OwnStrangers;

void calibrate(const std::vector<LabelledSet>& sets, double minimum, int shrink, const QString& write) {
  std::vector<const LabelledSet*> all;
  for (const LabelledSet& s : sets) all.push_back(&s);
  const QByteArray only = qgetenv("TAVO_SCALE_KIND");  // measure one candidate: raw, centred, cohort, combined
  for (Scale::Kind kind : {Scale::Raw, Scale::Centred, Scale::Cohort, Scale::Combined, Scale::OwnStrangers}) {
    if (!only.isEmpty() && !QByteArray(Scale::name(kind)).startsWith(only)) continue;
    const Scale whole = fit(kind, all, shrink);
    std::printf("\n## %s, fitted on all sets (shrink %d people)\n", Scale::name(kind), shrink);
    printScale(whole);
    printRowHeader();
    QString minima;
    for (const LabelledSet& s : sets) {
      printRow(s.name, measure(s, whole, minimum));
      if (kind == Scale::OwnStrangers) minima += s.name + QString::asprintf(" %.4f; ", whole.forBase(s, modelsOf(s)).knot75);
    }
    std::printf("\n## %s, each set left out of the fit\n", Scale::name(kind));
    printRowHeader();
    for (std::size_t out = 0; out < sets.size(); ++out) {
      std::vector<const LabelledSet*> others;
      for (std::size_t i = 0; i < sets.size(); ++i)
        if (i != out) others.push_back(&sets[i]);
      const Scale fitted = fit(kind, others, shrink);
      printRow(sets[out].name + " (left out)", measure(sets[out], fitted, minimum));
      if (kind == Scale::OwnStrangers) minima += sets[out].name + QString::asprintf(" %.4f (left out)", fitted.forBase(sets[out], modelsOf(sets[out])).knot75) + "; ";
    }
    if (!minima.isEmpty()) std::printf("\nminimum score of each base: %s\n", qPrintable(minima));
    if (kind == kWrittenKind && !write.isEmpty()) writeCalibration(whole, write);
    std::fflush(stdout);
  }
}

}  // namespace tavo::tools
