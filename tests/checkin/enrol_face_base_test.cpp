// The enrolment request against the real template base and networks, with real photographs.
#include <QFile>

#include "checkin/enrolment_request.h"
#include "checkin/photo_series.h"
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

}  // namespace
}  // namespace tavo::test
