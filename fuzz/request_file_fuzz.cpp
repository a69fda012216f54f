// Fuzz target: request files come from other machines through the flag directory. Decoding (byte
// order marks, else code page 1251), line splitting and the barcode check take any bytes.
#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>

#include "base/ansi_text.h"
#include "checkin/request_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static QTemporaryDir dir;
  const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

  // Read as the station reads "123.txt": from the file, whole.
  const QString path = dir.path() + QStringLiteral("/123.txt");
  {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size()) std::abort();
  }
  QStringList lines;
  try {
    lines = tavo::readRequestFile(path);
  } catch (const std::runtime_error&) {
    return 0;  // refused with a reason: allowed, as long as nothing breaks
  }
  if (lines != tavo::readRequestLines(bytes)) std::abort();

  for (const QString& line : lines) {
    // Lines never keep a line break, and the first one names the answer file only when it is safe.
    if (line.contains(QLatin1Char('\r')) || line.contains(QLatin1Char('\n'))) std::abort();
    const QString problem = tavo::barcodeProblem(line);
    if (problem.isEmpty() && (line.contains(QLatin1Char('/')) || line.contains(QLatin1Char('\\')) ||
                              line.contains(QLatin1String("..")) || line.size() > tavo::kMaxBarcodeLength))
      std::abort();
  }
  // A barcode that passed and goes back out in code page 1251 reads in as itself (unless its
  // first characters are the bytes of a byte order mark: "п»ї", "яю", "юя").
  if (!lines.isEmpty() && tavo::barcodeProblem(lines[0]).isEmpty() && tavo::fitsAnsi(lines[0])) {
    const QByteArray ansi = tavo::toAnsi(lines[0]);
    if (ansi.startsWith("\xEF\xBB\xBF") || ansi.startsWith("\xFF\xFE") || ansi.startsWith("\xFE\xFF")) return 0;
    const QStringList again = tavo::readRequestLines(ansi + "\r\n");
    if (lines[0].isEmpty() ? !again.value(0).isEmpty() : again.value(0) != lines[0]) std::abort();
  }
  return 0;
}
