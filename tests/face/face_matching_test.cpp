// Face matching (FaceRecognitionLuxand) against a base built from real photographs.
#include "tests/face/face_fixture.h"

namespace tavo::test {
namespace {

const QString kStart = QStringLiteral("  start - FaceRecognitionLuxand");
const QString kEnd = QStringLiteral("  end - FaceRecognitionLuxand");

class MatchingTest : public FaceBaseFixture {
 protected:
  struct Result {
    int id = -1;
    double percent = -1;
    QString fio = QStringLiteral("entry value");
  };
  Result recognize(const QString& name, int mode) {
    Result r{99, 12.5, QStringLiteral("entry value")};  // values on entry are not used
    base->FaceRecognitionLuxand(name, mode, r.id, r.percent, r.fio);
    return r;
  }
  // Puts a photo where mode 2 looks for it.
  void toFlagDir(const QString& photo, const QString& name) {
    const QString target = hostPath(joinPath(station.settings.flagDir, name + QStringLiteral("_face.jpg")));
    QFile::remove(target);
    ASSERT_TRUE(QFile::copy(photo, target));
  }
  // What the record-by-record comparison gives, measured from the base's centre on the base's own
  // scale: the first record with the greatest similarity above 0.
  Result bruteForce(const QString& probePhoto) {
    const PictureTemplate p = templateOfPicture(probePhoto, station.settings.threshold, kProbeScale);
    Result r{0, 0, QString()};
    if (!p.complete()) return r;
    const auto probe = fsdk::descriptorOf(p.Template);
    float best = 0;
    for (const auto& rec : base->FaceList()) {
      const auto d = fsdk::descriptorOf(rec.Template);
      const fsdk::Centre& c = base->matchCentre();
      const float s = fsdk::similarityOfScore(fsdk::centredScore(probe->data(), d->data(), c), c.shift);
      if (s > best) {
        best = s;
        r.id = rec.id;
        r.fio = rec.fio;
      }
    }
    r.percent = double(best) * 100;
    return r;
  }
  int logCount(const QString& line) const { return int(station.log.lines().filter(line).size()); }

