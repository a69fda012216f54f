#include <QLabel>
#include <QLineEdit>

#include "models/ui/create_model_form.h"
#include "tests/ui/ui_fixture.h"

namespace tavo::test {
namespace {

class ModelsTabTest : public UiFixture {
 protected:
  void SetUp() override {
    UiFixture::SetUp();
    ivanov = addModel(QStringLiteral("1234567890128"), lfw(QStringLiteral("Ariel_Sharon"), 1), QStringLiteral("Иванов"),
                      true, true);
    petrov = addModel(QStringLiteral("4600000000012"), lfw(QStringLiteral("Hugo_Chavez"), 1), QStringLiteral("Петров"),
                      false, false, false);
    sidorov = addModel(QStringLiteral("4600000000029"), QString(), QStringLiteral("Сидоров"));
    openWindow();
    showTab(modelsTab());
  }
  int rows() { return modelsTab()->grid()->model()->rowCount(); }
  QString label() { return modelsTab()->countLabel()->text(); }

  qint64 ivanov = 0, petrov = 0, sidorov = 0;
};

TEST_F(ModelsTabTest, GridShowsTheDefaultColumnsWithTheirDisplayValues) {
  DatasetModel* m = modelsTab()->grid()->datasetModel();
  QStringList titles;
  for (int c = 0; c < m->columnCount(); ++c) titles << m->headerData(c, Qt::Horizontal).toString();
  EXPECT_EQ(titles, (QStringList{"id", "Активный", "Выгружено", "ПорогПройден", "EAN", "Попытка", "Совпадение",
                                 "Дата вставки"}));
  ASSERT_EQ(rows(), 3);  // by barcode
  EXPECT_EQ(m->text(0, 0), QString::number(ivanov));
  EXPECT_EQ(m->text(0, 1), "");     // active
  EXPECT_EQ(m->text(1, 1), "Нет");  // inactive
  EXPECT_EQ(m->text(0, 2), "Да");   // exported
  EXPECT_EQ(m->text(1, 2), "");
  EXPECT_EQ(m->text(0, 4), "1234567890128");
  EXPECT_TRUE(m->text(0, 7).endsWith(" 08:00:00"));
  EXPECT_EQ(label(), "Количество записей");
  EXPECT_FALSE(modelsTab()->button("Button14")->isEnabled());  // "Шифровать модели"
}

TEST_F(ModelsTabTest, EachFilterEditReplacesTheWholeFilterAndCountsTheRows) {
  modelsTab()->nameFilter()->setText(QStringLiteral("Сидор"));  // typed: QTest cannot key Cyrillic
  EXPECT_EQ(rows(), 1);
  EXPECT_EQ(label(), "Количество записей 1");
  QTest::keyClicks(modelsTab()->eanFilter(), QStringLiteral("12"));  // the name is no longer part of it
  EXPECT_EQ(rows(), 2);
  EXPECT_EQ(label(), "Количество записей 2");
  modelsTab()->eanFilter()->clear();
  EXPECT_EQ(rows(), 3);
  EXPECT_EQ(label(), "Количество записей 3");
  QTest::keyClicks(modelsTab()->eanFilter(), QStringLiteral("'"));
  EXPECT_EQ(rows(), 0);
  EXPECT_EQ(label(), "Количество записей 0");
  EXPECT_TRUE(messages.shown.isEmpty());
}

TEST_F(ModelsTabTest, PicturesOfTheCurrentModelAreShownWhereTheirFilesExist) {
  ASSERT_TRUE(models().locateId(ivanov));
  EXPECT_EQ(modelsTab()->imageModelFace()->image().size(), QSize(250, 250));
  EXPECT_EQ(modelsTab()->imageDecrypted()->image().size(), QSize(250, 250));
  EXPECT_EQ(modelsTab()->imageModelFace()->height(), 200);
  ASSERT_TRUE(models().locateId(petrov));  // encrypted file only
  EXPECT_TRUE(modelsTab()->imageModelFace()->image().isNull());
  EXPECT_FALSE(modelsTab()->imageDecrypted()->image().isNull());
  ASSERT_TRUE(models().locateId(sidorov));  // no file at all
  EXPECT_TRUE(modelsTab()->imageModelFace()->image().isNull());
  EXPECT_TRUE(modelsTab()->imageDecrypted()->image().isNull());
}

TEST_F(ModelsTabTest, DoubleClickAndChangeOpenTheCurrentModelInTheEditor) {
  QStringList eans;
  editor.script = [&](const ModelEditorSession& s, ScriptedEditor&) {
    eans << s.table->asString("EAN");
    return false;
  };
  DatasetGrid* grid = modelsTab()->grid();
  const QModelIndex second = grid->model()->index(1, 4);
  QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(second).center());
  emit grid->doubleClicked(second);  // the offscreen platform delivers no double click
  click(modelsTab()->button("Button3"));
  EXPECT_EQ(editor.captions, (QStringList{"Исправление", "Исправление"}));
  EXPECT_EQ(eans, (QStringList{"4600000000012", "4600000000012"}));
}

TEST_F(ModelsTabTest, ExportWritesTheFilteredModelsOnly) {
  QTest::keyClicks(modelsTab()->eanFilter(), QStringLiteral("4600"));
  click(modelsTab()->button("Button13"));
  const QByteArray text = readFile(dir.file("BaseModel.txt"));
  EXPECT_EQ(text.count("\r\n"), 2);
  EXPECT_FALSE(text.contains("1234567890128"));
}

}  // namespace
}  // namespace tavo::test
