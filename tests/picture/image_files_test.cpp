// PNGtoJPEG and CutImage on real pictures; JPEG quality is read from the file's tables.
#include "face/picture/image_files.h"

#include "tests/picture/picture_fixture.h"

namespace tavo::test {
namespace {

// The first (luminance) quantisation table of a JPEG file, in file (zigzag) order.
std::vector<int> luminanceTable(const QByteArray& jpeg) {
  const auto* b = reinterpret_cast<const unsigned char*>(jpeg.constData());
  for (qsizetype i = 2; i + 69 <= jpeg.size() && b[i] == 0xFF && b[i + 1] != 0xDA; i += 2 + (b[i + 2] << 8 | b[i + 3]))
    if (b[i + 1] == 0xDB && (b[i + 4] >> 4) == 0) return std::vector<int>(b + i + 5, b + i + 5 + 64);
  return {};
}

// The table libjpeg writes for a quality: its base table scaled, in zigzag order.
std::vector<int> tableForQuality(int q) {
  static const int base[64] = {16, 11, 12,  14,  12,  10, 16, 14,  13,  14,  18,  17,  16, 19,  24,  40,
                               26, 24, 22,  22,  24,  49, 35, 37,  29,  40,  58,  51,  61, 60,  57,  51,
                               56, 55, 64,  72,  92,  78, 64, 68,  87,  69,  55,  56,  80, 109, 81,  87,
                               95, 98, 103, 104, 103, 62, 77, 113, 121, 112, 100, 120, 92, 101, 103, 99};
  const int scale = q < 50 ? 5000 / q : 200 - 2 * q;
  std::vector<int> t(64);
  for (int k = 0; k < 64; ++k) t[k] = std::clamp((base[k] * scale + 50) / 100, 1, 255);
  return t;
}

class ImageFilesTest : public PictureTest {
 protected:
  const cv::Mat photo = [] {
    cv::Mat img = readImage(testData("samples/formats/einstein.jpeg"));
    cv::resize(img, img, cv::Size(640, 480));
    return img;
  }();
  const QString file = temp("model_full.jpg");
};

TEST_F(ImageFilesTest, CutImageCropsTheSidesAndSavesAtQuality90) {
  const struct {
    int l, r, t, b;
    cv::Rect kept;
  } cases[] = {
      {100, 50, 0, 0, {100, 0, 490, 480}},    // columns 100 to 589
      {300, 340, 0, 0, {0, 0, 640, 480}},     // the pair eats the width: only re-encoded
      {400, 400, 10, 20, {0, 10, 640, 450}},  // top and bottom still cut
      {10, 20, 240, 240, {10, 0, 610, 480}}, {-50, 0, 0, -7, {0, 0, 640, 480}},  // negative cuts count as nothing
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.l << "," << c.r << "," << c.t << "," << c.b);
    writeImage(dir.file("in.png"), photo);  // lossless, under the .jpg name
    QFile::remove(file);
    QFile::copy(dir.file("in.png"), file);
    CutImage(station.tempFile("model_full.jpg"), c.l, c.r, c.t, c.b);
    const cv::Mat out = readImage(file);
    EXPECT_LT(meanDiff(out, photo(c.kept)), 3.0);
    EXPECT_EQ(luminanceTable(readFile(file)), tableForQuality(90));
  }
}

TEST_F(ImageFilesTest, CutImageRefusesBrokenPicturesAndLeavesThem) {
  for (QString broken : {"samples/formats/corrupted.png", "samples/formats/empty.png"}) {
    QFile::remove(file);
    QFile::copy(testData(broken), file);
    const QByteArray before = readFile(file);
    EXPECT_THROW(CutImage(file, 10, 10, 0, 0), std::runtime_error);
    EXPECT_EQ(readFile(file), before);
  }
  EXPECT_THROW(CutImage(temp("missing.jpg"), 10, 10, 0, 0), std::runtime_error);
}

TEST_F(ImageFilesTest, PngToJpegWritesQuality100AndDeletesThePng) {
  const QString png = temp("model_full.png");
  ASSERT_TRUE(QFile::copy(testData("samples/formats/einstein.png"), png));
  const cv::Mat original = readImage(png);
  EXPECT_EQ(PNGtoJPEG(station.tempFile("model_full.png"), station.tempFile("model_full.jpg"), 100),
            station.tempFile("model_full.jpg"));
  EXPECT_FALSE(QFileInfo::exists(png));
  EXPECT_EQ(luminanceTable(readFile(file)), tableForQuality(100));  // all ones
  EXPECT_LT(meanDiff(readImage(file), original), 1.5);

  // The destination's extension becomes ".jpg".
  writeImage(png, photo);
  EXPECT_EQ(PNGtoJPEG(png, dir.file("out.jpeg"), 80), dir.file("out.jpg"));
  EXPECT_EQ(luminanceTable(readFile(dir.file("out.jpg"))), tableForQuality(80));
}

TEST_F(ImageFilesTest, PngToJpegKeepsABrokenPngAndWritesNothing) {
  const QString png = temp("model_full.png");
  ASSERT_TRUE(QFile::copy(testData("samples/formats/corrupted.png"), png));
  EXPECT_THROW(PNGtoJPEG(png, file, 100), std::runtime_error);
  EXPECT_TRUE(QFileInfo::exists(png));
  EXPECT_FALSE(QFileInfo::exists(file));
  EXPECT_THROW(PNGtoJPEG(temp("absent.png"), file, 100), std::runtime_error);  // a failed snapshot
}

}  // namespace
}  // namespace tavo::test
