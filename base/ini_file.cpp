#include "base/ini_file.h"

#include <QFile>

#include "base/ansi_text.h"

namespace tavo {

IniFile IniFile::load(const QString& hostFilePath) {
  QFile f(hostFilePath);
  if (!f.open(QIODevice::ReadOnly)) return IniFile();
  return parse(f.readAll());
}

IniFile IniFile::parse(const QByteArray& bytes) {
  IniFile ini;
  QString section;
  for (QString line : readRequestLines(bytes)) {
    line = line.trimmed();
    if (line.isEmpty() || line.startsWith(';')) continue;
    if (line.startsWith('[')) {
      const qsizetype end = line.indexOf(']');
      section = (end < 0 ? line.mid(1) : line.mid(1, end - 1)).trimmed().toLower();
      continue;
    }
    const qsizetype eq = line.indexOf('=');
    if (eq <= 0) continue;
    const QString key = line.left(eq).trimmed().toLower();
    QString value = line.mid(eq + 1).trimmed();
    if (value.size() >= 2 && ((value.front() == '"' && value.back() == '"') ||
                              (value.front() == '\'' && value.back() == '\'')))
      value = value.mid(1, value.size() - 2);
    auto& keys = ini.sections_[section];
    if (!keys.contains(key)) keys.insert(key, value);  // the first occurrence wins, as on Windows
  }
  return ini;
}

std::optional<QString> IniFile::value(const QString& section, const QString& key) const {
  const auto s = sections_.find(section.toLower());
  if (s == sections_.end()) return std::nullopt;
  const auto k = s->find(key.toLower());
  if (k == s->end()) return std::nullopt;
  return *k;
}

QString IniFile::readString(const QString& section, const QString& key, const QString& def) const {
  return value(section, key).value_or(def);
}

std::optional<int> IniFile::parseInteger(const QString& text) {
  QString t = text;
  bool negative = false;
  if (t.startsWith('-') || t.startsWith('+')) {
    negative = t.startsWith('-');
    t.remove(0, 1);
  }
  int base = 10;
  if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
    base = 16;
    t.remove(0, 2);
  } else if (t.startsWith('$')) {
    base = 16;
    t.remove(0, 1);
  }
  if (t.isEmpty()) return std::nullopt;
  for (QChar c : t)
    if (!(base == 16 ? QStringLiteral("0123456789abcdefABCDEF").contains(c) : c.isDigit() && c.unicode() < 128))
      return std::nullopt;
  bool ok = false;
  const qint64 v = t.toLongLong(&ok, base);
  if (!ok) return std::nullopt;
  const qint64 signedV = negative ? -v : v;
  if (base == 10 && (signedV < INT32_MIN || signedV > INT32_MAX)) return std::nullopt;
  if (base == 16 && v > 0xFFFFFFFFLL) return std::nullopt;
  return static_cast<int>(static_cast<qint32>(signedV));  // hex wraps like a 32-bit value
}

std::optional<double> IniFile::parseReal(const QString& text, const QLocale& locale) {
  // Only the locale's decimal separator is accepted; no group separators.
  const QString sep = locale.decimalPoint();
  const QString other = sep == QLatin1String(".") ? QStringLiteral(",") : QStringLiteral(".");
  if (text.isEmpty() || text.contains(other)) return std::nullopt;
  QLocale strict = locale;
  strict.setNumberOptions(QLocale::RejectGroupSeparator);
  bool ok = false;
  const double v = strict.toDouble(text, &ok);
  if (!ok) return std::nullopt;
  return v;
}

int IniFile::readInteger(const QString& section, const QString& key, int def) const {
  const auto v = value(section, key);
  if (!v) return def;
  return parseInteger(*v).value_or(def);
}

double IniFile::readReal(const QString& section, const QString& key, double def, const QLocale& locale) const {
  const auto v = value(section, key);
  if (!v) return def;
  return parseReal(*v, locale).value_or(def);
}

bool IniFile::readBool(const QString& section, const QString& key, bool def) const {
  const auto v = value(section, key);
  if (!v) return def;
  const auto i = parseInteger(*v);
  return i ? *i != 0 : def;
}

}  // namespace tavo
