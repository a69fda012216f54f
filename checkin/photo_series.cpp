#include "checkin/photo_series.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QThread>
#include <QTimer>
#include <stdexcept>

#include "base/events.h"
#include "base/paths.h"
#include "base/station.h"
#include "face/picture/frame_grab.h"
#include "sound/snd_unit.h"

namespace tavo {

QString seriesFacePicture(int k) { return QStringLiteral("Face%1_face.jpg").arg(k); }

QStringList seriesFiles() {
  QStringList files;
  for (int k = 101; k <= 105; ++k) files << seriesFacePicture(k);
  files << QString::fromLatin1(kSeriesNoFacePicture) << QString::fromLatin1(kSeriesReady);
  return files;
}

namespace {

// The pause before the first picture; timer ticks and clicks are handled meanwhile.
void waitLettingEventsRun(int ms) {
  if (ms <= 0) return;
  QElapsedTimer elapsed;
  elapsed.start();
  if (QCoreApplication::instance()) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
  }
  // Without an event loop (or if it ended early) the rest is slept.
  while (elapsed.elapsed() < ms) QThread::msleep(static_cast<unsigned long>(ms - elapsed.elapsed()));
}

}  // namespace

PhotoSeries::PhotoSeries(Station& station, Cameras& cameras, FaceCropper& cropper)
    : station_(station), cameras_(cameras), cropper_(cropper) {
  grab = [this](const QString& frameNilMessage) { return GrabFrame(station_, cameras_, frameNilMessage); };
  detectFace = [this] { return cropper_.PhotoGet(3, QString()); };
}

void PhotoSeries::GetNewPhoto() {
  const QString flagDir = station_.settings.flagDir;
  // Only this series' pictures may be enrolled: an earlier person's face must not stay behind.
  for (const QString& name : seriesFiles()) {
    const QString path = joinPath(flagDir, name);
    if (!removeFile(path))
      throw std::runtime_error(
          QStringLiteral("GetNewPhoto: the earlier series file %1 cannot be removed").arg(hostPath(path)).toStdString());
  }

  waitLettingEventsRun(station_.settings.waitTime);

  if (!station_.settings.camRtsp && cameras_.captureIsNull()) station_.messages().show(QStringLiteral("capture = nil"));

  station_.showLog(QStringLiteral("Form1.GetNewPhoto - begin"));
  const bool sound = station_.settings.soundEnabled;
  StartSound(sound);
  try {
    const QString full = station_.tempFile(QStringLiteral("model_full.jpg"));
    const QString face = station_.tempFile(QStringLiteral("model_face.jpg"));
    for (int n = 1; n <= 3; ++n) {
      const int k = 100 + n;
      // No frame: the grab has left no picture and shown its message; this picture is skipped.
      if (!grab(QString::fromLatin1(kSeriesFrameNil))) {
        station_.showLog(QStringLiteral("Form1.GetNewPhoto - снимок %1 пропущен: нет кадра").arg(n));
        processPendingEvents();
        continue;
      }
      const PhotoResult found = detectFace();
      const QString target = joinPath(flagDir, found.the_fase ? seriesFacePicture(k)
                                                              : QString::fromLatin1(kSeriesNoFacePicture));
      QFile source(hostPath(face));
      QString error;
      if (!source.open(QIODevice::ReadOnly)) error = source.errorString();
      else if (!writeFileAtomically(target, source.readAll(), &error) && error.isEmpty()) error = QStringLiteral("write failed");
      if (!error.isEmpty())
        station_.showLog(QStringLiteral("Form1.GetNewPhoto - не удалось записать %1: %2").arg(hostPath(target), error));
      processPendingEvents();
    }

    station_.memoOut.clear();
    station_.memoOut.saveOrThrow(joinPath(flagDir, QString::fromLatin1(kSeriesReady)));
    removeFile(full);
    removeFile(face);
    station_.showLog(QStringLiteral("Form1.GetNewPhoto - end"));
  } catch (...) {
    // The tone must not outlive the series.
    StopSound(sound);
    throw;
  }
  StopSound(sound);
}

}  // namespace tavo
