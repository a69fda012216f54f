// Pictures from outside are refused above kMaxPicturePixels before any decoder allocates them:
// the header probe agrees with the real decoders, and every road that decodes a picture from
// outside (camera or picked file in PhotoGet, stream snapshots, face files, the face engine)
// refuses a 20000 x 20000 picture with a clear log line.
#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <cstdlib>
#include <opencv2/imgcodecs.hpp>

#include "base/paths.h"
#include "base/picture_limits.h"
#include "face/picture/face_cropper.h"
#include "face/picture/image_files.h"
#include "face/sdk/fsdk.h"
#include "protect/face_file.h"
#include "tests/support/huge_picture.h"
#include "tests/support/station_on_disk.h"

namespace tavo::test {
namespace {

QByteArray encoded(const char* ext, const cv::Mat& img, const std::vector<int>& params = {}) {
  std::vector<uchar> buf;
  if (!cv::imencode(ext, img, buf, params)) return {};
  return QByteArray(reinterpret_cast<const char*>(buf.data()), qsizetype(buf.size()));
}

TEST(PictureLimits, TheHeaderProbeReadsWhatTheDecodersDecode) {
  const cv::Mat img(37, 53, CV_8UC3, cv::Scalar(10, 200, 30));
  QList<QPair<QString, QByteArray>> pictures = {
      {"jpg", encoded(".jpg", img)},
      {"progressive jpg", encoded(".jpg", img, {cv::IMWRITE_JPEG_PROGRESSIVE, 1})},
      {"png", encoded(".png", img)},
      {"bmp", encoded(".bmp", img)},
      {"ppm", encoded(".ppm", img)},
      {"pgm", encoded(".pgm", cv::Mat(37, 53, CV_8UC1, cv::Scalar(9)))},
      {"webp", encoded(".webp", img)},
      {"lossless webp", encoded(".webp", img, {cv::IMWRITE_WEBP_QUALITY, 101})},
  };
  const QDir formats(testData("samples/formats"));
  for (const QString& f : formats.entryList(QDir::Files, QDir::Name)) pictures.append({f, readFile(formats.filePath(f))});
  int probed = 0;
  for (const auto& [what, bytes] : pictures) {
    SCOPED_TRACE(what.toStdString());
    ASSERT_FALSE(bytes.isEmpty());
    const std::optional<QSize> size = pictureHeaderSize(bytes);
    cv::Mat decoded = cv::imdecode(cv::Mat(1, int(bytes.size()), CV_8UC1, const_cast<char*>(bytes.constData())), cv::IMREAD_COLOR);
    QSize expected = decoded.empty() ? QImage::fromData(bytes).size() : QSize(decoded.cols, decoded.rows);
    if (!expected.isValid() || expected.isEmpty()) continue;  // no decoder reads it either
    if (what.endsWith("tiff") || what.endsWith("ico")) continue;  // left to the decoder's own limit
    ASSERT_TRUE(size.has_value());
    EXPECT_EQ(*size, expected);
    ++probed;
  }
  EXPECT_GE(probed, 12);
  EXPECT_FALSE(pictureHeaderSize("not a picture").has_value());
  EXPECT_FALSE(pictureHeaderSize(QByteArray("\xFF\xD8\xFF", 3)).has_value());
}

TEST(PictureLimits, TheLimitIsFiftyMegapixels) {
  const QByteArray png = encoded(".png", cv::Mat(8, 8, CV_8UC3, cv::Scalar(1, 2, 3)));
  EXPECT_TRUE(pictureSizeProblem(withPngSize(png, 10000, 5000), "exactly the limit").isEmpty());
  const QString why = pictureSizeProblem(withPngSize(png, 10000, 5001), "one row more");
  EXPECT_TRUE(why.contains("10000 x 5001")) << why.toStdString();
  EXPECT_FALSE(pictureSizeProblem(withPngSize(png, 0xFFFFFFFFu, 0xFFFFFFFFu), "absurd").isEmpty());
  // libjpeg decodes past a segment length under 2 and stray bytes between segments (found by
  // fuzzing: 251 bytes that decoded to 1.4 GB), so the probe must read the frame behind them too.
  const QByteArray lenientJpeg("\xFF\xD8\xFF\xE0\x00\x01\x00\x00\xFF\xC0\x00\x11\x08\x4E\x20\x4E\x20\x03\x01\x11\x00", 21);
  EXPECT_EQ(pictureHeaderSize(lenientJpeg), QSize(20000, 20000));
  EXPECT_FALSE(pictureSizeProblem(lenientJpeg, "lenient header").isEmpty());
}

class OversizedPictureTest : public ::testing::Test, protected StationOnDisk {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.installCascades());
    portrait = readFile(testData("lfw10/Colin_Powell/Colin_Powell_0001.jpg"));
    hugeJpeg = withJpegSize(portrait, 20000, 20000);
    ASSERT_FALSE(hugeJpeg.isEmpty());
    ASSERT_EQ(pictureHeaderSize(hugeJpeg), QSize(20000, 20000));
  }
  QByteArray portrait, hugeJpeg;
};

