#pragma once
#include <QElapsedTimer>
#include <QHash>
#include <QString>
#include <QStringList>
#include <exception>
#include <functional>
#include <optional>

#include "base/result_buffer.h"
#include "checkin/request_file.h"

class QTimer;

namespace tavo {

class Station;

// Request files of the office system in the flag directory, tested in this order.
inline constexpr char kCheckInRequest[] = "123.txt";
inline constexpr char kPhotoSeriesRequest[] = "New.txt";
inline constexpr char kEnrolmentRequest[] = "user.txt";

// A request without a final line break is taken once it has stayed unchanged this long: a
// writer may pause for more than a second in the middle of a barcode.
inline constexpr qint64 kRequestSettleMs = 2000;
// The kept answer of a check-in that could not be written is tried again at most this often.
inline constexpr qint64 kAnswerRetryMs = 5000;

// The flag-directory poll (Timer1Timer): finds the office system's requests, hands each to its
// work and consumes it by deleting the file. Timer1 is off while a request is handled.
//
// The folder is shared with other machines. Only a regular file is a request: a symbolic link
// under a request name (or a picture name of an enrolment) is deleted unread, anything else is
// left alone; either is logged once. A request is read once, without following links, and that
// text is what is handled. It is ready when it is complete (a final line feed; "user.txt" with
// its three lines; "123.txt" whose first line is a whole EAN-13 with its check digit; "New.txt"
// at once, its content is not used) or has stayed unchanged for kRequestSettleMs; until then
// the requests after it in the fixed order wait too. An unreadable request is logged once and
// deleted. A barcode that cannot name its answer (unsafe, or not in code page 1251) is refused.
// A file that cannot be deleted is handled once: the same unchanged file is skipped afterwards
// (one log line), a rewritten one is a new request. A file replaced while its request was handled
// is not deleted: it is the next request. Requests wait while the start-up runs or a check-in run
// is in progress.
// A check-in whose answer file could not be written (disk full, read-only folder) keeps its
// request and its composed answer: the operator is told why once per outage, and that answer
// (only it: the run is not repeated) is written again at most once every kAnswerRetryMs; once it
// is, the request is consumed. A request rewritten meanwhile is a new one.
// While serving() is false (a start-up that did not end well) no request is looked at: they stay
// for a station that is ready.
class FlagPoll {
 public:
  // setTimer1(true/false) switches Timer1 on (starting its period anew) or off.
  FlagPoll(Station& station, std::function<void(bool on)> setTimer1);
  FlagPoll(Station& station, QTimer& timer1);

  // "123.txt": settings.ean already holds the barcode; runs FaceDetectionLuxandRTSP(true).
  // Errors are swallowed by the poll, except that an answer which could not be written
  // (ResultFileError, with the answer's path and bytes) keeps the request and that answer.
  std::function<void()> onCheckIn;
  // "New.txt": GetNewPhoto. Errors are shown to the operator with their text.
  std::function<void()> onNewPhoto;
  // "user.txt": the enrolment with the request's lines (untrimmed). Errors are shown to the
  // operator; the clean-up of the flag directory runs in every case.
  std::function<void(const QStringList& lines)> onUserRequest;
  // True while a check-in run is in progress (started by the operator's button, say): the poll
  // then leaves every request where it is until the run has ended.
  std::function<bool()> checkInBusy;
  // False while the station serves no request. Unset: it serves.
  std::function<bool()> serving;
  // Deletes a request file or a link (station path; a link itself, never what it points to);
  // true when the name is gone. Replaceable for tests.
  std::function<bool(const QString& path)> deleteRequest;
  // Milliseconds of a steady clock. Replaceable for tests.
  std::function<qint64()> nowMs;

  // One poll.
  void Timer1Timer();

 private:
  enum class Kind { CheckIn, NewPhoto, User };
  enum class Step { Skip, Wait, Handle };
  struct Seen {  // a regular request file not yet handled, as last read
    FileIdentity id;
    qint64 sinceMs = 0;  // when this version was first seen
    RequestBytes read;
  };
  struct Retry {  // a check-in request whose answer could not be written
    FileIdentity id;
    qint64 triedMs = 0;
    QString answerPath;  // station path
    QByteArray answer;   // as composed by the run
  };

  // What a look at a request name found, given what the poll knows of the name.
  enum class Finding {
    Gone,          // nothing there
    NotAFile,      // a link or anything else but a regular file
    Undeleted,     // handled, but it could not be deleted and has not changed since
    AnswerNotDue,  // its answer is kept; not yet time to write it again
    AnswerDue,     // its answer is kept and due to be written again
    Rewritten,     // its answer is kept, but a new request took its place
    Request,       // a request (maybe still being written)
  };
  struct Outcome {  // what handling one request came to
    std::exception_ptr error;
    QString refusal;  // shown once Timer1 is on again, like the errors
    std::optional<ResultFileError> answerFailure;  // the check-in's answer could not be written
    bool answered = false;
  };

  Finding examine(const QString& path, const FlagEntry& entry, qint64 now) const;
  static Step readiness(Kind kind, const Seen& seen, qint64 now);
  Step follow(Kind kind, const QString& path, const FlagEntry& entry, Finding finding, qint64 now);
  const Seen* readIfNew(const QString& path, const FlagEntry& entry, qint64 now);
  void writeKeptAnswer(const QString& path, qint64 now);
  void answersWrittenAgain();
  void refuseEntry(const QString& path, const FlagEntry& entry);
  void handle(Kind kind, const QString& path);
  void work(Kind kind, const QString& path, const Seen& request, Outcome& out);
  void checkIn(const QStringList& lines, Outcome& out);
  void consume(const QString& path, const FileIdentity& handled);
  void refuseLinkedPictures(const QString& flagDir, const QStringList& lines);
  void cleanUpEnrolment(const QString& flagDir);
  // Keeps the request for another try; returns the operator's message, empty when already told.
  QString answerNotWritten(const QString& path, const FileIdentity& id, const ResultFileError& error);
  void timerOn(bool on);

  Station& station_;
  std::function<void(bool)> setTimer1_;
  QElapsedTimer steady_;
  bool working_ = false;
  bool waitLogged_ = false;
  bool notServingLogged_ = false;
  bool answerOutage_ = false;               // an answer failed and none has been written since
  QHash<QString, Seen> seen_;
  QHash<QString, FileIdentity> undeleted_;  // handled, but the file could not be deleted
  QHash<QString, FileIdentity> refused_;    // a link or other entry already logged
  QHash<QString, Retry> retry_;
};

}  // namespace tavo
