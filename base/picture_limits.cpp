#include "base/picture_limits.h"

#include <algorithm>

#include <QtGlobal>

namespace tavo {

namespace {

unsigned byteAt(const QByteArray& b, qsizetype i) { return static_cast<unsigned char>(b[i]); }
unsigned be16(const QByteArray& b, qsizetype i) { return byteAt(b, i) << 8 | byteAt(b, i + 1); }
unsigned le16(const QByteArray& b, qsizetype i) { return byteAt(b, i) | byteAt(b, i + 1) << 8; }
quint32 be32(const QByteArray& b, qsizetype i) { return quint32(be16(b, i)) << 16 | be16(b, i + 2); }
quint32 le32(const QByteArray& b, qsizetype i) { return le16(b, i) | quint32(le16(b, i + 2)) << 16; }
quint32 le24(const QByteArray& b, qsizetype i) { return le16(b, i) | quint32(byteAt(b, i + 2)) << 16; }

std::optional<QSize> sized(qint64 w, qint64 h) {
  // Sizes beyond int are clamped: they are over the limit in any case.
  const auto clamp = [](qint64 v) { return int(qMin<qint64>(qAbs(v), 1 << 30)); };
  return QSize(clamp(w), clamp(h));
}

std::optional<QSize> jpegSize(const QByteArray& b) {
  qsizetype i = 2;
  while (i + 4 <= b.size()) {
    // Read as libjpeg reads it, or a header it decodes could slip past: stray bytes between
    // segments are skipped, and a length under 2 is an empty segment.
    if (byteAt(b, i) != 0xFF) {
      ++i;
      continue;
    }
    const unsigned marker = byteAt(b, i + 1);
    if (marker == 0xFF) {  // fill byte
      ++i;
      continue;
    }
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {  // no length
      i += 2;
      continue;
    }
    if (marker == 0xDA || marker == 0xD9) return std::nullopt;  // scan before any frame header
    const unsigned length = std::max(be16(b, i + 2), 2u);
    const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (frame) {
      if (i + 9 > b.size()) return std::nullopt;
      return sized(be16(b, i + 7), be16(b, i + 5));
    }
    i += 2 + length;
  }
  return std::nullopt;
}

std::optional<QSize> pnmSize(const QByteArray& b) {
  qsizetype i = 2;
  qint64 values[2] = {0, 0};
  for (qint64& v : values) {
    for (;;) {  // white space and comments
      if (i >= b.size()) return std::nullopt;
      const char c = b[i];
      if (c == '#') {
        while (i < b.size() && b[i] != '\n') ++i;
      } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
        ++i;
      } else {
        break;
      }
    }
    if (i >= b.size() || b[i] < '0' || b[i] > '9') return std::nullopt;
    while (i < b.size() && b[i] >= '0' && b[i] <= '9' && v < (qint64(1) << 40)) v = v * 10 + (b[i++] - '0');
  }
  return sized(values[0], values[1]);
}

std::optional<QSize> webpSize(const QByteArray& b) {
  const QByteArray chunk = b.mid(12, 4);
  if (chunk == "VP8X" && b.size() >= 30) return sized(qint64(le24(b, 24)) + 1, qint64(le24(b, 27)) + 1);
  if (chunk == "VP8L" && b.size() >= 25) {
    const quint32 bits = le32(b, 21);
    return sized((bits & 0x3FFF) + 1, ((bits >> 14) & 0x3FFF) + 1);
  }
  if (chunk == "VP8 " && b.size() >= 30) return sized(le16(b, 26) & 0x3FFF, le16(b, 28) & 0x3FFF);
  return std::nullopt;
}

}  // namespace

std::optional<QSize> pictureHeaderSize(const QByteArray& b) {
  if (b.size() >= 4 && byteAt(b, 0) == 0xFF && byteAt(b, 1) == 0xD8) return jpegSize(b);
  if (b.size() >= 24 && b.startsWith(QByteArray("\x89PNG\r\n\x1a\n", 8)) && b.mid(12, 4) == "IHDR")
    return sized(be32(b, 16), be32(b, 20));
  if (b.size() >= 10 && (b.startsWith("GIF87a") || b.startsWith("GIF89a"))) return sized(le16(b, 6), le16(b, 8));
  if (b.size() >= 26 && b.startsWith("BM")) {
    const quint32 header = le32(b, 14);
    if (header == 12) return sized(le16(b, 18), le16(b, 20));
    if (header >= 40) return sized(qint32(le32(b, 18)), qint32(le32(b, 22)));
    return std::nullopt;
  }
  if (b.size() >= 3 && b[0] == 'P' && b[1] >= '1' && b[1] <= '6') return pnmSize(b);
  if (b.size() >= 16 && b.startsWith("RIFF") && b.mid(8, 4) == "WEBP") return webpSize(b);
  return std::nullopt;
}

QString pictureSizeProblem(const QByteArray& bytes, const QString& what) {
  const std::optional<QSize> size = pictureHeaderSize(bytes);
  if (!size || qint64(size->width()) * size->height() <= kMaxPicturePixels) return {};
  const QString why = QStringLiteral("picture of %1 x %2 pixels, more than %3: not decoded")
                          .arg(size->width())
                          .arg(size->height())
                          .arg(kMaxPicturePixels);
  qWarning("tavolin: %s refused: %s", qUtf8Printable(what), qUtf8Printable(why));
  return why;
}

}  // namespace tavo
