// Templates, the similarity scale and the matching calls.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "face/sdk/fsdk.h"

namespace tavo {
namespace fsdk {
namespace {

constexpr char kMagic[4] = {'T', 'V', 'F', 'T'};
constexpr std::size_t kHeaderSize = 16;
static_assert(kHeaderSize + kDescriptorSize * sizeof(float) <= FSDK_FACE_TEMPLATE_SIZE);

// The calibration: the prior centre, the score of each similarity knot and the score at each
// false-accept rate. Written by `tavolin-face eval --calibrate` (docs/accuracy.md).
struct Knot {
  float score;
  float similarity;
};
struct FarPoint {
  float far;
  float score;
};
#include "face/sdk/scale_calibration.inc"
constexpr int kKnotCount = sizeof(kKnots) / sizeof(kKnots[0]);
static_assert(sizeof(kPriorMean) / sizeof(kPriorMean[0]) == kDescriptorSize);
// A base's own strangers are scored on the raw cosine (face/own_strangers.cpp).
static_assert(!(kOwnStrangers && kCentreOnOwnBase));

using v4 = float __attribute__((vector_size(16)));

inline v4 load4(const float* p) {
  v4 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

}  // namespace

const char* errorText(int code) {
  switch (code) {
    case FSDKE_OK: return "success";
    case FSDKE_FAILED: return "internal error of the face engine";
    case FSDKE_NOT_INITIALIZED: return "the face engine is not initialised";
    case FSDKE_INVALID_ARGUMENT: return "invalid argument";
    case FSDKE_INVALID_HANDLE: return "no image with this handle";
    case FSDKE_IO_ERROR: return "the file is missing or cannot be read";
    case FSDKE_BAD_FILE_FORMAT: return "the file is not a readable picture";
    case FSDKE_EMPTY_IMAGE: return "the image is empty";
    case FSDKE_FACE_NOT_FOUND: return "no face found";
    case FSDKE_EYES_NOT_FOUND: return "no eyes found";
    case FSDKE_TEMPLATE_MISMATCH: return "face template of another format";
    case FSDKE_NETWORKS_MISSING: return "face network files missing or damaged";
    case FSDKE_OUT_OF_MEMORY: return "out of memory";
    default: return "unknown error";
  }
}

std::optional<Descriptor> descriptorOf(const FSDK_FaceTemplate& t) {
  uint32_t version = 0, length = 0, engine = 0;
  std::memcpy(&version, t.ftemplate + 4, 4);
  std::memcpy(&length, t.ftemplate + 8, 4);
  std::memcpy(&engine, t.ftemplate + 12, 4);
  if (std::memcmp(t.ftemplate, kMagic, 4) != 0 || version != kTemplateVersion || length != kDescriptorSize ||
      engine != kEngineVersion)
    return std::nullopt;
  Descriptor d;
  std::memcpy(d.data(), t.ftemplate + kHeaderSize, sizeof(float) * kDescriptorSize);
  for (float v : d)
    if (!std::isfinite(v)) return std::nullopt;
  return d;
}

FSDK_FaceTemplate templateOf(const Descriptor& d) {
  FSDK_FaceTemplate t;
  std::memset(t.ftemplate, 0, sizeof t.ftemplate);
  const uint32_t version = kTemplateVersion, length = kDescriptorSize, engine = kEngineVersion;
  std::memcpy(t.ftemplate, kMagic, 4);
  std::memcpy(t.ftemplate + 4, &version, 4);
  std::memcpy(t.ftemplate + 8, &length, 4);
  std::memcpy(t.ftemplate + 12, &engine, 4);
  std::memcpy(t.ftemplate + kHeaderSize, d.data(), sizeof(float) * kDescriptorSize);
  return t;
}

const int kShrinkPeople = kShrink;
const bool kCentreOnBase = kCentreOnOwnBase;
const bool kOwnStrangerMinimum = kOwnStrangers;
const float kOwnMarginSpreads = kOwnMargin, kOwnFloorScore = kOwnFloor;

const Centre& priorCentre() {
  static const Centre prior = [] {
    Centre c;
    double n2 = 0;
    for (int i = 0; i < kDescriptorSize; ++i) {
      c.mean[i] = kPriorMean[i];
      n2 += double(kPriorMean[i]) * kPriorMean[i];
    }
    c.norm2 = float(n2);
    return c;
  }();
  return prior;
}

Centre centreOf(const double* baseMean, std::size_t people, const Centre& prior, int shrink) {
  if (!baseMean || people == 0) return prior;
  // Few people say little about the population (one person's own face would be taken out of his
  // own matches): their mean counts for people / (people + kShrinkPeople).
  const double w = double(people) / double(people + std::size_t(std::max(shrink, 0)));
  Centre c;
  double n2 = 0;
  for (int i = 0; i < kDescriptorSize; ++i) {
    const double m = w * baseMean[i] + (1 - w) * prior.mean[i];
    c.mean[i] = float(m);
    n2 += m * m;
  }
  c.norm2 = float(n2);
  return c;
}

namespace {

// a.b, a.m and a.a in one pass over a.
struct Dots {
  float ab, am, aa;
};
inline Dots dots(const float* a, const float* b, const float* m) {
  v4 ab = {0, 0, 0, 0}, am = ab, aa = ab, ab2 = ab, am2 = ab, aa2 = ab;
  for (int i = 0; i < kDescriptorSize; i += 8) {
    const v4 x0 = load4(a + i), x1 = load4(a + i + 4);
    ab += x0 * load4(b + i);
    ab2 += x1 * load4(b + i + 4);
    am += x0 * load4(m + i);
    am2 += x1 * load4(m + i + 4);
    aa += x0 * x0;
    aa2 += x1 * x1;
  }
  ab += ab2;
  am += am2;
  aa += aa2;
  return {(ab[0] + ab[1]) + (ab[2] + ab[3]), (am[0] + am[1]) + (am[2] + am[3]), (aa[0] + aa[1]) + (aa[2] + aa[3])};
}

// The probe's own terms, worked out once per scan.
struct ProbeTerms {
  float pm;    // probe . centre
  float len2;  // |probe - centre|^2
};
inline ProbeTerms probeTerms(const float* p, const Centre& c) {
  const Dots d = dots(p, c.mean.data(), c.mean.data());
  return {d.ab, (d.aa + c.norm2) - 2 * d.ab};
}

// Score of record b against the probe: cos(p - c, b - c).
inline float scoreOf(const float* b, const float* p, const ProbeTerms& t, const Centre& c) {
  const Dots d = dots(b, p, c.mean.data());
  // Grouped alike, so a descriptor against itself gives numerator == denominator: exactly 1.
  const float len2 = (d.aa + c.norm2) - 2 * d.am;
  const float den = std::sqrt(t.len2 * len2);
  if (!(den > 0)) return std::isnan(den) ? NAN : 0.f;
  return std::clamp(((d.ab + c.norm2) - (t.pm + d.am)) / den, -1.f, 1.f);
}

}  // namespace

float centredScore(const float* a, const float* b, const Centre& centre) {
  // The same template is the same face, even where its values are too large to square.
  if (std::memcmp(a, b, sizeof(float) * kDescriptorSize) == 0) return 1;
  return scoreOf(b, a, probeTerms(a, centre), centre);
}

namespace {

// The similarity of a score on a table of knots (linear between them).
float similarityOn(const Knot* k, float score) {
  if (std::isnan(score)) return 0.f;
  if (score >= k[0].score) return k[0].similarity;
  for (int i = 1; i < kKnotCount; ++i)
    if (score >= k[i].score) {
      const float t = (k[i - 1].score - score) / (k[i - 1].score - k[i].score);
      return std::clamp(k[i - 1].similarity + t * (k[i].similarity - k[i - 1].similarity), 0.f, 1.f);
    }
  return 0.f;
}

}  // namespace

float similarityOfScore(float score) { return similarityOn(kKnots, score); }

float similarityOfScore(float score, float shift) {
  if (shift == 0) return similarityOn(kKnots, score);
  // The table moved: every knot but the top one by `shift`, the 0.90 knot kept 49 % of the way
  // from the minimum to the top, as the calibration puts it.
  Knot k[kKnotCount];
  std::copy(std::begin(kKnots), std::end(kKnots), k);
  for (int i = 1; i < kKnotCount; ++i) k[i].score += shift;
  k[1].score = k[2].score + 0.49f * (k[0].score - k[2].score);
  return similarityOn(k, score);
}

float ownMinimumShift(const OwnStrangers& own) {
  if (!kOwnStrangerMinimum || own.people < 2 || !std::isfinite(own.mean) || !std::isfinite(own.spread)) return 0;
  const double fixed = kKnots[2].score;
  const double w = double(own.people) / double(own.people + std::size_t(std::max(kShrink, 0)));
  const double minimum = w * (own.mean + kOwnMargin * own.spread) + (1 - w) * fixed;
  return float(std::clamp(minimum, double(kOwnFloor), double(kKnots[1].score)) - fixed);
}

void rawScores(const float* probe, const float* base, std::size_t count, float* out) {
  for (std::size_t n = 0; n < count; ++n) {
    const float* b = base + n * kDescriptorSize;
    v4 s0 = {0, 0, 0, 0}, s1 = s0;
    for (int i = 0; i < kDescriptorSize; i += 8) {
      s0 += load4(probe + i) * load4(b + i);
      s1 += load4(probe + i + 4) * load4(b + i + 4);
    }
    const v4 s = s0 + s1;
    out[n] = (s[0] + s[1]) + (s[2] + s[3]);
  }
}

float scoreOfSimilarity(float similarity) {
  if (similarity >= 1) return kKnots[0].score;
  if (similarity <= 0) return kKnots[kKnotCount - 1].score;
  for (int i = 1; i < kKnotCount; ++i) {
    if (similarity >= kKnots[i].similarity) {
      const Knot& a = kKnots[i - 1];
      const Knot& b = kKnots[i];
      const float t = (a.similarity - similarity) / (a.similarity - b.similarity);
      return a.score + t * (b.score - a.score);
    }
  }
  return kKnots[kKnotCount - 1].score;
}

float squaredDistance(const float* a, const float* b) {
  v4 s0 = {0, 0, 0, 0}, s1 = s0, s2 = s0, s3 = s0;
  for (int i = 0; i < kDescriptorSize; i += 16) {
    const v4 d0 = load4(a + i) - load4(b + i);
    const v4 d1 = load4(a + i + 4) - load4(b + i + 4);
    const v4 d2 = load4(a + i + 8) - load4(b + i + 8);
    const v4 d3 = load4(a + i + 12) - load4(b + i + 12);
    s0 += d0 * d0;
    s1 += d1 * d1;
    s2 += d2 * d2;
    s3 += d3 * d3;
  }
  const v4 s = (s0 + s1) + (s2 + s3);
  return (s[0] + s[1]) + (s[2] + s[3]);
}

ScanResult findBest(const float* probe, const float* base, std::size_t count, float minSimilarity,
                    const Centre& centre) {
  ScanResult result;
  if (!probe || !base || count == 0) return result;
  const ProbeTerms t = probeTerms(probe, centre);
  // The similarity rises with the score: the greatest score leads; a NaN never does.
  float best = -INFINITY;
  long bestIndex = -1;
  for (std::size_t i = 0; i < count; ++i) {
    const float s = scoreOf(base + i * kDescriptorSize, probe, t, centre);
    if (s > best) {
      best = s;
      bestIndex = static_cast<long>(i);
    }
  }
  if (bestIndex < 0) return result;
  const float similarity = similarityOfScore(best, centre.shift);
  if (similarity == 0) bestIndex = 0;  // all records score 0: the first one leads
  if (similarity < minSimilarity) return result;
  result.index = bestIndex;
  result.similarity = similarity;
  return result;
}

void similarities(const float* probe, const float* base, std::size_t count, float* out, const Centre& centre) {
  const ProbeTerms t = probeTerms(probe, centre);
  for (std::size_t i = 0; i < count; ++i) out[i] = similarityOfScore(scoreOf(base + i * kDescriptorSize, probe, t, centre), centre.shift);
}

}  // namespace fsdk

int FSDK_GetMatchingThresholdAtFAR(float farValue, float* threshold) {
  if (!threshold) return FSDKE_INVALID_ARGUMENT;
  if (!(farValue > 0) || std::isnan(farValue)) {
    *threshold = 1;
    return FSDKE_INVALID_ARGUMENT;
  }
  if (farValue >= 1) {
    *threshold = 0;
    return FSDKE_OK;
  }
  using fsdk::kFarScores;
  constexpr int n = sizeof(kFarScores) / sizeof(kFarScores[0]);
  float score;
  if (farValue >= kFarScores[0].far) {
    // Between the loosest measured point and 1.0 (everything passes): log-linear to the far end.
    const float t = std::log10(farValue / kFarScores[0].far) / std::log10(1 / kFarScores[0].far);
    score = kFarScores[0].score + t * (fsdk::scoreOfSimilarity(0) - kFarScores[0].score);
  } else if (farValue <= kFarScores[n - 1].far) {
    score = kFarScores[n - 1].score;  // stricter than measured: the strictest measured point
  } else {
    int i = 1;
    while (farValue < kFarScores[i].far) ++i;
    const float t =
        std::log10(kFarScores[i - 1].far / farValue) / std::log10(kFarScores[i - 1].far / kFarScores[i].far);
    score = kFarScores[i - 1].score + t * (kFarScores[i].score - kFarScores[i - 1].score);
  }
  *threshold = fsdk::similarityOfScore(score);
  return FSDKE_OK;
}

int FSDK_MatchFaces(const FSDK_FaceTemplate* template1, const FSDK_FaceTemplate* template2, float* similarity) {
  if (!similarity) return FSDKE_INVALID_ARGUMENT;
  *similarity = 0;
  if (!template1 || !template2) return FSDKE_INVALID_ARGUMENT;
  const auto a = fsdk::descriptorOf(*template1);
  const auto b = fsdk::descriptorOf(*template2);
  if (!a || !b) return FSDKE_TEMPLATE_MISMATCH;
  // Two templates without a base: measured from the prior centre.
  *similarity = fsdk::similarityOfScore(fsdk::centredScore(a->data(), b->data(), fsdk::priorCentre()));
  return FSDKE_OK;
}

}  // namespace tavo
