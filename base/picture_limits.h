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
// WebP, and an icon of PNG pictures (its largest). Nothing for other or damaged data.
std::optional<QSize> pictureHeaderSize(const QByteArray& bytes);

// Empty when the picture may be decoded; otherwise the reason, e.g. "picture of 20000 x 20000
// pixels, more than 50000000", which the caller puts into its log line. A picture whose size
// pictureHeaderSize cannot tell (another format, a damaged header) is refused too: OpenCV would
// decode a TIFF or JPEG 2000 of any size. Empty bytes pass (the caller says "not a picture").
// `what` names the picture in the process log line written here as well.
QString pictureSizeProblem(const QByteArray& bytes, const QString& what);

// OpenCV's own pixel limit, the second wall behind pictureSizeProblem.
inline constexpr char kDecoderPixelLimitVariable[] = "OPENCV_IO_MAX_IMAGE_PIXELS";
// Called first in main: OpenCV takes the limit from the environment the process started with, so
// when it is missing (or laxer than kMaxPicturePixels) it is set and the program started again
// in place (execv of /proc/self/exe with the same arguments, the same process id). Returns only
// when the limit is in force, or when it cannot be (then says so on stderr).
void enforceDecoderPixelLimit(char** argv);

}  // namespace tavo
