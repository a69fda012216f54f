// The photo series with the real cascades and real photographs or a clip as the camera.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <memory>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <thread>

#include "base/operator_messages.h"
#include "base/paths.h"
#include "base/station.h"
#include "checkin/photo_series.h"
#include "face/picture/frame_grab.h"
#include "sound/snd_unit.h"
#include "tests/support/test_env.h"

namespace tavo::test {
namespace {

// An output device that takes the tone's blocks at about the pace of a sound card.
class PacedOutput : public AudioOutput {
  class Stream : public AudioStream {
   public:
    bool write(const std::int16_t*, int frames) override {
      std::this_thread::sleep_for(std::chrono::milliseconds(frames * 1000 / kSampleRate));
      return true;
    }
  };

 public:
  bool hasDevice() override { return true; }
  std::unique_ptr<AudioStream> open(int, int, int) override { return std::make_unique<Stream>(); }
};

class SeriesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    station.settings.programPath = dir.path();
    station.settings.waitTime = 0;
    // lfw10 faces are about 105-130 px wide.
    station.settings.faceWidth = 80;
    station.settings.faceHeight = 80;
    ASSERT_TRUE(dir.installCascades());
    ASSERT_TRUE(QDir().mkpath(flagHost()));
    cropper.loadCascades();
    series = std::make_unique<PhotoSeries>(station, cameras, cropper);
  }
  void TearDown() override {
    shutdownSound();
    setAudioOutput(nullptr);
  }

  QString flagHost() const { return hostPath(station.settings.flagDir); }
  QString flag(const QString& name) const { return flagHost() + '/' + name; }
  QStringList flagFiles() const { return QDir(flagHost()).entryList(QDir::Files | QDir::Hidden, QDir::Name); }

  // A grab that puts the next of these pictures into "Temp\model_full.jpg", as the camera would.
  void scriptPictures(std::vector<cv::Mat> pictures) {
    station.settings.camRtsp = true;  // the scripted pictures stand in for the stream
    series->grab = [this, pictures](const QString&) {
      const cv::Mat& p = pictures.at(size_t(grabs++));
      if (p.empty()) return false;
      return cv::imwrite(hostPath(station.tempFile("model_full.jpg")).toStdString(), p);
    };
  }
  static cv::Mat photo(const QString& relative) { return cv::imread(testData(relative).toStdString()); }

  TempProgramDir dir;
  RecordingMessages messages;
  Station station{nullptr, &messages};
  Cameras cameras{station};
  FaceCropper cropper{station};
  std::unique_ptr<PhotoSeries> series;
  int grabs = 0;
};

TEST_F(SeriesTest, ClipCameraGivesThreeFacesAndAnEmptyReadyFile) {
  // What an earlier series left must not survive into this one.
  for (const char* stale : {"Face101_face.jpg", "Face104_face.jpg", "Face105_face.jpg", "Photo1.jpg"})
    writeFile(flag(stale), "earlier person");
  writeFile(flag("ready.txt"), "old");
  station.settings.faceWidth = station.settings.faceHeight = 120;  // the clip's faces are large
  station.settings.webCam = testData("clips/subj01_timepoint01.mp4");
  cameras.open();

  series->GetNewPhoto();

  EXPECT_EQ(flagFiles(), (QStringList{"Face101_face.jpg", "Face102_face.jpg", "Face103_face.jpg", "ready.txt"}));
  EXPECT_EQ(QFileInfo(flag("ready.txt")).size(), 0);
  for (const char* name : {"Face101_face.jpg", "Face102_face.jpg", "Face103_face.jpg"}) {
    const cv::Mat face = cv::imread(flag(name).toStdString());
    ASSERT_FALSE(face.empty()) << name;
    EXPECT_EQ(face.cols, face.rows) << name;  // the face square, not the 1080x720 picture
    EXPECT_LT(face.cols, 720) << name;
  }
  EXPECT_FALSE(QFileInfo::exists(dir.file("Temp/model_full.jpg")));
  EXPECT_FALSE(QFileInfo::exists(dir.file("Temp/model_face.jpg")));
  EXPECT_TRUE(messages.shown.isEmpty());
  const QStringList& log = station.log.lines();
  ASSERT_FALSE(log.isEmpty());
  EXPECT_TRUE(log.first().endsWith("Form1.GetNewPhoto - begin"));
  EXPECT_TRUE(log.last().endsWith("Form1.GetNewPhoto - end"));
}

