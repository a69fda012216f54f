#pragma once
#include <QByteArray>
#include <QImage>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace tavo {

// The installation key: every encrypted face file of the station is written with it.
inline constexpr std::uint32_t kSystemKey = 5273;

// Suffixes of a record's files after its base path.
inline constexpr char kFaceBinSuffix[] = "_face.bin";  // encrypted face file
inline constexpr char kFaceJpgSuffix[] = "_face.jpg";  // plain face picture

// Name of the decrypted copy in the program directory that the template base enrols.
inline constexpr char kCreateArreyModelName[] = "Temp\\CreateArreyModel.jpg";

// The key stream applied in place: state s = code; per byte s = s * 134775813 + 1 (mod 2^32) and
// the byte is XORed with s >> 24. Applying it twice restores the data.
void applyKeyStream(char* data, std::size_t size, std::uint32_t code);
QByteArray keyStreamTransform(const QByteArray& data, std::uint32_t code);

// All paths are station paths (they pass through hostPath()); fileNameJpeg is a base path
// without suffix.

// Reads fileNameJpegSource whole (any bytes) and writes fileNameJpeg + "_face.bin" atomically.
// Throws std::runtime_error when the source cannot be read or the target cannot be written.
void EncryptImage(const QString& fileNameJpegSource, const QString& fileNameJpeg, std::uint32_t code);

// The picture in fileNameJpeg + "_face.bin", decoded in memory; empty when the deciphered bytes are
// not a readable JPEG (a damaged file or another key). Nothing is written. Throws
// std::runtime_error when the "_face.bin" file cannot be read.
std::optional<QImage> DecryptImageView(const QString& fileNameJpeg, std::uint32_t code);

// Writes the deciphered bytes unchanged to fileNameJpeg + "_face.jpg" when they open as a JPEG
// picture; returns whether it wrote. Throws std::runtime_error when the "_face.bin" file cannot
// be read or the "_face.jpg" file cannot be written.
bool DecryptImage_Hier(const QString& fileNameJpeg, std::uint32_t code);

// The picture of a face file's bytes (as read, still enciphered) re-encoded as a JPEG of quality
// 100: what DecryptImage writes. Empty when the deciphered bytes are no readable JPEG or declare
// more pixels than may be decoded.
QByteArray enrolmentJpeg(QByteArray faceFileBytes, std::uint32_t code);

// Decodes fileNameJpeg + "_face.bin" and writes the picture re-encoded as a JPEG of quality 100 to
// programPath + "Temp\CreateArreyModel.jpg". Returns true only when it wrote a fresh file: a copy
// left by an earlier call is deleted first, so after false the file is not there. Throws
// std::runtime_error when the "_face.bin" file cannot be read.
bool DecryptImage(const QString& fileNameJpeg, std::uint32_t code, const QString& programPath);

}  // namespace tavo
