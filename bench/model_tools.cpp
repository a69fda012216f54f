// Model tools figures: the start-up import of N files, the export of the model list, the copy tool
// and the actuality check over a model table of realistic size.
#include <benchmark/benchmark.h>

#include <QDateTime>
#include <QDir>
#include <QFile>

#include "base/clock.h"
#include "base/operator_messages.h"
#include "base/paths.h"
#include "base/station.h"
#include "data/data_store.h"
#include "data/schema.h"
#include "models/model_import.h"
#include "models/model_maintenance.h"
#include "tests/support/station_on_disk.h"
#include "tests/support/test_env.h"

namespace {

using namespace tavo;

struct Env : test::StationOnDisk {
  std::unique_ptr<DataStore> store;

  // `models` rows over models/5 barcodes, half inserted long ago; each has a 6 KB "_face.jpg".
  explicit Env(int models) {
    createDatabaseFile(dir.file(QStringLiteral("FaceBase.mdb")), QLatin1String(kDatabasePassword));
    station.settings.modelDir = QStringLiteral("C:\\Face\\Model");
    QDir().mkpath(hostPath(station.settings.modelDir));
    {
      Database db;
      db.open(dir.file(QStringLiteral("FaceBase.mdb")), QLatin1String(kDatabasePassword));
      Database::Transaction tx(db);
      const QByteArray face(6000, 'f');
      for (int i = 0; i < models; ++i) {
        const QString name = QStringLiteral("20190101-%1").arg(i, 36, 10, QLatin1Char('0'));
        db.exec(QStringLiteral("INSERT INTO Model (EAN, Active, FileName, DateInsert) VALUES (?, 1, ?, ?)"),
                {QString::number(2200000000000LL + i / 5), name,
                 QDateTime(QDate(2019, i % 2 ? 1 : 7, 1), QTime(8, 0))});
        test::writeFile(hostPath(joinPath(station.settings.modelDir, name)) + "_face.jpg", face);
      }
      tx.commit();
    }
    store = std::make_unique<DataStore>(station);
    store->open();
  }
};

void BM_LoadFromOffice(benchmark::State& state) {
  Env env(0);
  const QString importDir = hostPath(QLatin1String(kImportFolder));
  QDir().mkpath(importDir);
  const QByteArray face(20000, 'x');
  for (auto _ : state) {
    state.PauseTiming();
    for (int i = 0; i < state.range(0); ++i)
      test::writeFile(importDir + QStringLiteral("/%1_%2_id.jpg").arg(2200000000000LL + i).arg(i, 6, 10, QLatin1Char('0')), face);
    state.ResumeTiming();
    benchmark::DoNotOptimize(LoadFromOffice(env.station, *env.store).imported);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.SetLabel(std::to_string(state.range(0)) + " files of 20 KB");
}
BENCHMARK(BM_LoadFromOffice)->Arg(20)->Arg(100)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_ExportModelList(benchmark::State& state) {
  Env env(int(state.range(0)));
  for (auto _ : state) Button13Click(env.station, *env.store);
  state.SetLabel(std::to_string(state.range(0)) + " models");
}
BENCHMARK(BM_ExportModelList)->Arg(1000)->Arg(5000)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

void BM_CopyTool(benchmark::State& state) {
  Env env(int(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(Button10Click(env.station, *env.store));
  state.SetLabel(std::to_string(state.range(0)) + " models with a 6 KB plain photo each");
}
BENCHMARK(BM_CopyTool)->Arg(1000)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

void BM_ActualityCheck(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    Env env(int(state.range(0)));
    state.ResumeTiming();
    benchmark::DoNotOptimize(Button17Click(env.station, *env.store));
  }
  state.SetLabel(std::to_string(state.range(0)) + " models, 5 per barcode, 2 deactivated per barcode");
}
BENCHMARK(BM_ActualityCheck)->Arg(1000)->Arg(5000)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

}  // namespace
