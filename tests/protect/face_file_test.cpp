#include "protect/face_file.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <stdexcept>
#include <vector>

#include "app/paths.h"
#include "tests/support/test_env.h"

namespace tavo {
namespace {

using test::readFile;
using test::testData;
using test::writeFile;

QByteArray photo() { return readFile(testData(QStringLiteral("lfw10/Tony_Blair/Tony_Blair_0001.jpg"))); }

cv::Mat decode(const QByteArray& bytes) {
  const std::vector<unsigned char> buf(bytes.begin(), bytes.end());
  return cv::imdecode(buf, cv::IMREAD_COLOR);
}

class FaceFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(program.isValid());
    QDir().mkpath(program.drives() + QStringLiteral("/c/Face/Model"));
    writeFile(program.file(QStringLiteral("Temp/model_face.jpg")), photo());
  }
  // Station paths, as the callers build them.
  QString source() const { return program.path() + QStringLiteral("Temp\\model_face.jpg"); }
  const QString base = QStringLiteral("C:\\Face\\Model\\20190512-0A1B2C3D-0000-4000-8000-00000000000A");
  QString host(const QString& suffix) const { return hostPath(base + suffix); }
  QString target() const { return program.file(QStringLiteral("Temp/CreateArreyModel.jpg")); }

  test::TempProgramDir program;
};

TEST(KeyStream, KnownBytesAndSelfInverse) {
  // s = 0 -> 1, 134775814, ...: the top bytes 0x00, 0x08, 0xDC, 0x33.
  QByteArray zeros(4, '\0');
  EXPECT_EQ(keyStreamTransform(zeros, 0), QByteArray("\x00\x08\xDC\x33", 4));
  EXPECT_EQ(keyStreamTransform(zeros, kSystemKey), QByteArray("\x77\xDF\xC3\x1B", 4));
  const QByteArray data = photo();
  EXPECT_EQ(keyStreamTransform(keyStreamTransform(data, kSystemKey), kSystemKey), data);
  EXPECT_GE(kSystemKey, 1000u);
  EXPECT_LE(kSystemKey, 9999u);
}

TEST_F(FaceFileTest, EncryptThenHierRestoresTheSourceByteForByte) {
  EncryptImage(source(), base, kSystemKey);
  const QByteArray plain = photo();
  const QByteArray enc = readFile(host(QStringLiteral("_face.bin")));
  EXPECT_EQ(enc.size(), plain.size());
  EXPECT_NE(enc, plain);
  EXPECT_TRUE(decode(enc).empty()) << "an image viewer must not open the scrambled file";
  EXPECT_TRUE(QFile::exists(hostPath(source()))) << "the source stays in place";

  EXPECT_TRUE(DecryptImage_Hier(base, kSystemKey));
  EXPECT_EQ(readFile(host(QStringLiteral("_face.jpg"))), plain);
}

TEST_F(FaceFileTest, EncryptionIsDeterministicAndTheFirstByteDependsOnlyOnTheKey) {
  EncryptImage(source(), base, kSystemKey);
  const QByteArray first = readFile(host(QStringLiteral("_face.bin")));
  EncryptImage(source(), base, kSystemKey);
  EXPECT_EQ(readFile(host(QStringLiteral("_face.bin"))), first);

  // Another file under the same key: the first key-stream byte is the same.
  writeFile(program.file(QStringLiteral("Temp/other.bin")), QByteArray("\xAB\x01\x02", 3));
  const QString otherBase = QStringLiteral("C:\\Face\\Model\\other");
  EncryptImage(program.path() + QStringLiteral("Temp\\other.bin"), otherBase, kSystemKey);
  const QByteArray other = readFile(hostPath(otherBase + QStringLiteral("_face.bin")));
  ASSERT_EQ(other.size(), 3);
  const QByteArray plain = photo();
  EXPECT_EQ(other[0] ^ '\xAB', first[0] ^ plain[0]);
  // A different key gives a different stream.
  EncryptImage(source(), otherBase, kSystemKey + 1);
  EXPECT_NE(readFile(hostPath(otherBase + QStringLiteral("_face.bin"))).left(16), first.left(16));
}

TEST_F(FaceFileTest, EmptySourceGivesEmptyFileThatShowsNothing) {
  writeFile(program.file(QStringLiteral("Temp/model_face.jpg")), QByteArray());
  EncryptImage(source(), base, kSystemKey);
  ASSERT_TRUE(QFile::exists(host(QStringLiteral("_face.bin"))));
  EXPECT_EQ(QFileInfo(host(QStringLiteral("_face.bin"))).size(), 0);
  EXPECT_FALSE(DecryptImageView(base, kSystemKey).has_value());
  EXPECT_FALSE(DecryptImage_Hier(base, kSystemKey));
  EXPECT_FALSE(QFile::exists(host(QStringLiteral("_face.jpg"))));
  EXPECT_FALSE(DecryptImage(base, kSystemKey, program.path()));
}

