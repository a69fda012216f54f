#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>

#include "models/new_model.h"

namespace tavo {

class DataStore;
class PrivateCopies;
class Station;

// Answer file of an enrolment request in the flag folder.
inline constexpr char kEnrolmentAnswer[] = "endUser.txt";
// First answer line of a refusal.
inline constexpr char kEnrolmentRefused[] = "ошибка";
// Third answer line when the models made cannot enter the template base at the next start (the
// base is full); the first two lines are as always.
inline constexpr char kEnrolmentBaseFull[] = "база полна";
// Line 3 that enrols regardless of the comparison (exact, case-sensitive).
inline constexpr char kEnrolRegardless[] = "Да";
// A barcode without models is refused from this match percentage on.
inline constexpr double kRefuseNewAtPercent = 70.0;
// A barcode with models takes new pictures from this match percentage on (its own face).
inline constexpr double kAddToExistingAtPercent = 50.0;

// What the face engine finds in a picture file, as enrolment sees it: empty when a face is
// found, "not a picture" or "no face" otherwise. Throws std::runtime_error when the engine
// itself is not ready (an error of the station, not of the picture).
QString faceProblemOf(const QString& hostFile, int detectionThreshold);

// What one request came to (for the caller's log and for tests).
struct EnrolmentOutcome {
  bool enrolled = false;
  bool hadModels = false;
  double percent = 0;     // P: best match of the picked picture against the template base
  QString matchedEan;     // M: barcode of that best match
  QStringList enrolledPictures;  // file names made models, in order
  bool leftOutAtNextStart = false;  // the base is full: matched until the next start only
};

// The enrolment request ("user.txt" lines: barcode, picked picture base name such as "Face102",
// "Да" or anything else). Compares the picked picture with the template base, decides, makes
// models of the series pictures (picked one first, then Face101..Face105 except it) and answers
// "endUser.txt" (empty line or "ошибка", then the percentage). Sets settings.ean.
//
// Throws std::runtime_error (no answer written) for fewer than 3 lines, a barcode that cannot be
// used safely (path separators, "..", control characters), a picture name that is not a plain
// file name, and database or enrolment errors; models made before an error stay. Answered
// "ошибка" with nothing enrolled: an empty barcode or one longer than Model.EAN, and a picked
// picture that is missing, empty, too large (picture_limits.h), not a picture or without a face.
// Other series pictures of that kind are skipped (logged). A series picture already stored as a
// model of the barcode (the same bytes) is not enrolled again, so a request handled a second time
// after a crash makes no second models.
// The caller (the poll) removes "user.txt" and the series pictures afterwards in every case.
class EnrolmentRequest {
 public:
  EnrolmentRequest(Station& station, DataStore& data);

  // FaceRecognitionLuxand of the template base. Unset: the base is empty (P = 0, M empty).
  using Recognize = std::function<void(const QString& filename, int mode, int& idModel,
                                       double& percentdif, QString& name_fio)>;
  Recognize recognize;
  // EnrollPicture of the template base, passed on to NewModel.
  EnrollPictureFn enroll;
  // Why a series picture (host path) cannot become a model ("not a picture", "no face"); empty
  // when it can. Unset: only emptiness and size are checked.
  std::function<QString(const QString& hostFile)> pictureProblem;
  // Whether models made now stay out of the template base at the next start. Unset: never.
  std::function<bool()> leftOutAtNextStart;

  // Wires a template base with FaceRecognitionLuxand(...) and EnrollPicture(...).
  template <class Base>
  void useTemplateBase(Base& base) {
    recognize = [&base](const QString& f, int m, int& id, double& p, QString& n) {
      base.FaceRecognitionLuxand(f, m, id, p, n);
    };
    enroll = enrollPictureOf(base);
    pictureProblem = [&base](const QString& f) { return faceProblemOf(f, base.FaceDetectionThreshold()); };
    leftOutAtNextStart = [&base] { return base.newModelsLeftOutAtNextStart(); };
  }

  EnrolmentOutcome handle(const QStringList& lines);

 private:
  struct Lines {
    QString ean, picked;
    bool regardless = false;  // the office system's user confirmed: enrol whatever the match says
  };
  Lines readLines(const QStringList& lines);
  bool barcodeStorable(const QString& ean);
  QString keepPicked(const QString& picked, PrivateCopies& copies, QByteArray* bytes, QString* copy);
  void enrolSeries(const Lines& l, const QByteArray& pickedBytes, PrivateCopies& copies, EnrolmentOutcome& out);
  // Reads a series picture once (the reader of outside files) and checks its size.
  QString seriesPictureProblem(const QString& hostFile, QByteArray* bytes) const;
  bool alreadyEnrolled(const QString& ean, const QByteArray& picture);
  void answer(bool enrolled, double percent, bool baseFull = false);

  Station& station_;
  DataStore& data_;
};

// Why a picked picture name (line 2) cannot name a file of the flag folder: a path separator,
// "..", a control character, or more than 64 characters. Empty when it can.
QString pictureNameProblem(const QString& name);

}  // namespace tavo