TEST_F(SeriesTest, FaceOnlyInTheSecondPicture) {
  const cv::Mat dogs = photo("groups/dogs.jpg");
  cv::Mat smallDogs;
  cv::resize(dogs, smallDogs, cv::Size(dogs.cols / 2, dogs.rows / 2));
  scriptPictures({dogs, photo("lfw10/Colin_Powell/Colin_Powell_0009.jpg"), smallDogs});

  series->GetNewPhoto();

  EXPECT_EQ(flagFiles(), (QStringList{"Face102_face.jpg", "Photo1.jpg", "ready.txt"}));
  // "Photo1.jpg" is the last picture without a face, whole.
  const cv::Mat last = cv::imread(flag("Photo1.jpg").toStdString());
  EXPECT_EQ(last.size(), smallDogs.size());
  EXPECT_LT(cv::imread(flag("Face102_face.jpg").toStdString()).cols, 250);
}

TEST_F(SeriesTest, NoCameraShowsItsMessagesAndWritesOnlyReady) {
  // An older working picture must not be taken for a picture of this series.
  writeFile(dir.file("Temp/model_full.jpg"), readFile(testData("lfw10/Colin_Powell/Colin_Powell_0009.jpg")));

  series->GetNewPhoto();

  const QString nil = QString::fromLatin1(kSeriesFrameNil);
  EXPECT_EQ(messages.shown, (QStringList{"capture = nil", nil, nil, nil}));
  EXPECT_EQ(nil, QStringLiteral("MainUnit 2530: \n\rframe = nil"));
  EXPECT_EQ(flagFiles(), QStringList{"ready.txt"});
  EXPECT_TRUE(station.log.lines().last().endsWith("Form1.GetNewPhoto - end"));
}

TEST_F(SeriesTest, MissingFrameSkipsThatPictureOnlyAndNoToneWithSoundOff) {
  setAudioOutput(std::make_shared<PacedOutput>());
  const cv::Mat face = photo("lfw10/Colin_Powell/Colin_Powell_0009.jpg");
  scriptPictures({face, cv::Mat(), face});
  const auto scripted = series->grab;
  int tones = 0;
  series->grab = [&](const QString& m) {
    tones += liveToneThreads();
    return scripted(m);
  };
  series->GetNewPhoto();
  EXPECT_EQ(flagFiles(), (QStringList{"Face101_face.jpg", "Face103_face.jpg", "ready.txt"}));
  EXPECT_EQ(tones, 0);
}

TEST_F(SeriesTest, WaitLetsEventsRunAndToneCoversThePictures) {
  setAudioOutput(std::make_shared<PacedOutput>());
  station.settings.soundEnabled = true;
  station.settings.waitTime = 300;
  const cv::Mat face = photo("lfw10/Colin_Powell/Colin_Powell_0009.jpg");
  scriptPictures({face, face, face});
  const auto scripted = series->grab;
  QElapsedTimer clock;
  std::vector<qint64> grabbedAt;
  std::vector<int> tones;
  series->grab = [&](const QString& m) {
    grabbedAt.push_back(clock.elapsed());
    tones.push_back(liveToneThreads());
    return scripted(m);
  };
  bool tick = false;
  QTimer::singleShot(50, [&] { tick = true; });

  clock.start();
  series->GetNewPhoto();

  ASSERT_EQ(grabbedAt.size(), 3u);
  EXPECT_GE(grabbedAt[0], 300);
  EXPECT_TRUE(tick);
  EXPECT_EQ(tones, (std::vector<int>{1, 1, 1}));
  EXPECT_TRUE(waitSoundIdle(2000));
  EXPECT_EQ(liveToneThreads(), 0);
}

TEST_F(SeriesTest, ErrorEndsTheSeriesWithoutReadyAndStopsTheTone) {
  setAudioOutput(std::make_shared<PacedOutput>());
  station.settings.soundEnabled = true;
  const cv::Mat face = photo("lfw10/Colin_Powell/Colin_Powell_0009.jpg");
  scriptPictures({face, face, face});
  int searches = 0;
  series->detectFace = [&]() -> PhotoResult {
    if (++searches == 2) throw std::runtime_error("cascade failed");
    return cropper.PhotoGet(3, QString());
  };

  EXPECT_THROW(series->GetNewPhoto(), std::runtime_error);

  EXPECT_EQ(flagFiles(), QStringList{"Face101_face.jpg"});
  EXPECT_TRUE(waitSoundIdle(2000));
  EXPECT_EQ(liveToneThreads(), 0);
}

}  // namespace
}  // namespace tavo::test
