#include "checkin/flag_poll.h"

#include <unistd.h>

#include <QFile>
#include <QTimer>
#include <cerrno>
#include <exception>
#include <optional>
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

// Why a barcode cannot name its answer "out" + barcode + ".txt": the file's name and its first
// line, written in code page 1251, must both be the barcode the office system sent.
QString checkInBarcodeProblem(const QString& barcode) {
  if (const QString p = barcodeProblem(barcode); !p.isEmpty()) return p;
  if (!fitsAnsi(barcode)) return QStringLiteral("has characters outside code page 1251");
  return {};
}

// A whole EAN-13: 13 digits whose last is their check digit. Nothing more can follow but the
// line break, so the request need not wait for it.
bool wholeEan13(const QString& line) {
  if (line.size() != 13) return false;
  int sum = 0;
  for (int i = 0; i < 13; ++i) {
    if (line[i] < QLatin1Char('0') || line[i] > QLatin1Char('9')) return false;
    if (i < 12) sum += (line[i].unicode() - '0') * (i % 2 ? 3 : 1);
  }
  return (10 - sum % 10) % 10 == line[12].unicode() - '0';
}

// Whether the request file now holds what was handled and then nothing but line breaks.
bool onlyLineBreakAdded(const QString& path, const QByteArray& handled) {
  const RequestBytes r = readRequestBytes(path);
  if (!r.ok || handled.isEmpty() || r.bytes.size() <= handled.size() || !r.bytes.startsWith(handled)) return false;
  for (qsizetype i = handled.size(); i < r.bytes.size(); ++i) {
    const char c = r.bytes[i];
    if (c != '\r' && c != '\n' && c != '\0') return false;
  }
  return true;
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
  if (serving && !serving()) {
    if (!notServingLogged_)
      station_.showLog(QStringLiteral("Requests are not served: the start-up did not end; they stay for a station that is ready"));
    notServingLogged_ = true;
    return;
  }
  const std::pair<Kind, const char*> requests[] = {
      {Kind::CheckIn, kCheckInRequest}, {Kind::NewPhoto, kPhotoSeriesRequest}, {Kind::User, kEnrolmentRequest}};
  for (const auto& [kind, name] : requests) {
    // The flag directory is read anew for every name: the settings may change in between.
    const QString path = joinPath(station_.settings.flagDir, QString::fromLatin1(name));
    const FlagEntry entry = inspectFlagEntry(path);
    const qint64 now = nowMs();
    const Step step = follow(kind, path, entry, examine(path, entry, now), now);
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

// What stands under a request name means, judged from what the poll knows of it: no file is
// touched and nothing changes.
FlagPoll::Finding FlagPoll::examine(const QString& path, const FlagEntry& entry, qint64 now) const {
  if (entry.kind == EntryKind::Missing) return Finding::Gone;
  if (entry.kind != EntryKind::Regular) return Finding::NotAFile;
  if (const auto u = undeleted_.constFind(path); u != undeleted_.constEnd() && *u == entry.id)
    return Finding::Undeleted;
  if (const auto r = retry_.constFind(path); r != retry_.constEnd()) {
    if (!(r->id == entry.id)) return Finding::Rewritten;
    return now - r->triedMs < kAnswerRetryMs ? Finding::AnswerNotDue : Finding::AnswerDue;
  }
  return Finding::Request;
}

// Whether a request, as read, is ready to be handled.
FlagPoll::Step FlagPoll::readiness(Kind kind, const Seen& seen, qint64 now) {
  if (!seen.read.ok) return Step::Handle;           // unreadable: logged and deleted
  if (kind == Kind::NewPhoto) return Step::Handle;  // its content is not used
  if (kind == Kind::CheckIn && wholeEan13(readRequestLines(seen.read.bytes).value(0))) return Step::Handle;
  const int lines = kind == Kind::CheckIn ? 1 : kind == Kind::User ? 3 : 0;
  if (requestComplete(seen.read.bytes, lines)) return Step::Handle;
  return now - seen.sinceMs >= kRequestSettleMs ? Step::Handle : Step::Wait;
}

// What a finding leads to: the poll's memory of the name brought up to date, a link refused, a
// kept answer written, a new version of the request read.
FlagPoll::Step FlagPoll::follow(Kind kind, const QString& path, const FlagEntry& entry, Finding finding, qint64 now) {
  if (finding == Finding::Gone) {
    seen_.remove(path);
    undeleted_.remove(path);
    refused_.remove(path);
    retry_.remove(path);
    return Step::Skip;
  }
  if (finding == Finding::NotAFile) {
    seen_.remove(path);
    refuseEntry(path, entry);
    return Step::Skip;
  }
  refused_.remove(path);
  if (finding == Finding::Undeleted) return Step::Skip;
  undeleted_.remove(path);
  if (finding == Finding::AnswerNotDue) return Step::Skip;
  if (finding == Finding::AnswerDue) {
    writeKeptAnswer(path, now);
    return Step::Skip;
  }
  if (finding == Finding::Rewritten) {
    station_.showLog(QStringLiteral("\"%1\" was written anew: the answer kept for it is given up").arg(path));
    retry_.remove(path);
  }
  const Seen* seen = readIfNew(path, entry, now);
  return seen ? readiness(kind, *seen, now) : Step::Skip;
}

// The answer of the run that was made, as it was composed: no second run, no second rows. Once
// it is written the request is consumed.
void FlagPoll::writeKeptAnswer(const QString& path, qint64 now) {
  Retry& r = retry_[path];
  r.triedMs = now;
  if (!writeWholeFile(hostPath(r.answerPath), r.answer)) return;
  station_.showLog(QStringLiteral("The answer \"%1\" is written now").arg(r.answerPath));
  const FileIdentity id = r.id;
  retry_.remove(path);
  consume(path, id);
  answersWrittenAgain();
}

void FlagPoll::answersWrittenAgain() {
  if (!answerOutage_) return;
  answerOutage_ = false;
  station_.showLog(QStringLiteral("Answers are written into the flag folder again"));
}

// The request as last read; read anew when the file changed. Null when a link took its place.
const FlagPoll::Seen* FlagPoll::readIfNew(const QString& path, const FlagEntry& entry, qint64 now) {
  auto s = seen_.find(path);
  if (s != seen_.end() && s->id == entry.id) return &*s;
  Seen fresh;
  fresh.sinceMs = now;
  fresh.read = readRequestBytes(path);
  if (fresh.read.isLink) {  // replaced by a link since the look just now
    seen_.remove(path);
    refuseEntry(path, inspectFlagEntry(path));
    return nullptr;
  }
  fresh.id = fresh.read.ok ? fresh.read.id : entry.id;
  return &*seen_.insert(path, fresh);
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
  Outcome out;
  try {
    work(kind, path, request, out);
  } catch (...) {
    out.error = std::current_exception();
  }
  QString outage;  // told once Timer1 is on again
  if (out.answerFailure) {
    outage = answerNotWritten(path, request.id, *out.answerFailure);
  } else {
    consume(path, request.id);
    if (out.answered) answersWrittenAgain();
  }
  if (kind == Kind::User) cleanUpEnrolment(station_.settings.flagDir);
  working_ = false;
  timerOn(true);
  // A check-in request swallows its errors; the others show their text (polling goes on
  // meanwhile, Timer1 is already on).
  if (out.error && kind != Kind::CheckIn) station_.messages().show(errorText(out.error));
  if (!out.refusal.isEmpty()) station_.messages().show(out.refusal);
  if (!outage.isEmpty()) station_.messages().show(outage);
}

// The work a request asks for, handed over with its lines.
void FlagPoll::work(Kind kind, const QString& path, const Seen& request, Outcome& out) {
  if (!request.read.ok) {
    station_.showLog(QStringLiteral("Request file \"%1\" cannot be read (%2): it is deleted").arg(path, request.read.error));
    throw std::runtime_error(QStringLiteral("Cannot read file \"%1\". %2").arg(path, request.read.error).toStdString());
  }
  const QStringList lines = readRequestLines(request.read.bytes);
  switch (kind) {
    case Kind::CheckIn:
      checkIn(lines, out);
      break;
    case Kind::NewPhoto:
      if (onNewPhoto) onNewPhoto();
      break;
    case Kind::User:
      refuseLinkedPictures(station_.settings.flagDir, lines);
      if (onUserRequest) onUserRequest(lines);
      break;
  }
}

void FlagPoll::checkIn(const QStringList& lines, Outcome& out) {
  if (lines.isEmpty()) return;  // an empty request starts no run
  const QString ean = lines.first();
  if (const QString problem = checkInBarcodeProblem(ean); !problem.isEmpty()) {
    out.refusal = QStringLiteral("Check-in request refused: the barcode \"%1\" %2").arg(shownBarcode(ean), problem);
    station_.showLog(out.refusal);
    return;
  }
  station_.settings.ean = ean;
  try {
    if (onCheckIn) onCheckIn();
    out.answered = true;
  } catch (const ResultFileError& e) {
    out.answerFailure = e;
  }
}

QString FlagPoll::answerNotWritten(const QString& path, const FileIdentity& id, const ResultFileError& error) {
  // The request stays, with its answer, until the answer is written.
  retry_.insert(path, {id, nowMs(), error.path, error.bytes});
  if (answerOutage_) return {};  // told once per outage
  answerOutage_ = true;
  const QString text =
      QStringLiteral("The answer to \"%1\" was not written: %2. It is kept and written as soon as the flag folder "
                     "takes it; the request stays until then.")
          .arg(path, QString::fromStdString(error.what()));
  station_.showLog(text);
  return text;
}

void FlagPoll::consume(const QString& path, const FileIdentity& handled) {
  const QByteArray handledBytes = seen_.value(path).read.bytes;
  seen_.remove(path);
  const auto now = fileIdentity(path);
  if (!now) return;
  // Written anew while its predecessor was handled: that is the next request, keep it. The line
  // break that a request taken early (a whole EAN-13) still lacked makes no new one.
  if (!(*now == handled) && !onlyLineBreakAdded(path, handledBytes)) return;
  if (!deleteRequest(path)) {
    undeleted_.insert(path, *now);
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
