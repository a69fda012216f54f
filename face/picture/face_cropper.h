#pragma once
#include <QString>
#include <memory>
#include <vector>

#include <opencv2/core/types.hpp>

namespace cv {
class CascadeClassifier;
class Mat;
}

namespace tavo {

class Station;
class WebCamera;
class EditorPictureView;

// What PhotoGet found: `the_fase` (a face was found) and the margins of the face square to the
// picture's left, right, top and bottom edges (negative when the square sticks out), and the
// face rectangle's height and width as the face cascade reported it. All false/0 without a face.
struct PhotoResult {
  bool the_fase = false;
  int cLeft = 0;
  int cRight = 0;
  int cTop = 0;
  int cBottom = 0;
  int cHeight = 0;
  int cWidth = 0;
  // Eyes + nose + mouth counted for the face the results belong to (3 or more passes);
  // kNotSearched for the last face of mode 3, where the count could change no result.
  int features = 0;
  static constexpr int kNotSearched = -1;
  // The face rectangle itself, in pixels of the working picture: what later steps judge (the
  // liveness check) take it from here rather than working it back from the margins.
  cv::Rect faceBox;
};

// Face detection and crop with Haar cascades (held by the model editor window in the original
// layout; one object for the whole run). Works on the files of "Temp" in the program directory:
// "model_full.jpg" (the working picture), "model_face.jpg" (the face square, or the whole
// picture when no face was found) and "model_f.jpg" (the picture with the features marked,
// modes 1 and 2 only).
class FaceCropper {
 public:
  // `webCamera` is the source of mode 1; may be null (mode 1 then finds no picture).
  explicit FaceCropper(Station& station, WebCamera* webCamera = nullptr);
  ~FaceCropper();
  FaceCropper(const FaceCropper&) = delete;
  FaceCropper& operator=(const FaceCropper&) = delete;

  void setWebCamera(WebCamera* webCamera) { webCamera_ = webCamera; }

  // Loads the four cascades from the program directory, in the order face (setting Cascade),
  // eyes, nose, mouth. A file that cannot be loaded leaves its cascade empty (and a log line).
  void loadCascades();
  // FormDestroy: the face cascade reference is cleared.
  void clearFaceCascade();

  bool hasFaceCascade() const;
  bool hasEyeCascade() const;
  bool hasNoseCascade() const;
  bool hasMouthCascade() const;

  static constexpr const char* cascade_name_left_eye = "haarcascade_eye_tree_eyeglasses.xml";
  static constexpr const char* cascade_name_nose = "haarcascade_mcs_nose.xml";
  static constexpr const char* cascade_name_mouth = "haarcascade_mcs_mouth.xml";

  // Mode 1: web camera (two frames, the second kept), radius ModelRadius.
  // Mode 2: the file `file_source` copied over "Temp\model_full.jpg" (used in place when it is
  //         that file), radius ModelRadius.
  // Mode 3: "Temp\model_full.jpg" as the caller placed it, radius WorkRadius. The features of the
  //         last face are not searched: no result of mode 3 depends on them.
  // Modes 1 and 2 write "Temp\model_f.jpg", show it in `view` and tick its "фото изменено".
  // A picture that cannot be obtained or read ends the call with the_fase false, a log line and
  // no "Temp\model_face.jpg" (never a stale one). `view` may be null.
  PhotoResult PhotoGet(int mode, const QString& file_source, EditorPictureView* view = nullptr);

 private:
  struct FeatureCount {
    int eyes = 0, noses = 0, mouths = 0;
    int total() const { return eyes + noses + mouths; }
  };
  // Searches eyes, nose and mouth inside a face square of the picture, marking each into it.
  FeatureCount markFeatures(cv::Mat& area);
  bool placeWorkingPicture(int mode, const QString& file_source, const QString& fullPath);
  bool cutFaces(const std::vector<cv::Rect>& faces, cv::Mat& img, double f, int mode, const QString& facePath,
                PhotoResult& res);

  Station& station_;
  WebCamera* webCamera_;
  std::unique_ptr<cv::CascadeClassifier> cascade_face;
  std::unique_ptr<cv::CascadeClassifier> cascade_eye;
  std::unique_ptr<cv::CascadeClassifier> cascade_nose;
  std::unique_ptr<cv::CascadeClassifier> cascade_mouth;
};

}  // namespace tavo
