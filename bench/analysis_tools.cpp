// Analysis tools over a large work log: "All" (walks the work log as the work tab shows it and
// draws a frame per row), "Max size"/"Avg size" (one aggregate statement each) and the day's
// match-percentage distribution (20 counts). Figures: docs/benchmarks.md, "Analysis tools".
#include <benchmark/benchmark.h>

#include <QFile>
#include <QRandomGenerator>
#include <memory>

#include "analysis/distribution.h"
#include "analysis/face_positions.h"
#include "base/clock.h"
#include "base/operator_messages.h"
#include "base/station.h"
#include "data/data_store.h"
#include "data/schema.h"
#include "tests/support/station_on_disk.h"
#include "tests/support/test_env.h"

namespace {

using namespace tavo;

struct Log : test::StationOnDisk {
  std::unique_ptr<DataStore> store;

  explicit Log(int rows) {
    createDatabaseFile(dir.file("FaceBase.mdb"), QLatin1String(kDatabasePassword));
    QFile::copy(test::thirdPartyDir() + "/install/Image.jpg", dir.file("Image.jpg"));
    store = std::make_unique<DataStore>(station);
    store->open();
    QRandomGenerator rng(7);
    Database::Transaction tx(store->database());
    for (int i = 0; i < rows; ++i)
      store->exec(QStringLiteral("INSERT INTO Works (datedoc, timedoc, SN, cLeft, cRight, cTop, cBottom, "
                                 "PercentDifference, excellent) VALUES (?, ?, '1', ?, ?, ?, ?, ?, 1)"),
                  {clock.today(), QTime(8, 0).addSecs(i % 36000), int(rng.bounded(300, 600)),
                   int(rng.bounded(300, 600)), int(rng.bounded(100, 250)), int(rng.bounded(200, 350)),
                   rng.bounded(60.0) + 40});
    tx.commit();
    WorkFilter f;
    f.fromDate = clock.today();
    store->applyWorkFilter(f);
  }
};

void BM_All(benchmark::State& state) {
  Log log(int(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(Button5Click(log.station, *log.store));
    log.station.memo1.clear();
  }
  state.counters["rows"] = double(state.range(0));
}
BENCHMARK(BM_All)->Arg(500)->Arg(5000)->Unit(benchmark::kMillisecond);

void BM_MaxAndAvgSize(benchmark::State& state) {
  Log log(int(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(Button6Click(log.station, *log.store));
    benchmark::DoNotOptimize(Button7Click(log.station, *log.store));
    log.station.memo1.clear();
  }
}
BENCHMARK(BM_MaxAndAvgSize)->Arg(5000)->Unit(benchmark::kMillisecond);

void BM_Distribution(benchmark::State& state) {
  Log log(int(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(Button11Click(log.station, *log.store, log.clock.today()));
    log.station.memo1.clear();
  }
}
BENCHMARK(BM_Distribution)->Arg(5000)->Unit(benchmark::kMillisecond);

}  // namespace
