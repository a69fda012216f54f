// The match scale measured from the base's own centre, at the station's 10,000 models: the 1:N
// scan against the raw-distance scan it replaced, and what the base's statistics cost when a
// model enters or leaves (the centre worked out again at the next match).
#include <benchmark/benchmark.h>

#include <QString>
#include <random>
#include <vector>

#include "face/base_statistics.h"
#include "face/face_base.h"
#include "face/own_strangers.h"
#include "face/sdk/fsdk.h"

using namespace tavo;

namespace {

constexpr std::size_t kModels = 10000;

std::vector<float> unitDescriptors(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::normal_distribution<float> g(0.f, 1.f);
  std::vector<float> out(n * fsdk::kDescriptorSize);
  for (std::size_t i = 0; i < n; ++i) {
    float* d = out.data() + i * fsdk::kDescriptorSize;
    double n2 = 0;
    for (int k = 0; k < fsdk::kDescriptorSize; ++k) {
      d[k] = g(gen) + 0.5f;  // a common component, as real descriptors have
      n2 += double(d[k]) * d[k];
    }
    for (int k = 0; k < fsdk::kDescriptorSize; ++k) d[k] = float(d[k] / std::sqrt(n2));
  }
  return out;
}

const std::vector<float>& base() {
  static const std::vector<float> b = unitDescriptors(kModels, 1);
  return b;
}

BaseStatistics statisticsOf(const std::vector<float>& b) {
  BaseStatistics s;
  for (std::size_t i = 0; i < b.size() / fsdk::kDescriptorSize; ++i)
    s.add(b.data() + i * fsdk::kDescriptorSize, QString::number(i / 3));
  return s;
}

// The scan before: the smallest squared distance.
void BM_ScanRawDistance(benchmark::State& state) {
  const std::vector<float> probe = unitDescriptors(1, 2);
  for (auto _ : state) {
    float best = INFINITY;
    long index = -1;
    for (std::size_t i = 0; i < kModels; ++i) {
      const float d = fsdk::squaredDistance(probe.data(), base().data() + i * fsdk::kDescriptorSize);
      if (d < best) best = d, index = long(i);
    }
    benchmark::DoNotOptimize(index);
  }
  state.SetItemsProcessed(state.iterations() * kModels);
}
BENCHMARK(BM_ScanRawDistance);

// The check-in's scan now: every record scored from the base's centre.
void BM_ScanFromTheBaseCentre(benchmark::State& state) {
  const std::vector<float> probe = unitDescriptors(1, 2);
  const BaseStatistics s = statisticsOf(base());
  const fsdk::Centre& c = s.centre();
  for (auto _ : state) benchmark::DoNotOptimize(fsdk::findBest(probe.data(), base().data(), kModels, 0.f, c));
  state.SetItemsProcessed(state.iterations() * kModels);
}
BENCHMARK(BM_ScanFromTheBaseCentre);

// A model added and removed again, and the centre the next match measures from.
void BM_ModelAddedAndRemoved(benchmark::State& state) {
  BaseStatistics s = statisticsOf(base());
  const std::vector<float> extra = unitDescriptors(1, 3);
  for (auto _ : state) {
    s.add(extra.data(), QStringLiteral("new"));
    benchmark::DoNotOptimize(s.centre().norm2);
    s.remove(extra.data(), QStringLiteral("new"));
    benchmark::DoNotOptimize(s.centre().norm2);
  }
}
BENCHMARK(BM_ModelAddedAndRemoved);

// The statistics of a whole build of 10,000 models.
void BM_StatisticsOfABuild(benchmark::State& state) {
  for (auto _ : state) {
    const BaseStatistics s = statisticsOf(base());
    benchmark::DoNotOptimize(s.centre().norm2);
  }
}
BENCHMARK(BM_StatisticsOfABuild)->Unit(benchmark::kMillisecond);

std::vector<TFaceRecord> recordsOf(std::size_t n) {
  std::vector<TFaceRecord> r(n);
  for (std::size_t i = 0; i < n; ++i) r[i].id = int32_t(i + 1), r[i].fio = QString::number(i / 3);
  return r;
}

// The base's own strangers measured afresh (after a build, a removal, a model that joins the
// sample): the sample's 500 models each scored against the 10,000.
void BM_OwnStrangersMeasuredAfresh(benchmark::State& state) {
  const std::vector<TFaceRecord> records = recordsOf(kModels);
  for (auto _ : state) {
    OwnStrangerSample s;
    s.rebuild(base().data(), records);
    benchmark::DoNotOptimize(s.statistics(kModels / 3).mean);
  }
}
BENCHMARK(BM_OwnStrangersMeasuredAfresh)->Unit(benchmark::kMillisecond);

// A model appended to a base of 10,000: scored against the sample only.
void BM_OwnStrangersFollowAnAppendedModel(benchmark::State& state) {
  const std::vector<TFaceRecord> records = recordsOf(kModels);
  OwnStrangerSample s;
  s.rebuild(base().data(), records);
  const std::vector<float> extra = unitDescriptors(1, 3);
  TFaceRecord r;
  r.id = int32_t(kModels + 1);
  r.fio = QStringLiteral("new");
  for (auto _ : state) {
    benchmark::DoNotOptimize(s.appended(extra.data(), r));
    benchmark::DoNotOptimize(s.statistics(kModels / 3).mean);
  }
}
BENCHMARK(BM_OwnStrangersFollowAnAppendedModel);

}  // namespace
