#include "checkin/enrolment_request.h"

#include <QFile>
#include <stdexcept>

#include "base/paths.h"
#include "base/picture_limits.h"
#include "base/regular_file.h"
#include "base/station.h"
#include "base/stored_names.h"
#include "checkin/request_file.h"
#include "data/data_store.h"
#include "data/schema.h"
#include "face/face_base.h"
#include "protect/face_file.h"

namespace tavo {

namespace {

[[noreturn]] void fail(const QString& text) { throw std::runtime_error(text.toStdString()); }

const QString kFaceSuffix = QStringLiteral("_face.jpg");

// The width of Model.EAN: a longer barcode cannot be stored as the office system sent it.
int barcodeColumnWidth() {
  const ColumnDef* c = tableDef(QStringLiteral("Model")).column(QStringLiteral("EAN"));
  return c ? c->textLength : 13;
}

}  // namespace

// The series pictures lie in a folder other machines write to: each is read once, and what the
// comparison, the face check, the model file and the template base see is a copy of those bytes
// in the station's own "Temp" (its program folder, which nobody else writes), never the shared
// file again: a link or another picture swapped in after the reading changes nothing.
class PrivateCopies {
 public:
  explicit PrivateCopies(const Station& station) : folder_(station.settings.programPath + QStringLiteral("Temp")) {}
  ~PrivateCopies() {
    for (const QString& f : made_) removeFile(f);
  }
  // Station path of the folder the copies are in (for NewModel's file_path).
  const QString& folder() const { return folder_; }
  // The name a copy has: without spaces, as the comparison (mode 3) looks for it.
  static QString nameOf(const QString& name) { return QString(name).remove(QLatin1Char(' ')); }
  // The copy of `name` holding `bytes` (host path); empty with *why set when it cannot be written.
  QString put(const QString& name, const QByteArray& bytes, QString* why) {
    const QString path = joinPath(folder_, nameOf(name));
    if (!writeFileAtomically(path, bytes, why)) return {};
    made_ << path;
    return hostPath(path);
  }

