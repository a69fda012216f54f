// The enrolment request on a real encrypted database with real photographs in the flag folder;
// the template base is scripted so that the comparison gives exact percentages.
#include <gtest/gtest.h>

#include <QDir>
#include <memory>

#include "base/ansi_text.h"
#include "base/clock.h"
#include "base/operator_messages.h"
#include "base/paths.h"
#include "base/station.h"
#include "checkin/enrolment_request.h"
#include "data/data_store.h"
#include "data/schema.h"
#include "tests/support/station_on_disk.h"
#include "tests/support/test_env.h"

namespace tavo::test {
namespace {

constexpr char kEan[] = "2200000169020";

class EnrolRequestTest : public ::testing::Test, protected StationOnDisk {
 public:
  EnrolRequestTest() : StationOnDisk(QDateTime(QDate(2019, 5, 12), QTime(9, 0))) {}
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    createDatabaseFile(dir.file(kDatabaseFileName), QLatin1String(kDatabasePassword));
    station.locale = QLocale(QLocale::Russian, QLocale::Russia);
    ASSERT_TRUE(QDir().mkpath(hostPath(station.settings.modelDir)));
    ASSERT_TRUE(QDir().mkpath(hostPath(station.settings.flagDir)));
    store = std::make_unique<DataStore>(station);
    store->open();
    request = std::make_unique<EnrolmentRequest>(station, *store);
    request->recognize = [this](const QString& f, int mode, int& id, double& p, QString& name) {
      probes << QStringLiteral("%1/%2").arg(f).arg(mode);
      id = 1;
      p = percent;
      name = matched;
    };
    request->enroll = [this](const QString& f, int, bool& check, const QString& fio) {
      enrolled << QFileInfo(f).fileName();
      EXPECT_EQ(fio, station.settings.ean);
      check = true;
    };
  }

  // The pictures a series left: real faces of one person.
  void placeSeries(const QStringList& names = {"Face101_face.jpg", "Face102_face.jpg", "Face103_face.jpg"}) {
    int n = 1;
    for (const QString& name : names)
      writeFile(flag(name), readFile(testData(QStringLiteral("lfw10/Colin_Powell/Colin_Powell_000%1.jpg").arg(n++))));
    writeFile(flag("Photo1.jpg"), readFile(testData("groups/dogs.jpg")));
  }
  void addModel(const QString& ean, bool active) {
    store->database().exec(QStringLiteral("INSERT INTO Model (EAN, Active, FileName) VALUES (?, ?, 'x')"), {ean, active});
  }
  QString flag(const QString& name) const { return hostPath(joinPath(station.settings.flagDir, name)); }
  QStringList modelEans() {
    QStringList out;
    const Rows r = store->database().query(QStringLiteral("SELECT EAN FROM Model WHERE FileName <> 'x' ORDER BY id"));
    for (int i = 0; i < r.size(); ++i) out << r.value(i, "EAN").toString();
    return out;
  }
  // "endUser.txt" as text, its lines joined by "|"; empty when not written.
  QString answer() const {
    if (!QFileInfo::exists(flag("endUser.txt"))) return {};
    const QByteArray bytes = readFile(flag("endUser.txt"));
    return fromAnsi(bytes).replace(QLatin1String("\r\n"), QLatin1String("|"));
  }
  EnrolmentOutcome handle(const QString& line3, const QString& picked = QStringLiteral("Face102")) {
    return request->handle({QString::fromLatin1(kEan), picked, line3});
  }

