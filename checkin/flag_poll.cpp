#include "checkin/flag_poll.h"

#include <unistd.h>

#include <QFile>
#include <QTimer>
#include <cerrno>
#include <exception>
#include <stdexcept>

#include "base/ansi_text.h"
#include "base/atomic_file.h"
#include "base/paths.h"
#include "base/result_buffer.h"
#include "base/station.h"

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

// Removes the name itself: a link goes, what it points to stays.
bool unlinkName(const QString& path) {
  const QByteArray host = QFile::encodeName(hostPath(path));
  return ::unlink(host.constData()) == 0 || errno == ENOENT;
}

}  // namespace

FlagPoll::FlagPoll(Station& station, std::function<void(bool on)> setTimer1)
    : deleteRequest(unlinkName), station_(station), setTimer1_(std::move(setTimer1)) {
  steady_.start();
  nowMs = [this] { return steady_.elapsed(); };
}

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
    const Step step = examine(kind, path);
    if (step == Step::Skip) continue;
    if (step == Step::Wait) return;  // still being written: the later requests keep their turn
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

FlagPoll::Step FlagPoll::examine(Kind kind, const QString& path) {
  const FlagEntry entry = inspectFlagEntry(path);
  if (entry.kind == EntryKind::Missing) {
    seen_.remove(path);
    undeleted_.remove(path);
    refused_.remove(path);
    retry_.remove(path);
    return Step::Skip;
  }
  if (entry.kind != EntryKind::Regular) {
    seen_.remove(path);
    refuseEntry(path, entry);
    return Step::Skip;
  }
  refused_.remove(path);
  if (const auto u = undeleted_.constFind(path); u != undeleted_.constEnd()) {
    if (*u == entry.id) return Step::Skip;
    undeleted_.remove(path);
  }

  const qint64 now = nowMs();
  if (const auto r = retry_.find(path); r != retry_.end()) {
    if (!(r->id == entry.id)) {
      retry_.remove(path);  // written anew: a new request
    } else {
      if (now - r->triedMs < kAnswerRetryMs) return Step::Skip;
      r->triedMs = now;
      // A run only when its answer can be written: a long outage does not pile up work rows.
      if (!folderWriteProblem(hostPath(station_.settings.flagDir)).isEmpty()) return Step::Skip;
      retry_.remove(path);
      station_.showLog(QStringLiteral("The flag folder can be written again: \"%1\" is handled again").arg(path));
    }
  }

  auto s = seen_.find(path);
  if (s == seen_.end() || !(s->id == entry.id)) {
    Seen fresh;
    fresh.sinceMs = now;
    fresh.read = readRequestBytes(path);
    if (fresh.read.isLink) {  // replaced by a link since the look just now
      seen_.remove(path);
      refuseEntry(path, inspectFlagEntry(path));
      return Step::Skip;
    }
    fresh.id = fresh.read.ok ? fresh.read.id : entry.id;
    s = seen_.insert(path, fresh);
  }
  if (!s->read.ok) return Step::Handle;  // unreadable: logged and deleted
  const int lines = kind == Kind::CheckIn ? 1 : kind == Kind::User ? 3 : 0;
  if (requestComplete(s->read.bytes, lines)) return Step::Handle;
  return now - s->sinceMs >= kRequestSettleMs ? Step::Handle : Step::Wait;
}

void FlagPoll::refuseEntry(const QString& path, const FlagEntry& entry) {
  if (const auto r = refused_.constFind(path); r != refused_.constEnd() && *r == entry.id) return;
  if (entry.kind == EntryKind::Link) {
    if (deleteRequest(path)) {
      refused_.remove(path);
      station_.showLog(QStringLiteral("Request file \"%1\" is a symbolic link: deleted unread").arg(path));
      return;
    }
    station_.showLog(QStringLiteral("Request file \"%1\" is a symbolic link: not read, and it cannot be deleted").arg(path));
  } else {
    station_.showLog(QStringLiteral("\"%1\" is not a regular file: it is no request and is left alone").arg(path));
  }
  refused_.insert(path, entry.id);
}

