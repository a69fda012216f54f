// The model editor window over real model operations: create from a file, edit, cancel.
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "models/ui/create_model_form.h"
#include "tests/models/model_fixture.h"

namespace tavo::test {
namespace {

class EditorWindowTest : public ModelTest {
 protected:
  void SetUp() override {
    ModelTest::SetUp();
    form = std::make_unique<TCreateModelForm>(station);
    form->chooseFile = [this](QWidget*) {
      ++dialogs;
      return chosen;
    };
    gui = std::make_unique<ModelRecords>(station, *store, *cropper, *form);
  }
  void TearDown() override {
    gui.reset();
    form.reset();
  }

  // Plays the operator's part once the window is shown; closes it should the steps not.
  void whileShown(std::function<void()> steps) {
    QTimer::singleShot(0, form.get(), [this, steps] {
      EXPECT_TRUE(form->isVisible());
      steps();
      if (form->isVisible()) form->reject();
    });
  }

  std::unique_ptr<TCreateModelForm> form;
  std::unique_ptr<ModelRecords> gui;
  QString chosen;
  int dialogs = 0;
};

TEST_F(EditorWindowTest, CreateFromAFile) {
  chosen = lfw("Donald_Rumsfeld_0001");
  QByteArray taken;
  whileShown([&] {
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Новый"));
    EXPECT_EQ(form->size(), QSize(652, 583));
    EXPECT_EQ(form->font().pixelSize(), 16);
    EXPECT_FALSE(form->photoChangedBox()->isChecked());
    EXPECT_TRUE(form->activeBox()->isChecked());
    EXPECT_EQ(form->dateInsertEdit()->text(), QStringLiteral("09.07.2019 10:00:00"));
    EXPECT_TRUE(form->pictureView()->image().isNull());
    QTest::keyClicks(form->eanEdit(), QStringLiteral("2000000000015"));
    // A scanner's Enter does not close the window.
    QTest::keyClick(form->eanEdit(), Qt::Key_Return);
    EXPECT_TRUE(form->isVisible());
    form->fileButton()->click();
    EXPECT_TRUE(form->photoChangedBox()->isChecked());
    EXPECT_FALSE(form->pictureView()->image().isNull());
    taken = readTakenFace(station);
    form->saveButton()->click();
    EXPECT_FALSE(form->isVisible());
  });
  ASSERT_TRUE(gui->NewRecord(QString()));
  EXPECT_EQ(dialogs, 1);
  EXPECT_EQ(TCreateModelForm::fileFilters(), (QStringList{"JPEG Image File (*.jpg)", "JPEG Image File (*.jpeg)"}));
  const Rows r = db().query("SELECT EAN, Active, FileName FROM Model");
  ASSERT_EQ(r.size(), 1);
  EXPECT_EQ(r.value(0, "EAN").toString(), "2000000000015");
  EXPECT_EQ(r.value(0, "Active").toInt(), 1);
  const QString name = r.value(0, "FileName").toString();
  EXPECT_EQ(keyStreamTransform(readFile(modelHost(name) + "_face.bin"), kSystemKey), taken);
}

TEST_F(EditorWindowTest, SaveWithoutPhotoKeepsTheWindowOpen) {
  whileShown([&] {
    QTest::keyClicks(form->eanEdit(), QStringLiteral("2000000000022"));
    form->saveButton()->click();
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(messages.shown, QStringList{ModelRecords::noPhotoMessage()});
    form->cancelButton()->click();
  });
  EXPECT_FALSE(gui->NewRecord(QString()));
  EXPECT_EQ(modelRows(), 0);
  EXPECT_TRUE(modelFiles().isEmpty());
}

TEST_F(EditorWindowTest, CancelledFileDialogChangesNothingAndCancelLeavesNothing) {
  chosen = lfw("Ariel_Sharon_0001");
  whileShown([&] {
    form->fileButton()->click();
    const QImage shown = form->pictureView()->image();
    ASSERT_FALSE(shown.isNull());
    form->photoChangedBox()->setChecked(false);
    chosen.clear();  // the operator closes the file dialog
    form->fileButton()->click();
    EXPECT_EQ(form->pictureView()->image(), shown);
    EXPECT_FALSE(form->photoChangedBox()->isChecked());
    form->close();  // the window's frame counts as "Отменить"
  });
  EXPECT_FALSE(gui->NewRecord(QString()));
  EXPECT_EQ(dialogs, 2);
  EXPECT_EQ(modelRows(), 0);
  EXPECT_TRUE(modelFiles().isEmpty());
  EXPECT_FALSE(anyWorkingPicture());
}

TEST_F(EditorWindowTest, EditShowsTheModelAndSavesTheFields) {
  chosen = lfw("Tony_Blair_0003");
  whileShown([&] {
    QTest::keyClicks(form->eanEdit(), QStringLiteral("2000000000039"));
    form->fileButton()->click();
    form->saveButton()->click();
  });
  ASSERT_TRUE(gui->NewRecord(QString()));
  const QString name = models().asString("FileName");
  const QByteArray face = readFile(modelHost(name) + "_face.bin");

  whileShown([&] {
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Исправление"));
    EXPECT_EQ(form->eanEdit()->text(), QStringLiteral("2000000000039"));
    EXPECT_FALSE(form->photoChangedBox()->isChecked());
    // The decrypted face file, centred and scaled keeping its proportions.
    const QImage shown = form->pictureView()->image();
    ASSERT_FALSE(shown.isNull());
    const QRect r = form->pictureView()->pictureRect();
    EXPECT_NEAR(double(r.width()) / r.height(), double(shown.width()) / shown.height(), 0.02);
    EXPECT_NEAR(r.center().x(), form->pictureView()->width() / 2, 1);
    EXPECT_NEAR(r.center().y(), form->pictureView()->height() / 2, 1);
    form->activeBox()->click();
    form->saveButton()->click();
  });
  ASSERT_TRUE(gui->EditRecord());
  EXPECT_EQ(db().query("SELECT Active FROM Model").value(0, "Active").toInt(), 0);
  EXPECT_EQ(readFile(modelHost(name) + "_face.bin"), face);
}

TEST_F(EditorWindowTest, EditCancelledKeepsTheRow) {
  addModel("2000000000046");
  models().refresh();
  whileShown([&] {
    EXPECT_TRUE(form->pictureView()->image().isNull());  // no face file
    QTest::keyClicks(form->eanEdit(), QStringLiteral("7"));
    form->cancelButton()->click();
  });
  EXPECT_FALSE(gui->EditRecord());
  EXPECT_EQ(db().query("SELECT EAN FROM Model").value(0, "EAN").toString(), "2000000000046");
}

}  // namespace
}  // namespace tavo::test
