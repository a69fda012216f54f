// The enrolment request against the real template base and networks, with real photographs.
#include <QFile>

#include "checkin/enrolment_request.h"
#include "checkin/photo_series.h"
#include "protect/face_file.h"
#include "tests/face/face_fixture.h"
#include "tests/support/huge_picture.h"

namespace tavo::test {
namespace {

class EnrolFaceBaseTest : public FaceBaseFixture {
 protected:
  void SetUp() override {
    FaceBaseFixture::SetUp();
    base->Button19Click();  // the start-up build, on an empty model table
    request = std::make_unique<EnrolmentRequest>(station, *store);
    request->useTemplateBase(*base);
  }

  // A series of one person's photographs n, n+1, n+2 as "Face101_face.jpg".."Face103_face.jpg".
  void placeSeries(const QString& person, int n) {
    for (const QString& name : seriesFiles()) QFile::remove(flag(name));  // the poll's clean-up
    for (int k = 0; k < 3; ++k)
      ASSERT_TRUE(QFile::copy(lfw(person, n + k), flag(seriesFacePicture(101 + k))));
  }
  QString flag(const QString& name) const { return hostPath(joinPath(station.settings.flagDir, name)); }

  std::unique_ptr<EnrolmentRequest> request;
};

TEST_F(EnrolFaceBaseTest, SameFaceIsKeptToItsOwnBarcode) {
  const QStringList lines{QStringLiteral("2200000169020"), QStringLiteral("Face101"), QString()};
  placeSeries(QStringLiteral("Colin_Powell"), 1);
  EnrolmentOutcome first = request->handle(lines);
  EXPECT_TRUE(first.enrolled);
  EXPECT_EQ(first.percent, 0);  // nobody enrolled yet
  EXPECT_EQ(base->size(), 3u);

  // The same man again under a new barcode: the new models took part in matching at once, so he
  // is refused.
  placeSeries(QStringLiteral("Colin_Powell"), 4);
  const EnrolmentOutcome other = request->handle({QStringLiteral("4600000000001"), QStringLiteral("Face102"), QString()});
  EXPECT_FALSE(other.enrolled);
  EXPECT_GE(other.percent, 70.0);
  EXPECT_EQ(other.matchedEan, QStringLiteral("2200000169020"));

  // Under his own barcode the new pictures are added.
  const EnrolmentOutcome own = request->handle(lines);
  EXPECT_TRUE(own.enrolled);
  EXPECT_TRUE(own.hadModels);
  EXPECT_EQ(base->size(), 6u);

  EXPECT_EQ(db().scalar(QStringLiteral("SELECT count(*) FROM Model WHERE EAN = '2200000169020'")).toInt(), 6);
}

int modelCount(Database& db) { return db.scalar(QStringLiteral("SELECT count(*) FROM Model")).toInt(); }

// A picked picture that can make no model that ever matches is refused with "ошибка": nothing is
// stored, nothing enters the base. A bad picture among the others of the series is only skipped.
TEST_F(EnrolFaceBaseTest, PickedPicturesWithoutAFaceAreRefusedAndBadSeriesPicturesSkipped) {
  const QString picked = flag(seriesFacePicture(102));
  const QByteArray portrait = readFile(lfw(QStringLiteral("Colin_Powell"), 1));
  const struct {
    const char* what;
    QByteArray bytes;
  } bad[] = {
      {"empty", QByteArray()},
      {"text", QByteArray("not a picture at all\r\n")},
      {"no face", readFile(testData(QStringLiteral("samples/017_0.jpg")))},
      {"20000 x 20000", withJpegSize(portrait, 20000, 20000)},
      {"TIFF portrait", readFile(testData(QStringLiteral("samples/formats/einstein.tiff")))},
  };
  for (const auto& c : bad) {
    SCOPED_TRACE(c.what);
    placeSeries(QStringLiteral("Colin_Powell"), 1);
    writeFile(picked, c.bytes);
    QFile::remove(flag(QStringLiteral("endUser.txt")));
    const EnrolmentOutcome out = request->handle({QStringLiteral("2200000169020"), QStringLiteral("Face102"), QStringLiteral("Да")});
    EXPECT_FALSE(out.enrolled);
    EXPECT_EQ(readFile(flag(QStringLiteral("endUser.txt"))), QByteArray("\xEE\xF8\xE8\xE1\xEA\xE0\r\n0\r\n"));
    EXPECT_EQ(modelCount(db()), 0);
    EXPECT_EQ(base->size(), 0u);
  }
  EXPECT_EQ(station.log.lines().filter(QStringLiteral("20000 x 20000")).size(), 1);

  // The picked picture is good, another of the series has no face: two models.
  placeSeries(QStringLiteral("Colin_Powell"), 1);
  writeFile(flag(seriesFacePicture(103)), readFile(testData(QStringLiteral("samples/017_0.jpg"))));
  const EnrolmentOutcome out = request->handle({QStringLiteral("2200000169020"), QStringLiteral("Face102"), QString()});
  EXPECT_TRUE(out.enrolled);
  EXPECT_EQ(out.enrolledPictures, (QStringList{seriesFacePicture(102), seriesFacePicture(101)}));
  EXPECT_EQ(modelCount(db()), 2);
  EXPECT_EQ(base->size(), 2u);
}

// The flag folder is shared: a series picture replaced by a link (or by another picture) after
// the station read it must not be what is compared, stored or enrolled. The swap comes in the
// middle of the request, during the comparison; everything after it works on the bytes read.
TEST_F(EnrolFaceBaseTest, APictureSwappedAfterItWasReadIsNeverTheOneEnrolled) {
  placeSeries(QStringLiteral("Colin_Powell"), 1);
  const QByteArray picked = readFile(flag(seriesFacePicture(102)));
  const QString other = dir.file(QStringLiteral("someone_else.jpg"));
  writeFile(other, readFile(lfw(QStringLiteral("George_W_Bush"), 1)));
  const auto recognize = request->recognize;
  request->recognize = [&](const QString& f, int m, int& id, double& p, QString& n) {
    QFile::remove(flag(seriesFacePicture(102)));
    ASSERT_TRUE(QFile::link(other, flag(seriesFacePicture(102))));
    recognize(f, m, id, p, n);
  };
  const EnrolmentOutcome out = request->handle({QStringLiteral("2200000169020"), QStringLiteral("Face102"), QString()});
  ASSERT_TRUE(out.enrolled);
  EXPECT_EQ(out.enrolledPictures.first(), seriesFacePicture(102));
  const Rows rows = db().query(QStringLiteral("SELECT FileName FROM Model ORDER BY id"));
  ASSERT_EQ(rows.size(), 3);
  const QByteArray stored = keyStreamTransform(
      readFile(hostPath(joinPath(station.settings.modelDir, rows.value(0, "FileName").toString())) + "_face.bin"), kSystemKey);
  EXPECT_EQ(stored, picked);
  // No copy is left behind in "Temp".
  EXPECT_TRUE(QDir(station.settings.programPath + "Temp").entryList({"Face10*"}, QDir::Files).isEmpty());
}

// Killed after the models were made but before "user.txt" was deleted, the station handles the
// same request again at its next start: the pictures already stored for the barcode are not
// made models a second time, and the office system gets its answer again.
TEST_F(EnrolFaceBaseTest, ARequestHandledAgainAfterACrashMakesNoSecondModels) {
  const QStringList lines{QStringLiteral("2200000169020"), QStringLiteral("Face101"), QString()};
  placeSeries(QStringLiteral("Colin_Powell"), 1);
  ASSERT_TRUE(request->handle(lines).enrolled);
  ASSERT_EQ(modelCount(db()), 3);

  // The restart: the base is built from the database, the request file is still there.
  store->tableModel().refresh();
  base->Button19Click();
  ASSERT_EQ(base->size(), 3u);
  QFile::remove(flag(QStringLiteral("endUser.txt")));
  const EnrolmentOutcome again = request->handle(lines);
  EXPECT_TRUE(again.enrolled);
  EXPECT_TRUE(again.enrolledPictures.isEmpty());
  EXPECT_EQ(readFile(flag(QStringLiteral("endUser.txt"))).left(2), QByteArray("\r\n"));
  EXPECT_EQ(modelCount(db()), 3);
  EXPECT_EQ(base->size(), 3u);

  // Another barcode's models do not count: the same pictures under it are judged anew (and
  // refused here, being this barcode's face).
  EXPECT_FALSE(request->handle({QStringLiteral("4600000000001"), QStringLiteral("Face101"), QString()}).enrolled);
  EXPECT_EQ(modelCount(db()), 3);

  // Deactivated models are in no base: the same pictures become active models again.
  db().exec(QStringLiteral("UPDATE Model SET Active = 0"));
  store->tableModel().refresh();
  base->Button19Click();
  ASSERT_EQ(base->size(), 0u);
  const EnrolmentOutcome revived = request->handle(lines);
  EXPECT_TRUE(revived.enrolled);
  EXPECT_EQ(revived.enrolledPictures.size(), 3);
  EXPECT_EQ(db().scalar(QStringLiteral("SELECT count(*) FROM Model WHERE Active = 1")).toInt(), 3);
  EXPECT_EQ(base->size(), 3u);
}

// The build stops at its capacity (10000 faces at a station): the rows after it, the newest
// models, are never silent. The build says how many active models it left out; an enrolment
// whose models will be left out at the next start is answered and logged so.
TEST_F(EnrolFaceBaseTest, AFullBaseSaysWhichModelsItLeavesOut) {
  base->setCapacity(2);
  addModel(QStringLiteral("2200000000011"), lfw(QStringLiteral("Tony_Blair"), 1));
  addModel(QStringLiteral("2200000000028"), lfw(QStringLiteral("George_W_Bush"), 1));
  addModel(QStringLiteral("2200000000035"), lfw(QStringLiteral("Colin_Powell"), 1));
  addModel(QStringLiteral("2200000000042"), lfw(QStringLiteral("Hugo_Chavez"), 1), false);  // inactive: not counted
  base->Button19Click();
  EXPECT_EQ(base->size(), 2u);
  EXPECT_EQ(base->lastBuild().leftOut, 1);
  EXPECT_TRUE(station.log.contains(QStringLiteral("  LUX base full: 2 faces, 1 active models left out")));
  EXPECT_EQ(base->labelNote(), QStringLiteral("база полна, не вошли: 1"));
  EXPECT_TRUE(QFile::exists(flag(QStringLiteral("ArrayOk.txt"))));  // the station still serves

  // A new employee: matched until the next start, and the office and the operator are told.
  placeSeries(QStringLiteral("Ariel_Sharon"), 1);
  const EnrolmentOutcome out = request->handle({QStringLiteral("4600000000001"), QStringLiteral("Face101"), QString()});
  ASSERT_TRUE(out.enrolled);
  EXPECT_TRUE(out.leftOutAtNextStart);
  EXPECT_EQ(readFile(flag(QStringLiteral("endUser.txt"))),
            "\r\n" + Settings::realText(out.percent, station.locale).toLatin1() + "\r\n\xE1\xE0\xE7\xE0 \xEF\xEE\xEB\xED\xE0\r\n");
  EXPECT_TRUE(station.log.contains(QStringLiteral("is matched until the next start, then left out of the base")));
  EXPECT_TRUE(station.log.contains(QStringLiteral(", base full: left out at the next start")));
  EXPECT_GT(base->size(), 2u);
  base->Button19Click();  // the next start: as the answer said
  EXPECT_EQ(base->size(), 2u);
  EXPECT_EQ(base->lastBuild().leftOut, 1 + int(out.enrolledPictures.size()));

  // With room again the answer is the usual two lines and the label says nothing more.
  base->setCapacity(FaceBase::kDefaultCapacity);
  base->Button19Click();
  EXPECT_EQ(base->lastBuild().leftOut, 0);
  EXPECT_TRUE(base->labelNote().isEmpty());
  placeSeries(QStringLiteral("Vladimir_Putin"), 1);
  const EnrolmentOutcome roomy = request->handle({QStringLiteral("4600000000002"), QStringLiteral("Face101"), QString()});
  ASSERT_TRUE(roomy.enrolled);
  EXPECT_FALSE(roomy.leftOutAtNextStart);
  EXPECT_EQ(readFile(flag(QStringLiteral("endUser.txt"))),
            "\r\n" + Settings::realText(roomy.percent, station.locale).toLatin1() + "\r\n");
}

}  // namespace
}  // namespace tavo::test
