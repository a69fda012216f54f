// Face engine figures: one detection, one landmark pass, one template, and the 1:N scan.
//   build-*/bench/bench-fsdk_engine --benchmark_min_time=2
#include <benchmark/benchmark.h>


#include <opencv2/imgcodecs.hpp>

#include <random>
#include <vector>

#include "face/sdk/engine.h"
#include "face/sdk/fsdk.h"
#include "face/sdk/fsdk_cv.h"
#include "tests/support/test_env.h"

using namespace tavo;

namespace {

struct Loaded {
  HImage image = 0;
  TFacePosition face;
  Loaded() {
    const QByteArray dir = (test::thirdPartyDir() + "/face-models").toUtf8();
    FSDK_SetNetworksFolder(dir.constData());
    if (FSDK_Initialize("") != FSDKE_OK) std::abort();
    FSDK_SetFaceDetectionParameters(false, true, 384);
    FSDK_SetFaceDetectionThreshold(3);
    // A station-sized picture: a model photo scaled as the base build does (705.4 x 490.4 box).
    HImage raw = 0;
    FSDK_LoadImageFromFile(&raw, test::testData("lfw10/Colin_Powell/Colin_Powell_0001.jpg").toUtf8().constData());
    FSDK_CreateEmptyImage(&image);
    FSDK_ResizeImage(raw, 490.4 / 250, image);
    FSDK_FreeImage(raw);
    if (FSDK_DetectFace(image, &face) != FSDKE_OK) std::abort();
  }
};

Loaded& loaded() {
  static Loaded l;
  return l;
}

void BM_DetectFace(benchmark::State& state) {
  Loaded& l = loaded();
  TFacePosition pos;
  for (auto _ : state) benchmark::DoNotOptimize(FSDK_DetectFace(l.image, &pos));
}
BENCHMARK(BM_DetectFace)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DetectEyes(benchmark::State& state) {
  Loaded& l = loaded();
  FSDK_Features f;
  for (auto _ : state) benchmark::DoNotOptimize(FSDK_DetectEyesInRegion(l.image, &l.face, &f));
}
BENCHMARK(BM_DetectEyes)->Unit(benchmark::kMillisecond)->UseRealTime();

// Landmarks again, alignment and the descriptor.
void BM_FaceTemplate(benchmark::State& state) {
  Loaded& l = loaded();
  FSDK_FaceTemplate t;
  for (auto _ : state) benchmark::DoNotOptimize(FSDK_GetFaceTemplateInRegion(l.image, &l.face, &t));
}
BENCHMARK(BM_FaceTemplate)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Enrol(benchmark::State& state) {
  Loaded& l = loaded();
  TFacePosition pos;
  FSDK_Features f;
  FSDK_FaceTemplate t;
  for (auto _ : state) {
    FSDK_DetectFace(l.image, &pos);
    FSDK_DetectEyesInRegion(l.image, &pos, &f);
    benchmark::DoNotOptimize(FSDK_GetFaceTemplateInRegion(l.image, &pos, &t));
  }
}
BENCHMARK(BM_Enrol)->Unit(benchmark::kMillisecond)->UseRealTime();

// 1:N scan over descriptors kept contiguously, on one core.
void BM_Scan(benchmark::State& state) {
  const std::size_t n = static_cast<std::size_t>(state.range(0));
  std::vector<float> base(n * fsdk::kDescriptorSize);
  std::mt19937 gen(7);
  std::normal_distribution<float> dist(0.f, 0.12f);
  for (float& v : base) v = dist(gen);
  std::vector<float> probe(fsdk::kDescriptorSize);
  for (float& v : probe) v = dist(gen);
  for (auto _ : state) benchmark::DoNotOptimize(fsdk::findBest(probe.data(), base.data(), n, 0.f));
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(n));
}
BENCHMARK(BM_Scan)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

// The station's own loop: FSDK_MatchFaces on 13324-byte templates.
void BM_MatchFacesLoop(benchmark::State& state) {
  const std::size_t n = static_cast<std::size_t>(state.range(0));
  std::mt19937 gen(7);
  std::normal_distribution<float> dist(0.f, 0.12f);
  std::vector<FSDK_FaceTemplate> base(n);
  for (auto& t : base) {
    fsdk::Descriptor d;
    for (float& v : d) v = dist(gen);
    t = fsdk::templateOf(d);
  }
  const FSDK_FaceTemplate probe = base[0];
  for (auto _ : state) {
    float best = 0, s = 0;
    for (const auto& t : base) {
      FSDK_MatchFaces(&probe, &t, &s);
      if (s > best) best = s;
    }
    benchmark::DoNotOptimize(best);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(n));
}
BENCHMARK(BM_MatchFacesLoop)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace
