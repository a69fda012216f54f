// The match scale measured from the template base's own centre, on a real encrypted database,
// the real networks and real photographs: the decision on a sample of every development set, the
// statistics following models that come and go as a rebuild would, and bases of one and two
// people.
#include <QFile>
#include <algorithm>
#include <cstring>
#include <map>
#include <ostream>
#include <random>

#include "tests/face/face_fixture.h"

namespace tavo::test {
namespace {

class BaseScaleTest : public FaceBaseFixture {
 protected:
  struct Result {
    int id = 0;
    double percent = 0;
    QString fio;
    bool operator==(const Result& o) const { return id == o.id && percent == o.percent && fio == o.fio; }
    friend void PrintTo(const Result& r, std::ostream* os) {
      *os << r.id << " " << r.fio.toStdString() << " " << r.percent << " %";
    }
  };
  // FaceRecognitionLuxand on a photo placed where mode 2 reads it.
  Result recognize(FaceBase& b, const QString& photo) {
    const QString target = hostPath(joinPath(station.settings.flagDir, QStringLiteral("Face101_face.jpg")));
    QFile::remove(target);
    EXPECT_TRUE(QFile::copy(photo, target));
    Result r;
    b.FaceRecognitionLuxand(QStringLiteral("Face101"), 2, r.id, r.percent, r.fio);
    return r;
  }
  // A base built afresh over the same model table.
  std::unique_ptr<FaceBase> rebuilt() {
    auto b = std::make_unique<FaceBase>(station, *store);
    b->Button19Click();
    return b;
  }
  static bool sameCentre(const fsdk::Centre& a, const fsdk::Centre& b) {
    return std::memcmp(a.mean.data(), b.mean.data(), sizeof a.mean) == 0 && a.norm2 == b.norm2;
  }
  static QString data(const char* file) { return testData(QString::fromLatin1(file)); }

