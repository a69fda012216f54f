// Time to compute and interleave one tone block (2 x 8192 samples); the tone is gapless while
// this stays under the block's playing time, 185.8 ms.
#include <benchmark/benchmark.h>

#include <vector>

#include "sound/snd_unit.h"

namespace {

void BM_ToneBlock(benchmark::State& st) {
  tavo::ToneState tone = tavo::startTone();
  std::vector<std::int16_t> left(tavo::kBlockFrames), right(tavo::kBlockFrames);
  std::vector<std::int16_t> out(2 * tavo::kBlockFrames);
  for (auto _ : st) {
    tavo::nextToneBlock(tone, left.data(), right.data(), out.data());
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  st.SetItemsProcessed(st.iterations() * tavo::kBlockFrames);
}
BENCHMARK(BM_ToneBlock)->Unit(benchmark::kMillisecond);

}  // namespace
