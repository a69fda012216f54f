#include "checkin/flag_poll.h"

#include <QTimer>
#include <exception>

#include "app/paths.h"
#include "app/station.h"

namespace tavo {

namespace {

// Pictures of a photo series that the enrolment branch removes in every case.
const char* const kSeriesPictures[] = {"Face101_face.jpg", "Face102_face.jpg", "Face103_face.jpg",
                                       "Face104_face.jpg", "Face105_face.jpg", "Photo1.jpg"};

QString errorText(const std::exception_ptr& e) {
  try {
    std::rethrow_exception(e);
  } catch (const std::exception& x) {
    return QString::fromStdString(x.what());
  } catch (...) {
    return QStringLiteral("Unknown error");
  }
}

// A barcode as it may be shown: control characters made visible, length cut.
QString shownBarcode(const QString& barcode) {
  QString out;
  for (const QChar c : barcode.left(kMaxBarcodeLength + 1))
    out += c.category() == QChar::Other_Control ? QLatin1Char('?') : c;
  if (barcode.size() > kMaxBarcodeLength) out += QStringLiteral("...");
  return out;
}

}  // namespace

FlagPoll::FlagPoll(Station& station, std::function<void(bool on)> setTimer1)
    : deleteRequest(removeFile), station_(station), setTimer1_(std::move(setTimer1)) {}

FlagPoll::FlagPoll(Station& station, QTimer& timer1)
    : FlagPoll(station, [&timer1](bool on) {
        if (on)
          timer1.start();
        else
          timer1.stop();
      }) {}

void FlagPoll::timerOn(bool on) {
  if (setTimer1_) setTimer1_(on);
}

void FlagPoll::Timer1Timer() {
  if (working_) return;
  const std::pair<Kind, const char*> requests[] = {
      {Kind::CheckIn, kCheckInRequest}, {Kind::NewPhoto, kPhotoSeriesRequest}, {Kind::User, kEnrolmentRequest}};
  for (const auto& [kind, name] : requests) {
    // The flag directory is read anew for every name: the settings may change in between.
    const QString path = joinPath(station_.settings.flagDir, QString::fromLatin1(name));
    if (!ready(path)) continue;
    const bool startUp = station_.startUpInProgress;
    if (startUp || (checkInBusy && checkInBusy())) {
      if (!waitLogged_)
        station_.showLog(QStringLiteral("Request \"%1\" waits until the %2 has ended")
                             .arg(QString::fromLatin1(name),
                                  startUp ? QStringLiteral("start-up") : QStringLiteral("check-in run")));
      waitLogged_ = true;
      return;
    }
    waitLogged_ = false;
    handle(kind, path);
  }
}

// True once the file has been seen with the same size and time at the previous poll, and it is
// not a file already handled that could not be deleted.
bool FlagPoll::ready(const QString& path) {
  const auto id = fileIdentity(path);
  if (!id) {
    seen_.remove(path);
    undeleted_.remove(path);
    return false;
  }
  if (const auto u = undeleted_.constFind(path); u != undeleted_.constEnd()) {
    if (*u == *id) return false;
    undeleted_.remove(path);
  }
  const auto s = seen_.constFind(path);
  if (s == seen_.constEnd() || !(*s == *id)) {
    seen_.insert(path, *id);
    return false;
  }
  return true;
}

void FlagPoll::handle(Kind kind, const QString& path) {
  const FileIdentity handled = seen_.value(path);
  working_ = true;
  timerOn(false);
  std::exception_ptr error;
  QString refusal;  // shown once Timer1 is on again, like the errors below
  try {
    const QStringList lines = readRequestFile(path);
    switch (kind) {
      case Kind::CheckIn: {
        if (lines.isEmpty()) break;  // an empty request starts no run
        const QString ean = lines.first();
        const QString problem = barcodeProblem(ean);
        if (!problem.isEmpty()) {
          refusal = QStringLiteral("Check-in request refused: the barcode \"%1\" %2").arg(shownBarcode(ean), problem);
          station_.showLog(refusal);
          break;
        }
        station_.settings.ean = ean;
        if (onCheckIn) onCheckIn();
        break;
      }
      case Kind::NewPhoto:
        if (onNewPhoto) onNewPhoto();
        break;
      case Kind::User:
        if (onUserRequest) onUserRequest(lines);
        break;
    }
  } catch (...) {
    error = std::current_exception();
  }
  consume(path, handled);
  if (kind == Kind::User) cleanUpEnrolment(station_.settings.flagDir);
  working_ = false;
  timerOn(true);
  // A check-in request swallows its errors; the others show their text (polling goes on
  // meanwhile, Timer1 is already on).
  if (error && kind != Kind::CheckIn) station_.messages().show(errorText(error));
  if (!refusal.isEmpty()) station_.messages().show(refusal);
}

void FlagPoll::consume(const QString& path, const FileIdentity& handled) {
  seen_.remove(path);
  const auto now = fileIdentity(path);
  if (!now) return;
  // Written anew while its predecessor was handled: that is the next request, keep it.
  if (!(*now == handled)) return;
  if (!deleteRequest(path)) {
    undeleted_.insert(path, handled);
    station_.showLog(QStringLiteral("Cannot delete request file \"%1\"; it is not handled again until it changes")
                         .arg(path));
  }
}

void FlagPoll::cleanUpEnrolment(const QString& flagDir) {
  for (const char* name : kSeriesPictures) removeFile(joinPath(flagDir, QString::fromLatin1(name)));
}

}  // namespace tavo