  // The first three real pictures of each person of a labelled set, enrolled as the person's
  // models (as `tavolin-face eval --identify 3` takes them), and the base built.
  void enrolFirstThreeOf(const QString& set) {
    QFile labels(testData(set + QStringLiteral("/labels.csv")));
    ASSERT_TRUE(labels.open(QIODevice::ReadOnly | QIODevice::Text));
    labels.readLine();
    std::map<QString, int> seen;
    std::map<QString, int> barcode;
    while (!labels.atEnd()) {
      const QStringList f = QString::fromUtf8(labels.readLine()).trimmed().split(QLatin1Char(','));
      if (f.size() < 2 || (f.size() > 2 && f[2] != QLatin1String("real"))) continue;
      if (seen[f[1]]++ >= 3) continue;
      barcode.emplace(f[1], int(barcode.size()));
      addModel(QStringLiteral("22000000%1").arg(barcode[f[1]], 5, 10, QLatin1Char('0')),
               testData(set + QLatin1Char('/') + f[0]));
    }
    base->Button19Click();
  }
};

TEST_F(BaseScaleTest, DecidesOnAFixedSampleOfEverySet) {
  // Two people of each set enrolled from their first picture; each shows his second picture, and
  // one person of each set who is not enrolled shows the barcode of his best match (refused).
  struct Person {
    const char* model;
    const char* probe;
  };
  const std::vector<Person> enrolled = {
      {"lfw10/Tony_Blair/Tony_Blair_0001.jpg", "lfw10/Tony_Blair/Tony_Blair_0002.jpg"},
      {"lfw10/George_W_Bush/George_W_Bush_0001.jpg", "lfw10/George_W_Bush/George_W_Bush_0002.jpg"},
      {"london/london_001/neutral_001_03.jpg", "london/london_001/smiling_001_08.jpg"},
      {"london/london_003/neutral_003_03.jpg", "london/london_003/smiling_003_08.jpg"},
      {"celeba/id_07201/001085.jpg", "celeba/id_07201/007710.jpg"},
      {"celeba/id_07203/007200.jpg", "celeba/id_07203/007444.jpg"},
      {"nuaa/real/0001/0001_00_00_01_0.jpg", "nuaa/real/0001/0001_00_00_01_12.jpg"},
      {"nuaa/real/0002/0002_01_00_01_100.jpg", "nuaa/real/0002/0002_01_00_01_109.jpg"},
      {"orl/s3/1.pgm", "orl/s3/2.pgm"},
      {"orl/s4/1.pgm", "orl/s4/2.pgm"},
  };
  const std::vector<const char*> strangers = {
      "lfw10/Colin_Powell/Colin_Powell_0001.jpg", "london/london_005/neutral_005_03.jpg",
      "celeba/id_07205/018774.jpg",               "nuaa/real/0003/0003_01_00_01_0.jpg",
      "orl/s5/1.pgm",
  };
  QList<qint64> ids;
  for (int i = 0; i < int(enrolled.size()); ++i) {
    // Model photos are JPEG files at the station: the greyscale PGM portraits become one.
    QString photo = data(enrolled[i].model);
    if (photo.endsWith(QLatin1String(".pgm"))) photo = writeImage(QImage(photo), QStringLiteral("model%1.jpg").arg(i));
    ids << addModel(QStringLiteral("22000000001%1").arg(i, 2, 10, QLatin1Char('0')), photo);
  }
  base->Button19Click();
  for (int i = 0; i < int(enrolled.size()); ++i)
    EXPECT_TRUE(std::any_of(base->FaceList().begin(), base->FaceList().end(),
                            [&](const TFaceRecord& r) { return r.id == ids[i]; }))
        << enrolled[i].model;
  ASSERT_EQ(base->size(), enrolled.size());
  EXPECT_EQ(base->statistics().people(), enrolled.size());
  // Every probe finds its own model first; one may fall under the minimum (a pair of photos in
  // the wild: 2 to 30 % of such pairs do, by set).
  int confirmed = 0;
  for (int i = 0; i < int(enrolled.size()); ++i) {
    const Result r = recognize(*base, data(enrolled[i].probe));
    EXPECT_EQ(r.id, ids[i]) << enrolled[i].probe;
    confirmed += r.id == ids[i] && r.percent >= 75;
  }
  EXPECT_GE(confirmed, int(enrolled.size()) - 1);
  for (const char* s : strangers) EXPECT_LT(recognize(*base, data(s)).percent, 75) << s;
}

TEST_F(BaseScaleTest, ModelsComingAndGoingMoveTheScaleAsARebuildWould) {
  const QString tony = QStringLiteral("2200000000011"), bush = QStringLiteral("2200000000028");
  const qint64 tonyId = addModel(tony, lfw(QStringLiteral("Tony_Blair"), 1));
  addModel(bush, lfw(QStringLiteral("George_W_Bush"), 1));
  addModel(QStringLiteral("2200000000035"), lfw(QStringLiteral("Colin_Powell"), 1));
  addModel(QStringLiteral("2200000000042"), lfw(QStringLiteral("Vladimir_Putin"), 1));
  base->Button19Click();
  ASSERT_EQ(base->size(), 4u);
  const fsdk::Centre before = base->statistics().centre();
  const QString tonyProbe = lfw(QStringLiteral("Tony_Blair"), 2), bushProbe = lfw(QStringLiteral("George_W_Bush"), 2);
  const Result tonyBefore = recognize(*base, tonyProbe), bushBefore = recognize(*base, bushProbe);
  EXPECT_EQ(tonyBefore.id, tonyId);

  // A new model of Bush (the model editor appends it): the same centre and the same answers as a
  // base built afresh with it.
  const qint64 added = addModel(bush, lfw(QStringLiteral("George_W_Bush"), 3));
  const auto fresh = rebuilt();
  ASSERT_EQ(fresh->size(), 5u);
  for (const TFaceRecord& r : fresh->FaceList())
    if (r.id == added) base->append(r);
  EXPECT_EQ(base->statistics().records(), 5u);
  EXPECT_EQ(base->statistics().people(), 4u);
  EXPECT_TRUE(sameCentre(base->statistics().centre(), fresh->statistics().centre()));
  EXPECT_FALSE(sameCentre(base->statistics().centre(), before));
  const Result bushAdded = recognize(*base, bushProbe);
  EXPECT_EQ(bushAdded, recognize(*fresh, bushProbe));
  EXPECT_EQ(recognize(*base, tonyProbe), recognize(*fresh, tonyProbe));
  if (fsdk::kCentreOnBase) EXPECT_NE(bushAdded.percent, bushBefore.percent);  // the decision moved with the base

  // Removed again: bit for bit where it was.
  db().exec(QStringLiteral("DELETE FROM Model WHERE id = ?"), {added});
  models().refresh();
  EXPECT_EQ(base->forget(added), 1u);
  EXPECT_TRUE(sameCentre(base->statistics().centre(), before));
  EXPECT_EQ(recognize(*base, tonyProbe), tonyBefore);
  EXPECT_EQ(recognize(*base, bushProbe), bushBefore);

  // Tony deactivated: the running base drops him at his next match and then answers as a
  // rebuild without him does.
  db().exec(QStringLiteral("UPDATE Model SET Active = 0 WHERE id = ?"), {tonyId});
  models().refresh();
  const Result gone = recognize(*base, tonyProbe);
  EXPECT_NE(gone.id, tonyId);
  EXPECT_EQ(base->statistics().people(), 3u);
  const auto without = rebuilt();
  EXPECT_TRUE(sameCentre(base->statistics().centre(), without->statistics().centre()));
  EXPECT_EQ(gone, recognize(*without, tonyProbe));
  EXPECT_EQ(recognize(*base, bushProbe), recognize(*without, bushProbe));
}

TEST_F(BaseScaleTest, OneRoomAsksMoreOfAFaceThanPortraitsDo) {
  // Seven people filmed by one web camera in one room look alike to it: their base raises its
  // minimum above the fixed one. Ten portraits of well-known men lower theirs nearly to the floor.
  // `tavolin-face eval` gives nuaa 0.5839 and lfw10 0.4725 (docs/accuracy.md); the station's
  // models are made from the stored photos at the base's scale, the tool's from the pictures, so
  // the station's figures are near those, not equal.
  const float fixedMinimum = fsdk::scoreOfSimilarity(0.75f);
  enrolFirstThreeOf(QStringLiteral("nuaa"));
  ASSERT_EQ(base->size(), 21u);
  EXPECT_GT(base->matchCentre().shift, 0.02f);
  EXPECT_NEAR(fixedMinimum + base->matchCentre().shift, 0.5839f, 0.02f);
  const Result own = recognize(*base, data("nuaa/real/0002/0002_01_00_01_109.jpg"));
  EXPECT_GE(own.percent, 75);

  db().exec(QStringLiteral("DELETE FROM Model"));
  models().refresh();
  enrolFirstThreeOf(QStringLiteral("lfw10"));
  ASSERT_EQ(base->size(), 30u);
  EXPECT_NEAR(fixedMinimum + base->matchCentre().shift, fsdk::kOwnFloorScore, 0.005f);
  EXPECT_LT(base->matchCentre().shift, -0.05f);
}

TEST_F(BaseScaleTest, ABigBaseFollowsAnAppendedModelAsARebuildWould) {
  // Past the sample's size an appended model is only scored against the sample: the minimum it
  // gives must be the one a base measured afresh gives, bit for bit.
  std::mt19937 random(7);
  std::normal_distribution<float> normal;
  auto record = [&](int id, int person) {
    fsdk::Descriptor d;
    double n2 = 0;
    for (float& v : d) v = normal(random), n2 += double(v) * v;
    for (float& v : d) v = float(v / std::sqrt(n2));
    TFaceRecord r;
    r.Template = fsdk::templateOf(d);
    r.id = id;
    r.fio = QStringLiteral("22%1").arg(person, 11, 10, QLatin1Char('0'));
    return r;
  };
  std::vector<TFaceRecord> records;
  for (int i = 0; i < int(OwnStrangerSample::kSize) + 100; ++i) records.push_back(record(i + 1, i / 2));
  for (const TFaceRecord& r : records) base->append(r);
  OwnStrangerSample running;
  running.rebuild(base->descriptors().data(), base->FaceList());
  const fsdk::OwnStrangers before = running.statistics(300);
  base->matchCentre();
  // A look-alike of the first model, under a new barcode: the first model's best stranger rises.
  TFaceRecord lookAlike = records.front();
  auto d = *fsdk::descriptorOf(lookAlike.Template);
  for (int i = 0; i < 64; ++i) d[std::size_t(i)] += 0.05f;
  double n2 = 0;
  for (float v : d) n2 += double(v) * v;
  for (float& v : d) v = float(v / std::sqrt(n2));
  lookAlike.Template = fsdk::templateOf(d);
  lookAlike.id = 100000;
  lookAlike.fio = QStringLiteral("2299999999999");
  base->append(lookAlike);
  EXPECT_TRUE(running.appended(base->descriptors().data() + (base->size() - 1) * fsdk::kDescriptorSize, lookAlike));
  OwnStrangerSample fresh;
  fresh.rebuild(base->descriptors().data(), base->FaceList());
  const fsdk::OwnStrangers after = running.statistics(301), rebuilt = fresh.statistics(301);
  EXPECT_EQ(after.mean, rebuilt.mean);
  EXPECT_EQ(after.spread, rebuilt.spread);
  EXPECT_GT(after.mean, before.mean);
  // The running base took the same road: its scale is that of a base built afresh.
  FaceBase freshBase(station, *store);
  for (const TFaceRecord& r : base->FaceList()) freshBase.append(r);
  EXPECT_EQ(base->matchCentre().shift, freshBase.matchCentre().shift);

  // The look-alike gone again, then a model of the sample: each time what a fresh measure gives.
  auto sameAsFresh = [&](const char* what) {
    OwnStrangerSample again;
    again.rebuild(base->descriptors().data(), base->FaceList());
    const std::size_t people = base->statistics().people();
    EXPECT_EQ(running.statistics(people).mean, again.statistics(people).mean) << what;
    EXPECT_EQ(running.statistics(people).spread, again.statistics(people).spread) << what;
  };
  ASSERT_EQ(base->forget(lookAlike.id), 1u);
  running.removed(lookAlike.id, base->descriptors().data(), base->FaceList());
  sameAsFresh("look-alike removed");
  EXPECT_EQ(running.statistics(300).mean, before.mean);
  ASSERT_EQ(base->forget(records[3].id), 1u);
  running.removed(records[3].id, base->descriptors().data(), base->FaceList());
  sameAsFresh("sample model removed");

  // A model older than the sample's newest belongs in the sample: the caller measures afresh.
  TFaceRecord old = record(0, 999);
  EXPECT_FALSE(running.appended(fsdk::descriptorOf(old.Template)->data(), old));
}

TEST_F(BaseScaleTest, BasesOfOneAndTwoPeopleStillDecide) {
  // One person with three models: his own photo is confirmed, another man showing his barcode is
  // refused; the centre is nearly the prior (one person says little about a population), so the
  // answer is nearly what two templates compared without a base give.
  const QString powell = QStringLiteral("2200000000011");
  for (int n : {1, 3, 4}) addModel(powell, lfw(QStringLiteral("Colin_Powell"), n));
  base->Button19Click();
  ASSERT_EQ(base->size(), 3u);
  EXPECT_EQ(base->statistics().people(), 1u);
  const Result own = recognize(*base, lfw(QStringLiteral("Colin_Powell"), 2));
  EXPECT_EQ(own.fio, powell);
  EXPECT_GE(own.percent, 75);
  const QString strangerPhoto = lfw(QStringLiteral("George_W_Bush"), 2);
  const Result stranger = recognize(*base, strangerPhoto);
  EXPECT_LT(stranger.percent, 75);
  const PictureTemplate p = templateOfPicture(strangerPhoto, station.settings.threshold, kProbeScale);
  ASSERT_TRUE(p.complete());
  float alone = 0;
  for (const auto& r : base->FaceList()) {
    float s = 0;
    FSDK_MatchFaces(&p.Template, &r.Template, &s);
    alone = std::max(alone, s);
  }
  EXPECT_NEAR(stranger.percent, 100 * alone, 5);

  // A second person: each is confirmed, a third is refused against both.
  addModel(QStringLiteral("2200000000028"), lfw(QStringLiteral("George_W_Bush"), 1));
  base->Button19Click();
  EXPECT_EQ(base->statistics().people(), 2u);
  EXPECT_EQ(recognize(*base, lfw(QStringLiteral("Colin_Powell"), 2)).fio, powell);
  const Result bush = recognize(*base, strangerPhoto);
  EXPECT_EQ(bush.fio, QStringLiteral("2200000000028"));
  EXPECT_GE(bush.percent, 75);
  EXPECT_LT(recognize(*base, lfw(QStringLiteral("Ariel_Sharon"), 2)).percent, 75);
}

}  // namespace
}  // namespace tavo::test
