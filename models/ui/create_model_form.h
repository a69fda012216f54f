#pragma once
#include <QDialog>
#include <QImage>
#include <QString>
#include <functional>

#include "models/model_records.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tavo {

class Station;

// The picture area: the picture centred and scaled to fit, keeping its proportions.
class ScaledPictureView : public QWidget {
 public:
  explicit ScaledPictureView(QWidget* parent = nullptr);
  void setImage(const QImage& image);
  void clear();
  const QImage& image() const { return image_; }
  QRect pictureRect() const;  // where the picture is drawn

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  QImage image_;
};

// The model editor window (TCreateModelForm): client area 652 x 583, Tahoma 16 px; the top bar
// with "EAN", the barcode field, "Активный" and the three photo buttons; the picture; the bottom
// bar with "Сохранить", "Отменить", "фото изменено" and DateInsert. Created once and kept; each
// exec() shows it over the session's row.
class TCreateModelForm : public QDialog, public ModelEditorDialog {
 public:
  explicit TCreateModelForm(Station& station, QWidget* parent = nullptr);

  // ModelEditorDialog
  bool exec(const ModelEditorSession& session) override;
  bool photoChanged() const override;
  // EditorPictureView
  void clearPicture() override;
  void showPicture(const QString& hostPath) override;
  void setPhotoChanged(bool changed) override;
  void showImage(const QImage& image) override;

  // The file-choosing step of "Загрузить из файла": returns the chosen host path, or empty when
  // the operator cancels. Tests replace it.
  std::function<QString(QWidget* parent)> chooseFile;
  static QStringList fileFilters();  // "JPEG Image File (*.jpg)", "JPEG Image File (*.jpeg)"

  QLineEdit* eanEdit() const { return ean_; }
  QCheckBox* activeBox() const { return active_; }
  QCheckBox* photoChangedBox() const { return photoChanged_; }
  QLineEdit* dateInsertEdit() const { return dateInsert_; }
  QPushButton* streamButton() const { return stream_; }
  QPushButton* webButton() const { return web_; }
  QPushButton* fileButton() const { return file_; }
  QPushButton* saveButton() const { return save_; }
  QPushButton* cancelButton() const { return cancel_; }
  ScaledPictureView* pictureView() const { return picture_; }

 private:
  void loadFields();
  void saveClicked();
  void fileClicked();
  void runAction(const std::function<void()>& action);

  Station& station_;
  const ModelEditorSession* session_ = nullptr;
  bool loading_ = false;
  QLineEdit* ean_;
  QCheckBox* active_;
  QPushButton* stream_;
  QPushButton* web_;
  QPushButton* file_;
  ScaledPictureView* picture_;
  QPushButton* save_;
  QPushButton* cancel_;
  QCheckBox* photoChanged_;
  QLineEdit* dateInsert_;
};

}  // namespace tavo