  static const QStringList& people() {
    static const QStringList p{QStringLiteral("Tony_Blair"), QStringLiteral("George_W_Bush"),
                               QStringLiteral("Colin_Powell"), QStringLiteral("Vladimir_Putin"),
                               QStringLiteral("Ariel_Sharon")};
    return p;
  }
  // One model (photo 1) per person, barcode "22000000000" + index.
  void buildPeople() {
    for (int i = 0; i < people().size(); ++i)
      ids << addModel(QStringLiteral("22000000000%1").arg(i), lfw(people()[i], 1));
    base->Button19Click();
    ASSERT_EQ(base->size(), std::size_t(people().size()));
  }
  QList<qint64> ids;
};

TEST_F(MatchingTest, FindsTheSamePersonAndAgreesWithTheLibraryComparison) {
  buildPeople();
  for (int i = 0; i < people().size(); ++i) {
    const QString probe = lfw(people()[i], 2);
    toFlagDir(probe, QStringLiteral("Face101"));
    // The name's spaces are dropped: "Face 101" is read as "Face101_face.jpg".
    const Result r = recognize(QStringLiteral("Face 101"), 2);
    EXPECT_EQ(r.id, ids[i]) << people()[i].toStdString();
    EXPECT_EQ(r.fio, QStringLiteral("22000000000%1").arg(i));
    EXPECT_GT(r.percent, 50);
    const Result expected = bruteForce(probe);
    EXPECT_EQ(r.id, expected.id);
    EXPECT_EQ(r.fio, expected.fio);
    EXPECT_DOUBLE_EQ(r.percent, expected.percent);
  }
  EXPECT_EQ(logCount(kStart), people().size());
  EXPECT_EQ(logCount(kEnd), people().size());
}

TEST_F(MatchingTest, EqualRecordsLeaveTheLeadToTheEarlierOne) {
  // Same photo, same template: the model first in table order (by barcode) leads.
  const qint64 first = addModel(QStringLiteral("2200000000011"), lfw(QStringLiteral("Tony_Blair"), 1));
  addModel(QStringLiteral("2200000000028"), lfw(QStringLiteral("Tony_Blair"), 1));
  addModel(QStringLiteral("2200000000004"), lfw(QStringLiteral("George_W_Bush"), 1));
  base->Button19Click();
  ASSERT_EQ(base->size(), 3u);
  toFlagDir(lfw(QStringLiteral("Tony_Blair"), 3), QStringLiteral("Face102"));
  const Result r = recognize(QStringLiteral("Face102"), 2);
  EXPECT_EQ(r.id, first);
  EXPECT_EQ(r.fio, QStringLiteral("2200000000011"));
}

TEST_F(MatchingTest, ProgramAndWorkFoldersByMode) {
  EXPECT_EQ(base->probePath(QStringLiteral("2019\\05\\12\\20190512-a b"), 0),
            QStringLiteral("C:\\Face\\Work\\2019\\05\\12\\20190512-ab_face.jpg"));
  EXPECT_EQ(base->probePath(QStringLiteral(" Face 1 0 1 "), 2), QStringLiteral("C:\\Face\\Monitor\\Face101_face.jpg"));
  EXPECT_EQ(base->probePath(QStringLiteral("model"), 3), dir.path() + QStringLiteral("Temp\\model_face.jpg"));

  const qint64 id = addModel(QStringLiteral("2200000000011"), lfw(QStringLiteral("Colin_Powell"), 1));
  base->Button19Click();
  ASSERT_TRUE(QFile::copy(lfw(QStringLiteral("Colin_Powell"), 2), dir.file(QStringLiteral("Temp/model_face.jpg"))));
  EXPECT_EQ(recognize(QStringLiteral("model"), 3).id, id);
  const QString work = hostPath(QStringLiteral("C:\\Face\\Work\\2019\\05\\12"));
  ASSERT_TRUE(QDir().mkpath(work));
  ASSERT_TRUE(QFile::copy(lfw(QStringLiteral("Colin_Powell"), 3), work + QStringLiteral("/20190512-x_face.jpg")));
  EXPECT_EQ(recognize(QStringLiteral("2019\\05\\12\\20190512-x"), 0).id, id);
}

TEST_F(MatchingTest, NothingMatchedGivesZeros) {
  const QString probe = lfw(QStringLiteral("Tony_Blair"), 2);
  toFlagDir(probe, QStringLiteral("Face101"));

  // Empty base.
  Result r = recognize(QStringLiteral("Face101"), 2);
  EXPECT_EQ(r.id, 0);
  EXPECT_EQ(r.percent, 0);
  EXPECT_TRUE(r.fio.isEmpty());
  EXPECT_EQ(logCount(kEnd), 1);

  // Every similarity 0: a record opposite the probe's face.
  const PictureTemplate p = templateOfPicture(probe, station.settings.threshold, kProbeScale);
  ASSERT_TRUE(p.complete());
  fsdk::Descriptor far = *fsdk::descriptorOf(p.Template);
  for (float& v : far) v = -v;
  TFaceRecord rec;
  rec.Template = fsdk::templateOf(far);
  rec.id = 5;
  rec.fio = QStringLiteral("5");
  base->append(rec);
  r = recognize(QStringLiteral("Face101"), 2);
  EXPECT_EQ(r.id, 0);
  EXPECT_EQ(r.percent, 0);
  EXPECT_TRUE(r.fio.isEmpty());

  // A picture without a face.
  toFlagDir(testData(QStringLiteral("samples/017_0.jpg")), QStringLiteral("Dogs"));
  r = recognize(QStringLiteral("Dogs"), 2);
  EXPECT_EQ(r.id, 0);
  EXPECT_EQ(r.percent, 0);
  EXPECT_EQ(logCount(kEnd), 3);
}

TEST_F(MatchingTest, MissingOrBrokenProbeReturnsAtOnceWithoutEndLine) {
  buildPeople();
  Result r = recognize(QStringLiteral("Face109"), 2);
  EXPECT_EQ(r.id, 0);
  EXPECT_EQ(r.percent, 0);
  EXPECT_TRUE(r.fio.isEmpty());
  toFlagDir(testData(QStringLiteral("samples/formats/corrupted.png")), QStringLiteral("Broken"));
  r = recognize(QStringLiteral("Broken"), 2);
  EXPECT_EQ(r.id, 0);
  EXPECT_EQ(logCount(kStart), 2);
  EXPECT_EQ(logCount(kEnd), 0);
}

TEST_F(MatchingTest, ScanHonoursTheThresholdAndSkipsForeignTemplates) {
  fsdk::Descriptor probe{};
  fsdk::Descriptor near{};
  probe[0] = 1;
  near[0] = 0.8f;
  near[1] = 0.6f;  // cosine 0.8
  TFaceRecord foreign;  // zero bytes: not a template of this engine
  foreign.id = 1;
  base->append(foreign);
  TFaceRecord rec;
  rec.Template = fsdk::templateOf(near);
  rec.id = 2;
  base->append(rec);
  base->append(rec);

  const float s = fsdk::similarityOfScore(fsdk::centredScore(probe.data(), near.data(), base->matchCentre()));
  ASSERT_GT(s, 0.f);
  FaceBase::Match m = base->bestMatch(probe.data(), 0);
  EXPECT_EQ(m.index, 1);
  EXPECT_FLOAT_EQ(m.similarity, s);
  EXPECT_EQ(base->bestMatch(probe.data(), s).index, 1);  // equal to the threshold passes
  EXPECT_EQ(base->bestMatch(probe.data(), std::nextafter(s, 1.f)).index, -1);
}

}  // namespace
}  // namespace tavo::test