TEST_F(OversizedPictureTest, EveryRoadRefusesItBeforeDecoding) {
  // PhotoGet on a picked or camera file: no face, a log line that says why.
  const QString picked = dir.file("picked_face.jpg");
  writeFile(picked, hugeJpeg);
  FaceCropper cropper(station);
  cropper.loadCascades();
  EXPECT_FALSE(cropper.PhotoGet(2, picked).the_fase);
  EXPECT_EQ(station.log.lines().filter("20000 x 20000").size(), 1) << station.log.lines().join('\n').toStdString();
  // The same picture's size passes when it is a real one.
  writeFile(picked, portrait);
  EXPECT_TRUE(cropper.PhotoGet(2, picked).the_fase);

  // A stream snapshot (PNG) turned into the working JPEG.
  const QString png = dir.file("Temp/model_full.png");
  writeFile(png, withPngSize(encoded(".png", cv::Mat(8, 8, CV_8UC3, cv::Scalar(0))), 20000, 20000));
  try {
    PNGtoJPEG(png, dir.file("Temp/model_full.jpg"), 90);
    ADD_FAILURE() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_TRUE(QString::fromUtf8(e.what()).contains("20000 x 20000")) << e.what();
  }

  // A face file (a model's, or one the import brought): no picture, and no plain copy made.
  const QString model = dir.file("model");
  writeFile(model + "_face.bin", keyStreamTransform(hugeJpeg, kSystemKey));
  EXPECT_FALSE(DecryptImageView(model, kSystemKey).has_value());
  EXPECT_FALSE(DecryptImage_Hier(model, kSystemKey));
  EXPECT_FALSE(QFile::exists(model + "_face.jpg"));

  // The face engine's loader.
  HImage h = 0;
  EXPECT_EQ(FSDK_LoadImageFromFile(&h, picked.toUtf8().constData()), FSDKE_OK);
  FSDK_FreeImage(h);
  writeFile(picked, hugeJpeg);
  EXPECT_EQ(FSDK_LoadImageFromFile(&h, picked.toUtf8().constData()), FSDKE_BAD_FILE_FORMAT);
}

// OpenCV decodes more formats than the probe can size (TIFF, JPEG 2000...): those are refused
// unread, the formats of the station's pictures pass. Behind the probe OpenCV's own limit holds,
// set at start-up, for whatever reaches a decoder by another road.
TEST(PictureLimits, FormatsWithoutAReadableSizeAreRefusedAndOpenCvHasTheLimitToo) {
  const cv::Mat img(37, 53, CV_8UC3, cv::Scalar(10, 200, 30));
  for (const char* kept : {".jpg", ".png"}) EXPECT_TRUE(pictureSizeProblem(encoded(kept, img), kept).isEmpty()) << kept;
  QList<QPair<QString, QByteArray>> refused = {
      {"tiff", encoded(".tiff", img)},
      {"sample tiff", readFile(testData(QStringLiteral("samples/formats/einstein.tiff")))},
      {"jpeg 2000", encoded(".jp2", img)},
      {"jpeg without a frame header", QByteArray("\xFF\xD8\xFF\xDA\x00\x02", 6)},
  };
  for (const auto& [what, bytes] : refused) {
    if (bytes.isEmpty()) continue;  // no encoder for it in this OpenCV
    EXPECT_TRUE(pictureSizeProblem(bytes, what).contains(QStringLiteral("format not accepted"))) << qPrintable(what);
  }

  EXPECT_STREQ(std::getenv(kDecoderPixelLimitVariable), "50000000");
  // A BMP header declaring 8000 x 8000: OpenCV stops at its header too.
  QByteArray bmp = encoded(".bmp", img);
  for (int at : {18, 22})
    for (int k = 0; k < 4; ++k) bmp[at + k] = char((8000 >> (8 * k)) & 0xFF);
  ASSERT_EQ(pictureHeaderSize(bmp), QSize(8000, 8000));
  QString error;
  try {
    const cv::Mat decoded = cv::imdecode(cv::Mat(1, int(bmp.size()), CV_8UC1, bmp.data()), cv::IMREAD_COLOR);
    error = decoded.empty() ? QStringLiteral("empty") : QStringLiteral("decoded");
  } catch (const cv::Exception& e) {
    error = QString::fromUtf8(e.what());
  }
  EXPECT_TRUE(error.contains(QStringLiteral("CV_IO_MAX_IMAGE_PIXELS"))) << qPrintable(error);
}

}  // namespace
}  // namespace tavo::test
