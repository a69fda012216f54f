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

// Descriptors are unit vectors: the distance d and the cosine c of two of them are one measure,
// d = sqrt(2 - 2c). The scale is set in cosines, fitted on every development set together
// (lfw10, london, celeba, nuaa web-camera captures; docs/accuracy.md) and taken at the strictest
// set: 0.75 where at most one in a thousand different-person pairs passes on each of them, 0.70
// at one in a hundred (the refusal of an already enrolled face), 0.50 where nearly every
// same-person pair passes (pictures added to a barcode's own models), 0 for unrelated faces.
constexpr float distanceOfCosine(float c) { return c >= 1 ? 0.f : __builtin_sqrtf(2 - 2 * c); }
struct Knot {
  float distance;
  float similarity;
};
constexpr Knot kKnots[] = {
    {distanceOfCosine(1.00f), 1.00f}, {distanceOfCosine(0.75f), 0.90f}, {distanceOfCosine(0.51f), 0.75f},
    {distanceOfCosine(0.46f), 0.70f}, {distanceOfCosine(0.30f), 0.50f}, {distanceOfCosine(0.00f), 0.00f},
};
constexpr int kKnotCount = sizeof(kKnots) / sizeof(kKnots[0]);

// False-accept rate -> distance, the strictest development set at each rate (docs/accuracy.md).
struct FarPoint {
  float far;
  float distance;
};
constexpr FarPoint kFarTable[] = {
    {1e-1f, distanceOfCosine(0.28f)}, {1e-2f, distanceOfCosine(0.47f)}, {1e-3f, distanceOfCosine(0.51f)},
    {1e-4f, distanceOfCosine(0.53f)},
};

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

float similarityFromDistance(float distance) {
  if (!(distance > 0)) return distance == 0 ? 1.f : (std::isnan(distance) ? 0.f : 1.f);
  for (int i = 1; i < kKnotCount; ++i) {
    if (distance <= kKnots[i].distance) {
      const Knot& a = kKnots[i - 1];
      const Knot& b = kKnots[i];
      const float t = (distance - a.distance) / (b.distance - a.distance);
      return std::clamp(a.similarity + t * (b.similarity - a.similarity), 0.f, 1.f);
    }
  }
  return 0.f;
}

float distanceFromSimilarity(float similarity) {
  if (similarity >= 1) return 0;
  if (similarity <= 0) return kKnots[kKnotCount - 1].distance;
  for (int i = 1; i < kKnotCount; ++i) {
    if (similarity >= kKnots[i].similarity) {
      const Knot& a = kKnots[i - 1];
      const Knot& b = kKnots[i];
      const float t = (a.similarity - similarity) / (a.similarity - b.similarity);
      return a.distance + t * (b.distance - a.distance);
    }
  }
  return kKnots[kKnotCount - 1].distance;
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

ScanResult findBest(const float* probe, const float* base, std::size_t count, float minSimilarity) {
  ScanResult result;
  if (!probe || !base || count == 0) return result;
  const float limit = distanceFromSimilarity(std::clamp(minSimilarity, 0.f, 1.f));
  // Every distance from the last knot on has similarity 0: the first such record is the best.
  float best = minSimilarity <= 0 ? INFINITY : limit * limit * (1 + 1e-6f);
  long bestIndex = -1;
  for (std::size_t i = 0; i < count; ++i) {
    const float d = squaredDistance(probe, base + i * kDescriptorSize);
    if (d < best) {
      best = d;
      bestIndex = static_cast<long>(i);
    }
  }
  if (bestIndex < 0) return result;
  float similarity = similarityFromDistance(std::sqrt(best));
  if (similarity == 0) bestIndex = 0;  // all records score 0: the first one leads
  if (similarity < minSimilarity) return result;
  result.index = bestIndex;
  result.similarity = similarity;
  return result;
}

void similarities(const float* probe, const float* base, std::size_t count, float* out) {
  for (std::size_t i = 0; i < count; ++i)
    out[i] = similarityFromDistance(std::sqrt(squaredDistance(probe, base + i * kDescriptorSize)));
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
  using fsdk::kFarTable;
  constexpr int n = sizeof(kFarTable) / sizeof(kFarTable[0]);
  float distance;
  if (farValue >= kFarTable[0].far) {
    // Between the loosest measured point and 1.0 (everything passes): log-linear to the far end.
    const float t = std::log10(farValue / kFarTable[0].far) / std::log10(1 / kFarTable[0].far);
    distance = kFarTable[0].distance + t * (fsdk::distanceFromSimilarity(0) - kFarTable[0].distance);
  } else if (farValue <= kFarTable[n - 1].far) {
    distance = kFarTable[n - 1].distance;  // stricter than measured: the strictest measured point
  } else {
    int i = 1;
    while (farValue < kFarTable[i].far) ++i;
    const float t = std::log10(kFarTable[i - 1].far / farValue) / std::log10(kFarTable[i - 1].far / kFarTable[i].far);
    distance = kFarTable[i - 1].distance + t * (kFarTable[i].distance - kFarTable[i - 1].distance);
  }
  *threshold = fsdk::similarityFromDistance(distance);
  return FSDKE_OK;
}

int FSDK_MatchFaces(const FSDK_FaceTemplate* template1, const FSDK_FaceTemplate* template2, float* similarity) {
  if (!similarity) return FSDKE_INVALID_ARGUMENT;
  *similarity = 0;
  if (!template1 || !template2) return FSDKE_INVALID_ARGUMENT;
  const auto a = fsdk::descriptorOf(*template1);
  const auto b = fsdk::descriptorOf(*template2);
  if (!a || !b) return FSDKE_TEMPLATE_MISMATCH;
  *similarity = fsdk::similarityFromDistance(std::sqrt(fsdk::squaredDistance(a->data(), b->data())));
  return FSDKE_OK;
}

}  // namespace tavo
