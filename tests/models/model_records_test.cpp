// Model records and their face files: new, from the work log, change, delete.
#include "tests/models/model_fixture.h"

#include "face/picture/web_camera.h"
#include "models/model_file_name.h"
#include "models/model_maintenance.h"

namespace tavo::test {
namespace {

class ModelRecordsTest : public ModelTest {
 protected:
  // Script: type the barcode, load the photos one after the other, press "Сохранить".
  void scriptNew(const QString& ean, QStringList photos) {
    editor.script = [ean, photos](const ModelEditorSession& s, ScriptedEditor&) {
      s.table->setField(QStringLiteral("EAN"), ean);
      for (const QString& p : photos) s.fromFile(p);
      return ScriptedEditor::pressSave(s);
    };
  }
  QByteArray decrypted(const QString& fileName) {
    return keyStreamTransform(readFile(modelHost(fileName) + "_face.bin"), kSystemKey);
  }
};

TEST_F(ModelRecordsTest, NewRecordStoresRowAndFaceFileTogether) {
  QByteArray taken;
  editor.script = [&](const ModelEditorSession& s, ScriptedEditor& e) {
    EXPECT_EQ(s.table->state(), Dataset::State::Insert);
    EXPECT_FALSE(e.photoChangedAtOpen);
    s.table->setField(QStringLiteral("EAN"), QStringLiteral("2000000000015"));
    s.fromFile(lfw("Colin_Powell_0009"));
    EXPECT_TRUE(e.changed);
    EXPECT_TRUE(e.hasPicture);
    taken = readTakenFace(station);
    return ScriptedEditor::pressSave(s);
  };
  ASSERT_TRUE(records->NewRecord(QStringLiteral("Иванов Иван")));
  EXPECT_EQ(editor.captions, QStringList{QStringLiteral("Новый")});

  ASSERT_EQ(modelRows(), 1);
  Dataset& t = models();
  EXPECT_EQ(t.state(), Dataset::State::Browse);
  const QString name = t.asString("FileName");
  EXPECT_TRUE(isModelFileName(name));
  EXPECT_TRUE(name.startsWith("20190709-"));
  EXPECT_EQ(t.asString("EAN"), "2000000000015");
  EXPECT_TRUE(t.asBool("Active"));
  EXPECT_EQ(t.asString("FullName"), QStringLiteral("Иванов Иван"));
  EXPECT_EQ(t.asDateTime("DateInsert"), clock.now());

  // The face file is the face picture that was taken, encrypted with the system key.
  ASSERT_FALSE(taken.isEmpty());
  EXPECT_EQ(decrypted(name), taken);
  EXPECT_TRUE(DecryptImageView(joinPath(station.settings.modelDir, name), kSystemKey).has_value());
  EXPECT_EQ(modelFiles(), QStringList{name + "_face.bin"});
  EXPECT_FALSE(anyWorkingPicture());
}

TEST_F(ModelRecordsTest, SaveWithoutPhotoIsRefusedAndTheEditorStaysUsable) {
  // A face picture left in "Temp" by an earlier operation does not count as this model's photo.
  writeFile(tempHost("model_face.jpg"), readFile(lfw("Tony_Blair_0001")));
  bool firstSave = true;
  editor.script = [&](const ModelEditorSession& s, ScriptedEditor&) {
    s.table->setField(QStringLiteral("EAN"), QStringLiteral("2000000000022"));
    firstSave = ScriptedEditor::pressSave(s);
    EXPECT_EQ(s.table->state(), Dataset::State::Insert);
    // The operator then takes a photo and saves again.
    s.fromFile(lfw("Tony_Blair_0002"));
    return ScriptedEditor::pressSave(s);
  };
  ASSERT_TRUE(records->NewRecord(QString()));
  EXPECT_FALSE(firstSave);
  EXPECT_EQ(messages.shown, QStringList{ModelRecords::noPhotoMessage()});
  EXPECT_EQ(modelRows(), 1);
  EXPECT_EQ(modelFiles().size(), 1);
}

TEST_F(ModelRecordsTest, CancelLeavesNoRowNoFileNoWorkingPicture) {
  for (bool withPhoto : {false, true}) {
    SCOPED_TRACE(withPhoto);
    editor.script = [&](const ModelEditorSession& s, ScriptedEditor&) {
      s.table->setField(QStringLiteral("EAN"), QStringLiteral("2000000000039"));
      if (withPhoto) s.fromFile(lfw("Hugo_Chavez_0001"));
      return false;  // "Отменить" or the window's frame
    };
    EXPECT_FALSE(records->NewRecord(QString()));
    EXPECT_EQ(modelRows(), 0);
    EXPECT_EQ(models().recordCount(), 0);
    EXPECT_EQ(models().state(), Dataset::State::Browse);
    EXPECT_TRUE(modelFiles().isEmpty());
    EXPECT_FALSE(anyWorkingPicture());
  }
}

TEST_F(ModelRecordsTest, EditorErrorCancelsTheInsertCleanly) {
  editor.script = [&](const ModelEditorSession& s, ScriptedEditor&) -> bool {
    s.fromFile(lfw("Hugo_Chavez_0001"));
    throw std::runtime_error("window failed");
  };
  EXPECT_THROW(records->NewRecord(QString()), std::runtime_error);
  EXPECT_EQ(modelRows(), 0);
  EXPECT_EQ(models().state(), Dataset::State::Browse);
  EXPECT_TRUE(modelFiles().isEmpty());
  EXPECT_FALSE(anyWorkingPicture());
}

TEST_F(ModelRecordsTest, TwoModelsInTheSameSecondGetDifferentNames) {
  scriptNew("2000000000046", {lfw("Colin_Powell_0001")});
  ASSERT_TRUE(records->NewRecord(QString()));
  scriptNew("2000000000046", {lfw("Colin_Powell_0002")});
  ASSERT_TRUE(records->NewRecord(QString()));
  const Rows r = db().query("SELECT FileName, DateInsert FROM Model ORDER BY id");
  ASSERT_EQ(r.size(), 2);
  EXPECT_EQ(r.value(0, "DateInsert"), r.value(1, "DateInsert"));
  EXPECT_NE(r.value(0, "FileName"), r.value(1, "FileName"));
  EXPECT_EQ(modelFiles().size(), 2);
}

TEST_F(ModelRecordsTest, OnlyTheLastPhotoIsStored) {
  QByteArray last;
  editor.script = [&](const ModelEditorSession& s, ScriptedEditor&) {
    s.fromFile(lfw("Colin_Powell_0001"));
    const QByteArray first = readTakenFace(station);
    s.fromFile(lfw("Tony_Blair_0001"));
    last = readTakenFace(station);
    EXPECT_NE(first, last);
    return ScriptedEditor::pressSave(s);
  };
  ASSERT_TRUE(records->NewRecord(QString()));
  EXPECT_EQ(decrypted(models().asString("FileName")), last);
}

TEST_F(ModelRecordsTest, FailedSecondPhotoLeavesNothingToSave) {
  editor.script = [&](const ModelEditorSession& s, ScriptedEditor&) {
    s.fromFile(lfw("Colin_Powell_0001"));
    s.fromFile(testData("samples/formats/corrupted.png"));  // no picture
    EXPECT_FALSE(ScriptedEditor::pressSave(s));
    return false;
  };
  EXPECT_FALSE(records->NewRecord(QString()));
  EXPECT_EQ(messages.shown.last(), ModelRecords::noPhotoMessage());
  EXPECT_EQ(modelRows(), 0);
  EXPECT_TRUE(modelFiles().isEmpty());
}

TEST_F(ModelRecordsTest, NewRecordFromWorkOpensWithThePhotoTaken) {
  editor.script = [&](const ModelEditorSession& s, ScriptedEditor& e) {
    EXPECT_TRUE(e.photoChangedAtOpen);
    EXPECT_TRUE(e.pictureAtOpen);
    EXPECT_EQ(s.table->asString("EAN"), "2000000000053");
    return ScriptedEditor::pressSave(s);
  };
  ASSERT_TRUE(records->NewRecordFromWork(lfw("Gerhard_Schroeder_0001"), QStringLiteral("2000000000053")));
  Dataset& t = models();
  EXPECT_EQ(t.asString("EAN"), "2000000000053");
  EXPECT_TRUE(t.isNull("FullName"));
  EXPECT_TRUE(t.asBool("Active"));
  EXPECT_EQ(modelFiles(), QStringList{t.asString("FileName") + "_face.bin"});
}

TEST_F(ModelRecordsTest, EditRecordShowsTheFaceAndKeepsItWithoutANewPhoto) {
  scriptNew("2000000000060", {lfw("Jacques_Chirac_0001")});
  ASSERT_TRUE(records->NewRecord(QString()));
  const QString name = models().asString("FileName");
  const QByteArray before = readFile(modelHost(name) + "_face.bin");

  editor.script = [&](const ModelEditorSession& s, ScriptedEditor& e) {
    EXPECT_EQ(s.table->state(), Dataset::State::Edit);
    EXPECT_TRUE(e.pictureAtOpen);
    EXPECT_FALSE(e.photoChangedAtOpen);
    s.table->setField(QStringLiteral("Active"), false);
    return ScriptedEditor::pressSave(s);
  };
  ASSERT_TRUE(records->EditRecord());
  EXPECT_EQ(editor.captions.last(), QStringLiteral("Исправление"));
  EXPECT_FALSE(models().asBool("Active"));
  EXPECT_EQ(db().query("SELECT Active FROM Model").value(0, "Active").toInt(), 0);
  EXPECT_EQ(readFile(modelHost(name) + "_face.bin"), before);
}

TEST_F(ModelRecordsTest, EditRecordReplacesTheFaceOnlyWhenPhotoChangedIsTicked) {
  scriptNew("2000000000077", {lfw("Jacques_Chirac_0001")});
  ASSERT_TRUE(records->NewRecord(QString()));
  const QString name = models().asString("FileName");
  const QByteArray before = readFile(modelHost(name) + "_face.bin");

  // A new photo, then "фото изменено" unticked by hand: the old face file stays.
  editor.script = [&](const ModelEditorSession& s, ScriptedEditor& e) {
    s.fromFile(lfw("Jacques_Chirac_0002"));
    e.changed = false;
    return ScriptedEditor::pressSave(s);
  };
  ASSERT_TRUE(records->EditRecord());
  EXPECT_EQ(readFile(modelHost(name) + "_face.bin"), before);

  // Ticked by hand without a photo: refused, then cancelled; nothing changes.
  editor.script = [&](const ModelEditorSession& s, ScriptedEditor& e) {
    e.changed = true;
    EXPECT_FALSE(ScriptedEditor::pressSave(s));
    return false;
  };
  EXPECT_FALSE(records->EditRecord());
  EXPECT_EQ(messages.shown.last(), ModelRecords::noNewPhotoMessage());
  EXPECT_EQ(models().state(), Dataset::State::Browse);
  EXPECT_EQ(readFile(modelHost(name) + "_face.bin"), before);

  // A new photo kept ticked replaces the face file under the same name.
  QByteArray taken;
  editor.script = [&](const ModelEditorSession& s, ScriptedEditor&) {
    s.fromFile(lfw("Jacques_Chirac_0003"));
    taken = readTakenFace(station);
    return ScriptedEditor::pressSave(s);
  };
  ASSERT_TRUE(records->EditRecord());
  EXPECT_EQ(models().asString("FileName"), name);
  EXPECT_EQ(decrypted(name), taken);
  EXPECT_EQ(modelFiles().size(), 1);
}

TEST_F(ModelRecordsTest, DeleteRemovesTheRowWhateverFilesExist) {
  struct Case {
    bool bin, jpg;
  } cases[] = {{true, false}, {false, true}, {false, false}, {true, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "bin " << c.bin << " jpg " << c.jpg);
    const QString name = NewModelFileName(clock);
    const qint64 id = addModel("2000000000091");
    db().exec("UPDATE Model SET FileName = ? WHERE id = ?", {name, id});
    if (c.bin) writeFile(modelHost(name) + "_face.bin", "x");
    if (c.jpg) writeFile(modelHost(name) + "_face.jpg", "y");
    models().refresh();
    ASSERT_TRUE(models().locateId(id));
    ASSERT_TRUE(records->DelRecord());
    EXPECT_EQ(messages.asked.last(), QStringLiteral("Действительно удалить?"));
    EXPECT_EQ(modelRows(), 0);
    EXPECT_TRUE(modelFiles().isEmpty());
  }
}

TEST_F(ModelRecordsTest, DeleteAnsweredNoChangesNothing) {
  const QString name = NewModelFileName(clock);
  const qint64 id = addModel("2000000000107");
  db().exec("UPDATE Model SET FileName = ? WHERE id = ?", {name, id});
  writeFile(modelHost(name) + "_face.bin", "x");
  models().refresh();
  messages.answer = false;
  EXPECT_FALSE(records->DelRecord());
  EXPECT_EQ(modelRows(), 1);
  EXPECT_EQ(modelFiles().size(), 1);
}

TEST_F(ModelRecordsTest, ModelWithoutFileNameLeavesOtherFilesAlone) {
  // A stray "_face.bin" without base name in the model folder is nobody's face file.
  writeFile(modelHost("") + "_face.bin", "z");
  addModel("2000000000114");
  models().refresh();
  ASSERT_TRUE(records->DelRecord());
  EXPECT_EQ(modelRows(), 0);
  EXPECT_EQ(modelFiles(), QStringList{"_face.bin"});
}

// A model row whose FileName leads out of the model folder: deleting it removes the row only,
// editing it touches no file and the maintenance copy skips it.
TEST_F(ModelRecordsTest, StoredNamesLeadingOutOfTheModelFolderTouchNoFile) {
  const QString victim = QFileInfo(hostPath(station.settings.modelDir)).absolutePath() + "/victim";
  writeFile(victim + "_face.bin", "bin");
  writeFile(victim + "_face.jpg", "jpg");
  const qint64 id = addModel("2000000000121");
  db().exec("UPDATE Model SET FileName = ? WHERE id = ?", {QStringLiteral("..\\victim"), id});
  models().refresh();
  ASSERT_TRUE(models().locateId(id));
  EXPECT_THROW(records->EditRecord(), std::runtime_error);
  EXPECT_TRUE(editor.captions.isEmpty());
  EXPECT_EQ(Button10Click(station, *store), 0);
  ASSERT_TRUE(models().locateId(id));
  ASSERT_TRUE(records->DelRecord());
  EXPECT_EQ(modelRows(), 0);
  EXPECT_EQ(readFile(victim + "_face.bin"), "bin");
  EXPECT_EQ(readFile(victim + "_face.jpg"), "jpg");
}

TEST_F(ModelRecordsTest, RefusedPostKeepsRowsAndFaceFilesTogether) {
  scriptNew("2000000000121", {lfw("Colin_Powell_0003")});
  ASSERT_TRUE(records->NewRecord(QString()));
  const QString name = models().asString("FileName");
  const QByteArray before = readFile(modelHost(name) + "_face.bin");

  db().exec("CREATE TRIGGER refuse_insert BEFORE INSERT ON Model BEGIN SELECT RAISE(ABORT, 'disk full'); END");
  db().exec("CREATE TRIGGER refuse_update BEFORE UPDATE ON Model BEGIN SELECT RAISE(ABORT, 'disk full'); END");
  bool saved = true;
  editor.script = [&](const ModelEditorSession& s, ScriptedEditor&) {
    s.fromFile(lfw("Colin_Powell_0004"));
    saved = ScriptedEditor::pressSave(s);
    return saved;
  };
  EXPECT_FALSE(records->NewRecord(QString()));
  EXPECT_FALSE(saved);
  EXPECT_TRUE(messages.shown.last().contains("disk full"));
  EXPECT_EQ(modelRows(), 1);
  EXPECT_EQ(modelFiles(), QStringList{name + "_face.bin"});

  // A change with a new photo whose row cannot be written keeps the old face file.
  editor.script = [&](const ModelEditorSession& s, ScriptedEditor&) {
    s.table->setField(QStringLiteral("EAN"), QStringLiteral("2000000000138"));
    s.fromFile(lfw("Colin_Powell_0005"));
    saved = ScriptedEditor::pressSave(s);
    return saved;
  };
  EXPECT_FALSE(records->EditRecord());
  EXPECT_FALSE(saved);
  EXPECT_EQ(readFile(modelHost(name) + "_face.bin"), before);
  EXPECT_EQ(models().state(), Dataset::State::Browse);
}

TEST_F(ModelRecordsTest, PhotoFromTheWebCamera) {
  // A video file stands in for the web camera.
  WebCamera camera;
  ASSERT_TRUE(camera.open(testData("clips/subj01_timepoint01.mp4")));
  cropper->setWebCamera(&camera);
  editor.script = [&](const ModelEditorSession& s, ScriptedEditor& e) {
    s.fromStream();  // no network camera here: nothing is taken
    EXPECT_FALSE(e.changed);
    EXPECT_FALSE(ScriptedEditor::pressSave(s));
    s.fromWebCamera();
    EXPECT_TRUE(e.changed);
    EXPECT_TRUE(e.hasPicture);
    return ScriptedEditor::pressSave(s);
  };
  ASSERT_TRUE(records->NewRecord(QString()));
  EXPECT_EQ(modelRows(), 1);
  EXPECT_TRUE(DecryptImageView(joinPath(station.settings.modelDir, models().asString("FileName")), kSystemKey));
  cropper->setWebCamera(nullptr);
}

TEST_F(ModelRecordsTest, NoCurrentModelIsAnError) {
  EXPECT_THROW(records->EditRecord(), std::runtime_error);
  EXPECT_THROW(records->DelRecord(), std::runtime_error);
  EXPECT_TRUE(editor.captions.isEmpty());
}

}  // namespace
}  // namespace tavo::test
