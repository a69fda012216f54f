// Fuzz target: face templates are read back from the database, which may be damaged or written by
// another engine version. Two readings of the input: as raw template bytes, and as a descriptor
// (float32 values) packed into a template. Sizes come from the headers, never from here.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "face/sdk/fsdk.h"

using namespace tavo;

namespace {

// The similarity contract: FSDKE_OK with 0..1, or a foreign template with 0.
void checkMatch(const FSDK_FaceTemplate& a, const FSDK_FaceTemplate& b) {
  float similarity = -1;
  const int rc = FSDK_MatchFaces(&a, &b, &similarity);
  const bool bothValid = fsdk::descriptorOf(a) && fsdk::descriptorOf(b);
  if (rc == FSDKE_OK) {
    if (!bothValid || !(similarity >= 0 && similarity <= 1)) std::abort();
  } else if (rc != FSDKE_TEMPLATE_MISMATCH || bothValid || similarity != 0) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // 1. The bytes as a stored template (short input padded with zeros).
  FSDK_FaceTemplate raw;
  std::memset(&raw, 0, sizeof raw);
  std::memcpy(&raw, data, std::min(size, sizeof raw));
  const auto rawDescriptor = fsdk::descriptorOf(raw);
  if (rawDescriptor) {
    // A readable template is written back to the same descriptor.
    const auto again = fsdk::descriptorOf(fsdk::templateOf(*rawDescriptor));
    if (!again || *again != *rawDescriptor) std::abort();
  }

  // 2. The bytes as descriptor values, repeated to fill it.
  fsdk::Descriptor d{};
  if (size > 0) {
    auto* out = reinterpret_cast<unsigned char*>(d.data());
    for (std::size_t i = 0; i < sizeof d; ++i) out[i] = data[i % size];
  }
  const FSDK_FaceTemplate packed = fsdk::templateOf(d);
  bool finite = true;
  for (float v : d) finite = finite && std::isfinite(v);
  const auto unpacked = fsdk::descriptorOf(packed);
  if (unpacked.has_value() != finite) std::abort();
  if (unpacked && std::memcmp(unpacked->data(), d.data(), sizeof d) != 0) std::abort();

  checkMatch(raw, raw);
  checkMatch(raw, packed);
  checkMatch(packed, packed);
  if (finite) {
    // A template against itself is the same face.
    float self = 0;
    if (FSDK_MatchFaces(&packed, &packed, &self) != FSDKE_OK || self != 1.f) std::abort();
  }
  fsdk::similarityOfScore(d[0]);
  fsdk::scoreOfSimilarity(d[0]);
  return 0;
}
