#include "checkin/enrolment_request.h"

#include <stdexcept>

#include "app/paths.h"
#include "app/station.h"
#include "checkin/request_file.h"
#include "data/data_store.h"

namespace tavo {

namespace {

[[noreturn]] void fail(const QString& text) { throw std::runtime_error(text.toStdString()); }

const QString kFaceSuffix = QStringLiteral("_face.jpg");

}  // namespace

QString pictureNameProblem(const QString& name) { return barcodeProblem(name); }

EnrolmentRequest::EnrolmentRequest(Station& station, DataStore& data) : station_(station), data_(data) {}

EnrolmentOutcome EnrolmentRequest::handle(const QStringList& lines) {
  if (lines.size() < 3)
    fail(QStringLiteral("user.txt: %1 line(s), 3 expected (barcode, picture, confirmation)").arg(lines.size()));
  const QString ean = lines[0];
  const QString picked = lines[1];
  const bool regardless = lines[2] == QString::fromUtf8(kEnrolRegardless);
  // Both lines name files: the barcode the model's rows and the office system's answers, the
  // picture a file of the flag folder. Neither may reach outside it.
  if (const QString p = barcodeProblem(ean); !p.isEmpty())
    fail(QStringLiteral("user.txt: the barcode \"%1\" cannot be used: %2").arg(ean, p));
  if (const QString p = pictureNameProblem(picked); !p.isEmpty())
    fail(QStringLiteral("user.txt: the picture name \"%1\" cannot be used: %2").arg(picked, p));
  station_.settings.ean = ean;

  EnrolmentOutcome out;
  out.hadModels = !data_.activeModelsOf(ean).empty();

  int idModel = 0;
  double percent = 0;
  QString matched;
  if (recognize) recognize(picked, 2, idModel, percent, matched);
  out.percent = percent;
  out.matchedEan = matched;

  if (out.hadModels)
    out.enrolled = regardless || (percent >= kAddToExistingAtPercent && matched == ean);
  else
    out.enrolled = regardless || percent < kRefuseNewAtPercent;

  const QString flagDir = station_.settings.flagDir;
  // Without the picked picture there is nothing the office system's user agreed to enrol.
  if (out.enrolled && !fileExists(joinPath(flagDir, picked + kFaceSuffix))) {
    station_.showLog(QStringLiteral("user.txt: the picked picture %1 is missing").arg(picked + kFaceSuffix));
    out.enrolled = false;
  }

  if (out.enrolled) {
    NewModel(station_, data_, enroll, ean, picked + kFaceSuffix, flagDir);
    out.enrolledPictures << picked + kFaceSuffix;
    for (int k = 101; k <= 105; ++k) {
      const QString name = QStringLiteral("Face%1").arg(k);
      if (name == picked || !fileExists(joinPath(flagDir, name + kFaceSuffix))) continue;
      NewModel(station_, data_, enroll, ean, name + kFaceSuffix, flagDir);
      out.enrolledPictures << name + kFaceSuffix;
    }
  }

  const QString verdict = out.enrolled ? QStringLiteral("enrolled ") + out.enrolledPictures.join(QStringLiteral(", "))
                                       : QStringLiteral("refused");
  station_.showLog(QStringLiteral("user.txt: %1 %2 (%3 %)").arg(ean, verdict, Settings::realText(percent, station_.locale)));
  ResultBuffer& memo = station_.memoOut;
  memo.clear();
  memo.add(out.enrolled ? QString() : QString::fromUtf8(kEnrolmentRefused));
  memo.add(Settings::realText(percent, station_.locale));
  memo.saveOrThrow(joinPath(flagDir, QLatin1String(kEnrolmentAnswer)));
  return out;
}

}  // namespace tavo
