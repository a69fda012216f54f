// PhotoGet on real photographs: margins, edges, the feature test, modes, missing cascades.
#include "tests/picture/picture_fixture.h"

#include "app/paths.h"
#include "face/picture/web_camera.h"

namespace tavo::test {
namespace {

void expectSameResult(const PhotoResult& got, const PhotoResult& want) {
  EXPECT_EQ(got.the_fase, want.the_fase);
  EXPECT_EQ(got.cLeft, want.cLeft);
  EXPECT_EQ(got.cRight, want.cRight);
  EXPECT_EQ(got.cTop, want.cTop);
  EXPECT_EQ(got.cBottom, want.cBottom);
  EXPECT_EQ(got.cHeight, want.cHeight);
  EXPECT_EQ(got.cWidth, want.cWidth);
}

// Mean absolute difference of two pictures of the same size (JPEG round trips differ a little).
double meanDiff(const cv::Mat& a, const cv::Mat& b) {
  if (a.size() != b.size()) return 1e9;
  cv::Mat d;
  cv::absdiff(a, b, d);
  return cv::mean(cv::mean(d))[0];
}

cv::Mat lfw(const char* name) {
  const QString person = QString::fromLatin1(name).section('_', 0, -2);
  return readImage(testData(QStringLiteral("lfw10/%1/%2.jpg").arg(person, QString::fromLatin1(name))));
}

class PhotoGetTest : public PictureTest {
 protected:
  void SetUp() override {
    PictureTest::SetUp();
    station.setClock(&clock);
    // lfw10 faces are about 105-130 px wide.
    station.settings.faceWidth = 80;
    station.settings.faceHeight = 80;
    cropper = std::make_unique<FaceCropper>(station);
    cropper->loadCascades();
  }

