// The template base build (Button19Click) and enrolment on a real encrypted database, real
// networks and real photographs.
#include <QFileInfo>
#include <QTimer>
#include <stdexcept>

#include "tests/face/face_fixture.h"
#include "tests/support/huge_picture.h"

namespace tavo::test {
namespace {

const QString kLoadError = QStringLiteral("Error loading file (EnrollPicture)");

class BuildTest : public FaceBaseFixture {
 protected:
  void SetUp() override {
    FaceBaseFixture::SetUp();
    base->onLabel = [this](const QString& text) { labels << text; };
    base->setBusy = [this](bool on) { busy << on; };
  }

  QString arrayOk() const { return hostPath(joinPath(station.settings.flagDir, QStringLiteral("ArrayOk.txt"))); }
  QString tempPicture() const { return hostPath(station.tempFile(QStringLiteral("CreateArreyModel.jpg"))); }
  QString exportFile(const QString& ean, qint64 id) const {
    return hostPath(QLatin1String(kExportFolder) + exportFileName(ean, id));
  }
  // A "photo" that is no picture at all.
  QString garbageFile() {
    const QString path = dir.file(QStringLiteral("garbage.jpg"));
    writeFile(path, QByteArray("this is not a picture\n").repeated(40));
    return path;
  }

  QStringList labels;
  QList<bool> busy;
};

TEST(ExportFileName, PadsIdToSixDigitsAndKeepsLongerIds) {
  EXPECT_EQ(exportFileName(QStringLiteral("2200000169020"), 7), QStringLiteral("2200000169020_000007_id.jpg"));
  EXPECT_EQ(exportFileName(QStringLiteral("2200000169020"), 1234567), QStringLiteral("2200000169020_1234567_id.jpg"));
  EXPECT_EQ(exportFileName(QStringLiteral("1"), 123456), QStringLiteral("1_123456_id.jpg"));
}

TEST_F(BuildTest, EmptyTableLeavesLabelAndStillWritesArrayOk) {
  base->Button19Click();
  EXPECT_TRUE(base->isEmpty());
  EXPECT_TRUE(labels.isEmpty());
  EXPECT_TRUE(base->labelText().isEmpty());
  ASSERT_TRUE(QFileInfo::exists(arrayOk()));
  EXPECT_EQ(QFileInfo(arrayOk()).size(), 0);
  EXPECT_TRUE(station.log.contains(QStringLiteral("  start - LUX")));
  EXPECT_TRUE(station.log.contains(QStringLiteral("  end - LUX")));
  EXPECT_EQ(busy, (QList<bool>{true, false}));
}

TEST_F(BuildTest, OnlyInactiveRowsShowZeroAndStayUntouched) {
  const qint64 a = addModel(QStringLiteral("2200000000011"), lfw(QStringLiteral("Tony_Blair"), 1), false);
  const qint64 b = addModel(QStringLiteral("2200000000028"), lfw(QStringLiteral("George_W_Bush"), 1), false);
  base->Button19Click();
  EXPECT_TRUE(base->isEmpty());
  EXPECT_EQ(labels, (QStringList{QStringLiteral("База моделей 0"), QStringLiteral("База моделей 0")}));
  for (qint64 id : {a, b}) {
    const Flags f = flags(id);
    EXPECT_FALSE(f.active || f.dark || f.light) << id;
  }
  EXPECT_TRUE(QDir(hostPath(QLatin1String(kExportFolder))).isEmpty());
}

TEST_F(BuildTest, EnrolsActiveModelsKeepsFlagsAndExportsOnce) {
  const QString tony = QStringLiteral("2200000169020"), bush = QStringLiteral("2200000169037");
  const qint64 t = addModel(tony, lfw(QStringLiteral("Tony_Blair"), 1), true, false, false, 7);
  // Exported before, last enrolment found no face: only light changes.
  const qint64 b = addModel(bush, lfw(QStringLiteral("George_W_Bush"), 1), true, true, false, 1234567);
  const qint64 dog = addModel(QStringLiteral("2200000169044"), testData(QStringLiteral("samples/017_0.jpg")));
  const qint64 junk = addModel(QStringLiteral("2200000169051"), garbageFile());
  const qint64 missing = addModel(QStringLiteral("2200000169068"), QString());
  const qint64 idle = addModel(QStringLiteral("2200000169075"), lfw(QStringLiteral("Colin_Powell"), 1), false);
  // A face file whose picture claims 20000 x 20000 pixels: refused before it is decoded.
  const qint64 huge = addModel(QStringLiteral("2200000169082"), QString());
  QByteArray bomb = withJpegSize(readFile(lfw(QStringLiteral("Tony_Blair"), 1)), 20000, 20000);
  applyKeyStream(bomb.data(), std::size_t(bomb.size()), kSystemKey);
  writeFile(hostPath(modelBase(QStringLiteral("m7")) + QLatin1String(kFaceBinSuffix)), bomb);

  base->Button19Click();

  ASSERT_EQ(base->size(), 2u);
  const auto& list = base->FaceList();
  EXPECT_EQ(list[0].id, t);
  EXPECT_EQ(list[0].fio, tony);
  EXPECT_EQ(list[1].id, b);
  EXPECT_EQ(list[1].fio, bush);
  for (const auto& r : list) {
    EXPECT_EQ(r.ImageHandle, 0);  // the scaled picture is not held
    EXPECT_GT(r.FacePosition.w, 0);
    EXPECT_TRUE(fsdk::descriptorOf(r.Template).has_value());
  }
  EXPECT_EQ(base->descriptors().size(), 2u * fsdk::kDescriptorSize);

  const Flags ft = flags(t), fb = flags(b), fd = flags(dog), fj = flags(junk), fm = flags(missing), fi = flags(idle),
              fh = flags(huge);
  EXPECT_TRUE(ft.active && ft.dark && ft.light);
  EXPECT_TRUE(fb.dark && fb.light);
  EXPECT_TRUE(fd.dark);
  EXPECT_FALSE(fd.light);
  EXPECT_TRUE(fj.dark);
  EXPECT_FALSE(fj.light);
  EXPECT_FALSE(fm.active);  // deactivated before the walk
  EXPECT_FALSE(fm.dark);
  EXPECT_FALSE(fi.dark || fi.light);
  EXPECT_TRUE(fh.active && fh.dark);
  EXPECT_FALSE(fh.light);

  // Export copies are the encrypted files, unchanged; exported rows are not copied again.
  EXPECT_EQ(readFile(exportFile(tony, t)), readFile(hostPath(modelBase(QStringLiteral("m1")) + QLatin1String(kFaceBinSuffix))));
  EXPECT_TRUE(exportFile(tony, t).endsWith(QStringLiteral("/2200000169020_000007_id.jpg")));
  EXPECT_FALSE(QFileInfo::exists(exportFile(bush, b)));
  EXPECT_EQ(QDir(hostPath(QLatin1String(kExportFolder))).entryList(QDir::Files).size(), 4);

  EXPECT_EQ(messages.shown, (QStringList{kLoadError, kLoadError}));
  EXPECT_EQ(messages.captions, (QStringList{QStringLiteral("Error"), QStringLiteral("Error")}));
  EXPECT_EQ(base->labelText(), QStringLiteral("База моделей 2"));
  EXPECT_FALSE(QFileInfo::exists(tempPicture()));
  EXPECT_TRUE(QFileInfo::exists(arrayOk()));

  // A second build starts from an empty base and exports nothing new.
  QFile::remove(exportFile(tony, t));
  base->Button19Click();
  EXPECT_EQ(base->size(), 2u);
  EXPECT_FALSE(QFileInfo::exists(exportFile(tony, t)));
}

TEST_F(BuildTest, StopsAtTheLimitAndLeavesLaterRowsAlone) {
  base->setCapacity(2);
  addModel(QStringLiteral("1"), lfw(QStringLiteral("Tony_Blair"), 1));
  addModel(QStringLiteral("2"), testData(QStringLiteral("samples/017_0.jpg")));
  addModel(QStringLiteral("3"), lfw(QStringLiteral("George_W_Bush"), 1));
  const qint64 last = addModel(QStringLiteral("4"), lfw(QStringLiteral("Colin_Powell"), 1));
  base->Button19Click();
  EXPECT_EQ(base->size(), 2u);
  const Flags f = flags(last);
  EXPECT_FALSE(f.dark || f.light);
  EXPECT_EQ(labels, (QStringList{QStringLiteral("База моделей 1"), QStringLiteral("База моделей 1")}));
  EXPECT_TRUE(QFileInfo::exists(arrayOk()));
}

TEST_F(BuildTest, ModelFilterLimitsTheWalk) {
  const qint64 in1 = addModel(QStringLiteral("2200000111001"), lfw(QStringLiteral("Tony_Blair"), 1));
  const qint64 out = addModel(QStringLiteral("2200000222002"), lfw(QStringLiteral("George_W_Bush"), 1));
  const qint64 in2 = addModel(QStringLiteral("2200000111003"), lfw(QStringLiteral("Colin_Powell"), 1));
  store->applyModelFilter(ModelFilter::eanContains(QStringLiteral("111")));
  base->Button19Click();
  ASSERT_EQ(base->size(), 2u);
  EXPECT_EQ(base->FaceList()[0].id, in1);
  EXPECT_EQ(base->FaceList()[1].id, in2);
  EXPECT_FALSE(flags(out).dark);
}

TEST_F(BuildTest, FaceWithoutEyesIsCountedButNotEnrolled) {
  // Faces with the eye region painted over or turned upside down: the engine may still find the
  // eyes, so take the first that gives a face without eyes as the build sees it (after the
  // encrypted file's round trip).
  std::vector<QImage> candidates;
  for (const char* person : {"George_W_Bush", "Colin_Powell", "Tony_Blair", "Ariel_Sharon"})
    for (int n = 1; n <= 4; ++n) {
      const QImage face = QImage(lfw(QString::fromLatin1(person), n)).convertToFormat(QImage::Format_RGB32);
      QImage covered = face;
      QPainter(&covered).fillRect(70, 90, 110, 45, Qt::white);
      candidates.push_back(covered);
      candidates.push_back(face.mirrored(false, true));
    }
  QString photo;
  ASSERT_EQ(FSDK_SetNetworksFolder(dir.file(QStringLiteral("nets")).toUtf8().constData()), FSDKE_OK);
  ASSERT_EQ(FSDK_Initialize(""), FSDKE_OK);
  for (const QImage& image : candidates) {
    const QString path = writeImage(image, QStringLiteral("candidate.jpg"));
    EncryptImage(path, dir.file(QStringLiteral("candidate")), kSystemKey);
    ASSERT_TRUE(DecryptImage(dir.file(QStringLiteral("candidate")), kSystemKey, dir.path()));
    const PictureTemplate p = templateOfPicture(tempPicture(), station.settings.threshold, kEnrolmentScale);
    if (p.faceFound() && p.eyesCode == FSDKE_EYES_NOT_FOUND) {
      photo = writeImage(image, QStringLiteral("noeyes.jpg"));
      break;
    }
  }
  if (photo.isEmpty()) GTEST_SKIP() << "the engine finds the eyes in every prepared picture";

  const qint64 id = addModel(QStringLiteral("2200000000011"), photo);
  base->Button19Click();
  EXPECT_TRUE(base->isEmpty());
  EXPECT_EQ(messages.shown, QStringList{QStringLiteral("Error detection facial features.")});
  EXPECT_TRUE(flags(id).light);
  EXPECT_EQ(base->labelText(), QStringLiteral("База моделей 1"));
}

TEST_F(BuildTest, TimerWorkThatMovesTheModelCursorDoesNotDisturbTheWalk) {
  const qint64 a = addModel(QStringLiteral("1"), lfw(QStringLiteral("Tony_Blair"), 1));
  const qint64 b = addModel(QStringLiteral("2"), lfw(QStringLiteral("George_W_Bush"), 1));
  const qint64 c = addModel(QStringLiteral("3"), lfw(QStringLiteral("Colin_Powell"), 1));
  QTimer mover;
  mover.setInterval(0);
  QObject::connect(&mover, &QTimer::timeout, [this] { models().last(); });
  mover.start();
  base->Button19Click();
  mover.stop();
  ASSERT_EQ(base->size(), 3u);
  EXPECT_EQ(base->FaceList()[0].id, a);
  EXPECT_EQ(base->FaceList()[1].id, b);
  EXPECT_EQ(base->FaceList()[2].id, c);
  for (qint64 id : {a, b, c}) EXPECT_TRUE(flags(id).dark && flags(id).light) << id;
}

// Operator messages that fail, standing in for any error that escapes a step of the walk.
class FailingMessages : public RecordingMessages {
 public:
  void show(const QString& text, const QString& caption) override {
    RecordingMessages::show(text, caption);
    throw std::runtime_error("message box failed");
  }
};

TEST_F(BuildTest, AnEscapingErrorEndsTheBuildButKeepsWhatWasEnrolled) {
  FailingMessages failing;
  station.setMessages(&failing);
  addModel(QStringLiteral("1"), lfw(QStringLiteral("Tony_Blair"), 1));
  const qint64 junk = addModel(QStringLiteral("2"), garbageFile());
  const qint64 after = addModel(QStringLiteral("3"), lfw(QStringLiteral("George_W_Bush"), 1));

  EXPECT_THROW(base->Button19Click(), std::runtime_error);
  EXPECT_EQ(base->size(), 1u);
  EXPECT_EQ(busy, (QList<bool>{true, false}));
  EXPECT_TRUE(models().notificationsEnabled());
  EXPECT_FALSE(QFileInfo::exists(tempPicture()));
  EXPECT_FALSE(QFileInfo::exists(arrayOk()));
  EXPECT_FALSE(station.log.contains(QStringLiteral("  end - LUX")));
  EXPECT_FALSE(flags(junk).dark);
  EXPECT_FALSE(flags(after).dark);
}

TEST_F(BuildTest, EnrollPictureAppendsWithoutHoldingThePicture) {
  bool check = false;
  const QString longFio(300, QLatin1Char('7'));
  base->EnrollPicture(lfw(QStringLiteral("Tony_Blair"), 2), 41, check, longFio);
  EXPECT_TRUE(check);
  ASSERT_EQ(base->size(), 1u);
  EXPECT_EQ(base->FaceList()[0].id, 41);
  EXPECT_EQ(base->FaceList()[0].fio, longFio.left(255));
  EXPECT_EQ(base->FaceList()[0].ImageHandle, 0);

  check = true;
  base->EnrollPicture(testData(QStringLiteral("samples/017_0.jpg")), 42, check, QStringLiteral("x"));
  EXPECT_FALSE(check);
  EXPECT_TRUE(messages.shown.isEmpty());

  check = true;
  base->EnrollPicture(dir.file(QStringLiteral("absent.jpg")), 43, check, QStringLiteral("x"));
  EXPECT_FALSE(check);
  EXPECT_EQ(messages.shown, QStringList{kLoadError});
  EXPECT_EQ(base->size(), 1u);
}

}  // namespace
}  // namespace tavo::test