  std::unique_ptr<DataStore> store;
  std::unique_ptr<EnrolmentRequest> request;
  double percent = 0;
  QString matched;
  QStringList probes, enrolled;
};

TEST_F(EnrolRequestTest, NewBarcodeEnrolsPickedPictureFirstThenTheOthers) {
  placeSeries();
  percent = 69.99;
  matched = QStringLiteral("4600000000001");

  const EnrolmentOutcome out = handle(QString());

  EXPECT_TRUE(out.enrolled);
  EXPECT_EQ(probes, QStringList{"Face102/3"});  // the copy of the bytes read, in the station's own Temp
  EXPECT_EQ(enrolled, (QStringList{"Face102_face.jpg", "Face101_face.jpg", "Face103_face.jpg"}));
  EXPECT_EQ(modelEans(), QStringList(3, QString::fromLatin1(kEan)));
  EXPECT_EQ(answer(), QStringLiteral("|69,99|"));
  EXPECT_EQ(readFile(flag("endUser.txt")), QByteArray("\r\n69,99\r\n"));
  EXPECT_EQ(station.settings.ean, QString::fromLatin1(kEan));
  // The picture without a face never becomes a model; the clean-up is the poll's.
  EXPECT_FALSE(enrolled.contains("Photo1.jpg"));
}

TEST_F(EnrolRequestTest, NewBarcodeLimitIsSeventy) {
  placeSeries();
  struct Case {
    double p;
    const char* line3;
    bool enrolled;
    const char* answer;
  } cases[] = {
      {70.0, "", false, "ошибка|70|"},
      {69.9999, "", true, "|69,9999|"},
      {85.0, "Да", true, "|85|"},
      {85.0, "да", false, "ошибка|85|"},
      {85.0, "Да ", false, "ошибка|85|"},
      {0.0, "", true, "|0|"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.p);
    SCOPED_TRACE(c.line3);
    percent = c.p;
    matched = QStringLiteral("4600000000001");
    const int before = modelEans().size();
    EXPECT_EQ(handle(QString::fromUtf8(c.line3)).enrolled, c.enrolled);
    EXPECT_EQ(answer(), QString::fromUtf8(c.answer));
    EXPECT_EQ(modelEans().size() - before, c.enrolled ? 3 : 0);
    // Each case as a new barcode again.
    store->database().exec(QStringLiteral("DELETE FROM Model"));
  }
}

TEST_F(EnrolRequestTest, BarcodeWithModelsNeedsItsOwnFaceAtFifty) {
  placeSeries();
  addModel(QString::fromLatin1(kEan), true);
  struct Case {
    double p;
    const char* m;
    const char* line3;
    bool enrolled;
  } cases[] = {
      {50.0, kEan, "", true},   {49.9, kEan, "", false},           {95.0, "4600000000001", "", false},
      {0.0, "", "Да", true},    {95.0, "4600000000001", "Да", true}, {0.0, "", "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.p);
    SCOPED_TRACE(c.m);
    percent = c.p;
    matched = QString::fromLatin1(c.m);
    const EnrolmentOutcome out = handle(QString::fromUtf8(c.line3));
    EXPECT_TRUE(out.hadModels);
    EXPECT_EQ(out.enrolled, c.enrolled);
    EXPECT_EQ(answer().startsWith(QStringLiteral("ошибка|")), !c.enrolled);
  }
}

TEST_F(EnrolRequestTest, ModelsOfTheBarcodeAreItsActiveOnesByEquality) {
  placeSeries();
  percent = 60;  // a barcode without models takes it, one with models refuses it
  matched = QStringLiteral("4600000000001");

  addModel(QString::fromLatin1(kEan), false);
  addModel(QStringLiteral("2200000169021"), true);
  EXPECT_FALSE(handle(QString()).hadModels);

  // Pattern characters and quotes are data: no other barcode's models, no broken statement.
  for (const QString& ean : {QStringLiteral("22000001690%"), QStringLiteral("22000001690_1"), QStringLiteral("22'00")}) {
    SCOPED_TRACE(ean.toStdString());
    const EnrolmentOutcome out = request->handle({ean, QStringLiteral("Face101"), QString()});
    EXPECT_FALSE(out.hadModels);
    EXPECT_TRUE(out.enrolled);
  }
}

TEST_F(EnrolRequestTest, MissingPickedPictureIsRefusedNotEnrolledWithoutPhoto) {
  placeSeries({"Face101_face.jpg", "Face103_face.jpg"});
  percent = 0;
  const EnrolmentOutcome out = handle(QStringLiteral("Да"));
  EXPECT_FALSE(out.enrolled);
  EXPECT_TRUE(enrolled.isEmpty());
  EXPECT_TRUE(modelEans().isEmpty());
  EXPECT_EQ(answer(), QStringLiteral("ошибка|0|"));
}

TEST_F(EnrolRequestTest, BadRequestsEndWithoutAnswerOrModel) {
  placeSeries();
  const QStringList bad[] = {
      {},
      {QString::fromLatin1(kEan), QStringLiteral("Face102")},
      {QStringLiteral("../2200000169020"), QStringLiteral("Face102"), QString()},
      {QStringLiteral("22\\00"), QStringLiteral("Face102"), QString()},
      {QStringLiteral("22\t00"), QStringLiteral("Face102"), QString()},
      {QString::fromLatin1(kEan), QStringLiteral("../../secret"), QString()},
      {QString::fromLatin1(kEan), QStringLiteral("x/Face102"), QString()},
  };
  for (const QStringList& lines : bad) {
    SCOPED_TRACE(lines.join('|').toStdString());
    EXPECT_THROW(request->handle(lines), std::runtime_error);
  }
  EXPECT_TRUE(probes.isEmpty());
  EXPECT_TRUE(modelEans().isEmpty());
  EXPECT_TRUE(answer().isEmpty());
}

// A barcode the Model.EAN column cannot hold whole, or none at all, would make models that no
// check-in finds: refused with "ошибка", nothing enrolled.
TEST_F(EnrolRequestTest, EmptyOrOverlongBarcodeIsRefusedWithoutModels) {
  placeSeries();
  for (const QString& ean : {QString(), QStringLiteral("22000001690201"), QString(65, QLatin1Char('2'))}) {
    SCOPED_TRACE(ean.toStdString());
    QFile::remove(flag("endUser.txt"));
    const EnrolmentOutcome out = request->handle({ean, QStringLiteral("Face102"), QStringLiteral("Да")});
    EXPECT_FALSE(out.enrolled);
    EXPECT_EQ(answer(), QStringLiteral("ошибка|0|"));
  }
  EXPECT_TRUE(enrolled.isEmpty());
  EXPECT_TRUE(modelEans().isEmpty());
  EXPECT_TRUE(QDir(hostPath(station.settings.modelDir)).isEmpty());
}

TEST_F(EnrolRequestTest, FurtherSeriesPicturesUpTo105AreEnrolled) {
  placeSeries({"Face101_face.jpg", "Face103_face.jpg", "Face105_face.jpg"});
  percent = 10;
  handle(QString(), QStringLiteral("Face103"));
  EXPECT_EQ(enrolled, (QStringList{"Face103_face.jpg", "Face101_face.jpg", "Face105_face.jpg"}));
}

}  // namespace
}  // namespace tavo::test
