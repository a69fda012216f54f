#include <QCheckBox>
#include <QDateEdit>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QSplitter>
#include <QToolButton>

#include "app/ui/log_views.h"
#include "checkin/checkin_run.h"
#include "checkin/operator_actions.h"
#include "face/picture/frame_grab.h"
#include "models/ui/create_model_form.h"
#include "tests/ui/ui_fixture.h"

namespace tavo::test {
namespace {

class WorkTabTest : public UiFixture {
 protected:
  int column(const QString& title) {
    DatasetModel* m = workTab()->grid()->datasetModel();
    for (int c = 0; c < m->columnCount(); ++c)
      if (m->headerData(c, Qt::Horizontal).toString() == title) return c;
    ADD_FAILURE() << "no column " << title.toStdString();
    return -1;
  }
  QString cell(int row, const QString& title) { return workTab()->grid()->datasetModel()->text(row, column(title)); }
  int rowOf(qint64 id) {
    const int keep = works().currentRow();
    EXPECT_TRUE(works().locateId(id));
    const int row = works().currentRow();
    works().moveTo(keep);
    return row;
  }
};

TEST_F(WorkTabTest, GridHasTheColumnsTitlesFormatsAndColoursOfTheWorkLog) {
  const qint64 model = addModel(QStringLiteral("2200000000011"), lfw(QStringLiteral("George_W_Bush"), 1));
  const qint64 good = addWork({.time = QTime(9, 0, 5), .idModel = int(model), .isFace = true, .excellent = true,
                               .percent = 87.456});
  const qint64 bad = addWork({.time = QTime(8, 1, 2), .sn = QStringLiteral("4600000000012"), .idModel = 12345});
  openWindow();
  DatasetGrid* grid = workTab()->grid();
  DatasetModel* m = grid->datasetModel();
  QStringList titles;
  for (int c = 0; c < m->columnCount(); ++c) titles << m->headerData(c, Qt::Horizontal).toString();
  EXPECT_EQ(titles, (QStringList{"Дата", "Время", "Лицо", "БД", "1С", "% отл.", "совпадение", "tags", "cLeft",
                                 "cRight", "cTop", "cBottom", "width", "height"}));
  ASSERT_EQ(m->rowCount(), 2);
  const int g = rowOf(good), b = rowOf(bad);
  EXPECT_EQ(g, 0);  // newest first
  EXPECT_EQ(cell(g, "Дата"), "09.07");
  EXPECT_EQ(cell(g, "Время"), "09:00:05");
  EXPECT_EQ(cell(g, "Лицо"), "");
  EXPECT_EQ(cell(b, "Лицо"), "Нет");
  EXPECT_EQ(cell(g, "БД"), "2200000000011");
  EXPECT_EQ(cell(b, "БД"), "");  // idModel of no model
  EXPECT_EQ(cell(g, "% отл."), "87,46");
  EXPECT_EQ(cell(b, "% отл."), "0,00");
  EXPECT_EQ(cell(g, "совпадение"), "");
  EXPECT_EQ(cell(b, "совпадение"), "Нет");
  EXPECT_EQ(m->data(m->index(g, column("БД")), Qt::BackgroundRole).value<QColor>(), QColor(0, 255, 0));
  EXPECT_EQ(m->data(m->index(g, column("1С")), Qt::BackgroundRole).value<QColor>(), QColor(255, 0, 0));
  EXPECT_EQ(grid->palette().color(QPalette::Base), QColor(0, 128, 64));
  EXPECT_EQ(grid->columnWidth(column("tags")), 70);
  EXPECT_GT(grid->columnWidth(column("БД")), grid->columnWidth(column("Время")) * 2);  // 25 characters against 8
  EXPECT_EQ(grid->editTriggers(), QAbstractItemView::NoEditTriggers);

  // Pictures beside the grid behind a splitter; MemoOut above Memo4 at the bottom, 100 px each.
  EXPECT_EQ(workTab()->imageCrypt()->height(), 116);
  EXPECT_NEAR(workTab()->splitter()->sizes().at(1), 327, 40);
  auto* memoOut = workTab()->findChild<ResultBufferView*>();
  auto* memo4 = workTab()->findChild<OperatorLogView*>();
  ASSERT_TRUE(memoOut && memo4);
  EXPECT_EQ(memoOut->height(), 100);
  EXPECT_EQ(memo4->height(), 100);
  EXPECT_LT(workTab()->splitter()->geometry().bottom(), memoOut->y());
  EXPECT_LT(memoOut->y(), memo4->y());
}

TEST_F(WorkTabTest, FiltersAreTypedValuesJoinedWithTheDateTerm) {
  const QDate today = clock.today();
  addWork({.day = today, .sn = QStringLiteral("O'Brien 4600"), .idModel = 7});
  addWork({.day = today, .sn = QStringLiteral("2200000000011"), .idModel = 7, .excellent = true});
  addWork({.day = today.addDays(-3), .sn = QStringLiteral("2200000000011"), .idModel = 8});
  addWork({.day = today.addDays(-20), .sn = QStringLiteral("%"), .idModel = 7});
  openWindow();
  WorkTab* tab = workTab();
  EXPECT_EQ(tab->dateDoc()->date(), today);
  EXPECT_EQ(tab->grid()->model()->rowCount(), 2);  // today only

  tab->dateDoc()->setDate(today.addDays(-5));
  EXPECT_EQ(tab->grid()->model()->rowCount(), 3);

  QTest::keyClicks(tab->idModelEdit(), QStringLiteral("x7y"));
  EXPECT_EQ(tab->idModelEdit()->text(), "7");  // digits only
  EXPECT_EQ(tab->grid()->model()->rowCount(), 2);

  QTest::keyClicks(tab->snEdit(), QStringLiteral("O'B"));  // a quote is plain text
  EXPECT_EQ(tab->grid()->model()->rowCount(), 1);
  EXPECT_EQ(works().asString("SN"), "O'Brien 4600");
  tab->snEdit()->clear();

  QTest::mouseClick(tab->failedBox(), Qt::LeftButton);  // "Не совпал"
  EXPECT_EQ(tab->grid()->model()->rowCount(), 1);
  EXPECT_FALSE(works().asBool("excellent"));

  tab->idModelEdit()->clear();
  QTest::mouseClick(tab->failedBox(), Qt::LeftButton);
  tab->dateDoc()->setDate(today.addDays(-30));
  EXPECT_EQ(tab->grid()->model()->rowCount(), 4);
  QTest::keyClicks(tab->snEdit(), QStringLiteral("%"));  // no wildcard either
  EXPECT_EQ(tab->grid()->model()->rowCount(), 1);
  EXPECT_TRUE(messages.shown.isEmpty());
}

TEST_F(WorkTabTest, NavigatorGridAndDatasetShareTheCurrentRow) {
  for (int i = 0; i < 5; ++i) addWork({.time = QTime(9, i)});
  openWindow();
  WorkTab* tab = workTab();
  tab->navigator()->findChild<QToolButton*>("Last")->click();
  EXPECT_EQ(works().currentRow(), 4);
  EXPECT_EQ(tab->grid()->currentIndex().row(), 4);
  tab->navigator()->findChild<QToolButton*>("Prior")->click();
  EXPECT_EQ(tab->grid()->currentIndex().row(), 3);
  tab->navigator()->findChild<QToolButton*>("First")->click();
  tab->navigator()->findChild<QToolButton*>("Next")->click();
  EXPECT_EQ(works().currentRow(), 1);
  const QRect cell = tab->grid()->visualRect(tab->grid()->model()->index(2, 1));
  QTest::mouseClick(tab->grid()->viewport(), Qt::LeftButton, {}, cell.center());
  EXPECT_EQ(works().currentRow(), 2);
  EXPECT_EQ(works().asTime("timedoc"), QTime(9, 2));
}

TEST_F(WorkTabTest, PicturesFollowTheCurrentEntryOnlyWhileTheWindowIsShown) {
  const qint64 with = addWork({.time = QTime(9, 1), .photo = lfw(QStringLiteral("Tony_Blair"), 1)});
  const qint64 without = addWork({.time = QTime(9, 2)});
  openWindow();
  WorkTab* tab = workTab();
  ASSERT_TRUE(works().locateId(with));
  EXPECT_EQ(tab->imageCrypt()->image().size(), QSize(250, 250));
  EXPECT_EQ(tab->imageFace()->image().size(), QSize(250, 250));
  ASSERT_TRUE(works().locateId(without));
  EXPECT_TRUE(tab->imageCrypt()->image().isNull());
  EXPECT_TRUE(tab->imageFace()->image().isNull());

  window->hide();
  ASSERT_TRUE(works().locateId(with));
  EXPECT_TRUE(tab->imageCrypt()->image().isNull());  // nothing decrypted for a hidden window
  // Rows posted meanwhile show once the window is shown again.
  WorkRecord w;
  w.sn = QStringLiteral("4600000000012");
  data().insertWork(w);
  EXPECT_EQ(tab->grid()->model()->rowCount(), 2);
  window->show();
  EXPECT_EQ(tab->grid()->model()->rowCount(), 3);
  EXPECT_EQ(tab->grid()->currentIndex().row(), works().currentRow());  // the new row, no picture
  EXPECT_TRUE(tab->imageCrypt()->image().isNull());
  ASSERT_TRUE(works().locateId(with));
  EXPECT_FALSE(tab->imageCrypt()->image().isNull());
}

TEST_F(WorkTabTest, RecheckRefusesOnAnEmptyBaseThenUpdatesTheSelectedEntry) {
  addModel(QStringLiteral("2200000000011"), lfw(QStringLiteral("George_W_Bush"), 1));
  addModel(QStringLiteral("2200000000011"), lfw(QStringLiteral("George_W_Bush"), 2));
  addModel(QStringLiteral("2200000000028"), lfw(QStringLiteral("Tony_Blair"), 1));
  const qint64 id = addWork({.photo = lfw(QStringLiteral("George_W_Bush"), 4)});
  openWindow();
  ASSERT_TRUE(works().locateId(id));
  click(workTab()->recheckButton());
  EXPECT_EQ(messages.shown, QStringList{"Please enroll faces first"});
  EXPECT_EQ(cell(0, "% отл."), "0,00");

  showTab(modelsTab());
  click(modelsTab()->button("Button19"));  // "Создать базу lux"
  EXPECT_EQ(parts->faceBase().size(), 3u);
  EXPECT_FALSE(modelsTab()->baseLabel()->text().contains("..."));
  showTab(workTab());
  click(workTab()->recheckButton());
  EXPECT_EQ(messages.shown.last(), "Готово");
  EXPECT_NE(cell(0, "% отл."), "0,00");
  EXPECT_EQ(cell(0, "Лицо"), "");
  EXPECT_EQ(cell(0, "совпадение"), "");
  EXPECT_EQ(cell(0, "БД"), "2200000000011");
}

TEST_F(WorkTabTest, AddToModelsOpensTheEditorOnTheEntrysPictureOrRefusesAnEntryWithout) {
  addWork({.time = QTime(9, 1), .sn = QStringLiteral("4600000000029"), .photo = lfw(QStringLiteral("Colin_Powell"), 2)});
  addWork({.time = QTime(9, 2), .sn = QStringLiteral("4600000000036")});
  openWindow();
  QByteArray scratchAtOpen;
  editor.script = [&](const ModelEditorSession& s, ScriptedEditor&) {
    scratchAtOpen = readFile(dir.file("Temp/model_full.jpg"));
    return ScriptedEditor::pressSave(s);
  };
  works().first();  // the entry without a picture
  click(workTab()->addToModelsButton());
  EXPECT_EQ(messages.shown, QStringList{noFacePictureText()});
  EXPECT_TRUE(editor.captions.isEmpty());

  works().next();
  click(workTab()->addToModelsButton());
  EXPECT_EQ(editor.captions, QStringList{"Новый"});
  EXPECT_EQ(scratchAtOpen, readFile(lfw(QStringLiteral("Colin_Powell"), 2)));
  showTab(modelsTab());
  ASSERT_EQ(modelsTab()->grid()->model()->rowCount(), 1);
  EXPECT_EQ(models().asString("EAN"), "4600000000029");
}

TEST_F(WorkTabTest, TestCheckInAnswersForTheFixedBarcodeAndLogsItsAttempts) {
  station.settings.webCam = testData(QStringLiteral("clips/subj01_timepoint01.mp4"));
  parts->cameras().open();
  parts->checkIn().initialWaitMs = 0;
  openWindow();
  click(workTab()->testCheckInButton());
  EXPECT_EQ(station.settings.ean, "2200000169020");
  EXPECT_TRUE(QFile::exists(hostPath(joinPath(station.settings.flagDir, "out2200000169020.txt"))));
  const int attempts = parts->checkIn().lastTimings().attempts;
  EXPECT_GE(attempts, 1);
  EXPECT_EQ(workTab()->grid()->model()->rowCount(), attempts);
  EXPECT_EQ(workTab()->grid()->datasetModel()->text(0, 4), "2200000169020");
}

}  // namespace
}  // namespace tavo::test
