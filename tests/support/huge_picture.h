#pragma once
#include <QByteArray>
#include <cstdint>

namespace tavo::test {

// A real small picture whose header is made to declare width x height: what a hostile sender
// needs to make a decoder allocate gigabytes, in a few kilobytes (nothing big is stored).
// JPEG: the first frame header (SOFn) is rewritten; empty when there is none.
inline QByteArray withJpegSize(QByteArray jpeg, int width, int height) {
  for (int i = 2; i + 9 <= jpeg.size();) {
    const auto marker = static_cast<unsigned char>(jpeg[i + 1]);
    if (static_cast<unsigned char>(jpeg[i]) != 0xFF) return {};
    const int length = static_cast<unsigned char>(jpeg[i + 2]) << 8 | static_cast<unsigned char>(jpeg[i + 3]);
    if (marker >= 0xC0 && marker <= 0xC2) {
      jpeg[i + 5] = char(height >> 8);
      jpeg[i + 6] = char(height & 0xFF);
      jpeg[i + 7] = char(width >> 8);
      jpeg[i + 8] = char(width & 0xFF);
      return jpeg;
    }
    i += 2 + length;
  }
  return {};
}

// PNG: the IHDR chunk is rewritten, its CRC made right again.
inline QByteArray withPngSize(QByteArray png, std::uint32_t width, std::uint32_t height) {
  auto put32 = [&](int at, std::uint32_t v) {
    for (int k = 0; k < 4; ++k) png[at + k] = char(v >> (24 - 8 * k));
  };
  put32(16, width);
  put32(20, height);
  std::uint32_t crc = 0xFFFFFFFFu;
  for (int i = 12; i < 29; ++i) {  // "IHDR" and its 13 data bytes
    crc ^= static_cast<unsigned char>(png[i]);
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  put32(29, ~crc);
  return png;
}

}  // namespace tavo::test
