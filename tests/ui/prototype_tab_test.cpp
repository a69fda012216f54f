#include <QDateEdit>

#include "app/ui/tab_support.h"
#include "models/ui/create_model_form.h"
#include "tests/ui/ui_fixture.h"

namespace tavo::test {
namespace {

class PrototypeTabTest : public UiFixture {
 protected:
  void SetUp() override {
    UiFixture::SetUp();
    openWindow();
    showTab(prototypeTab());
  }
  QString memo1() { return prototypeTab()->memo1()->toPlainText(); }
};

TEST_F(PrototypeTabTest, DistributionCountsThePickedDayIntoMemoAndChart) {
  EXPECT_EQ(prototypeTab()->dayPicker()->date(), QDate(2018, 7, 25));
  const QDate day(2019, 7, 8);
  addWork({.day = day, .excellent = true, .percent = 75});
  addWork({.day = day, .time = QTime(9, 1), .excellent = true, .percent = 91});
  addWork({.day = day, .time = QTime(9, 2), .excellent = false, .percent = 91});
  click(prototypeTab()->button("Button11"));
  EXPECT_EQ(prototypeTab()->chart()->counts(), std::vector<int>(20, 0));  // 25 July 2018: nothing
  prototypeTab()->dayPicker()->setDate(day);
  click(prototypeTab()->button("Button11"));
  std::vector<int> expected(20, 0);
  expected[14] = 1;
  expected[18] = 1;
  EXPECT_EQ(prototypeTab()->chart()->counts(), expected);
  const QStringList lines = memo1().split('\n');
  ASSERT_EQ(lines.size(), 42);
  EXPECT_EQ(lines[21], "*** step - PercentDifference ");
  EXPECT_EQ(lines[21 + 15], "1");
  click(prototypeTab()->button("Button8"));  // "Clear"
  EXPECT_TRUE(memo1().isEmpty());
}

TEST_F(PrototypeTabTest, DrawingToolsShowThePictureAndTheirFigures) {
  addWork({.l = 400, .r = 500, .t = 100, .b = 200});
  works().refresh();
  click(prototypeTab()->button("Button5"));  // "All"
  EXPECT_EQ(prototypeTab()->image1()->image().size(), QSize(1280, 720));
  EXPECT_TRUE(memo1().contains("All - 1\n*** avg calc\navgLeft - 400\navgRight - 780"));
  click(prototypeTab()->button("Button6"));
  EXPECT_TRUE(memo1().endsWith("*** min\ncLeft - 400\ncRight - 500\ncTop - 100\ncBottom - 200"));
  click(prototypeTab()->button("Button7"));
  EXPECT_TRUE(memo1().endsWith("*** avg\ncLeft - 400\ncRight - 500\ncTop - 100\ncBottom - 200"));
  EXPECT_TRUE(messages.shown.isEmpty());
}

TEST_F(PrototypeTabTest, MissingSamplePictureIsReportedAndNothingIsDrawn) {
  ASSERT_TRUE(QFile::remove(dir.file("Image.jpg")));
  click(prototypeTab()->button("Button7"));
  ASSERT_EQ(messages.shown.size(), 1);
  EXPECT_TRUE(messages.shown[0].contains("Image.jpg"));
  EXPECT_TRUE(prototypeTab()->image1()->image().isNull());
  EXPECT_TRUE(memo1().isEmpty());
}

TEST_F(PrototypeTabTest, CropBoundsAndModelCheckWriteTheirMemos) {
  click(prototypeTab()->button("Button9"));  // "Q - step 100"
  EXPECT_EQ(memo1().split('\n').size(), 32);
  EXPECT_EQ(station.settings.cutLeft, "0");
  EXPECT_EQ(station.settings.cutRight, "0");
  addModel(QStringLiteral("2200000000011"), QString());
  prototypeTab()->setCurrentIndex(1);
  click(prototypeTab()->button("Button17"));
  EXPECT_EQ(prototypeTab()->memo2()->toPlainText(), "2200000000011");
}

}  // namespace
}  // namespace tavo::test
