// The enrolment request against the real template base and networks, with real photographs.
#include <QFile>

#include "checkin/enrolment_request.h"
#include "checkin/photo_series.h"
#include "tests/face/face_fixture.h"

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

}  // namespace
}  // namespace tavo::test
