#pragma once
#include <QByteArray>
#include <QImage>
#include <QString>
#include <functional>

#include "face/picture/editor_picture_view.h"

namespace tavo {

class Cameras;
class DataStore;
class Dataset;
class FaceCropper;
class Station;

// What the model editor window works with while it is shown: the row of TableModel in insert or
// edit state (its barcode field and "Активный" box edit it directly) and the actions of its
// buttons, which belong to the operation that opened it.
struct ModelEditorSession {
  Dataset* table = nullptr;
  QString caption;                                    // "Новый" or "Исправление"
  std::function<void()> fromStream;                   // "Получить фото"
  std::function<void()> fromWebCamera;                // "Сфотографировать (web)"
  std::function<void(const QString&)> fromFile;       // "Загрузить из файла", file chosen
  // "Сохранить": stores the model; true lets the window close with OK, false keeps it open
  // (the operator has been told why).
  std::function<bool()> save;
};

// The model editor as the model operations see it (TCreateModelForm). The Qt window implements
// it; tests put a scripted editor in its place. PhotoGet draws into it through
// EditorPictureView.
class ModelEditorDialog : public EditorPictureView {
 public:
  // Shows the editor modally, centred, with the session's caption. Returns true when it closed
  // through "Сохранить" (after session.save returned true), false for "Отменить" or the frame.
  virtual bool exec(const ModelEditorSession& session) = 0;
  // The check box "фото изменено".
  virtual bool photoChanged() const = 0;
  // Shows a picture held in memory (a model's decrypted face file).
  virtual void showImage(const QImage& image) = 0;
};

// Model records and their face files (NewRecord, NewRecordFromWork, EditRecord, DelRecord), on
// the current row of TableModel. A row and its "_face.bin" are stored together: a new model is
// posted only after its face file was written, and never without one.
class ModelRecords {
 public:
  // `cameras` may be null (then "Получить фото" finds no picture).
  ModelRecords(Station& station, DataStore& data, FaceCropper& cropper, ModelEditorDialog& editor,
               Cameras* cameras = nullptr);

  // A new model through the editor; EAN_FIO becomes FullName. Returns whether it was saved.
  bool NewRecord(const QString& EAN_FIO);
  // A new model of barcode EAN from the photo file file_source (a station or host path):
  // PhotoGet mode 2 runs on it before the editor opens. Returns whether it was saved.
  bool NewRecordFromWork(const QString& file_source, const QString& EAN);
  // Changes the current model through the editor. Returns whether it was saved. Throws when
  // there is no current model.
  bool EditRecord();
  // Deletes the current model and its "_face.jpg" and "_face.bin" after "Действительно
  // удалить?". Returns whether it deleted. Throws when there is no current model.
  bool DelRecord();

  // The editor's photo actions, also used by the window's buttons through the session.
  void takeFromStream();
  void takeFromWebCamera();
  void takeFromFile(const QString& path);

  // The face picture taken since the editor was opened; empty when none was.
  const QByteArray& takenFace() const { return taken_; }

  static QString captionNew() { return QStringLiteral("Новый"); }
  static QString captionEdit() { return QStringLiteral("Исправление"); }
  // Shown when "Сохранить" is pressed on a new model without a photo.
  static QString noPhotoMessage() { return QStringLiteral("Нет фото: сделайте снимок или загрузите файл."); }
  // Shown when "фото изменено" is ticked in a change but no photo was taken.
  static QString noNewPhotoMessage() {
    return QStringLiteral("Новое фото не сделано: снимите отметку «фото изменено» или сделайте снимок.");
  }
  static QString deleteQuestion() { return QStringLiteral("Действительно удалить?"); }

 private:
  bool runNew(const QString& ean, const QString& fullName, bool setFullName,
              const std::function<void()>& beforeShow);
  ModelEditorSession session(const QString& caption, std::function<bool()> save);
  void afterAcquisition();

  Station& station_;
  DataStore& data_;
  FaceCropper& cropper_;
  ModelEditorDialog& editor_;
  Cameras* cameras_;
  QByteArray taken_;
};

}  // namespace tavo
