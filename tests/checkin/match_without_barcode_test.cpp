// A match to a model that is gone (deleted after the base was built) has no barcode: it never
// becomes the answer, and a later attempt of the presented barcode still can.
#include "tests/checkin/checkin_fixture.h"

namespace tavo::test {
namespace {

using MatchWithoutBarcodeTest = CheckInFixture;

const QString kEan = QStringLiteral("2200000169020");

QByteArray crlf(const QStringList& lines) {
  QByteArray out;
  for (const QString& l : lines) out += l.toLatin1() + "\r\n";
  return out;
}

TEST_F(MatchWithoutBarcodeTest, AGoneModelNeverAnswersAndTheOwnModelStillConfirms) {
  const qint64 own = addModel(kEan);
  const qint64 gone = addModel(QStringLiteral("2200000169037"));
  store->database().exec(QStringLiteral("DELETE FROM Model WHERE id = ?"), {gone});

  // Three attempts matched only the deleted model: "low percent", not an empty third line.
  script = {{int(gone), 95}, {int(gone), 95}, {int(gone), 95}};
  checkIn(kEan);
  Rows w = works();
  ASSERT_EQ(w.size(), 3);
  EXPECT_EQ(answer(kEan), crlf({kEan, w.value(2, "FileName").toString(), "low percent"}));

  // The deleted model tops the results, the own model is below it: the own model answers.
  script = {{int(gone), 95}, {int(own), 80}};
  checkIn(kEan);
  w = works();
  ASSERT_EQ(w.size(), 5);
  EXPECT_EQ(answer(kEan), crlf({kEan, w.value(4, "FileName").toString(), kEan}));
  EXPECT_EQ(sounds.back(), 1);
}

}  // namespace
}  // namespace tavo::test
