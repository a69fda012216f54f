#include "face/picture/image_files.h"

#include <QByteArray>
#include <QFile>
#include <opencv2/imgcodecs.hpp>
#include <stdexcept>
#include <vector>

#include "base/paths.h"
#include "base/picture_limits.h"

namespace tavo {

namespace {

std::runtime_error fileError(const QString& what, const QString& path) {
  return std::runtime_error(QStringLiteral("%1: %2").arg(what, path).toStdString());
}

cv::Mat readPicture(const QString& path) {
  const QString host = hostPath(path);
  QFile f(host);
  if (!f.open(QIODevice::ReadOnly)) throw fileError(QStringLiteral("cannot open picture"), path);
  const QByteArray bytes = f.readAll();
  if (const QString why = pictureSizeProblem(bytes, host); !why.isEmpty())
    throw fileError(QStringLiteral("cannot decode picture (%1)").arg(why), path);
  cv::Mat img;
  if (!bytes.isEmpty()) {
    try {
      img =
          cv::imdecode(cv::Mat(1, int(bytes.size()), CV_8UC1, const_cast<char*>(bytes.constData())), cv::IMREAD_COLOR);
    } catch (const cv::Exception&) {
      img.release();
    }
  }
  if (img.empty()) throw fileError(QStringLiteral("cannot decode picture"), path);
  return img;
}

void writeJpeg(const cv::Mat& img, const QString& path, int quality) {
  std::vector<uchar> buf;
  bool ok = false;
  try {
    ok = cv::imencode(".jpg", img, buf, {cv::IMWRITE_JPEG_QUALITY, quality});
  } catch (const cv::Exception&) {
    ok = false;
  }
  if (!ok) throw fileError(QStringLiteral("cannot encode JPEG"), path);
  QString error;
  if (!writeFileAtomically(path, QByteArray(reinterpret_cast<const char*>(buf.data()), qsizetype(buf.size())), &error))
    throw fileError(QStringLiteral("cannot write picture (%1)").arg(error), path);
}

// "dir\name.png" -> "dir\name.jpg"; a name without extension gets ".jpg" appended.
QString withJpgExtension(const QString& path) {
  const qsizetype sep = std::max(path.lastIndexOf('\\'), path.lastIndexOf('/'));
  const qsizetype dot = path.lastIndexOf('.');
  if (dot > sep) return path.left(dot) + QStringLiteral(".jpg");
  return path + QStringLiteral(".jpg");
}

}  // namespace

QString PNGtoJPEG(const QString& source, const QString& dest, int quality) {
  if (quality < 1 || quality > 100)
    throw std::runtime_error(QStringLiteral("JPEG quality %1 is outside 1..100").arg(quality).toStdString());
  const cv::Mat img = readPicture(source);
  const QString target = withJpgExtension(dest);
  writeJpeg(img, target, quality);
  if (hostPath(source) != hostPath(target) && !removeFile(source))
    throw fileError(QStringLiteral("cannot delete converted PNG"), source);
  return target;
}

void CutImage(const QString& filename, int leftCut, int rightCut, int topCut, int bottomCut) {
  const cv::Mat img = readPicture(filename);
  leftCut = std::max(leftCut, 0);
  rightCut = std::max(rightCut, 0);
  topCut = std::max(topCut, 0);
  bottomCut = std::max(bottomCut, 0);
  // Sums in 64 bits: two huge cuts must not wrap round to a small one.
  if (qint64(img.rows) <= qint64(topCut) + bottomCut) topCut = bottomCut = 0;
  if (qint64(img.cols) <= qint64(leftCut) + rightCut) leftCut = rightCut = 0;
  const cv::Rect area(leftCut, topCut, img.cols - leftCut - rightCut, img.rows - topCut - bottomCut);
  writeJpeg(img(area), filename, 90);
}

}  // namespace tavo
