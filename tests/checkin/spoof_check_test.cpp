// The presentation-attack check on the check-in's own road: real photographs placed as the
// working picture, the real cascades (PhotoGet mode 3, whose face box the check takes), the real
// liveness network fed BGR; and the camera's own check over real live captures.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <opencv2/imgcodecs.hpp>

#include "checkin/camera_liveness.h"
#include "checkin/spoof_check.h"
#include "face/picture/face_cropper.h"
#include "face/sdk/fsdk.h"
#include "face/sdk/liveness.h"
#include "tests/support/station_on_disk.h"

namespace tavo::test {
namespace {

class SpoofCheck : public ::testing::Test, protected StationOnDisk {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.installCascades());
    ASSERT_TRUE(dir.linkNetworks());
    const QByteArray nets = dir.file(QStringLiteral("nets")).toUtf8();
    ASSERT_EQ(FSDK_SetNetworksFolder(nets.constData()), FSDKE_OK);
    ASSERT_EQ(FSDK_Initialize(""), FSDKE_OK);
    QDir().mkpath(dir.file(QStringLiteral("Temp")));
    station.settings.antiSpoof = true;
    cropper.loadCascades();
  }

  // The picture as the attempt holds it, and the face detection of the check-in on it.
  PhotoResult place(const cv::Mat& picture) {
    EXPECT_TRUE(cv::imwrite(fullJpg().toStdString(), picture));
    return cropper.PhotoGet(3, QString());
  }
  PhotoResult place(const QString& testPicture) {
    QFile::remove(fullJpg());
    EXPECT_TRUE(QFile::copy(testData(testPicture), fullJpg())) << testPicture.toStdString();
    return cropper.PhotoGet(3, QString());
  }
  SpoofVerdict judge(const PhotoResult& face) {
    return judgeAttempt(station.tempFile(QStringLiteral("model_full.jpg")), face);
  }
  QString fullJpg() const { return dir.file(QStringLiteral("Temp/model_full.jpg")); }

  FaceCropper cropper{station};
};

TEST_F(SpoofCheck, LiveAndPrintedFacesFallOnTheirSidesOfTheThresholdAndAnEmptySceneIsNotJudged) {
  // Live captures, the last two the hardest of the sets: a news photo just above the threshold,
  // and a studio portrait that the network refused when it was fed RGB (0.001).
  for (const QString& live : {QStringLiteral("nuaa/real/0002/0002_01_00_01_14.jpg"),
                             QStringLiteral("lfw10/Ariel_Sharon/Ariel_Sharon_0004.jpg"),
                             QStringLiteral("london/london_025/neutral_025_03.jpg")}) {
    const PhotoResult face = place(live);
    // The box judged is the cascade's own rectangle, which the margins describe (the engine's
    // box when the cascade finds none, as in the 250 px news photo).
    if (face.the_fase) EXPECT_EQ(face.faceBox.size(), cv::Size(face.cWidth, face.cHeight));
    else EXPECT_TRUE(face.faceBox.empty());
    const SpoofVerdict v = judge(face);
    EXPECT_TRUE(v.face);
    EXPECT_FALSE(v.attack) << live.toStdString() << " " << v.score;
    EXPECT_GE(v.score, fsdk::kLivenessThreshold);
    EXPECT_TRUE(spoofLogLine(v).startsWith("*live - score ")) << spoofLogLine(v).toStdString();
  }
  // Printed photos held to the camera, the second the printed one that scores highest in nuaa.
  for (const QString& print : {QStringLiteral("nuaa/print/0002/0002_01_08_03_222.jpg"),
                              QStringLiteral("nuaa/print/0003/0003_01_01_03_421.jpg")}) {
    const SpoofVerdict v = judge(place(print));
    EXPECT_TRUE(v.face);
    EXPECT_TRUE(v.attack) << print.toStdString() << " " << v.score;
    EXPECT_LT(v.score, fsdk::kLivenessThreshold);
    EXPECT_TRUE(spoofLogLine(v).startsWith("*spoof - score "));
  }
  // No face, no judgement: the attempt goes on as without the check (black, tiny, one pixel,
  // and a working picture that is not there at all).
  for (const cv::Size size : {cv::Size(640, 480), cv::Size(32, 21), cv::Size(1, 1)}) {
    const PhotoResult face = place(cv::Mat(size, CV_8UC3, cv::Scalar::all(0)));
    EXPECT_FALSE(face.the_fase);
    const SpoofVerdict v = judge(face);
    EXPECT_FALSE(v.face) << size;
    EXPECT_FALSE(v.attack) << size;
    EXPECT_FALSE(spoofLogLine(v).contains("spoof")) << spoofLogLine(v).toStdString();
  }
  QFile::remove(fullJpg());
  EXPECT_FALSE(judge(PhotoResult{}).attack);
}

