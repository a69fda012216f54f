#pragma once
#include <QByteArray>
#include <QLocale>
#include <QMap>
#include <QString>
#include <optional>

namespace tavo {

// A Windows INI file read with the profile rules: section and key names without regard to case,
// values trimmed, one pair of surrounding quotes removed, defaults for anything missing or
// unreadable. Read once; never written.
class IniFile {
 public:
  IniFile() = default;
  static IniFile load(const QString& hostFilePath);  // a missing file reads as empty
  static IniFile parse(const QByteArray& bytes);

  std::optional<QString> value(const QString& section, const QString& key) const;

  QString readString(const QString& section, const QString& key, const QString& def) const;
  // Decimal, or hexadecimal after "0x" or "$"; anything else gives def.
  int readInteger(const QString& section, const QString& key, int def) const;
  // A number with the locale's decimal separator; anything else gives def.
  double readReal(const QString& section, const QString& key, double def, const QLocale& locale) const;
  // An integer: 0 is false, any other value true; not an integer gives def.
  bool readBool(const QString& section, const QString& key, bool def) const;

  static std::optional<int> parseInteger(const QString& text);
  static std::optional<double> parseReal(const QString& text, const QLocale& locale);

 private:
  QMap<QString, QMap<QString, QString>> sections_;  // lower-case names
};

}  // namespace tavo
