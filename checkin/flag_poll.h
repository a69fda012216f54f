#pragma once
#include <QHash>
#include <QString>
#include <QStringList>
#include <functional>

#include "checkin/request_file.h"

class QTimer;

namespace tavo {

class Station;

// Request files of the office system in the flag directory, tested in this order.
inline constexpr char kCheckInRequest[] = "123.txt";
inline constexpr char kPhotoSeriesRequest[] = "New.txt";
inline constexpr char kEnrolmentRequest[] = "user.txt";

// The flag-directory poll (Timer1Timer): finds the office system's requests, hands each to its
// work and consumes it by deleting the file. Timer1 is off while a request is handled.
//
// A request file is handled only after its size and modification time stayed the same from one
// poll to the next (the office system may still be writing it). A file that cannot be deleted is
// handled once: the same unchanged file is skipped afterwards (one log line), a rewritten one is
// a new request. A file replaced while its request was handled is not deleted: it is the next
// request. Requests wait while the start-up runs or a check-in run is in progress.
class FlagPoll {
 public:
  // setTimer1(true/false) switches Timer1 on (starting its period anew) or off.
  FlagPoll(Station& station, std::function<void(bool on)> setTimer1);
  FlagPoll(Station& station, QTimer& timer1);

  // "123.txt": settings.ean already holds the barcode; runs FaceDetectionLuxandRTSP(true).
  // Errors are swallowed by the poll.
  std::function<void()> onCheckIn;
  // "New.txt": GetNewPhoto. Errors are shown to the operator with their text.
  std::function<void()> onNewPhoto;
  // "user.txt": the enrolment with the request's lines (untrimmed). Errors are shown to the
  // operator; the clean-up of the flag directory runs in every case.
  std::function<void(const QStringList& lines)> onUserRequest;
  // True while a check-in run is in progress (started by the operator's button, say): the poll
  // then leaves every request where it is until the run has ended.
  std::function<bool()> checkInBusy;
  // Deletes a request file (station path); true when it is gone. Replaceable for tests.
  std::function<bool(const QString& path)> deleteRequest;

  // One poll.
  void Timer1Timer();

 private:
  enum class Kind { CheckIn, NewPhoto, User };
  bool ready(const QString& path);
  void handle(Kind kind, const QString& path);
  void consume(const QString& path, const FileIdentity& handled);
  void cleanUpEnrolment(const QString& flagDir);
  void timerOn(bool on);

  Station& station_;
  std::function<void(bool)> setTimer1_;
  bool working_ = false;
  bool waitLogged_ = false;
  QHash<QString, FileIdentity> seen_;       // last identity seen of a not yet handled file
  QHash<QString, FileIdentity> undeleted_;  // handled, but the file could not be deleted
};

}  // namespace tavo
