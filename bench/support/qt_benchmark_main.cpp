// The main of the Google Benchmark programs. The station's code expects a Qt application object
// (timers, deferred deletes), so one lives for the whole run.
#include <benchmark/benchmark.h>

#include <QCoreApplication>

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
