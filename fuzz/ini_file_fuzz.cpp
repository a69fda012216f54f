// Fuzz target: "tavo.ini" and "tavo2.ini" are edited by hand and copied between machines, so the
// settings are read from any bytes: the INI reader, then the station's own reading of both files.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdlib>

#include "base/ansi_text.h"
#include "base/ini_file.h"
#include "base/settings.h"

using tavo::IniFile;

namespace {

void writeWhole(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size()) std::abort();
}

// A number read back from its own text is the same number.
void checkIntegerRoundTrip(const QString& text) {
  const auto v = IniFile::parseInteger(text);
  if (v && IniFile::parseInteger(QString::number(*v)) != v) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static QTemporaryDir dir;  // one program directory for the whole run
  const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

  const IniFile ini = IniFile::parse(bytes);
  for (const QString& line : tavo::readRequestLines(bytes)) {
    const qsizetype eq = line.indexOf('=');
    if (eq <= 0) continue;
    const QString key = line.left(eq).trimmed();
    const QString value = ini.readString(QStringLiteral("param"), key, QString());
    ini.readInteger(QStringLiteral("param"), key, 7);
    ini.readBool(QStringLiteral("param"), key, true);
    ini.readReal(QStringLiteral("param"), key, 0.5, QLocale(QLocale::Russian, QLocale::Russia));
    checkIntegerRoundTrip(value);
    checkIntegerRoundTrip(line.mid(eq + 1).trimmed());
  }

  // The same bytes as both settings files of a program directory.
  const QString program = dir.path() + QLatin1Char('/');
  writeWhole(program + QStringLiteral("tavo.ini"), bytes);
  writeWhole(program + QStringLiteral("tavo2.ini"), bytes);
  tavo::Settings::read(program, QLocale(QLocale::Russian, QLocale::Russia));
  tavo::Settings::read(program, QLocale::c());
  return 0;
}