void FlagPoll::handle(Kind kind, const QString& path) {
  const Seen request = seen_.value(path);
  working_ = true;
  timerOn(false);
  std::exception_ptr error;
  QString refusal;        // shown once Timer1 is on again, like the errors below
  QString answerFailure;  // the check-in's answer could not be written
  bool answered = false;
  try {
    if (!request.read.ok) {
      station_.showLog(QStringLiteral("Request file \"%1\" cannot be read (%2): it is deleted").arg(path, request.read.error));
      throw std::runtime_error(
          QStringLiteral("Cannot read file \"%1\". %2").arg(path, request.read.error).toStdString());
    }
    const QStringList lines = readRequestLines(request.read.bytes);
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
        try {
          if (onCheckIn) onCheckIn();
          answered = true;
        } catch (const ResultFileError& e) {
          answerFailure = QString::fromStdString(e.what());
        }
        break;
      }
      case Kind::NewPhoto:
        if (onNewPhoto) onNewPhoto();
        break;
      case Kind::User:
        refuseLinkedPictures(station_.settings.flagDir, lines);
        if (onUserRequest) onUserRequest(lines);
        break;
    }
  } catch (...) {
    error = std::current_exception();
  }
  QString outage;  // told once Timer1 is on again
  if (!answerFailure.isEmpty()) {
    outage = answerNotWritten(path, request.id, answerFailure);
  } else {
    consume(path, request.id);
    if (answered && answerOutage_) {
      answerOutage_ = false;
      station_.showLog(QStringLiteral("Answers are written into the flag folder again"));
    }
  }
  if (kind == Kind::User) cleanUpEnrolment(station_.settings.flagDir);
  working_ = false;
  timerOn(true);
  // A check-in request swallows its errors; the others show their text (polling goes on
  // meanwhile, Timer1 is already on).
  if (error && kind != Kind::CheckIn) station_.messages().show(errorText(error));
  if (!refusal.isEmpty()) station_.messages().show(refusal);
  if (!outage.isEmpty()) station_.messages().show(outage);
}

QString FlagPoll::answerNotWritten(const QString& path, const FileIdentity& id, const QString& why) {
  // The request stays for another try; seen_ keeps its text.
  retry_.insert(path, {id, nowMs()});
  if (answerOutage_) return {};  // told once per outage
  answerOutage_ = true;
  const QString text =
      QStringLiteral("The answer to \"%1\" was not written: %2. The request stays and is handled again once the "
                     "flag folder can be written (tried at most once a minute).")
          .arg(path, why);
  station_.showLog(text);
  return text;
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

// The enrolment reads the series pictures by name: a link among them (to another person's photo,
// or to a file that is no one's business) must never become a model.
void FlagPoll::refuseLinkedPictures(const QString& flagDir, const QStringList& lines) {
  QStringList names;
  for (const char* name : kSeriesPictures) names << QString::fromLatin1(name);
  if (lines.size() > 1 && barcodeProblem(lines[1]).isEmpty()) names << lines[1] + QStringLiteral("_face.jpg");
  for (const QString& name : names) {
    const QString path = joinPath(flagDir, name);
    if (inspectFlagEntry(path).kind != EntryKind::Link) continue;
    if (!deleteRequest(path))
      throw std::runtime_error(
          QStringLiteral("user.txt: the picture \"%1\" is a symbolic link and cannot be deleted").arg(path).toStdString());
    station_.showLog(QStringLiteral("Picture \"%1\" is a symbolic link: deleted unread").arg(path));
  }
}

void FlagPoll::cleanUpEnrolment(const QString& flagDir) {
  for (const char* name : kSeriesPictures) unlinkName(joinPath(flagDir, QString::fromLatin1(name)));
}

}  // namespace tavo
