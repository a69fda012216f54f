// PhotoGet on real photographs: margins, edges, the feature test, modes, missing cascades.
#include "face/picture/cascade_search.h"
#include "face/picture/editor_picture_view.h"
#include "face/picture/web_camera.h"
#include "tests/picture/picture_fixture.h"

namespace tavo::test {
namespace {

cv::Mat lfw(const QString& name) {
  return readImage(testData(QStringLiteral("lfw10/%1/%2.jpg").arg(name.section('_', 0, -2), name)));
}

// The model editor's picture area, recording what PhotoGet does to it.
struct RecordingView : EditorPictureView {
  void clearPicture() override { ++clears; }
  void showPicture(const QString& hostPath) override { shown = hostPath; }
  void setPhotoChanged(bool changed) override { photoChanged = changed; }
  int clears = 0;
  QString shown;
  bool photoChanged = false;
};

class PhotoGetTest : public PictureTest {
 protected:
  void SetUp() override {
    PictureTest::SetUp();
    station.settings.faceWidth = station.settings.faceHeight = 80;  // lfw10 faces are 105-130 px
    cropper.loadCascades();
  }

  // Runs mode 3 on the picture and checks the results and face file against the single face.
  PhotoResult checkSingleFace(const cv::Mat& img, double radius) {
    station.settings.workRadius = radius;
    const cv::Mat working = placeWorkingPicture(img);
    const auto faces = detectFaces(working);
    EXPECT_EQ(faces.size(), 1u);
    const PhotoResult r = cropper.PhotoGet(3, QString(), &view);
    if (faces.empty()) return r;
    const PhotoResult want = expectedFor(faces[0], radius, img.size());
    EXPECT_EQ(fields(r), fields(want));
    EXPECT_LT(meanDiff(readImage(temp("model_face.jpg")), working(squareOf(want, img.size()))), 4.0);
    return r;
  }

