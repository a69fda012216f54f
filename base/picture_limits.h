#pragma once
#include <QByteArray>
#include <QSize>
#include <QString>
#include <optional>

namespace tavo {

// Pictures from outside (a picked picture, an import, a camera file, a model's face file) are
// refused above this many pixels before they are decoded: a 20000 x 20000 picture would take
// 1.2 GB as a decoded colour picture.
inline constexpr qint64 kMaxPicturePixels = 50'000'000;

// The size a picture's header declares, read without decoding it: JPEG, PNG, GIF, BMP, PNM and
// WebP. Nothing for other or damaged data (the decoder then decides, with its own limit).
std::optional<QSize> pictureHeaderSize(const QByteArray& bytes);

// Empty when the picture may be decoded; otherwise the reason, e.g. "picture of 20000 x 20000
// pixels, more than 50000000", which the caller puts into its log line. `what` names the
// picture in the process log line written here as well.
QString pictureSizeProblem(const QByteArray& bytes, const QString& what);

}  // namespace tavo