  std::unique_ptr<FaceCropper> cropper;
  RecordingPictureView view;
};

TEST_F(PhotoGetTest, FaceFoundWithItsMarginsAndSquare) {
  const cv::Mat img = lfw("Colin_Powell_0009");
  ASSERT_FALSE(img.empty());
  station.settings.workRadius = 0.3;
  const cv::Mat working = placeWorkingPicture(img);
  const auto faces = detectFaces(working);
  ASSERT_EQ(faces.size(), 1u);

  const PhotoResult r = cropper->PhotoGet(3, QString(), &view);

  const PhotoResult want = expectedFor(faces[0], 0.3, img.size());
  expectSameResult(r, want);
  EXPECT_GE(r.features, 3);
  const cv::Mat face = readImage(temp("model_face.jpg"));
  const cv::Rect square = squareOf(want, img.size());
  ASSERT_EQ(face.size(), square.size());
  EXPECT_LT(meanDiff(face, working(square)), 4.0);
  // Mode 3: no marked picture, the editor's box untouched, its picture still cleared.
  EXPECT_FALSE(QFileInfo::exists(temp("model_f.jpg")));
  EXPECT_EQ(view.clears, 1);
  EXPECT_FALSE(view.photoChanged);
  EXPECT_TRUE(view.shown.isEmpty());

  const QStringList& log = station.log.lines();
  ASSERT_GE(log.size(), 4);
  EXPECT_TRUE(log.first().endsWith("  PhotoGet - start"));
  EXPECT_TRUE(log.last().endsWith("  PhotoGet - end"));
  EXPECT_TRUE(station.log.contains("  PhotoGet - cvHaarDetectObjects - begin"));
  EXPECT_TRUE(station.log.contains("  PhotoGet - cvHaarDetectObjects - end"));
  EXPECT_FALSE(station.log.contains(QStringLiteral("лицо высоко")));
}

TEST_F(PhotoGetTest, SquareAboveThePictureIsMovedDownAndLogged) {
  // Cut the top off the photograph so that the face square sticks out above it; grey margins
  // at the sides and below keep the square inside there.
  cv::Mat img = lfw("Colin_Powell_0009")(cv::Rect(0, 40, 250, 210)).clone();
  cv::copyMakeBorder(img, img, 0, 150, 150, 150, cv::BORDER_CONSTANT, cv::Scalar(128, 128, 128));
  station.settings.workRadius = 0.4;
  const auto faces = detectFaces(placeWorkingPicture(img));
  ASSERT_EQ(faces.size(), 1u);

  const PhotoResult r = cropper->PhotoGet(3, QString());

  const PhotoResult want = expectedFor(faces[0], 0.4, img.size());
  ASSERT_LT(want.cTop, 0);
  expectSameResult(r, want);
  EXPECT_TRUE(station.log.contains(QStringLiteral("  PhotoGet - лицо высоко, не помещается верхняя часть головы")));
  // Moved, not shrunk: the full side 2r from the top edge.
  const cv::Mat face = readImage(temp("model_face.jpg"));
  const int side = img.cols - want.cLeft - want.cRight;
  EXPECT_EQ(face.rows, side);
  EXPECT_EQ(face.cols, side);
}

TEST_F(PhotoGetTest, SquareAtRightAndBottomEdgesIsCut) {
  cv::Mat img = lfw("Colin_Powell_0009");
  cv::copyMakeBorder(img, img, 120, 0, 120, 0, cv::BORDER_CONSTANT, cv::Scalar(128, 128, 128));
  station.settings.workRadius = 0.6;
  const auto faces = detectFaces(placeWorkingPicture(img));
  ASSERT_EQ(faces.size(), 1u);

  const PhotoResult r = cropper->PhotoGet(3, QString());

  const PhotoResult want = expectedFor(faces[0], 0.6, img.size());
  ASSERT_LT(want.cRight, 0);
  ASSERT_LT(want.cBottom, 0);
  ASSERT_GT(want.cTop, 0);
  expectSameResult(r, want);
  const cv::Mat face = readImage(temp("model_face.jpg"));
  const int side = img.cols - want.cLeft - want.cRight;
  EXPECT_EQ(face.cols, img.cols - want.cLeft);
  EXPECT_EQ(face.rows, img.rows - want.cTop);
  EXPECT_LT(face.cols, side);
  EXPECT_FALSE(station.log.contains(QStringLiteral("лицо высоко")));
}

TEST_F(PhotoGetTest, SecondFaceWinsWhenOnlyItPassesTheFeatureTest) {
  const cv::Mat weak = lfw("George_W_Bush_0006");  // a face with fewer than three features found
  const cv::Mat strong = lfw("Colin_Powell_0009");
  placeWorkingPicture(weak);
  ASSERT_LT(cropper->PhotoGet(3, QString()).features, 3);
  placeWorkingPicture(strong);
  ASSERT_GE(cropper->PhotoGet(3, QString()).features, 3);

  // Side by side, in whichever order makes the detector return the weak face first.
  cv::Mat img;
  std::vector<cv::Rect> faces;
  for (bool weakLeft : {true, false}) {
    cv::hconcat(weakLeft ? weak : strong, weakLeft ? strong : weak, img);
    faces = detectFaces(placeWorkingPicture(img));
    ASSERT_EQ(faces.size(), 2u);
    if ((faces[0].x < 250) == weakLeft) break;
  }
  const cv::Mat working = readImage(temp("model_full.jpg"));

  const PhotoResult r = cropper->PhotoGet(3, QString());

  const PhotoResult want = expectedFor(faces[1], station.settings.workRadius, img.size());
  expectSameResult(r, want);
  EXPECT_GE(r.features, 3);
  const cv::Mat face = readImage(temp("model_face.jpg"));
  const cv::Rect square = squareOf(want, img.size());
  ASSERT_EQ(face.size(), square.size());
  EXPECT_LT(meanDiff(face, working(square)), 4.0);
}

TEST_F(PhotoGetTest, NoFaceSavesTheWholePicture) {
  const cv::Mat img = readImage(testData("groups/dogs.jpg"));
  ASSERT_FALSE(img.empty());
  placeWorkingPicture(img);

  const PhotoResult r = cropper->PhotoGet(3, QString());

  expectSameResult(r, PhotoResult{});
  EXPECT_EQ(r.features, 0);
  const cv::Mat face = readImage(temp("model_face.jpg"));
  EXPECT_EQ(face.size(), img.size());
}

TEST_F(PhotoGetTest, MissingFaceCascadeFindsNothingAndLeavesNoFaceFile) {
  QFile::remove(dir.file("haarcascade_frontalface_alt.xml"));
  FaceCropper c(station);
  c.loadCascades();
  EXPECT_FALSE(c.hasFaceCascade());
  EXPECT_TRUE(c.hasEyeCascade());
  EXPECT_TRUE(station.log.contains(QStringLiteral("haarcascade_frontalface_alt.xml")));
  // A face file of an earlier call must not survive as this call's result.
  writeImage(temp("model_face.jpg"), lfw("Hugo_Chavez_0004"));
  placeWorkingPicture(lfw("Colin_Powell_0009"));

  const PhotoResult r = c.PhotoGet(3, QString());

  expectSameResult(r, PhotoResult{});
  EXPECT_FALSE(QFileInfo::exists(temp("model_face.jpg")));
  EXPECT_FALSE(station.log.contains("cvHaarDetectObjects"));
  EXPECT_TRUE(station.log.lines().last().endsWith("  PhotoGet - end"));
}

TEST_F(PhotoGetTest, MissingFeatureCascadeCountsZeroForItsFeature) {
  // Colin_Powell_0009 shows two eyes, a nose and a mouth with all cascades.
  placeWorkingPicture(lfw("Colin_Powell_0009"));
  ASSERT_EQ(cropper->PhotoGet(3, QString()).features, 4);
  const struct {
    const char* file;
    int most;  // features that can still count without it
  } cases[] = {{FaceCropper::cascade_name_left_eye, 2}, {FaceCropper::cascade_name_nose, 3},
               {FaceCropper::cascade_name_mouth, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    QFile::rename(dir.file(c.file), dir.file("aside.xml"));
    FaceCropper partial(station);
    partial.loadCascades();
    QFile::rename(dir.file("aside.xml"), dir.file(c.file));
    EXPECT_TRUE(partial.hasFaceCascade());
    const PhotoResult r = partial.PhotoGet(3, QString());
    EXPECT_TRUE(r.the_fase);
    EXPECT_LE(r.features, c.most);
    EXPECT_TRUE(QFileInfo::exists(temp("model_face.jpg")));
  }
}

TEST_F(PhotoGetTest, UnreadableWorkingPictureEndsWithoutAFace) {
  for (const char* broken : std::initializer_list<const char*>{"samples/formats/corrupted.png", "samples/formats/empty.png", nullptr}) {
    SCOPED_TRACE(broken ? broken : "missing");
    QFile::remove(temp("model_full.jpg"));
    if (broken) ASSERT_TRUE(QFile::copy(testData(broken), temp("model_full.jpg")));
    writeImage(temp("model_face.jpg"), lfw("Hugo_Chavez_0004"));
    station.log.clear();

    const PhotoResult r = cropper->PhotoGet(3, QString(), &view);

    EXPECT_FALSE(r.the_fase);
    EXPECT_FALSE(QFileInfo::exists(temp("model_face.jpg")));
    EXPECT_TRUE(station.log.contains(QStringLiteral("не удалось прочитать")));
    EXPECT_TRUE(station.log.lines().last().endsWith("  PhotoGet - end"));
  }
}

TEST_F(PhotoGetTest, Mode2CopiesTheFileMarksFeaturesAndTellsTheEditor) {
  station.settings.modelRadius = 0.5;
  station.settings.workRadius = 0.1;  // must not be used in mode 2
  const QString source = dir.file("photo.jpg");
  const cv::Mat img = lfw("Colin_Powell_0009");
  writeImage(source, img);
  const auto faces = detectFaces(readImage(source));
  ASSERT_EQ(faces.size(), 1u);

  const PhotoResult r = cropper->PhotoGet(2, source, &view);

  expectSameResult(r, expectedFor(faces[0], 0.5, img.size()));
  EXPECT_EQ(readFile(temp("model_full.jpg")), readFile(source));
  EXPECT_TRUE(view.photoChanged);
  EXPECT_EQ(view.shown, temp("model_f.jpg"));
  // The marks are drawn inside the face square only.
  const cv::Mat marked = readImage(temp("model_f.jpg"));
  const cv::Mat working = readImage(temp("model_full.jpg"));
  const cv::Rect square = squareOf(r, img.size());
  EXPECT_GT(meanDiff(marked(square), working(square)), 1.0);
  cv::Mat outside = marked.clone(), outsideWorking = working.clone();
  outside(square).setTo(0);
  outsideWorking(square).setTo(0);
  EXPECT_LT(meanDiff(outside, outsideWorking), 0.5);
  // The face file is cut before the marks are drawn.
  EXPECT_LT(meanDiff(readImage(temp("model_face.jpg")), working(square)), 4.0);
}

TEST_F(PhotoGetTest, Mode2UsesTheWorkingPictureInPlace) {
  placeWorkingPicture(lfw("Colin_Powell_0009"));
  const PhotoResult r = cropper->PhotoGet(2, station.tempFile("model_full.jpg"), &view);
  EXPECT_TRUE(r.the_fase);
  EXPECT_TRUE(messages.shown.isEmpty());
  EXPECT_TRUE(view.photoChanged);
}

TEST_F(PhotoGetTest, Mode2FailedCopyDoesNotAnalyseTheOldPicture) {
  placeWorkingPicture(lfw("Colin_Powell_0009"));
  const PhotoResult r = cropper->PhotoGet(2, dir.file("no such photo.jpg"), &view);
  EXPECT_EQ(messages.shown, QStringList{QStringLiteral("Ошибка: файл не был скопирован.")});
  EXPECT_FALSE(r.the_fase);
  EXPECT_FALSE(QFileInfo::exists(temp("model_face.jpg")));
  EXPECT_FALSE(QFileInfo::exists(temp("model_f.jpg")));
  EXPECT_FALSE(view.photoChanged);
}

TEST_F(PhotoGetTest, Mode1TakesTheSecondWebCameraFrame) {
  WebCamera cam;
  ASSERT_TRUE(cam.open(testData("clips/subj01_timepoint01.mp4")));
  station.settings.modelRadius = 0.3;
  cropper->setWebCamera(&cam);

  const PhotoResult r = cropper->PhotoGet(1, QString(), &view);

  EXPECT_EQ(cam.framesRead(), 2);
  const cv::Mat working = readImage(temp("model_full.jpg"));
  EXPECT_EQ(working.size(), cv::Size(1080, 720));
  station.settings.faceWidth = 80;
  EXPECT_EQ(r.the_fase, !detectFaces(working).empty());
  EXPECT_TRUE(r.the_fase);
  EXPECT_TRUE(QFileInfo::exists(temp("model_f.jpg")));
  EXPECT_TRUE(view.photoChanged);
}

TEST_F(PhotoGetTest, Mode1WithoutCameraEndsWithoutAPicture) {
  placeWorkingPicture(lfw("Colin_Powell_0009"));  // an older picture must not be analysed
  const PhotoResult r = cropper->PhotoGet(1, QString(), &view);
  EXPECT_FALSE(r.the_fase);
  EXPECT_FALSE(QFileInfo::exists(temp("model_full.jpg")));
  EXPECT_FALSE(QFileInfo::exists(temp("model_face.jpg")));
  EXPECT_FALSE(view.photoChanged);
  EXPECT_TRUE(messages.shown.isEmpty());
}

TEST_F(PhotoGetTest, ClearedFaceCascadeStopsDetection) {
  cropper->clearFaceCascade();
  EXPECT_FALSE(cropper->hasFaceCascade());
  placeWorkingPicture(lfw("Colin_Powell_0009"));
  EXPECT_FALSE(cropper->PhotoGet(3, QString()).the_fase);
}

}  // namespace
}  // namespace tavo::test
