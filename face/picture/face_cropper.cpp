#include "face/picture/face_cropper.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cmath>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>
#include <stdexcept>
#include <vector>

#include "base/file_modes.h"
#include "base/paths.h"
#include "base/picture_limits.h"
#include "base/station.h"
#include "face/picture/cascade_search.h"
#include "face/picture/editor_picture_view.h"
#include "face/picture/feature_rules.h"
#include "face/picture/web_camera.h"

namespace tavo {

namespace {

// Detection runs on the full-size picture.
constexpr double scale = 1.0;

// Nearest integer, ties to even (the default rounding mode).
int R(double v) { return static_cast<int>(std::nearbyint(v)); }

// Empty when the file cannot be read or decoded; `refused` then says why when the picture was
// too large to decode.
cv::Mat readPicture(const QString& path, QString* refused) {
  QFile f(hostPath(path));
  if (!f.open(QIODevice::ReadOnly)) return {};
  const QByteArray bytes = f.readAll();
  if (bytes.isEmpty()) return {};
  if (const QString why = pictureSizeProblem(bytes, hostPath(path)); !why.isEmpty()) {
    *refused = why;
    return {};
  }
  try {
    return cv::imdecode(cv::Mat(1, int(bytes.size()), CV_8UC1, const_cast<char*>(bytes.constData())), cv::IMREAD_COLOR);
  } catch (const cv::Exception&) {
    return {};
  }
}

// Saves a working picture of "Temp" with OpenCV's default JPEG parameters; a file that cannot be
// written ends the operation.
void saveJpeg(const cv::Mat& img, const QString& path) {
  std::vector<uchar> buf;
  bool ok = false;
  try {
    ok = cv::imencode(".jpg", img, buf);
  } catch (const cv::Exception&) {
    ok = false;
  }
  QString error;
  if (!ok ||
      !writeWorkingFile(path, QByteArray(reinterpret_cast<const char*>(buf.data()), qsizetype(buf.size())), &error))
    throw std::runtime_error(QStringLiteral("PhotoGet: cannot write %1 %2").arg(hostPath(path), error).toStdString());
}

std::unique_ptr<cv::CascadeClassifier> loadCascade(Station& station, const QString& name) {
  const QString path = hostPath(station.programFile(name));
  auto c = std::make_unique<cv::CascadeClassifier>();
  bool ok = false;
  if (QFileInfo(path).isFile()) {
    try {
      ok = c->load(path.toStdString());
    } catch (const cv::Exception&) {
      ok = false;
    }
  }
  if (!ok || c->empty()) {
    station.showLog(QStringLiteral("Каскад не загружен: ") + path);
    return nullptr;
  }
  return c;
}

bool loaded(const std::unique_ptr<cv::CascadeClassifier>& c) { return c && !c->empty(); }

std::vector<cv::Rect> detect(cv::CascadeClassifier& c, const cv::Mat& img, cv::Size minSize) {
  return cascadeSearch(c, img, minSize);
}

bool sameFile(const QString& a, const QString& b) {
  const QFileInfo fa(hostPath(a)), fb(hostPath(b));
  if (!fa.exists() || !fb.exists()) return false;
  return fa.canonicalFilePath() == fb.canonicalFilePath();
}

}  // namespace

FaceCropper::FaceCropper(Station& station, WebCamera* webCamera) : station_(station), webCamera_(webCamera) {}
FaceCropper::~FaceCropper() = default;

void FaceCropper::loadCascades() {
  cascade_face = loadCascade(station_, station_.settings.cascade);
  cascade_eye = loadCascade(station_, QString::fromLatin1(cascade_name_left_eye));
  cascade_nose = loadCascade(station_, QString::fromLatin1(cascade_name_nose));
  cascade_mouth = loadCascade(station_, QString::fromLatin1(cascade_name_mouth));
}

void FaceCropper::clearFaceCascade() { cascade_face.reset(); }

bool FaceCropper::hasFaceCascade() const { return loaded(cascade_face); }
bool FaceCropper::hasEyeCascade() const { return loaded(cascade_eye); }
bool FaceCropper::hasNoseCascade() const { return loaded(cascade_nose); }
bool FaceCropper::hasMouthCascade() const { return loaded(cascade_mouth); }

FaceCropper::FeatureCount FaceCropper::markFeatures(cv::Mat& area) {
  // Marks go into the picture as each feature is found, so later searches see them.
  FeatureCount n;
  int eyeRow = 0, noseRow = 0;
  if (loaded(cascade_eye)) {
    const EyePick p = pickEyes(detect(*cascade_eye, area, cv::Size(20, 20)));
    for (const cv::Rect& e : p.counted)  // RGB (255, 255, 0)
      cv::circle(area, centreOf(e), 2 * R((e.width + e.height) * 0.1 * scale), cv::Scalar(0, 255, 255), 2, cv::LINE_8);
    n.eyes = int(p.counted.size());
    eyeRow = p.eyeRow;
  }
  if (loaded(cascade_nose)) {
    const NosePick p = pickNose(detect(*cascade_nose, area, cv::Size(10, 10)), eyeRow);
    if (p.counted) {
      cv::rectangle(area, *p.counted, cv::Scalar(0, 255, 0), 2, cv::LINE_8);
      n.noses = 1;
    }
    noseRow = p.noseRow;
  }
  if (loaded(cascade_mouth)) {
    if (const auto m = pickMouth(detect(*cascade_mouth, area, cv::Size(10, 10)), noseRow)) {
      cv::rectangle(area, *m, cv::Scalar(255, 250, 100), 2, cv::LINE_8);  // RGB (100, 250, 255)
      n.mouths = 1;
    }
  }
  return n;
}

// "Temp\model_full.jpg" as the mode wants it: grabbed (1), copied from `file_source` (2) or as
// the caller placed it (3). False, with a log line, when there is no picture to search.
bool FaceCropper::placeWorkingPicture(int mode, const QString& file_source, const QString& fullPath) {
  Station& st = station_;
  if (mode == 1) {
    removeFile(fullPath);
    const cv::Mat frame = webCamera_ ? webCamera_->grabFrame() : cv::Mat();
    if (frame.empty()) {
      st.showLog(QStringLiteral("  PhotoGet - нет кадра с веб-камеры"));
      return false;
    }
    saveJpeg(frame, fullPath);
  } else if (mode == 2) {
    if (!sameFile(file_source, fullPath)) {
      // Removed first: a failed copy must not leave the previous picture to be analysed.
      removeFile(fullPath);
      if (file_source.isEmpty() || !QFile::copy(hostPath(file_source), hostPath(fullPath)))
        st.messages().show(QStringLiteral("Ошибка: файл не был скопирован."));
      else
        dropOtherUsersAccess(hostPath(fullPath));
    }
  } else if (mode != 3) {
    st.showLog(QStringLiteral("  PhotoGet - неизвестный режим %1").arg(mode));
    return false;
  }
  return true;
}

// Cuts the square of radius factor `f` around each face in turn into "Temp\model_face.jpg" until
// one passes the feature test (mode 3: the last face is never searched). Whether any face had a
// square.
bool FaceCropper::cutFaces(const std::vector<cv::Rect>& faces, cv::Mat& img, double f, int mode,
                           const QString& facePath, PhotoResult& res) {
  Station& st = station_;
  const int W = img.cols, H = img.rows;
  bool anyFace = false;
  for (const cv::Rect& face : faces) {
    const cv::Point c = centreOf(face);
    // Bounded so that an absurd radius setting cannot overflow the arithmetic below.
    const int r = R(std::clamp((face.width + face.height) * f * scale, -1e7, 1e7));
    // The square is moved at the left and top edges and cut at the right and bottom edges.
    int left = c.x - r, top = c.y - r;
    const int side = 2 * r;
    if (left < 0) left = 0;
    bool headCut = false;
    if (top < 0) {
      top = 0;
      headCut = true;
    }
    const int sw = std::min(side, W - left), sh = std::min(side, H - top);
    if (sw <= 0 || sh <= 0) {
      // Only a radius setting of 0 or below gets here: there is no square to cut.
      st.showLog(QStringLiteral("  PhotoGet - пустой квадрат лица (радиус %1)").arg(f));
      continue;
    }
    if (headCut) st.showLog(QStringLiteral("  PhotoGet - лицо высоко, не помещается верхняя часть головы"));

    anyFace = true;
    res.cLeft = c.x - r;
    res.cTop = c.y - r;
    res.cRight = W - c.x - r;
    res.cBottom = H - c.y - r;
    res.cHeight = face.height;
    res.cWidth = face.width;
    res.faceBox = face;

    cv::Mat area = img(cv::Rect(left, top, sw, sh));  // a view: marks land in the picture itself
    saveJpeg(area, facePath);

    res.the_fase = true;
    // In mode 3 nothing reads the marks, so the search of the last face could change nothing: the
    // results and the face file are this face's whether it passes or not. Earlier faces are
    // searched, since a later face's square may hold their marks.
    if (mode == 3 && &face == &faces.back()) {
      res.features = PhotoResult::kNotSearched;
      break;
    }
    const FeatureCount found = markFeatures(area);
    res.features = found.total();
    if (passesFeatureTest(found.eyes, found.noses, found.mouths)) break;
  }
  return anyFace;
}

PhotoResult FaceCropper::PhotoGet(int mode, const QString& file_source, EditorPictureView* view) {
  Station& st = station_;
  st.showLog(QStringLiteral("  PhotoGet - start"));
  PhotoResult res;
  if (view) view->clearPicture();

  const QString fullPath = st.tempFile(QStringLiteral("model_full.jpg"));
  const QString facePath = st.tempFile(QStringLiteral("model_face.jpg"));
  const QString markedPath = st.tempFile(QStringLiteral("model_f.jpg"));
  const bool editorMode = mode == 1 || mode == 2;
  auto finish = [&]() {
    st.showLog(QStringLiteral("  PhotoGet - end"));
    return res;
  };

  // Callers take "model_face.jpg" as this call's result: a failed call must not leave an older one.
  removeFile(facePath);
  if (editorMode) removeFile(markedPath);
  if (!placeWorkingPicture(mode, file_source, fullPath)) return finish();
  const double f = mode == 3 ? st.settings.workRadius : st.settings.modelRadius;

  QString refused;
  cv::Mat img = readPicture(fullPath, &refused);
  if (img.empty()) {
    st.showLog(QStringLiteral("  PhotoGet - не удалось прочитать снимок ") + hostPath(fullPath) +
               (refused.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(refused)));
    return finish();
  }
  cv::Mat grey;
  cv::cvtColor(img, grey, cv::COLOR_BGR2GRAY);
  cv::erode(grey, grey, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(3, 3), cv::Point(1, 1)));

  if (!loaded(cascade_face)) {
    st.showLog(QStringLiteral("  PhotoGet - каскад лица не загружен, лицо не ищется"));
    return finish();
  }

  st.showLog(QStringLiteral("  PhotoGet - cvHaarDetectObjects - begin"));
  const std::vector<cv::Rect> faces =
      detect(*cascade_face, grey, cv::Size(std::max(st.settings.faceWidth, 0), std::max(st.settings.faceHeight, 0)));
  st.showLog(QStringLiteral("  PhotoGet - cvHaarDetectObjects - end"));

  if (!cutFaces(faces, img, f, mode, facePath, res)) {
    res = PhotoResult{};
    saveJpeg(img, facePath);
  }
  if (editorMode) {
    saveJpeg(img, markedPath);
    if (view) {
      view->setPhotoChanged(true);
      view->showPicture(hostPath(markedPath));
    }
  }
  return finish();
}

}  // namespace tavo
