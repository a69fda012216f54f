#pragma once
#include <QString>

namespace tavo {

// The model editor's picture area as PhotoGet sees it. The model editor window implements it;
// PhotoGet takes a pointer that may be null (check-in and photo series have no editor).
class EditorPictureView {
 public:
  virtual ~EditorPictureView() = default;
  virtual void clearPicture() = 0;
  // Shows the picture file at this host path (e.g. "Temp/model_f.jpg" of the program directory).
  virtual void showPicture(const QString& hostPath) = 0;
  // The check box "фото изменено".
  virtual void setPhotoChanged(bool changed) = 0;
};

}  // namespace tavo