  FaceCropper cropper{station};
  RecordingView view;
  const cv::Mat powell = lfw("Colin_Powell_0009");  // two eyes, nose and mouth found
};

TEST_F(PhotoGetTest, FaceFoundWithItsMarginsAndSquare) {
  const PhotoResult r = checkSingleFace(powell, 0.3);
  EXPECT_EQ(r.features, PhotoResult::kNotSearched);  // the only face: its features change nothing
  EXPECT_GT(r.cTop, 0);
  // Mode 3: no marked picture, the editor's box untouched, its picture still cleared.
  EXPECT_FALSE(QFileInfo::exists(temp("model_f.jpg")));
  EXPECT_EQ(view.clears, 1);
  EXPECT_FALSE(view.photoChanged);
  const QStringList& log = station.log.lines();
  ASSERT_EQ(log.size(), 4);
  EXPECT_TRUE(log[0].endsWith("  PhotoGet - start"));
  EXPECT_TRUE(log[1].endsWith("  PhotoGet - cvHaarDetectObjects - begin"));
  EXPECT_TRUE(log[2].endsWith("  PhotoGet - cvHaarDetectObjects - end"));
  EXPECT_TRUE(log[3].endsWith("  PhotoGet - end"));
}

TEST_F(PhotoGetTest, SquareAboveThePictureIsMovedDownNotShrunk) {
  cv::Mat img = powell(cv::Rect(0, 40, 250, 210)).clone();  // top of the head cut off
  cv::copyMakeBorder(img, img, 0, 150, 150, 150, cv::BORDER_CONSTANT, cv::Scalar::all(128));
  const PhotoResult r = checkSingleFace(img, 0.4);
  EXPECT_LT(r.cTop, 0);
  EXPECT_EQ(readImage(temp("model_face.jpg")).rows, img.cols - r.cLeft - r.cRight);  // full side 2r
  EXPECT_TRUE(station.log.contains(QStringLiteral("  PhotoGet - лицо высоко, не помещается верхняя часть головы")));
}

TEST_F(PhotoGetTest, SquareAtRightAndBottomEdgesIsCut) {
  cv::Mat img;
  cv::copyMakeBorder(powell, img, 120, 0, 120, 0, cv::BORDER_CONSTANT, cv::Scalar::all(128));
  const PhotoResult r = checkSingleFace(img, 0.6);
  EXPECT_LT(r.cRight, 0);
  EXPECT_LT(r.cBottom, 0);
  EXPECT_FALSE(station.log.contains(QStringLiteral("лицо высоко")));
}

TEST_F(PhotoGetTest, SecondFaceWinsWhenOnlyItPassesTheFeatureTest) {
  const cv::Mat weak = lfw("George_W_Bush_0006");  // fewer than three features found
  placeWorkingPicture(weak);
  ASSERT_LT(cropper.PhotoGet(2, temp("model_full.jpg")).features, 3);
  // Side by side, in whichever order makes the detector return the weak face first.
  cv::Mat img, working;
  std::vector<cv::Rect> faces;
  for (bool weakLeft : {true, false}) {
    cv::hconcat(weakLeft ? weak : powell, weakLeft ? powell : weak, img);
    working = placeWorkingPicture(img);
    faces = detectFaces(working);
    ASSERT_EQ(faces.size(), 2u);
    if ((faces[0].x < 250) == weakLeft) break;
  }
  station.settings.modelRadius = station.settings.workRadius;
  const PhotoResult r = cropper.PhotoGet(2, temp("model_full.jpg"));
  const PhotoResult want = expectedFor(faces[1], station.settings.workRadius, img.size());
  EXPECT_EQ(fields(r), fields(want));
  EXPECT_GE(r.features, 3);
  EXPECT_LT(meanDiff(readImage(temp("model_face.jpg")), working(squareOf(want, img.size()))), 4.0);
}

// Mode 3 leaves out the feature search of the last face, which no result depends on: its
// results, face file and log must be those of the full search (mode 2 on the same file), also
// where faces fail the test and where a later face's square holds an earlier face's marks.
TEST_F(PhotoGetTest, Mode3GivesWhatTheFullSearchGives) {
  cv::Mat pair;
  cv::hconcat(lfw("George_W_Bush_0006"), powell, pair);
  // Faces come largest first: the face that passes is made the larger one where it must come first.
  cv::Mat bigPowell;
  cv::resize(powell, bigPowell, cv::Size(300, 300), 0, 0, cv::INTER_AREA);
  cv::Mat bush;
  cv::copyMakeBorder(lfw("George_W_Bush_0006"), bush, 25, 25, 0, 0, cv::BORDER_REPLICATE);
  cv::Mat strongFirst;
  cv::hconcat(bigPowell, bush, strongFirst);
  cv::Mat overlapping;  // two faces whose squares overlap
  cv::hconcat(bigPowell(cv::Rect(0, 0, 216, 300)), bush(cv::Rect(50, 0, 200, 300)), overlapping);
  const struct {
    const char* name;
    cv::Mat picture;
  } cases[] = {{"one face", powell},
               {"weak face and strong face", pair},
               {"strong face larger than a weak face", strongFirst},
               {"overlapping squares", overlapping},
               {"group, 2 faces found", readImage(testData("samples/014_5.jpg"))},
               {"group, 3 faces found", readImage(testData("groups/2008_002506.jpg"))},
               {"collage of 24", readImage(testData("groups/bald_guys.jpg"))},
               {"no face", readImage(testData("groups/dogs.jpg"))}};
  station.settings.modelRadius = station.settings.workRadius = 0.3;
  int passedBeforeTheLast = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_FALSE(c.picture.empty());
    placeWorkingPicture(c.picture);
    station.log.clear();
    const PhotoResult full = cropper.PhotoGet(2, temp("model_full.jpg"));
    const QByteArray fullFace = readFile(temp("model_face.jpg"));
    const QStringList fullLog = station.log.lines();
    station.log.clear();
    const PhotoResult fast = cropper.PhotoGet(3, QString());
    EXPECT_EQ(fields(fast), fields(full));
    EXPECT_EQ(readFile(temp("model_face.jpg")), fullFace);
    EXPECT_EQ(station.log.lines().size(), fullLog.size());
    if (fast.the_fase && fast.features != PhotoResult::kNotSearched) {
      EXPECT_EQ(fast.features, full.features);
      EXPECT_GE(fast.features, 3);
      ++passedBeforeTheLast;
    }
  }
  EXPECT_GE(passedBeforeTheLast, 2);
}

// Which face of a group PhotoGet tries first must not depend on how the threads of the search
// happened to run: the faces OpenCV finds, largest first, every time.
TEST_F(PhotoGetTest, FacesOfAGroupComeInTheSameOrderEveryTime) {
  cv::CascadeClassifier face(thirdPartyDir().toStdString() + "/cascades/haarcascade_frontalface_alt.xml");
  cv::Mat grey;
  cv::cvtColor(readImage(testData("groups/bald_guys.jpg")), grey, cv::COLOR_BGR2GRAY);
  const int threads = cv::getNumThreads();
  cv::setNumThreads(1);
  std::vector<cv::Rect> oneThread;
  face.detectMultiScale(grey, oneThread, 1.1, 3, cv::CASCADE_DO_CANNY_PRUNING, cv::Size(20, 20));
  const std::vector<cv::Rect> first = cascadeSearch(face, grey, cv::Size(20, 20));
  cv::setNumThreads(std::max(threads, 4));
  ASSERT_GE(first.size(), 20u);
  EXPECT_TRUE(std::is_permutation(first.begin(), first.end(), oneThread.begin(), oneThread.end()));
  for (std::size_t i = 1; i < first.size(); ++i) EXPECT_GE(first[i - 1].area(), first[i].area());
  for (int run = 0; run < 10; ++run) EXPECT_EQ(cascadeSearch(face, grey, cv::Size(20, 20)), first) << run;
  cv::setNumThreads(threads);
}

TEST_F(PhotoGetTest, NoFaceSavesTheWholePicture) {
  const cv::Mat img = placeWorkingPicture(readImage(testData("groups/dogs.jpg")));
  const PhotoResult r = cropper.PhotoGet(3, QString());
  EXPECT_EQ(fields(r), fields(PhotoResult{}));
  EXPECT_EQ(readImage(temp("model_face.jpg")).size(), img.size());
}

TEST_F(PhotoGetTest, MissingCascades) {
  placeWorkingPicture(powell);
  // Without a feature cascade that feature counts 0; the face is still found.
  const struct {
    const char* file;
    int most;
  } features[] = {{FaceCropper::cascade_name_left_eye, 2},
                  {FaceCropper::cascade_name_nose, 3},
                  {FaceCropper::cascade_name_mouth, 3}};
  for (const auto& c : features) {
    SCOPED_TRACE(c.file);
    QFile::rename(dir.file(c.file), dir.file("aside.xml"));
    FaceCropper partial(station);
    partial.loadCascades();
    QFile::rename(dir.file("aside.xml"), dir.file(c.file));
    const PhotoResult r = partial.PhotoGet(2, temp("model_full.jpg"));
    EXPECT_TRUE(r.the_fase);
    EXPECT_LE(r.features, c.most);
  }
  // Without the face cascade nothing is searched and no face file is left, not even an old one.
  QFile::remove(dir.file("haarcascade_frontalface_alt.xml"));
  FaceCropper blind(station);
  blind.loadCascades();
  EXPECT_TRUE(station.log.contains(QStringLiteral("haarcascade_frontalface_alt.xml")));
  station.log.clear();
  const PhotoResult r = blind.PhotoGet(3, QString());
  EXPECT_EQ(fields(r), fields(PhotoResult{}));
  EXPECT_FALSE(QFileInfo::exists(temp("model_face.jpg")));
  EXPECT_FALSE(station.log.contains("cvHaarDetectObjects"));
}

TEST_F(PhotoGetTest, UnreadableWorkingPictureEndsWithoutAFace) {
  for (QString broken : {"samples/formats/corrupted.png", "samples/formats/empty.png", ""}) {
    SCOPED_TRACE(broken.toStdString());
    QFile::remove(temp("model_full.jpg"));
    if (!broken.isEmpty()) QFile::copy(testData(broken), temp("model_full.jpg"));
    writeImage(temp("model_face.jpg"), powell);  // an older result
    station.log.clear();
    EXPECT_FALSE(cropper.PhotoGet(3, QString()).the_fase);
    EXPECT_FALSE(QFileInfo::exists(temp("model_face.jpg")));
    EXPECT_TRUE(station.log.contains(QStringLiteral("не удалось прочитать")));
    EXPECT_TRUE(station.log.lines().last().endsWith("  PhotoGet - end"));
  }
}

TEST_F(PhotoGetTest, Mode2CopiesTheFileMarksFeaturesAndTellsTheEditor) {
  station.settings.modelRadius = 0.5;
  station.settings.workRadius = 0.1;  // not the radius of mode 2
  const QString source = dir.file("photo.jpg");
  writeImage(source, powell);
  const cv::Mat working = readImage(source);
  const auto faces = detectFaces(working);
  ASSERT_EQ(faces.size(), 1u);

  const PhotoResult r = cropper.PhotoGet(2, source, &view);

  EXPECT_EQ(fields(r), fields(expectedFor(faces[0], 0.5, powell.size())));
  EXPECT_EQ(readFile(temp("model_full.jpg")), readFile(source));
  EXPECT_TRUE(view.photoChanged);
  EXPECT_EQ(view.shown, temp("model_f.jpg"));
  // Marks inside the face square only; the face file was cut before they were drawn.
  const cv::Rect square = squareOf(r, powell.size());
  cv::Mat marked = readImage(temp("model_f.jpg")), plain = working.clone();
  EXPECT_GT(meanDiff(marked(square), working(square)), 1.0);
  EXPECT_LT(meanDiff(readImage(temp("model_face.jpg")), working(square)), 4.0);
  marked(square).setTo(0);
  plain(square).setTo(0);
  EXPECT_LT(meanDiff(marked, plain), 0.5);

  // The working picture itself is used in place.
  EXPECT_TRUE(cropper.PhotoGet(2, station.tempFile("model_full.jpg"), &view).the_fase);
  EXPECT_TRUE(messages.shown.isEmpty());
}

TEST_F(PhotoGetTest, Mode2FailedCopyDoesNotAnalyseTheOldPicture) {
  placeWorkingPicture(powell);
  const PhotoResult r = cropper.PhotoGet(2, dir.file("no such photo.jpg"), &view);
  EXPECT_EQ(messages.shown, QStringList{QStringLiteral("Ошибка: файл не был скопирован.")});
  EXPECT_FALSE(r.the_fase);
  EXPECT_FALSE(QFileInfo::exists(temp("model_face.jpg")));
  EXPECT_FALSE(QFileInfo::exists(temp("model_f.jpg")));
  EXPECT_FALSE(view.photoChanged);
}

TEST_F(PhotoGetTest, Mode1TakesTheSecondWebCameraFrame) {
  placeWorkingPicture(powell);                                   // an older picture, never to be analysed
  EXPECT_FALSE(cropper.PhotoGet(1, QString(), &view).the_fase);  // no camera
  EXPECT_FALSE(QFileInfo::exists(temp("model_full.jpg")));
  EXPECT_FALSE(view.photoChanged);

  WebCamera cam;
  ASSERT_TRUE(cam.open(testData("clips/subj01_timepoint01.mp4")));
  cropper.setWebCamera(&cam);
  EXPECT_TRUE(cropper.PhotoGet(1, QString(), &view).the_fase);
  EXPECT_EQ(cam.framesRead(), 2);
  EXPECT_EQ(readImage(temp("model_full.jpg")).size(), cv::Size(1080, 720));
  EXPECT_TRUE(view.photoChanged);
  EXPECT_TRUE(messages.shown.isEmpty());
}

}  // namespace
}  // namespace tavo::test
