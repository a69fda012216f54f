// Throughput of the face-file key stream, and of the whole encrypt/restore on a real photo.
#include <benchmark/benchmark.h>

#include <QDir>
#include <QFile>

#include "protect/face_file.h"
#include "tests/support/test_env.h"

namespace {

void BM_KeyStream(benchmark::State& st) {
  QByteArray data(static_cast<qsizetype>(st.range(0)), '\x5A');
  for (auto _ : st) {
    tavo::applyKeyStream(data.data(), static_cast<std::size_t>(data.size()), tavo::kSystemKey);
    benchmark::DoNotOptimize(data.data());
  }
  st.SetBytesProcessed(st.iterations() * data.size());
}
BENCHMARK(BM_KeyStream)->Arg(16 << 10)->Arg(1 << 20)->Arg(16 << 20);

// EncryptImage then DecryptImage_Hier of a 250x250 photo: file reads, transform, atomic writes.
void BM_EncryptAndRestorePhoto(benchmark::State& st) {
  tavo::test::TempProgramDir program;
  const QString source = tavo::test::testData(QStringLiteral("lfw10/Tony_Blair/Tony_Blair_0001.jpg"));
  const QString base = program.path() + QStringLiteral("Temp\\bench");
  const qint64 size = QFile(source).size();
  for (auto _ : st) {
    tavo::EncryptImage(source, base, tavo::kSystemKey);
    benchmark::DoNotOptimize(tavo::DecryptImage_Hier(base, tavo::kSystemKey));
  }
  st.SetBytesProcessed(st.iterations() * size * 2);
}
BENCHMARK(BM_EncryptAndRestorePhoto)->Unit(benchmark::kMicrosecond);

// DecryptImage: decode and re-encode at quality 100 for the template base.
void BM_DecryptImageReencode(benchmark::State& st) {
  tavo::test::TempProgramDir program;
  const QString source = tavo::test::testData(QStringLiteral("lfw10/Tony_Blair/Tony_Blair_0001.jpg"));
  const QString base = program.path() + QStringLiteral("Temp\\bench");
  tavo::EncryptImage(source, base, tavo::kSystemKey);
  for (auto _ : st) benchmark::DoNotOptimize(tavo::DecryptImage(base, tavo::kSystemKey, program.path()));
}
BENCHMARK(BM_DecryptImageReencode)->Unit(benchmark::kMicrosecond);

}  // namespace