TEST_F(FaceFileTest, ViewShowsThePicture) {
  EncryptImage(source(), base, kSystemKey);
  const auto image = DecryptImageView(base, kSystemKey);
  ASSERT_TRUE(image.has_value());
  const cv::Mat reference = decode(photo());
  ASSERT_EQ(image->width(), reference.cols);
  ASSERT_EQ(image->height(), reference.rows);
  // Same pixel, colour order RGB in the QImage, BGR in OpenCV.
  const QRgb px = image->pixel(100, 120);
  const cv::Vec3b ref = reference.at<cv::Vec3b>(120, 100);
  EXPECT_EQ(qRed(px), ref[2]);
  EXPECT_EQ(qGreen(px), ref[1]);
  EXPECT_EQ(qBlue(px), ref[0]);
  EXPECT_FALSE(QFile::exists(host(QStringLiteral("_face.jpg")))) << "viewing writes nothing";
}

TEST_F(FaceFileTest, AnotherKeyOrDamagedFileShowsAndWritesNothing) {
  EncryptImage(source(), base, kSystemKey);
  EXPECT_NO_THROW({ EXPECT_FALSE(DecryptImageView(base, 1234).has_value()); });
  EXPECT_FALSE(DecryptImage_Hier(base, 1234));
  EXPECT_FALSE(QFile::exists(host(QStringLiteral("_face.jpg"))));

  // A damaged file: cut off right after the start-of-image marker.
  QByteArray enc = readFile(host(QStringLiteral("_face.bin")));
  writeFile(host(QStringLiteral("_face.bin")), enc.left(2));
  EXPECT_FALSE(DecryptImageView(base, kSystemKey).has_value());
  EXPECT_FALSE(DecryptImage_Hier(base, kSystemKey));
}

TEST_F(FaceFileTest, DecryptImageReencodesTheSamePicture) {
  EncryptImage(source(), base, kSystemKey);
  ASSERT_TRUE(DecryptImage(base, kSystemKey, program.path()));
  const QByteArray written = readFile(target());
  const QByteArray plain = photo();
  EXPECT_NE(written, plain);
  const cv::Mat a = decode(written);
  const cv::Mat b = decode(plain);
  ASSERT_FALSE(a.empty());
  ASSERT_EQ(a.size(), b.size());
  cv::Mat diff;
  cv::absdiff(a, b, diff);
  const cv::Scalar mean = cv::mean(diff);
  double maxDiff = 0;
  cv::minMaxLoc(diff.reshape(1), nullptr, &maxDiff);
  EXPECT_LT(mean[0] + mean[1] + mean[2], 3.0);
  EXPECT_LE(maxDiff, 16.0);
}

TEST_F(FaceFileTest, DecryptImageNeverLeavesAStaleCopy) {
  EncryptImage(source(), base, kSystemKey);
  ASSERT_TRUE(DecryptImage(base, kSystemKey, program.path()));
  ASSERT_TRUE(QFile::exists(target()));

  // Another model that cannot be deciphered: the earlier picture must not pass for it.
  EXPECT_FALSE(DecryptImage(base, 4321, program.path()));
  EXPECT_FALSE(QFile::exists(target()));

  // Same when the next model's file is missing altogether (that error goes to the caller).
  ASSERT_TRUE(DecryptImage(base, kSystemKey, program.path()));
  EXPECT_THROW(DecryptImage(QStringLiteral("C:\\Face\\Model\\missing"), kSystemKey, program.path()),
               std::runtime_error);
  EXPECT_FALSE(QFile::exists(target()));
}

TEST_F(FaceFileTest, MissingInputOrUnwritableTargetThrowsAndWritesNothing) {
  const QString missing = QStringLiteral("C:\\Face\\Model\\nothing-here");
  try {
    EncryptImage(program.path() + QStringLiteral("Temp\\absent.jpg"), base, kSystemKey);
    FAIL() << "no error for a missing source";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("absent.jpg"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(QFile::exists(host(QStringLiteral("_face.bin"))));
  EXPECT_THROW(DecryptImageView(missing, kSystemKey), std::runtime_error);
  EXPECT_THROW(DecryptImage_Hier(missing, kSystemKey), std::runtime_error);

  // A target folder that does not exist.
  EXPECT_THROW(EncryptImage(source(), QStringLiteral("C:\\No\\Such\\Folder\\x"), kSystemKey),
               std::runtime_error);
  EXPECT_FALSE(QDir(program.drives() + QStringLiteral("/c/No")).exists());

  // Replacing an existing file goes all or nothing: a failed write keeps the old one intact.
  EncryptImage(source(), base, kSystemKey);
  const QByteArray before = readFile(host(QStringLiteral("_face.bin")));
  QFile::setPermissions(program.drives() + QStringLiteral("/c/Face/Model"),
                        QFileDevice::ReadOwner | QFileDevice::ExeOwner);
  if (!QFileInfo(program.drives() + QStringLiteral("/c/Face/Model")).isWritable()) {
    writeFile(program.file(QStringLiteral("Temp/model_face.jpg")), QByteArray("other"));
    EXPECT_THROW(EncryptImage(source(), base, kSystemKey), std::runtime_error);
    EXPECT_EQ(readFile(host(QStringLiteral("_face.bin"))), before);
  }
  QFile::setPermissions(program.drives() + QStringLiteral("/c/Face/Model"),
                        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

}  // namespace
}  // namespace tavo
