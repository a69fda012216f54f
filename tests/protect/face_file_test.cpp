#include "protect/face_file.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <stdexcept>
#include <vector>

#include "base/paths.h"
#include "tests/support/test_env.h"

namespace tavo {
namespace {

using test::readFile;
using test::writeFile;

QByteArray photo() {
  return readFile(test::testData(QStringLiteral("lfw10/Tony_Blair/Tony_Blair_0001.jpg")));
}

cv::Mat decode(const QByteArray& bytes) {
  return cv::imdecode(std::vector<unsigned char>(bytes.begin(), bytes.end()), cv::IMREAD_COLOR);
}

class FaceFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QDir().mkpath(program.drives() + QStringLiteral("/c/Face/Model"));
    writeFile(program.file(QStringLiteral("Temp/model_face.jpg")), photo());
  }
  // Station paths, as the callers build them.
  QString source() const { return program.path() + QStringLiteral("Temp\\model_face.jpg"); }
  const QString base = QStringLiteral("C:\\Face\\Model\\20190512-0A1B2C3D-0000-4000-8000-00000000000A");
  QByteArray read(const char* suffix) const { return readFile(hostPath(base + suffix)); }
  bool exists(const char* suffix) const { return QFile::exists(hostPath(base + suffix)); }
  QString enrolCopy() const { return program.file(QStringLiteral("Temp/CreateArreyModel.jpg")); }

  test::TempProgramDir program;
};

TEST(KeyStream, KnownBytesAndSelfInverse) {
  // s = 0 -> 1 -> 134775814 -> ...: top bytes 0x00 0x08 0xDC 0x33.
  const QByteArray zeros(4, '\0');
  EXPECT_EQ(keyStreamTransform(zeros, 0), QByteArray("\x00\x08\xDC\x33", 4));
  EXPECT_EQ(keyStreamTransform(zeros, kSystemKey), QByteArray("\x77\xDF\xC3\x1B", 4));
  const QByteArray data = photo();
  EXPECT_EQ(keyStreamTransform(keyStreamTransform(data, kSystemKey), kSystemKey), data);
  EXPECT_TRUE(kSystemKey >= 1000 && kSystemKey <= 9999);
}

TEST_F(FaceFileTest, EncryptedFileRestoresByteForByteAndIsDeterministic) {
  EncryptImage(source(), base, kSystemKey);
  const QByteArray plain = photo();
  const QByteArray enc = read("_face.bin");
  EXPECT_EQ(enc.size(), plain.size());
  EXPECT_TRUE(decode(enc).empty()) << "an image viewer must not open the scrambled file";
  EXPECT_TRUE(QFile::exists(hostPath(source()))) << "the source stays in place";
  EncryptImage(source(), base, kSystemKey);
  EXPECT_EQ(read("_face.bin"), enc);

  EXPECT_TRUE(DecryptImage_Hier(base, kSystemKey));
  EXPECT_EQ(read("_face.jpg"), plain);

  // Another file under the same key: the same first key-stream byte.
  writeFile(program.file(QStringLiteral("Temp/x.bin")), QByteArray("\xAB\x01", 2));
  const QString other = QStringLiteral("C:\\Face\\Model\\other");
  EncryptImage(program.path() + QStringLiteral("Temp\\x.bin"), other, kSystemKey);
  EXPECT_EQ(readFile(hostPath(other + "_face.bin"))[0] ^ '\xAB', enc[0] ^ plain[0]);
}

TEST_F(FaceFileTest, EmptySourceGivesEmptyFileThatShowsNothing) {
  writeFile(program.file(QStringLiteral("Temp/model_face.jpg")), QByteArray());
  EncryptImage(source(), base, kSystemKey);
  ASSERT_TRUE(exists("_face.bin"));
  EXPECT_TRUE(read("_face.bin").isEmpty());
  EXPECT_FALSE(DecryptImageView(base, kSystemKey).has_value());
  EXPECT_FALSE(DecryptImage_Hier(base, kSystemKey));
  EXPECT_FALSE(exists("_face.jpg"));
}

