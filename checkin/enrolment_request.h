#pragma once
#include <QString>
#include <QStringList>
#include <functional>

#include "models/new_model.h"

namespace tavo {

class DataStore;
class Station;

// Answer file of an enrolment request in the flag folder.
inline constexpr char kEnrolmentAnswer[] = "endUser.txt";
// First answer line of a refusal.
inline constexpr char kEnrolmentRefused[] = "ошибка";
// Line 3 that enrols regardless of the comparison (exact, case-sensitive).
inline constexpr char kEnrolRegardless[] = "Да";
// A barcode without models is refused from this match percentage on.
inline constexpr double kRefuseNewAtPercent = 70.0;
// A barcode with models takes new pictures from this match percentage on (its own face).
inline constexpr double kAddToExistingAtPercent = 50.0;

// What one request came to (for the caller's log and for tests).
struct EnrolmentOutcome {
  bool enrolled = false;
  bool hadModels = false;
  double percent = 0;     // P: best match of the picked picture against the template base
  QString matchedEan;     // M: barcode of that best match
  QStringList enrolledPictures;  // file names made models, in order
};

// The enrolment request ("user.txt" lines: barcode, picked picture base name such as "Face102",
// "Да" or anything else). Compares the picked picture with the template base, decides, makes
// models of the series pictures (picked one first, then Face101..Face105 except it) and answers
// "endUser.txt" (empty line or "ошибка", then the percentage). Sets settings.ean.
//
// Throws std::runtime_error (no answer written) for fewer than 3 lines, a barcode that cannot be
// used safely (path separators, "..", control characters, more than 64 characters), a picture
// name that is not a plain file name, and database or enrolment errors; models made before an
// error stay. A picked picture that is missing is answered "ошибка" and nothing is enrolled.
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

  // Wires a template base with FaceRecognitionLuxand(...) and EnrollPicture(...).
  template <class Base>
  void useTemplateBase(Base& base) {
    recognize = [&base](const QString& f, int m, int& id, double& p, QString& n) {
      base.FaceRecognitionLuxand(f, m, id, p, n);
    };
    enroll = enrollPictureOf(base);
  }

  EnrolmentOutcome handle(const QStringList& lines);

 private:
  Station& station_;
  DataStore& data_;
};

// Why a picked picture name (line 2) cannot name a file of the flag folder: a path separator,
// "..", a control character, or more than 64 characters. Empty when it can.
QString pictureNameProblem(const QString& name);

}  // namespace tavo