TEST_F(SpoofCheck, AntiSpoofIsRefusedAtStartUpWithoutAReadableNetwork) {
  EXPECT_FALSE(refuseAntiSpoofWithoutNetwork(station));  // nets/ holds it
  EXPECT_TRUE(station.settings.antiSpoof);
  EXPECT_TRUE(messages.shown.isEmpty());

  // A folder of its own without the file, then with a file that is not a network.
  QFile::remove(dir.file(QStringLiteral("nets")));
  QDir().mkpath(dir.file(QStringLiteral("nets")));
  EXPECT_TRUE(refuseAntiSpoofWithoutNetwork(station));
  EXPECT_FALSE(station.settings.antiSpoof);
  ASSERT_EQ(messages.shown.size(), 1);
  EXPECT_TRUE(messages.shown[0].startsWith("AntiSpoof=1 refused: the liveness network ")) << messages.shown[0].toStdString();
  EXPECT_TRUE(messages.shown[0].contains("is missing"));
  EXPECT_TRUE(station.log.contains("AntiSpoof=1 refused"));

  writeFile(dir.file(QStringLiteral("nets/fr_liveness.onnx")), QByteArray(4096, 'x'));
  station.settings.antiSpoof = true;
  EXPECT_TRUE(refuseAntiSpoofWithoutNetwork(station));
  EXPECT_FALSE(station.settings.antiSpoof);
  EXPECT_TRUE(messages.shown.value(1).contains("cannot be read")) << messages.shown.value(1).toStdString();

  // AntiSpoof=0 needs no network and says nothing.
  EXPECT_FALSE(refuseAntiSpoofWithoutNetwork(station));
  EXPECT_EQ(messages.shown.size(), 2);
}

TEST_F(SpoofCheck, TheCameraCheckTellsTheFigureWhenTheCamerasLiveCapturesFail) {
  station.settings.webCam = QStringLiteral("0");
  // A photo series at a camera that scores three of twenty live faces below the threshold: 17
  // live nuaa captures and three studio portraits the network refuses.
  QStringList captures;
  for (const QString& f : QDir(testData(QStringLiteral("nuaa/real/0004"))).entryList({"*.jpg"}, QDir::Files, QDir::Name).mid(0, 17))
    captures << QStringLiteral("nuaa/real/0004/") + f;
  captures << QStringLiteral("london/london_032/neutral_032_03.jpg") << QStringLiteral("london/london_068/neutral_068_03.jpg")
           << QStringLiteral("london/london_009/neutral_009_03.jpg");
  ASSERT_EQ(captures.size(), CameraLiveness::kMinimum);
  {
    CameraLiveness check(station);
    for (int i = 0; i < captures.size(); ++i) {
      check.seriesPicture(place(captures[i]));
      // Nothing is told before there are enough captures to tell a figure.
      if (i + 1 < captures.size()) {
        EXPECT_FALSE(station.log.contains("Camera check")) << i;
      }
    }
    EXPECT_EQ(check.figure().captures, 20);
    EXPECT_EQ(check.figure().refused, 3);
    EXPECT_TRUE(station.log.contains(
        "Camera check: 3 of the last 20 live captures of camera \"web 0\" (15.0 %) scored below the liveness threshold 0.35"))
        << station.log.lines().join('\n').toStdString();
    EXPECT_TRUE(messages.shown.isEmpty());  // no box while the station works
  }

  // The next start-up says so to the operator, from what was stored.
  CameraLiveness afterRestart(station);
  EXPECT_TRUE(afterRestart.reportAtStartUp());
  ASSERT_EQ(messages.shown.size(), 1);
  EXPECT_TRUE(messages.shown[0].contains("3 of the last 20 live captures")) << messages.shown[0].toStdString();

  // Check-ins: only a confirmed one proves its captures live; a refused one may be an attack.
  const SpoofVerdict printed = judgeAttempt(station.tempFile(QStringLiteral("model_full.jpg")),
                                            place(QStringLiteral("nuaa/print/0002/0002_01_08_03_222.jpg")));
  ASSERT_TRUE(printed.attack);
  for (int i = 0; i < 3; ++i) afterRestart.attemptJudged(printed);
  afterRestart.checkInEnded(false);
  EXPECT_EQ(afterRestart.figure().captures, 20);
  const SpoofVerdict live = judge(place(QStringLiteral("nuaa/real/0004/") +
                                        QDir(testData(QStringLiteral("nuaa/real/0004"))).entryList({"*.jpg"}, QDir::Files, QDir::Name).last()));
  ASSERT_FALSE(live.attack);
  afterRestart.attemptJudged(SpoofVerdict{});  // an attempt without a face proves nothing
  afterRestart.attemptJudged(live);
  afterRestart.checkInEnded(true);
  EXPECT_EQ(afterRestart.figure().captures, 21);
  EXPECT_EQ(afterRestart.figure().refused, 3);

  // Another camera has a figure of its own; with AntiSpoof=0 nothing is scored or told.
  station.settings.webCam = QStringLiteral("1");
  EXPECT_EQ(afterRestart.figure().captures, 0);
  EXPECT_FALSE(afterRestart.reportAtStartUp());
  station.settings.webCam = QStringLiteral("0");
  station.settings.antiSpoof = false;
  afterRestart.seriesPicture(place(captures.last()));
  EXPECT_EQ(afterRestart.figure().captures, 21);
  EXPECT_FALSE(afterRestart.reportAtStartUp());
  EXPECT_EQ(messages.shown.size(), 1);
}

}  // namespace
}  // namespace tavo::test
