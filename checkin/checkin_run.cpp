#include "checkin/checkin_run.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QImageReader>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <optional>
#include <stdexcept>

#include "base/ansi_text.h"
#include "base/events.h"
#include "base/paths.h"
#include "base/station.h"
#include "checkin/request_file.h"
#include "checkin/work_records.h"
#include "data/data_store.h"
#include "face/picture/frame_grab.h"
#include "face/picture/image_files.h"
#include "protect/face_file.h"
#include "sound/snd_unit.h"

namespace tavo {

namespace {

constexpr int kAttempts = 3;
const char kErrorTxtOk[] = "OK! Capture Property WIDTH and HEIGHT (640x480)";
const char kErrorTxtFailed[] = "Error Capture Property WIDTH and HEIGHT (640x480)";

// Waits while letting events (timer ticks, clicks) run.
void waitWithEvents(int ms) {
  if (ms <= 0) return;
  if (!QCoreApplication::instance()) {
    QThread::msleep(static_cast<unsigned long>(ms));
    return;
  }
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

// A crop bound of the settings: a whole number, empty counting as 0 (before the first crop-bound
// computation); a value above 100 is reduced by 100.
int cropBound(const QString& text) {
  const QString t = text.trimmed();
  if (t.isEmpty()) return 0;
  bool ok = false;
  const int v = t.toInt(&ok);
  if (!ok) throw std::runtime_error(QStringLiteral("'%1' is not a valid integer value").arg(text).toStdString());
  return v > 100 ? v - 100 : v;
}

// Elapsed milliseconds added to a timing figure when the scope ends.
class Timed {
 public:
  explicit Timed(double& into) : into_(into) { t_.start(); }
  ~Timed() { into_ += t_.nsecsElapsed() / 1e6; }

 private:
  double& into_;
  QElapsedTimer t_;
};

}  // namespace

CheckInRun::CheckInRun(Station& station, DataStore& data, Cameras& cameras, FaceCropper& cropper)
    : station_(station), data_(data), cameras_(cameras), cropper_(cropper) {
  grab = [this](const QString& frameNilMessage) { return GrabFrame(station_, cameras_, frameNilMessage); };
  detectFace = [this] { return cropper_.PhotoGet(3, QString()); };
  judgeSpoof = [this](const PhotoResult& face) {
    return judgeAttempt(station_.tempFile(QStringLiteral("model_full.jpg")), face);
  };
  playSound = [this](std::uint8_t kind) {
    PlaySouns(station_.settings.soundEnabled, kind, station_.settings.programPath);
  };
}

CheckInRun::~CheckInRun() = default;

void CheckInRun::FaceDetectionLuxandRTSP(bool IsTimer) {
  const QString ean = station_.settings.ean;
  if (running_) {
    // Called from inside a run (events run during it): the request waits for the run to end.
    queue_.push_back({IsTimer, ean});
    station_.showLog(QStringLiteral("Check-in of %1 waits for the run in progress").arg(ean));
    return;
  }
  run(IsTimer, ean);
}

void CheckInRun::runQueued() {
  if (running_ || queue_.empty()) return;
  const Pending next = queue_.front();
  queue_.pop_front();
  try {
    run(next.isTimer, next.ean);
  } catch (const std::exception& e) {
    station_.messages().show(QString::fromStdString(e.what()));
  }
}

// The values of one run.
struct CheckInRun::Run {
  QString ean;
  bool isTimer = false;
  bool sound = false;
  bool toneOn = false;
  bool haveModels = false;  // f_in_base: the barcode has active models
  QString pathWork;
  int cutLeft = 0, cutRight = 0;
  int idModel = 0;          // best model of the last attempt
  double percentdif = 0;    // kept from one attempt to the next when nothing is matched
  QString lastPicture;      // name of the last attempt that had a picture
  int attacks = 0;          // attempts judged presentation attacks (AntiSpoof)
  bool cameraMessageShown = false;  // a camera outage shows one message per run at most
  QDateTime startTime;
  QElapsedTimer elapsed;
};

// What one attempt found.
struct CheckInRun::Attempt {
  QString filename;
  bool picture = false;
  PhotoResult face;
  bool spoof = false;
  // What the side crop took off, added back to the margins of the work row.
  int cutLeftDone = 0, cutRightDone = 0;
};

void CheckInRun::run(bool isTimer, const QString& ean) {
  running_ = true;
  timings_ = {};
  Run r;
  r.sound = station_.settings.soundEnabled;
  try {
    begin(r, isTimer, ean);
    makeAttempts(r);
    answer(r);
  } catch (const std::exception& e) {
    if (r.toneOn) StopSound(r.sound);
    station_.showLog(QStringLiteral("FaceDetectionLuxandRTSP: ") + QString::fromStdString(e.what()));
    finish();
    throw;
  }
  finish();
}

void CheckInRun::finish() {
  running_ = false;
  if (!queue_.empty()) QTimer::singleShot(0, &context_, [this] { runQueued(); });
}

// Start: the barcode checked, the wait, Result emptied, the barcode's models looked up, the
// camera checked, the tone on.
void CheckInRun::begin(Run& r, bool isTimer, const QString& ean) {
  // The answer file is named after the barcode: it must stay inside the flag directory, and its
  // name and first line must both be the barcode.
  if (isTimer) {
    QString problem = barcodeProblem(ean);
    if (problem.isEmpty() && !fitsAnsi(ean)) problem = QStringLiteral("has characters outside code page 1251");
    if (!problem.isEmpty())
      throw std::runtime_error(QStringLiteral("Barcode refused: it %1").arg(problem).toStdString());
  }
  r.ean = ean;
  r.isTimer = isTimer;
  station_.log.clear();
  waitWithEvents(initialWaitMs);
  r.startTime = station_.clock().now();
  r.elapsed.start();
  station_.showLog(QStringLiteral("start - FaceDetectionLuxandRTSP"));
  r.pathWork = station_.settings.workDir + QLatin1Char('\\');
  {
    Timed t(timings_.database);
    data_.clearResult();
    r.haveModels = !data_.activeModelsOf(ean).empty();
  }
  checkWebCamera(r);
  StartSound(r.sound);
  r.toneOn = true;
  // The office system's copy must never show an earlier check-in (maybe another employee)
  // when this run gets no picture.
  for (const QString& old : {station_.tempFile(QStringLiteral("model1C_face.jpg")),
                             station_.tempFile(QStringLiteral("model1C_face.bin"))}) {
    if (!removeFile(old)) station_.showLog(QStringLiteral("Cannot delete \"%1\"").arg(old));
  }
}

void CheckInRun::checkWebCamera(Run& r) {
  if (cameras_.camRtsp()) return;
  if (cameras_.captureIsNull()) {
    station_.messages().show(QStringLiteral("MainUnit 1908: \n\rcapture = nil"));
    r.cameraMessageShown = true;
  }
  Timed t(timings_.files);
  const QString errorTxt = station_.programFile(QStringLiteral("error.txt"));
  removeFile(errorTxt);
  if (!writeWorkingFile(errorTxt, QByteArray(kErrorTxtOk) + "\r\n")) {
    QString why;
    if (!writeWorkingFile(errorTxt, QByteArray(kErrorTxtFailed) + "\r\n", &why))
      throw std::runtime_error(QStringLiteral("Cannot create file \"%1\". %2").arg(errorTxt, why).toStdString());
  }
}

// Attempts: up to three for a barcode with models, stopping at the first that confirms it; one
// picture, never matched, for a barcode without.
void CheckInRun::makeAttempts(Run& r) {
  if (!r.haveModels) {
    station_.showLog(QStringLiteral("Нет в базе"));
    attempt(r);
    return;
  }
  station_.showLog(QStringLiteral("ШК есть в базе"));
  r.cutLeft = cropBound(station_.settings.cutLeft);
  r.cutRight = cropBound(station_.settings.cutRight);
  for (int left = kAttempts; left > 0; --left) {
    const Attempt a = attempt(r);
    r.attacks += a.spoof;
    if (confirms(r, a)) break;
  }
}

// One attempt: a picture, its copies for the office system, its face, the work photo, the match
// (with models) and the rows. An attempt without a picture is counted all the same.
CheckInRun::Attempt CheckInRun::attempt(Run& r) {
  ++timings_.attempts;
  Attempt a;
  r.idModel = 0;
  a.filename = CreateFileName(station_, r.pathWork);
  a.picture = grabbed(r, r.haveModels ? "MainUnit 1950: \n\rframe = nil" : "MainUnit 2107: \n\rframe = nil");
  if (a.picture) {
    copyFor1C();
    if (r.haveModels) {
      findFace(r, a);
    } else {
      Timed t(timings_.detection);
      a.face = detectFace();
    }
    if (r.haveModels && station_.settings.antiSpoof) {
      Timed t(timings_.liveness);
      const SpoofVerdict v = judgeSpoof(a.face);
      station_.showLog(spoofLogLine(v));
      a.spoof = v.attack;
    }
    {
      Timed t(timings_.files);
      SaveImage(station_.settings.programPath, r.pathWork, a.filename, 0);
    }
    r.lastPicture = a.filename;
    if (r.haveModels) match(r);
  } else if (r.haveModels) {
    // No picture: nothing to analyse, and no stale score is carried over.
    r.percentdif = 0;
  }
  writeRows(r, a);
  return a;
}

bool CheckInRun::grabbed(Run& r, const char* frameNilMessage) {
  Timed t(timings_.grab);
  const bool ok = grab(r.cameraMessageShown ? QString() : QString::fromUtf8(frameNilMessage));
  if (!ok) r.cameraMessageShown = true;
  return ok;
}

// The picture just grabbed, as it is, for the office system: plain and encrypted.
void CheckInRun::copyFor1C() {
  Timed t(timings_.files);
  const QString fullJpg = station_.tempFile(QStringLiteral("model_full.jpg"));
  const QString copy1C = station_.tempFile(QStringLiteral("model1C_face.jpg"));
  QFile src(hostPath(fullJpg));
  if (!src.open(QIODevice::ReadOnly))
    throw std::runtime_error(QStringLiteral("Cannot open file \"%1\". %2").arg(fullJpg, src.errorString()).toStdString());
  QString why;
  if (!writeWorkingFile(copy1C, src.readAll(), &why))
    throw std::runtime_error(QStringLiteral("Cannot create file \"%1\". %2").arg(copy1C, why).toStdString());
  EncryptImage(copy1C, station_.tempFile(QStringLiteral("model1C")), kSystemKey);
}

// The side crop, then the face; without a crop, or when the cropped picture showed none, the
// face search runs (again) on the picture as it now is.
void CheckInRun::findFace(Run& r, Attempt& a) {
  if (r.cutLeft > 0 || r.cutRight > 0) {
    {
      Timed t(timings_.files);
      // CutImage leaves a side given below 0 alone, and the whole picture when the two sides
      // would leave nothing of it: only what it took off is added back to the margins.
      const QString fullJpg = station_.tempFile(QStringLiteral("model_full.jpg"));
      const int left = std::max(r.cutLeft, 0), right = std::max(r.cutRight, 0);
      const QSize before = QImageReader(hostPath(fullJpg)).size();
      if (!before.isValid() || qint64(before.width()) > qint64(left) + right) {
        a.cutLeftDone = left;
        a.cutRightDone = right;
      }
      CutImage(fullJpg, r.cutLeft, r.cutRight, 0, 0);
    }
    Timed t(timings_.detection);
    a.face = detectFace();
  }
  if (a.face.the_fase) return;
  Timed t(timings_.detection);
  a.face = detectFace();
}

void CheckInRun::match(Run& r) {
  if (!recognize || (templateBaseIsEmpty && templateBaseIsEmpty())) {
    station_.showLog(QStringLiteral("Error: Please enroll faces first"));
    return;
  }
  Timed t(timings_.matching);
  QString name_fio;
  recognize(QStringLiteral("model"), 3, r.idModel, r.percentdif, name_fio);
  removeFile(station_.tempFile(QStringLiteral("model_face.jpg")));
}

// The attempt's Result row and Works row. The rows of an attempt without a picture name no
// photo, as none was written.
void CheckInRun::writeRows(Run& r, const Attempt& a) {
  const QString photo = a.picture ? a.filename : QString();
  if (!r.haveModels) {
    Timed t(timings_.database);
    const QString tags = a.picture ? QString::fromLatin1(kTagNotFound)
                                   : QStringLiteral("%1, %2").arg(QLatin1String(kTagNotFound), QLatin1String(kTagNoFrame));
    data_.appendResult(std::nullopt, 0, photo, r.ean);
    InsertWorkRecord(data_, photo, false, 0, 0, r.ean, tags, a.face.cLeft, a.face.cRight, a.face.cTop,
                     a.face.cBottom, a.face.cHeight, a.face.cWidth);
    return;
  }
  {
    Timed t(timings_.database);
    // An attack keeps its match in the work log but can never be the deciding attempt.
    data_.appendResult(r.idModel, a.spoof ? 0 : r.percentdif, photo);
  }
  processPendingEvents();
  Timed t(timings_.database);
  if (a.picture)
    InsertWorkRecord(data_, photo, a.face.the_fase, r.idModel, r.percentdif, r.ean,
                     a.spoof ? QString::fromLatin1(kTagSpoof) : QString(), a.face.cLeft + a.cutLeftDone,
                     a.face.cRight + a.cutRightDone, a.face.cTop, a.face.cBottom, a.face.cHeight, a.face.cWidth);
  else
    InsertWorkRecord(data_, QString(), false, 0, 0, r.ean, QString::fromLatin1(kTagNoFrame), 0, 0, 0, 0, 0, 0);
}

// Whether the attempt ends the attempts: at the minimum percentage, no attack, and the best
// result so far is the presented barcode.
bool CheckInRun::confirms(const Run& r, const Attempt& a) {
  std::vector<ResultQueryRow> top;
  {
    Timed t(timings_.database);
    top = data_.openQueryResult(double(station_.settings.percent));
  }
  const ResultQueryRow* best = answeringRow(top);
  const QString topEan = best ? best->ean : QString();
  station_.showLog(QStringLiteral("*percentdif - ") + Settings::realText(r.percentdif, station_.locale));
  station_.showLog(QStringLiteral("*EAN - ") + topEan);
  return !a.spoof && r.percentdif >= station_.settings.percent && topEan == r.ean;
}

// The top row of the result query that has a barcode: a match to a model gone since the build
// answers nothing.
const ResultQueryRow* CheckInRun::answeringRow(const std::vector<ResultQueryRow>& top) {
  const auto it = std::find_if(top.begin(), top.end(), [](const ResultQueryRow& row) { return !row.ean.isEmpty(); });
  return it == top.end() ? nullptr : &*it;
}

// Answer: the date columns, the sound, the three lines into the flag directory, the tone off.
void CheckInRun::answer(Run& r) {
  const QDate today = station_.clock().today();
  QString Filename4_1C, EAN4_1C;
  {
    Timed t(timings_.database);
    decide(r, data_.openQueryResult(double(station_.settings.percent)), Filename4_1C, EAN4_1C);
    data_.setLastDetection(r.ean, today);
  }
  station_.memoOut.clear();
  station_.memoOut.add(r.ean);
  station_.memoOut.add(Filename4_1C);
  const bool confirmed = EAN4_1C == r.ean;
  if (confirmed) {
    Timed t(timings_.database);
    data_.setLastSimilarity(r.ean, r.idModel, today);
  }
  playSound(confirmed ? 1 : 0);
  station_.memoOut.add(EAN4_1C);
  if (r.isTimer) {
    Timed t(timings_.files);
    station_.memoOut.saveOrThrow(
        joinPath(station_.settings.flagDir, QStringLiteral("out") + r.ean + QStringLiteral(".txt")));
  }
  station_.showLog(QStringLiteral("end - FaceDetectionLuxandRTSP"));
  StopSound(r.sound);
  r.toneOn = false;
  timings_.total = r.elapsed.nsecsElapsed() / 1e6;
  station_.showLog(QStringLiteral("time_ms = ") + QString::number(r.startTime.msecsTo(station_.clock().now())));
}

// The answer's second and third line from the result query's rows.
void CheckInRun::decide(const Run& r, const std::vector<ResultQueryRow>& top, QString& photo, QString& confirmedEan) const {
  if (r.lastPicture.isEmpty() && r.haveModels) {
    // Not one picture: nobody was seen, so no photo to name and nothing "low" about it. A
    // barcode without models is "not found" whatever the camera did.
    confirmedEan = QString::fromLatin1(kNoPicture);
  } else if (r.haveModels && r.attacks > 0 && r.attacks == timings_.attempts) {
    confirmedEan = QString::fromLatin1(kTagSpoof);  // every picture was judged an attack
    photo = r.lastPicture;
  } else if (const ResultQueryRow* best = answeringRow(top)) {
    photo = best->fileName;
    confirmedEan = best->ean;
  } else {
    confirmedEan = QString::fromLatin1(r.haveModels ? kLowPercent : kNotFound);
    photo = r.lastPicture;
  }
}

}  // namespace tavo