 private:
  QString folder_;
  QStringList made_;
};

QString pictureNameProblem(const QString& name) { return barcodeProblem(name); }

QString faceProblemOf(const QString& hostFile, int detectionThreshold) {
  const PictureTemplate t = templateOfPicture(hostFile, detectionThreshold, kEnrolmentScale);
  if (t.loadCode == FSDKE_NOT_INITIALIZED || t.loadCode == FSDKE_NETWORKS_MISSING)
    fail(QStringLiteral("The face engine is not ready (code %1)").arg(t.loadCode));
  if (!t.loaded()) return QStringLiteral("not a picture");
  if (!t.faceFound()) return QStringLiteral("no face");
  return {};
}

EnrolmentRequest::EnrolmentRequest(Station& station, DataStore& data) : station_(station), data_(data) {}

QString EnrolmentRequest::seriesPictureProblem(const QString& hostFile, QByteArray* bytes) const {
  OutsideFile f = readOutsideFile(hostFile, kMaxPictureFileBytes);
  if (!f.ok) return QStringLiteral("cannot be read: ") + f.error;
  *bytes = std::move(f.bytes);
  if (bytes->isEmpty()) return QStringLiteral("empty file");
  return pictureSizeProblem(*bytes, hostFile);
}

bool EnrolmentRequest::alreadyEnrolled(const QString& ean, const QByteArray& picture) {
  // NewModel stores the picture's bytes enciphered, unchanged: an equal deciphered face file is the
  // same picture. Sizes are compared first, so most files are not even read.
  // Only active models count: an inactive one is in no template base, so a picture stored there
  // still has to become a model.
  const Rows models = data_.query(QStringLiteral("SELECT FileName FROM Model WHERE EAN = ? AND Active = 1"), {ean});
  for (const auto& row : models.rows) {
    const QString name = row[0].toString();
    if (!isSafeStoredName(name)) continue;
    QFile bin(hostPath(storedFilePath(station_.settings.modelDir, name) + QLatin1String(kFaceBinSuffix)));
    if (bin.size() != picture.size() || !bin.open(QIODevice::ReadOnly)) continue;
    if (keyStreamTransform(bin.readAll(), kSystemKey) == picture) return true;
  }
  return false;
}

void EnrolmentRequest::answer(bool enrolled, double percent, bool baseFull) {
  ResultBuffer& memo = station_.memoOut;
  memo.clear();
  memo.add(enrolled ? QString() : QString::fromUtf8(kEnrolmentRefused));
  memo.add(Settings::realText(percent, station_.locale));
  if (baseFull) memo.add(QString::fromUtf8(kEnrolmentBaseFull));
  memo.saveOrThrow(joinPath(station_.settings.flagDir, QLatin1String(kEnrolmentAnswer)));
}

// The three lines of "user.txt": the barcode, the picked picture and the confirmation. Both
// names name files (the barcode the model's rows and the office system's answers, the picture a
// file of the flag folder): neither may reach outside it. Only the length is left to the
// refusal in handle().
EnrolmentRequest::Lines EnrolmentRequest::readLines(const QStringList& lines) {
  if (lines.size() < 3)
    fail(QStringLiteral("user.txt: %1 line(s), 3 expected (barcode, picture, confirmation)").arg(lines.size()));
  Lines l{lines[0], lines[1], lines[2] == QString::fromUtf8(kEnrolRegardless)};
  if (const QString p = barcodeProblem(l.ean.left(kMaxBarcodeLength)); !p.isEmpty())
    fail(QStringLiteral("user.txt: the barcode \"%1\" cannot be used: %2").arg(l.ean, p));
  if (const QString p = pictureNameProblem(l.picked); !p.isEmpty())
    fail(QStringLiteral("user.txt: the picture name \"%1\" cannot be used: %2").arg(l.picked, p));
  return l;
}

// A barcode that cannot be stored whole would give models nobody's check-in finds.
bool EnrolmentRequest::barcodeStorable(const QString& ean) {
  if (!ean.isEmpty() && ean.size() <= barcodeColumnWidth()) return true;
  station_.showLog(QStringLiteral("user.txt: the barcode \"%1\" is refused: %2")
                       .arg(ean.left(64), ean.isEmpty() ? QStringLiteral("empty")
                                                        : QStringLiteral("longer than %1 characters").arg(barcodeColumnWidth())));
  return false;
}

// The picked picture, read once and copied into "Temp" (its bytes in *bytes, the copy's host
// path in *copy); the reason when there is none to enrol. Without it there is nothing the office
// system's user agreed to enrol.
QString EnrolmentRequest::keepPicked(const QString& picked, PrivateCopies& copies, QByteArray* bytes, QString* copy) {
  const QString flagDir = station_.settings.flagDir;
  if (!fileExists(joinPath(flagDir, picked + kFaceSuffix))) return QStringLiteral("missing");
  if (QString why = seriesPictureProblem(hostPath(joinPath(flagDir, picked + kFaceSuffix)), bytes); !why.isEmpty())
    return QStringLiteral("refused: ") + why;
  QString copyError;
  *copy = copies.put(picked + kFaceSuffix, *bytes, &copyError);
  if (copy->isEmpty()) fail(QStringLiteral("user.txt: cannot keep the picked picture: ") + copyError);
  return {};
}

// The other series pictures Face101..Face105 become models after the picked one; a picture that
// cannot be read or shows no face is skipped with a log line.
void EnrolmentRequest::enrolSeries(const Lines& l, const QByteArray& pickedBytes, PrivateCopies& copies,
                                   EnrolmentOutcome& out) {
  const QString flagDir = station_.settings.flagDir;
  // A request handled again after a crash (its file was not yet deleted) finds its pictures
  // already enrolled: each becomes a model once.
  auto enrolOnce = [&](const QString& file, const QByteArray& bytes) {
    if (alreadyEnrolled(l.ean, bytes)) {
      station_.showLog(QStringLiteral("user.txt: %1 is already a model of %2").arg(file, l.ean));
      return;
    }
    NewModel(station_, data_, enroll, l.ean, PrivateCopies::nameOf(file), copies.folder());
    out.enrolledPictures << file;
  };
  enrolOnce(l.picked + kFaceSuffix, pickedBytes);
  for (int k = 101; k <= 105; ++k) {
    const QString name = QStringLiteral("Face%1").arg(k);
    if (name == l.picked || !fileExists(joinPath(flagDir, name + kFaceSuffix))) continue;
    QByteArray bytes;
    QString why = seriesPictureProblem(hostPath(joinPath(flagDir, name + kFaceSuffix)), &bytes);
    QString copy;
    if (why.isEmpty()) copy = copies.put(name + kFaceSuffix, bytes, &why);
    if (why.isEmpty() && pictureProblem) why = pictureProblem(copy);
    if (!why.isEmpty()) {
      station_.showLog(QStringLiteral("user.txt: %1 is not enrolled: %2").arg(name + kFaceSuffix, why));
      continue;
    }
    enrolOnce(name + kFaceSuffix, bytes);
  }
}

EnrolmentOutcome EnrolmentRequest::handle(const QStringList& lines) {
  const Lines l = readLines(lines);
  station_.settings.ean = l.ean;
  EnrolmentOutcome out;
  if (!barcodeStorable(l.ean)) {
    answer(false, 0);
    return out;
  }

  PrivateCopies copies(station_);
  QByteArray pickedBytes;
  QString pickedCopy;
  auto refusePicked = [&](const QString& why) {
    station_.showLog(QStringLiteral("user.txt: the picked picture %1 is %2").arg(l.picked + kFaceSuffix, why));
    answer(false, 0);
    return out;
  };
  if (const QString why = keepPicked(l.picked, copies, &pickedBytes, &pickedCopy); !why.isEmpty())
    return refusePicked(why);

  out.hadModels = !data_.activeModelsOf(l.ean).empty();
  int idModel = 0;
  double percent = 0;
  QString matched;
  // Mode 3: the picture in "Temp", the copy just made.
  if (recognize) recognize(l.picked, 3, idModel, percent, matched);
  // After the comparison, which has the face engine ready: a picture without a face would make
  // a model that never matches.
  if (pictureProblem) {
    if (const QString why = pictureProblem(pickedCopy); !why.isEmpty()) return refusePicked(QStringLiteral("refused: ") + why);
  }
  out.percent = percent;
  out.matchedEan = matched;
  if (out.hadModels)
    out.enrolled = l.regardless || (percent >= kAddToExistingAtPercent && matched == l.ean);
  else
    out.enrolled = l.regardless || percent < kRefuseNewAtPercent;
  if (out.enrolled) enrolSeries(l, pickedBytes, copies, out);

  const QString verdict = out.enrolled ? QStringLiteral("enrolled ") + out.enrolledPictures.join(QStringLiteral(", "))
                                       : QStringLiteral("refused");
  out.leftOutAtNextStart = !out.enrolledPictures.isEmpty() && leftOutAtNextStart && leftOutAtNextStart();
  station_.showLog(QStringLiteral("user.txt: %1 %2 (%3 %)%4")
                       .arg(l.ean, verdict, Settings::realText(percent, station_.locale),
                            out.leftOutAtNextStart ? QStringLiteral(", base full: left out at the next start") : QString()));
  answer(out.enrolled, percent, out.leftOutAtNextStart);
  return out;
}

}  // namespace tavo
