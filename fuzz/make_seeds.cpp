// fuzz-seeds OUTDIR: the seed corpora made from real inputs at test time (the test photographs
// are read from the test data, never kept in the repository):
//   OUTDIR/face_file  small JPEG versions of real photos (colour, grey, progressive, restart markers, cut off)
//   OUTDIR/template   templates the face engine makes of real faces
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <cstdio>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "face/sdk/fsdk.h"
#include "tests/support/test_env.h"

using namespace tavo;

namespace {

bool writeBytes(const QString& path, const char* data, qsizetype size) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data, size) == size;
}

// A photo shrunk to `side` pixels wide, as a JPEG with the given encoder options.
bool writeSmallJpeg(const QString& photo, const QString& out, int side, std::vector<int> options, int flags) {
  const cv::Mat image = cv::imread(photo.toStdString(), flags);
  if (image.empty()) return false;
  cv::Mat small;
  cv::resize(image, small, cv::Size(side, side * image.rows / std::max(1, image.cols)), 0, 0, cv::INTER_AREA);
  std::vector<unsigned char> bytes;
  return cv::imencode(".jpg", small, bytes, options) &&
         writeBytes(out, reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz-seeds OUTDIR\n");
    return 2;
  }
  const QString out = QString::fromLocal8Bit(argv[1]);
  const QString pictures = out + QStringLiteral("/face_file"), templates = out + QStringLiteral("/template");
  QDir().mkpath(pictures);
  QDir().mkpath(templates);

  const QString lfw = test::testData(QStringLiteral("lfw10/"));
  QFile::remove(pictures + "/truncated.jpg");  // seeds of an earlier run are made again
  bool ok = writeSmallJpeg(lfw + "Colin_Powell/Colin_Powell_0001.jpg", pictures + "/colour.jpg", 48,
                           {cv::IMWRITE_JPEG_QUALITY, 70}, cv::IMREAD_COLOR) &&
            writeSmallJpeg(lfw + "Ariel_Sharon/Ariel_Sharon_0001.jpg", pictures + "/grey.jpg", 40,
                           {cv::IMWRITE_JPEG_QUALITY, 60}, cv::IMREAD_GRAYSCALE) &&
            writeSmallJpeg(test::testData("samples/formats/einstein.jpeg"), pictures + "/progressive.jpg", 40,
                           {cv::IMWRITE_JPEG_PROGRESSIVE, 1, cv::IMWRITE_JPEG_QUALITY, 60}, cv::IMREAD_COLOR) &&
            writeSmallJpeg(test::testData("orl/s3/1.pgm"), pictures + "/restarts.jpg", 32,
                           {cv::IMWRITE_JPEG_RST_INTERVAL, 2, cv::IMWRITE_JPEG_OPTIMIZE, 1}, cv::IMREAD_COLOR) &&
            QFile::copy(test::testData("samples/formats/truncated.jpg"), pictures + "/truncated.jpg");
  if (!ok) {
    std::fprintf(stderr, "fuzz-seeds: cannot make the pictures from %s\n", qPrintable(test::testDataDir()));
    return 1;
  }

  const QByteArray nets = (test::thirdPartyDir() + QStringLiteral("/face-models")).toLocal8Bit();
  FSDK_SetNetworksFolder(nets.constData());
  if (const int rc = FSDK_Initialize(""); rc != FSDKE_OK) {
    std::fprintf(stderr, "fuzz-seeds: face engine: %s\n", fsdk::errorText(rc));
    return 1;
  }
  int made = 0;
  for (const QString& photo : {lfw + "Colin_Powell/Colin_Powell_0001.jpg", lfw + "Colin_Powell/Colin_Powell_0002.jpg",
                               lfw + "Ariel_Sharon/Ariel_Sharon_0001.jpg"}) {
    HImage image = 0;
    TFacePosition face;
    FSDK_FaceTemplate t;
    const QByteArray path = photo.toUtf8();
    if (FSDK_LoadImageFromFile(&image, path.constData()) == FSDKE_OK && FSDK_DetectFace(image, &face) == FSDKE_OK &&
        FSDK_GetFaceTemplateInRegion(image, &face, &t) == FSDKE_OK)
      made += writeBytes(templates + QStringLiteral("/face%1.bin").arg(made), t.ftemplate, sizeof t.ftemplate);
    FSDK_FreeImage(image);
  }
  if (made == 0) {
    std::fprintf(stderr, "fuzz-seeds: no template made\n");
    return 1;
  }
  std::printf("fuzz-seeds: 5 pictures, %d templates in %s\n", made, qPrintable(out));
  return 0;
}
