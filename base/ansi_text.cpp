#include "base/ansi_text.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace tavo {

QByteArray toAnsi(const QString& text) {
  QStringEncoder encoder("windows-1251");
  return encoder.encode(text);
}

QString fromAnsi(const QByteArray& bytes) {
  QStringDecoder decoder("windows-1251");
  return decoder.decode(bytes);
}

bool fitsAnsi(const QString& text) {
  // Stateless: the text is whole, so a lone first half of a surrogate pair at its end is an error
  // rather than a character kept back for a next call.
  QStringEncoder encoder("windows-1251", QStringConverter::Flag::Stateless);
  QByteArray out = encoder.encode(text);
  return !encoder.hasError();
}

QStringList readRequestLines(const QByteArray& bytes) {
  QString text;
  if (bytes.startsWith("\xEF\xBB\xBF")) {
    text = QString::fromUtf8(bytes.mid(3));
  } else if (bytes.startsWith("\xFF\xFE")) {
    QStringDecoder d(QStringDecoder::Utf16LE);
    text = d.decode(bytes.mid(2));
  } else if (bytes.startsWith("\xFE\xFF")) {
    QStringDecoder d(QStringDecoder::Utf16BE);
    text = d.decode(bytes.mid(2));
  } else {
    text = fromAnsi(bytes);
  }
  QStringList lines;
  QString current;
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text[i];
    if (c == '\r' || c == '\n') {
      lines << current;
      current.clear();
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      current += c;
    }
  }
  if (!current.isEmpty()) lines << current;
  return lines;
}

}  // namespace tavo
