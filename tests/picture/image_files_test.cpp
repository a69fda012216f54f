// PNGtoJPEG and CutImage on real pictures; JPEG quality is read from the file's tables.
#include "tests/picture/picture_fixture.h"

#include "face/picture/image_files.h"

namespace tavo::test {
namespace {

// libjpeg's base luminance table in natural order; files store it in zigzag order.
constexpr int kLuminance[64] = {16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
                                14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
                                18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
                                49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
constexpr int kZigzag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
                             41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
                             30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// The first (luminance) quantisation table of a JPEG file, in zigzag order; empty if none.
std::vector<int> luminanceTable(const QByteArray& jpeg) {
  const auto* b = reinterpret_cast<const unsigned char*>(jpeg.constData());
  for (qsizetype i = 2; i + 4 < jpeg.size();) {
    if (b[i] != 0xFF) return {};
    const int marker = b[i + 1];
    const int len = (b[i + 2] << 8) | b[i + 3];
    if (marker == 0xDB && i + 5 + 64 <= jpeg.size() && (b[i + 4] >> 4) == 0)
      return std::vector<int>(b + i + 5, b + i + 5 + 64);
    if (marker == 0xDA) return {};
    i += 2 + len;
  }
  return {};
}

// The table libjpeg writes for a quality setting.
std::vector<int> tableForQuality(int q) {
  const int scale = q < 50 ? 5000 / q : 200 - 2 * q;
  std::vector<int> t(64);
  for (int k = 0; k < 64; ++k) t[k] = std::clamp((kLuminance[kZigzag[k]] * scale + 50) / 100, 1, 255);
  return t;
}

double meanDiff(const cv::Mat& a, const cv::Mat& b) {
  if (a.size() != b.size()) return 1e9;
  cv::Mat d;
  cv::absdiff(a, b, d);
  return cv::mean(cv::mean(d))[0];
}

class ImageFilesTest : public PictureTest {
 protected:
  // A real photograph at 640 x 480, stored losslessly so that the crop can be compared.
  cv::Mat photo640() {
    cv::Mat img = readImage(testData("samples/formats/einstein.jpeg"));
    cv::resize(img, img, cv::Size(640, 480));
    return img;
  }
};

TEST_F(ImageFilesTest, CutImageCropsLeftAndRightAndSavesAtQuality90) {
  const cv::Mat img = photo640();
  const QString file = temp("model_full.jpg");
  writeImage(dir.file("full.png"), img);
  ASSERT_TRUE(QFile::copy(dir.file("full.png"), file));  // PNG bytes under a .jpg name

  CutImage(station.tempFile("model_full.jpg"), 100, 50, 0, 0);

  const cv::Mat out = readImage(file);
  ASSERT_EQ(out.size(), cv::Size(490, 480));
  EXPECT_LT(meanDiff(out, img(cv::Rect(100, 0, 490, 480))), 3.0);
  EXPECT_GT(meanDiff(out, img(cv::Rect(101, 0, 490, 480))), meanDiff(out, img(cv::Rect(100, 0, 490, 480))));
  EXPECT_EQ(luminanceTable(readFile(file)), tableForQuality(90));
}

TEST_F(ImageFilesTest, CutImageIgnoresPairsThatEatThePicture) {
  const cv::Mat img = photo640();
  const QString file = temp("model_full.jpg");
  writeImage(file, img);
  const struct {
    int l, r, t, b;
    cv::Size size;
  } cases[] = {
      {300, 340, 0, 0, {640, 480}},    // sum equals the width: no horizontal crop, only re-encoded
      {400, 400, 10, 20, {640, 450}},  // sum above the width; top and bottom still cut
      {10, 20, 240, 240, {610, 480}},  // sum equals the height
      {-50, 0, 0, -7, {640, 480}},     // negative cuts count as nothing
      {0, 0, 0, 0, {640, 480}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.l << "," << c.r << "," << c.t << "," << c.b);
    writeImage(file, img);
    CutImage(file, c.l, c.r, c.t, c.b);
    const QByteArray bytes = readFile(file);
    const cv::Mat out = readImage(file);
    EXPECT_EQ(out.size(), c.size);
    EXPECT_EQ(luminanceTable(bytes), tableForQuality(90));
  }
  writeImage(file, img);
  CutImage(file, 0, 0, 10, 20);
  EXPECT_LT(meanDiff(readImage(file), img(cv::Rect(0, 10, 640, 450))), 4.0);
}

TEST_F(ImageFilesTest, CutImageRefusesBrokenPicturesAndLeavesThem) {
  for (const char* broken : {"samples/formats/corrupted.png", "samples/formats/empty.png"}) {
    SCOPED_TRACE(broken);
    const QString file = temp("model_full.jpg");
    QFile::remove(file);
    ASSERT_TRUE(QFile::copy(testData(broken), file));
    const QByteArray before = readFile(file);
    EXPECT_THROW(CutImage(file, 10, 10, 0, 0), std::runtime_error);
    EXPECT_EQ(readFile(file), before);
  }
  EXPECT_THROW(CutImage(temp("missing.jpg"), 10, 10, 0, 0), std::runtime_error);
  EXPECT_FALSE(QFileInfo::exists(temp("missing.jpg")));
}

TEST_F(ImageFilesTest, PngToJpegWritesQuality100AndDeletesThePng) {
  const QString png = temp("model_full.png");
  ASSERT_TRUE(QFile::copy(testData("samples/formats/einstein.png"), png));
  const cv::Mat original = readImage(png);
  ASSERT_FALSE(original.empty());

  const QString written = PNGtoJPEG(station.tempFile("model_full.png"), station.tempFile("model_full.jpg"), 100);

  EXPECT_EQ(written, station.tempFile("model_full.jpg"));
  EXPECT_FALSE(QFileInfo::exists(png));
  const QByteArray jpeg = readFile(temp("model_full.jpg"));
  EXPECT_EQ(luminanceTable(jpeg), tableForQuality(100));
  EXPECT_LT(meanDiff(readImage(temp("model_full.jpg")), original), 1.5);
}

TEST_F(ImageFilesTest, PngToJpegReplacesTheDestinationExtension) {
  const QString png = dir.file("snap.png");
  writeImage(png, photo640());
  EXPECT_EQ(PNGtoJPEG(png, dir.file("out.jpeg"), 80), dir.file("out.jpg"));
  EXPECT_TRUE(QFileInfo::exists(dir.file("out.jpg")));
  EXPECT_FALSE(QFileInfo::exists(dir.file("out.jpeg")));
  EXPECT_EQ(luminanceTable(readFile(dir.file("out.jpg"))), tableForQuality(80));
}

TEST_F(ImageFilesTest, PngToJpegKeepsABrokenPngAndWritesNothing) {
  const QString png = temp("model_full.png");
  ASSERT_TRUE(QFile::copy(testData("samples/formats/corrupted.png"), png));
  EXPECT_THROW(PNGtoJPEG(png, temp("model_full.jpg"), 100), std::runtime_error);
  EXPECT_TRUE(QFileInfo::exists(png));
  EXPECT_FALSE(QFileInfo::exists(temp("model_full.jpg")));
  // A missing PNG (a failed snapshot) is an error too.
  EXPECT_THROW(PNGtoJPEG(temp("absent.png"), temp("model_full.jpg"), 100), std::runtime_error);
  EXPECT_THROW(PNGtoJPEG(png, temp("model_full.jpg"), 0), std::runtime_error);
}

}  // namespace
}  // namespace tavo::test
