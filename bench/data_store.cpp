// Data store figures: opening the encrypted database (key derivation plus reading the datasets)
// and the rate of work-row inserts (each one committed on its own, as the check-in writes them).
#include <benchmark/benchmark.h>

#include <QDateTime>
#include <QFile>
#include <memory>

#include "base/clock.h"
#include "base/operator_messages.h"
#include "base/station.h"
#include "data/data_store.h"
#include "data/schema.h"
#include "tests/support/station_on_disk.h"
#include "tests/support/test_env.h"

namespace {

using namespace tavo;

struct Env : test::StationOnDisk {

  explicit Env(int workRows) {
    createDatabaseFile(dir.file(QStringLiteral("FaceBase.mdb")), QLatin1String(kDatabasePassword));
    Database db;
    db.open(dir.file(QStringLiteral("FaceBase.mdb")), QLatin1String(kDatabasePassword));
    Database::Transaction tx(db);
    for (int i = 0; i < 500; ++i)
      db.exec(QStringLiteral("INSERT INTO Model (EAN, Active, FileName) VALUES (?, 1, ?)"),
              {QString::number(2200000000000LL + i % 200), QStringLiteral("20190101-%1").arg(i)});
    for (int i = 0; i < workRows; ++i)
      db.exec(QStringLiteral("INSERT INTO Works (datedoc, timedoc, SN, idModel, FileName, PercentDifference) "
                             "VALUES (?, ?, ?, ?, ?, ?)"),
              {QDate(2019, 7, 9).addDays(-(i % 60)), QTime(9, 0).addSecs(i % 3600), QStringLiteral("2200000000001"),
               1 + i % 500, QStringLiteral("2019\\07\\09\\20190709-%1").arg(i), double(i % 100)});
    tx.commit();
  }
};

// What start-up does: open, then show the work log of today.
void BM_OpenDataStore(benchmark::State& state) {
  Env env(int(state.range(0)));
  for (auto _ : state) {
    DataStore store(env.station);
    store.open();
    store.applyWorkFilter(WorkFilter{std::nullopt, QString(), false, QDate(2019, 7, 9)});
    benchmark::DoNotOptimize(store.tableWorks().recordCount());
    benchmark::DoNotOptimize(store.tableModel().recordCount());
  }
  state.SetLabel("500 models, " + std::to_string(state.range(0)) + " work rows, 1/60 of them today");
}
BENCHMARK(BM_OpenDataStore)->Arg(0)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

// Reading the whole unfiltered work log into its dataset.
void BM_ReadAllWorks(benchmark::State& state) {
  Env env(int(state.range(0)));
  DataStore store(env.station);
  store.open();
  for (auto _ : state) {
    store.tableWorks().refresh();
    benchmark::DoNotOptimize(store.tableWorks().recordCount());
  }
  state.SetLabel(std::to_string(state.range(0)) + " work rows");
}
BENCHMARK(BM_ReadAllWorks)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

void BM_InsertWorkRow(benchmark::State& state) {
  Env env(int(state.range(0)));
  DataStore store(env.station);
  store.open();
  store.applyWorkFilter(WorkFilter{std::nullopt, QString(), false, QDate(2019, 7, 9)});
  WorkRecord w;
  w.fileName = QStringLiteral("2019\\07\\09\\20190709-1B4E28BA-2FA1-11D2-883F-0016D3CCA427");
  w.idModel = 7;
  w.sn = QStringLiteral("2200000000007");
  w.percent = 88.1;
  for (auto _ : state) benchmark::DoNotOptimize(store.insertWork(w));
  state.SetItemsProcessed(state.iterations());
  state.SetLabel(std::to_string(state.range(0)) + " work rows before");
}
BENCHMARK(BM_InsertWorkRow)->Arg(0)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(200)->UseRealTime();

void BM_WorkFilterToday(benchmark::State& state) {
  Env env(100000);
  DataStore store(env.station);
  store.open();
  for (auto _ : state) {
    store.applyWorkFilter(WorkFilter{std::nullopt, QString(), false, QDate(2019, 7, 9)});
    benchmark::DoNotOptimize(store.tableWorks().recordCount());
  }
  state.SetLabel("100000 work rows, 1/60 of them today");
}
BENCHMARK(BM_WorkFilterToday)->Unit(benchmark::kMillisecond)->Iterations(20)->UseRealTime();

}  // namespace
