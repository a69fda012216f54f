// Screenshots of the tabs and of the model editor over real data (lfw10 models, checked work
// entries). Runs only when TAVO_SCREENSHOTS names the folder for the PNG files, under a display
// such as Xvfb:
//   TAVO_SCREENSHOTS=docs/screenshots xvfb-run -a build/tests/ui_tests --gtest_filter='Screenshots*'
#include <QDateEdit>
#include <QDir>
#include <QTimer>

#include "checkin/operator_actions.h"
#include "models/ui/create_model_form.h"
#include "tests/ui/ui_fixture.h"

namespace tavo::test {
namespace {

class Screenshots : public UiFixture {
 protected:
  void SetUp() override {
    folder = qEnvironmentVariable("TAVO_SCREENSHOTS");
    if (folder.isEmpty()) GTEST_SKIP() << "TAVO_SCREENSHOTS not set";
    UiFixture::SetUp();
    ASSERT_TRUE(QDir().mkpath(folder));
  }
  void save(QWidget* w, const QString& name) {
    QApplication::processEvents();
    QTest::qWait(200);
    EXPECT_TRUE(w->grab().save(QDir(folder).filePath(name)));
  }
  QString folder;
};

TEST_F(Screenshots, TabsAndEditor) {
  const QStringList people{"Ariel_Sharon",  "Arnold_Schwarzenegger", "Colin_Powell", "Donald_Rumsfeld",
                           "George_W_Bush", "Gerhard_Schroeder",     "Hugo_Chavez",  "Jacques_Chirac",
                           "Tony_Blair",    "Vladimir_Putin"};
  auto ean = [](int i) { return QStringLiteral("22000000%1").arg(1000 + i * 7, 5, 10, QLatin1Char('0')); };
  for (int i = 0; i < people.size(); ++i)
    for (int n = 1; n <= 2; ++n) addModel(ean(i), lfw(people[i], n), people[i].section('_', -1));
  parts->faceBase().Button19Click();
  // Work entries of the day: each person presents their own barcode, two present another's.
  for (int i = 0; i < people.size(); ++i) {
    const int presented = i == 3 ? 4 : i == 7 ? 1 : i;
    addWork({.time = QTime(8, 5 + 4 * i, 17 * i % 60), .sn = ean(presented), .photo = lfw(people[i], 5),
             .l = 420 + 13 * i, .r = 500 - 9 * i, .t = 150 + 5 * i, .b = 330 - 7 * i});
    ASSERT_TRUE(works().locateId(data().database().lastInsertId()));
    ASSERT_TRUE(Button20Click(station, data(), parts->faceBase()));
  }
  works().first();
  openWindow();
  save(window.get(), "work.png");

  window->tabs()->setCurrentWidget(modelsTab());
  models().moveTo(4);
  save(window.get(), "models.png");

  window->tabs()->setCurrentIndex(2);
  save(window.get(), "settings.png");

  window->tabs()->setCurrentWidget(prototypeTab());
  prototypeTab()->setCurrentIndex(0);
  prototypeTab()->dayPicker()->setDate(clock.today());
  click(prototypeTab()->button("Button11"));
  click(prototypeTab()->button("Button5"));
  save(window.get(), "prototype_sizes.png");
  prototypeTab()->setCurrentIndex(1);
  click(prototypeTab()->button("Button17"));
  save(window.get(), "prototype_models.png");

  // The model editor over the current model, grabbed while it is open, then cancelled.
  TCreateModelForm form(station);
  parts->attachModelEditor(form);
  window->tabs()->setCurrentWidget(modelsTab());
  QTimer::singleShot(700, &form, [&] {
    save(&form, "editor.png");
    form.cancelButton()->click();
  });
  click(modelsTab()->button("Button3"));
  parts->attachModelEditor(editor);
}

}  // namespace
}  // namespace tavo::test
