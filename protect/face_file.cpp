#include "protect/face_file.h"

#include <QFile>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <stdexcept>
#include <vector>

#include "base/paths.h"
#include "base/picture_limits.h"
#include "base/regular_file.h"

namespace tavo {

namespace {

QByteArray readWhole(const QString& path) {
  OutsideFile f = readOutsideFile(hostPath(path), kMaxPictureFileBytes);
  if (!f.ok)
    throw std::runtime_error(QStringLiteral("Cannot open file \"%1\": %2").arg(path, f.error).toStdString());
  return std::move(f.bytes);
}

void writeOrThrow(const QString& path, const QByteArray& data) {
  QString error;
  if (!writeFileAtomically(path, data, &error)) {
    throw std::runtime_error(
        QStringLiteral("Cannot write file \"%1\": %2").arg(path, error).toStdString());
  }
}

QByteArray readDeciphered(const QString& fileNameJpeg, std::uint32_t code) {
  QByteArray data = readWhole(fileNameJpeg + QLatin1String(kFaceBinSuffix));
  applyKeyStream(data.data(), static_cast<std::size_t>(data.size()), code);
  return data;
}

// Only JPEG data counts: bytes deciphered with another key rarely begin with a JPEG marker, and
// the decoder is not asked to guess other formats.
bool looksLikeJpeg(const QByteArray& data) {
  return data.size() >= 4 && static_cast<unsigned char>(data[0]) == 0xFF &&
         static_cast<unsigned char>(data[1]) == 0xD8 && static_cast<unsigned char>(data[2]) == 0xFF;
}

cv::Mat decodeJpeg(const QByteArray& data) {
  if (!looksLikeJpeg(data)) return {};
  if (!pictureSizeProblem(data, QStringLiteral("face file")).isEmpty()) return {};
  try {
    const cv::Mat raw(1, static_cast<int>(data.size()), CV_8UC1,
                      const_cast<char*>(data.constData()));
    return cv::imdecode(raw, cv::IMREAD_COLOR);
  } catch (const cv::Exception&) {
    return {};
  }
}

}  // namespace

void applyKeyStream(char* data, std::size_t size, std::uint32_t code) {
  std::uint32_t s = code;
  for (std::size_t i = 0; i < size; ++i) {
    s = s * 134775813u + 1u;
    data[i] = static_cast<char>(static_cast<unsigned char>(data[i]) ^ (s >> 24));
  }
}

QByteArray keyStreamTransform(const QByteArray& data, std::uint32_t code) {
  QByteArray out = data;
  applyKeyStream(out.data(), static_cast<std::size_t>(out.size()), code);
  return out;
}

void EncryptImage(const QString& fileNameJpegSource, const QString& fileNameJpeg,
                  std::uint32_t code) {
  QByteArray data = readWhole(fileNameJpegSource);
  applyKeyStream(data.data(), static_cast<std::size_t>(data.size()), code);
  writeOrThrow(fileNameJpeg + QLatin1String(kFaceBinSuffix), data);
}

std::optional<QImage> DecryptImageView(const QString& fileNameJpeg, std::uint32_t code) {
  const cv::Mat bgr = decodeJpeg(readDeciphered(fileNameJpeg, code));
  if (bgr.empty() || bgr.type() != CV_8UC3) return std::nullopt;
  QImage image(bgr.cols, bgr.rows, QImage::Format_RGB888);
  if (image.isNull()) return std::nullopt;
  for (int y = 0; y < bgr.rows; ++y) {
    const unsigned char* src = bgr.ptr<unsigned char>(y);
    unsigned char* dst = image.scanLine(y);
    for (int x = 0; x < bgr.cols; ++x) {
      dst[3 * x] = src[3 * x + 2];
      dst[3 * x + 1] = src[3 * x + 1];
      dst[3 * x + 2] = src[3 * x];
    }
  }
  return image;
}

bool DecryptImage_Hier(const QString& fileNameJpeg, std::uint32_t code) {
  const QByteArray data = readDeciphered(fileNameJpeg, code);
  if (decodeJpeg(data).empty()) return false;
  writeOrThrow(fileNameJpeg + QLatin1String(kFaceJpgSuffix), data);
  return true;
}

QByteArray enrolmentJpeg(QByteArray faceFileBytes, std::uint32_t code) {
  applyKeyStream(faceFileBytes.data(), static_cast<std::size_t>(faceFileBytes.size()), code);
  const cv::Mat picture = decodeJpeg(faceFileBytes);
  if (picture.empty()) return {};
  std::vector<unsigned char> encoded;
  try {
    if (!cv::imencode(".jpg", picture, encoded, {cv::IMWRITE_JPEG_QUALITY, 100})) return {};
  } catch (const cv::Exception&) {
    return {};
  }
  return QByteArray(reinterpret_cast<const char*>(encoded.data()), static_cast<qsizetype>(encoded.size()));
}

bool DecryptImage(const QString& fileNameJpeg, std::uint32_t code, const QString& programPath) {
  // A copy from an earlier call must never pass for this model's picture, not even when reading
  // fails and the caller goes on.
  const QString target = programPath + QLatin1String(kCreateArreyModelName);
  const bool staleGone = removeFile(target);
  const QByteArray data = readWhole(fileNameJpeg + QLatin1String(kFaceBinSuffix));
  if (!staleGone) return false;
  const QByteArray bytes = enrolmentJpeg(data, code);
  return !bytes.isEmpty() && writeFileAtomically(target, bytes);
}

}  // namespace tavo