TEST_F(FaceFileTest, ViewAndReencodedCopyShowTheSamePicture) {
  EncryptImage(source(), base, kSystemKey);
  const cv::Mat reference = decode(photo());
  const auto image = DecryptImageView(base, kSystemKey);
  ASSERT_TRUE(image.has_value());
  ASSERT_EQ(image->width(), reference.cols);
  ASSERT_EQ(image->height(), reference.rows);
  const QRgb px = image->pixel(100, 120);  // RGB here, BGR in OpenCV
  const cv::Vec3b ref = reference.at<cv::Vec3b>(120, 100);
  EXPECT_EQ(qRed(px), ref[2]);
  EXPECT_EQ(qGreen(px), ref[1]);
  EXPECT_EQ(qBlue(px), ref[0]);
  EXPECT_FALSE(exists("_face.jpg")) << "viewing writes nothing";

  ASSERT_TRUE(DecryptImage(base, kSystemKey, program.path()));
  const QByteArray copy = readFile(enrolCopy());
  EXPECT_NE(copy, photo());
  const cv::Mat again = decode(copy);
  ASSERT_EQ(again.size(), reference.size());
  cv::Mat diff;
  cv::absdiff(again, reference, diff);
  double worst = 0;
  cv::minMaxLoc(diff.reshape(1), nullptr, &worst);
  EXPECT_LT(cv::sum(cv::mean(diff))[0], 3.0);
  EXPECT_LE(worst, 16.0);
}

TEST_F(FaceFileTest, AnotherKeyOrDamagedFileWritesNothingAndLeavesNoStaleCopy) {
  EncryptImage(source(), base, kSystemKey);
  ASSERT_TRUE(DecryptImage(base, kSystemKey, program.path()));
  ASSERT_TRUE(QFile::exists(enrolCopy()));

  EXPECT_NO_THROW({ EXPECT_FALSE(DecryptImageView(base, 1234).has_value()); });
  EXPECT_FALSE(DecryptImage_Hier(base, 1234));
  EXPECT_FALSE(exists("_face.jpg"));
  // The earlier model's picture must not pass for this one.
  EXPECT_FALSE(DecryptImage(base, 1234, program.path()));
  EXPECT_FALSE(QFile::exists(enrolCopy()));

  // Cut off right after the start-of-image marker.
  writeFile(hostPath(base + "_face.bin"), read("_face.bin").left(2));
  EXPECT_FALSE(DecryptImageView(base, kSystemKey).has_value());
  EXPECT_FALSE(DecryptImage_Hier(base, kSystemKey));
}

TEST_F(FaceFileTest, MissingInputOrUnwritableTargetThrowsAndWritesNothing) {
  try {
    EncryptImage(program.path() + QStringLiteral("Temp\\absent.jpg"), base, kSystemKey);
    FAIL() << "no error for a missing source";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("absent.jpg"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(exists("_face.bin"));
  const QString missing = QStringLiteral("C:\\Face\\Model\\nothing-here");
  EXPECT_THROW(DecryptImageView(missing, kSystemKey), std::runtime_error);
  EXPECT_THROW(DecryptImage_Hier(missing, kSystemKey), std::runtime_error);

  // A missing model file also takes away the copy of the model before.
  EncryptImage(source(), base, kSystemKey);
  ASSERT_TRUE(DecryptImage(base, kSystemKey, program.path()));
  EXPECT_THROW(DecryptImage(missing, kSystemKey, program.path()), std::runtime_error);
  EXPECT_FALSE(QFile::exists(enrolCopy()));

  EXPECT_THROW(EncryptImage(source(), QStringLiteral("C:\\No\\Such\\Folder\\x"), kSystemKey),
               std::runtime_error);
  EXPECT_FALSE(QDir(program.drives() + QStringLiteral("/c/No")).exists());
}

// Found by fuzz/face_file_fuzz.cpp: a header claiming 30000 x 30000 pixels made the decoder reserve
// 2.7 GB for a file of a few kilobytes.
TEST_F(FaceFileTest, PictureClaimingTooManyPixelsIsRefusedUnreadAndWritesNothing) {
  QByteArray jpeg = photo();
  qsizetype sof = 2;  // the frame header: FF C0 (or another start of frame), length, precision, height, width
  while (sof + 9 < jpeg.size() && !(uchar(jpeg[sof]) == 0xFF && (uchar(jpeg[sof + 1]) & 0xF0) == 0xC0 &&
                                    uchar(jpeg[sof + 1]) != 0xC4 && uchar(jpeg[sof + 1]) != 0xC8))
    sof += 2 + (uchar(jpeg[sof + 2]) << 8 | uchar(jpeg[sof + 3]));
  ASSERT_LT(sof + 9, jpeg.size());
  for (int i : {5, 7}) jpeg.replace(sof + i, 2, QByteArray("\x75\x30", 2));  // 30000
  writeFile(program.file(QStringLiteral("Temp/model_face.jpg")), jpeg);
  EncryptImage(source(), base, kSystemKey);
  ASSERT_TRUE(exists("_face.bin"));

  EXPECT_FALSE(DecryptImageView(base, kSystemKey).has_value());
  EXPECT_FALSE(DecryptImage_Hier(base, kSystemKey));
  EXPECT_FALSE(exists("_face.jpg"));
  EXPECT_FALSE(DecryptImage(base, kSystemKey, program.path()));
  EXPECT_FALSE(QFile::exists(enrolCopy()));
}

}  // namespace
}  // namespace tavo
