#include "base/picture_limits.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

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

const QByteArray kPngSignature("\x89PNG\r\n\x1a\n", 8);

std::optional<QSize> pngSize(const QByteArray& b, qsizetype at) {
  if (b.size() < at + 24 || b.mid(at, 8) != kPngSignature || b.mid(at + 12, 4) != "IHDR") return std::nullopt;
  return sized(be32(b, at + 16), be32(b, at + 20));
}

// An icon holding PNG pictures (the only kind the face engine decodes from it): the largest.
std::optional<QSize> iconSize(const QByteArray& b) {
  std::optional<QSize> largest;
  const unsigned count = le16(b, 4);
  for (unsigned i = 0; i < count && 6 + 16 * qsizetype(i + 1) <= b.size(); ++i) {
    const qsizetype entry = 6 + 16 * qsizetype(i);
    const std::optional<QSize> s = pngSize(b, qsizetype(le32(b, entry + 12)));
    if (s && (!largest || qint64(s->width()) * s->height() > qint64(largest->width()) * largest->height())) largest = s;
  }
  return largest;
}

}  // namespace

std::optional<QSize> pictureHeaderSize(const QByteArray& b) {
  if (b.size() >= 4 && byteAt(b, 0) == 0xFF && byteAt(b, 1) == 0xD8) return jpegSize(b);
  if (b.startsWith(kPngSignature)) return pngSize(b, 0);
  if (b.size() >= 22 && le16(b, 0) == 0 && le16(b, 2) == 1) return iconSize(b);
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
  if (bytes.isEmpty()) return {};  // nothing to decode: the caller's "not a picture"
  const std::optional<QSize> size = pictureHeaderSize(bytes);
  QString why;
  // A format without a size here (TIFF, JPEG 2000, OpenEXR...) or a header that cannot be read
  // could still be decoded whole by OpenCV: refused as well.
  if (!size)
    why = QStringLiteral("picture format not accepted (JPEG, PNG, GIF, BMP, PNM, WebP, an icon of PNGs, with a readable header): not decoded");
  else if (qint64(size->width()) * size->height() > kMaxPicturePixels)
    why = QStringLiteral("picture of %1 x %2 pixels, more than %3: not decoded")
              .arg(size->width())
              .arg(size->height())
              .arg(kMaxPicturePixels);
  if (why.isEmpty()) return {};
  qWarning("tavolin: %s refused: %s", qUtf8Printable(what), qUtf8Printable(why));
  return why;
}

}  // namespace tavo

namespace tavo {

void enforceDecoderPixelLimit(char** argv) {
  // OpenCV reads its limit once, when its library is loaded: it must be in the environment the
  // process starts with. A limit as strict or stricter is kept.
  const char* have = std::getenv(kDecoderPixelLimitVariable);
  if (have && *have) {
    char* end = nullptr;
    const long long v = std::strtoll(have, &end, 10);
    if (*end == '\0' && v > 0 && v <= kMaxPicturePixels) return;
  }
  const std::string want = std::to_string(kMaxPicturePixels);
  if (::setenv(kDecoderPixelLimitVariable, want.c_str(), 1) != 0 || !argv || !argv[0]) return;
  ::execv("/proc/self/exe", argv);
  std::fprintf(stderr, "tavolin: %s=%s not applied (%s); pictures are still checked before decoding\n",
               kDecoderPixelLimitVariable, want.c_str(), std::strerror(errno));
}

}  // namespace tavo
