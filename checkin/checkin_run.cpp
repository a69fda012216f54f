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
    return judgeAttempt(station_.tempFile(QStringLiteral("model_full.jpg")), face, station_.settings.workRadius);
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

void CheckInRun::run(bool isTimer, const QString& ean) {
  running_ = true;
  timings_ = {};
  bool toneOn = false;
  const bool sound = station_.settings.soundEnabled;
  try {
    // The answer file is named after the barcode: it must stay inside the flag directory.
    if (isTimer) {
      const QString problem = barcodeProblem(ean);
      if (!problem.isEmpty())
        throw std::runtime_error(QStringLiteral("Barcode refused: it %1").arg(problem).toStdString());
    }

    // --- Start ---
    station_.log.clear();
    waitWithEvents(initialWaitMs);
    const QDateTime startTime = station_.clock().now();
    QElapsedTimer elapsed;
    elapsed.start();
    station_.showLog(QStringLiteral("start - FaceDetectionLuxandRTSP"));

    bool f_in_base = false;
    const QString path = station_.settings.programPath;
    const QString pathWork = station_.settings.workDir + QLatin1Char('\\');
    int cnt_chek = kAttempts;
    int idModel = 0;
    double percentdif = 0;
    QString filename;
    QString lastPicture;  // name of the last attempt that had a picture
    int attacks = 0;      // attempts judged presentation attacks (AntiSpoof)

    bool haveModels = false;
    {
      Timed t(timings_.database);
      data_.clearResult();
      haveModels = !data_.activeModelsOf(ean).empty();
    }

    // A camera outage must not bury the operator in boxes: one message per run at most.
    bool cameraMessageShown = false;
    if (!cameras_.camRtsp()) {
      if (cameras_.captureIsNull()) {
        station_.messages().show(QStringLiteral("MainUnit 1908: \n\rcapture = nil"));
        cameraMessageShown = true;
      }
      Timed t(timings_.files);
      const QString errorTxt = station_.programFile(QStringLiteral("error.txt"));
      removeFile(errorTxt);
      if (!writeFileAtomically(errorTxt, QByteArray(kErrorTxtOk) + "\r\n")) {
        QString why;
        if (!writeFileAtomically(errorTxt, QByteArray(kErrorTxtFailed) + "\r\n", &why))
          throw std::runtime_error(QStringLiteral("Cannot create file \"%1\". %2").arg(errorTxt, why).toStdString());
      }
    }

    StartSound(sound);
    toneOn = true;

    const QString fullJpg = station_.tempFile(QStringLiteral("model_full.jpg"));
    const QString copy1C = station_.tempFile(QStringLiteral("model1C_face.jpg"));
    // The office system's copy must never show an earlier check-in (maybe another employee)
    // when this run gets no picture.
    for (const QString& old : {copy1C, station_.tempFile(QStringLiteral("model1C_face.bin"))}) {
      if (!removeFile(old)) station_.showLog(QStringLiteral("Cannot delete \"%1\"").arg(old));
    }

    // The picture just grabbed, as it is, for the office system: plain and encrypted.
    auto copyFor1C = [&] {
      Timed t(timings_.files);
      QFile src(hostPath(fullJpg));
      if (!src.open(QIODevice::ReadOnly))
        throw std::runtime_error(QStringLiteral("Cannot open file \"%1\". %2").arg(fullJpg, src.errorString()).toStdString());
      QString why;
      if (!writeFileAtomically(copy1C, src.readAll(), &why))
        throw std::runtime_error(QStringLiteral("Cannot create file \"%1\". %2").arg(copy1C, why).toStdString());
      EncryptImage(copy1C, station_.tempFile(QStringLiteral("model1C")), kSystemKey);
    };
    auto detect = [&] {
      Timed t(timings_.detection);
      return detectFace();
    };
    auto grabbed = [&](const char* message) {
      Timed t(timings_.grab);
      const bool ok = grab(cameraMessageShown ? QString() : QString::fromUtf8(message));
      if (!ok) cameraMessageShown = true;
      return ok;
    };
    auto saveWorkPhoto = [&] {
      Timed t(timings_.files);
      SaveImage(path, pathWork, filename, 0);
    };

    if (haveModels) {
      // --- Attempts ---
      station_.showLog(QStringLiteral("ШК есть в базе"));
      const int Cut_Left = cropBound(station_.settings.cutLeft);
      const int Cut_Right = cropBound(station_.settings.cutRight);
      while (cnt_chek > 0) {
        ++timings_.attempts;
        idModel = 0;
        filename = CreateFileName(station_, pathWork);
        PhotoResult face;
        bool spoof = false;
        // The margins of the work row refer to the whole picture: what the crop took off is added
        // back, and only that (CutImage leaves a side given below 0 alone, and the whole picture
        // when the two sides would leave nothing of it).
        int cutLeftDone = 0, cutRightDone = 0;
        const bool picture = grabbed("MainUnit 1950: \n\rframe = nil");
        if (picture) {
          copyFor1C();
          if (Cut_Left > 0 || Cut_Right > 0) {
            {
              Timed t(timings_.files);
              const int left = std::max(Cut_Left, 0), right = std::max(Cut_Right, 0);
              const QSize before = QImageReader(hostPath(fullJpg)).size();
              if (!before.isValid() || qint64(before.width()) > qint64(left) + right) {
                cutLeftDone = left;
                cutRightDone = right;
              }
              CutImage(fullJpg, Cut_Left, Cut_Right, 0, 0);
            }
            face = detect();
          }
          if (!face.the_fase) face = detect();
          if (station_.settings.antiSpoof) {
            Timed t(timings_.liveness);
            const SpoofVerdict v = judgeSpoof(face);
            station_.showLog(spoofLogLine(v));
            spoof = v.attack;
          }
          saveWorkPhoto();
          lastPicture = filename;
          if (!recognize || (templateBaseIsEmpty && templateBaseIsEmpty())) {
            station_.showLog(QStringLiteral("Error: Please enroll faces first"));
          } else {
            Timed t(timings_.matching);
            QString name_fio;
            recognize(QStringLiteral("model"), 3, idModel, percentdif, name_fio);
            removeFile(station_.tempFile(QStringLiteral("model_face.jpg")));
          }
        } else {
          // No picture: nothing to analyse, and no stale picture or score is carried over; the
          // rows name no photo, as none was written.
          percentdif = 0;
        }
        std::vector<ResultQueryRow> top;
        {
          Timed t(timings_.database);
          // An attack keeps its match in the work log but can never be the deciding attempt.
          data_.appendResult(idModel, spoof ? 0 : percentdif, picture ? filename : QString());
        }
        processPendingEvents();
        {
          Timed t(timings_.database);
          if (picture)
            InsertWorkRecord(data_, filename, face.the_fase, idModel, percentdif, ean,
                             spoof ? QString::fromLatin1(kTagSpoof) : QString(),
                             face.cLeft + cutLeftDone, face.cRight + cutRightDone, face.cTop, face.cBottom,
                             face.cHeight, face.cWidth);
          else
            InsertWorkRecord(data_, QString(), false, 0, 0, ean, QString::fromLatin1(kTagNoFrame), 0, 0, 0, 0, 0, 0);
          --cnt_chek;
          attacks += spoof;
          top = data_.openQueryResult(double(station_.settings.percent));
        }
        // The top row that has a barcode: a match to a model gone since the build answers nothing.
        const auto withBarcode = std::find_if(top.begin(), top.end(), [](const ResultQueryRow& r) { return !r.ean.isEmpty(); });
        const QString topEan = withBarcode == top.end() ? QString() : withBarcode->ean;
        station_.showLog(QStringLiteral("*percentdif - ") + Settings::realText(percentdif, station_.locale));
        station_.showLog(QStringLiteral("*EAN - ") + topEan);
        if (!spoof && percentdif >= station_.settings.percent && topEan == ean) cnt_chek = 0;
      }
      f_in_base = true;
    } else {
      // --- No models ---
      station_.showLog(QStringLiteral("Нет в базе"));
      ++timings_.attempts;
      filename = CreateFileName(station_, pathWork);
      PhotoResult face;
      const bool picture = grabbed("MainUnit 2107: \n\rframe = nil");
      if (picture) {
        copyFor1C();
        face = detect();
        saveWorkPhoto();
        lastPicture = filename;
      }
      const QString photo = picture ? filename : QString();
      const QString tags = picture ? QString::fromLatin1(kTagNotFound)
                                   : QStringLiteral("%1, %2").arg(QLatin1String(kTagNotFound), QLatin1String(kTagNoFrame));
      Timed t(timings_.database);
      data_.appendResult(std::nullopt, 0, photo, ean);
      InsertWorkRecord(data_, photo, false, 0, 0, ean, tags, face.cLeft, face.cRight, face.cTop, face.cBottom,
                       face.cHeight, face.cWidth);
    }

    // --- Answer ---
    QString Filename4_1C, EAN4_1C;
    const QDate today = station_.clock().today();
    {
      Timed t(timings_.database);
      const std::vector<ResultQueryRow> top = data_.openQueryResult(double(station_.settings.percent));
      if (lastPicture.isEmpty()) {
        // Not one picture: nobody was seen, so no photo to name and nothing "low" about it.
        EAN4_1C = QString::fromLatin1(kNoPicture);
      } else if (f_in_base && attacks > 0 && attacks == timings_.attempts) {
        EAN4_1C = QString::fromLatin1(kTagSpoof);  // every picture was judged an attack
        Filename4_1C = lastPicture;
      } else if (const auto answered = std::find_if(top.begin(), top.end(),
                                                    [](const ResultQueryRow& r) { return !r.ean.isEmpty(); });
                 answered != top.end()) {
        // A match whose model is gone has no barcode: it never answers.
        Filename4_1C = answered->fileName;
        EAN4_1C = answered->ean;
      } else {
        EAN4_1C = QString::fromLatin1(f_in_base ? kLowPercent : kNotFound);
        Filename4_1C = lastPicture;
      }
      data_.setLastDetection(ean, today);
    }
    station_.memoOut.clear();
    station_.memoOut.add(ean);
    station_.memoOut.add(Filename4_1C);
    const bool confirmed = EAN4_1C == ean;
    if (confirmed) {
      Timed t(timings_.database);
      data_.setLastSimilarity(ean, idModel, today);
    }
    playSound(confirmed ? 1 : 0);
    station_.memoOut.add(EAN4_1C);
    if (isTimer) {
      Timed t(timings_.files);
      station_.memoOut.saveOrThrow(
          joinPath(station_.settings.flagDir, QStringLiteral("out") + ean + QStringLiteral(".txt")));
    }
    station_.showLog(QStringLiteral("end - FaceDetectionLuxandRTSP"));
    StopSound(sound);
    toneOn = false;
    timings_.total = elapsed.nsecsElapsed() / 1e6;
    station_.showLog(QStringLiteral("time_ms = ") +
                     QString::number(startTime.msecsTo(station_.clock().now())));
  } catch (const std::exception& e) {
    if (toneOn) StopSound(sound);
    station_.showLog(QStringLiteral("FaceDetectionLuxandRTSP: ") + QString::fromStdString(e.what()));
    running_ = false;
    if (!queue_.empty()) QTimer::singleShot(0, &context_, [this] { runQueued(); });
    throw;
  }
  running_ = false;
  if (!queue_.empty()) QTimer::singleShot(0, &context_, [this] { runQueued(); });
}

}  // namespace tavo
