#include "checkin/camera_liveness.h"

#include <QFile>
#include <QRegularExpression>

#include <cstdio>
#include <stdexcept>

#include "base/atomic_file.h"
#include "base/paths.h"
#include "base/station.h"
#include "face/sdk/liveness.h"

namespace tavo {
namespace {

constexpr qint64 kMaxFileBytes = 1 << 20;
constexpr std::size_t kAttempts = 3;

CameraLiveness::Figure figureOf(const QString& captures) {
  CameraLiveness::Figure f;
  f.captures = static_cast<int>(captures.size());
  f.refused = static_cast<int>(captures.count(QLatin1Char('1')));
  return f;
}

}  // namespace

void CameraLiveness::attemptJudged(const SpoofVerdict& v) {
  if (!v.face) return;
  // A run that ended in an error never reports its end: only the newest attempts are kept.
  if (pending_.size() >= kAttempts) pending_.erase(pending_.begin());
  pending_.push_back(v.score);
}

void CameraLiveness::checkInEnded(bool confirmed) {
  if (confirmed) noteLive(pending_);
  pending_.clear();
}

void CameraLiveness::seriesPicture(const PhotoResult& face) {
  if (!station_.settings.antiSpoof) return;
  try {
    const SpoofVerdict v = judgeAttempt(station_.tempFile(QStringLiteral("model_full.jpg")), face);
    if (v.face) noteLive({v.score});
  } catch (const std::exception& e) {
    // The series goes on: this check must never cost the office its pictures.
    station_.showLog(QStringLiteral("Camera check: %1").arg(QString::fromStdString(e.what())));
  }
}

void CameraLiveness::noteLive(const std::vector<float>& scores) {
  if (scores.empty() || !station_.settings.antiSpoof) return;
  std::map<QString, QString> cameras = load();
  QString& captures = cameras[camera()];
  for (float s : scores) captures += s < fsdk::kLivenessThreshold ? QLatin1Char('1') : QLatin1Char('0');
  if (captures.size() > kKept) captures = captures.right(kKept);
  save(cameras);
  const Figure f = figureOf(captures);
  if (f.failing()) tell(f, false);
}

CameraLiveness::Figure CameraLiveness::figure() const {
  const std::map<QString, QString> cameras = load();
  const auto it = cameras.find(camera());
  return it == cameras.end() ? Figure{} : figureOf(it->second);
}

bool CameraLiveness::reportAtStartUp() {
  if (!station_.settings.antiSpoof) return false;
  const Figure f = figure();
  if (!f.failing()) return false;
  tell(f, true);
  return true;
}

QString CameraLiveness::camera() const {
  const Settings& s = station_.settings;
  QString name = s.camRtsp ? s.rtsp : QStringLiteral("web ") + s.webCam;
  return name.replace(QLatin1Char('\t'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '))
      .replace(QLatin1Char('\r'), QLatin1Char(' '));
}

std::map<QString, QString> CameraLiveness::load() const {
  std::map<QString, QString> cameras;
  QFile file(hostPath(station_.programFile(QString::fromLatin1(kFileName))));
  if (!file.open(QIODevice::ReadOnly)) return cameras;
  for (const QByteArray& line : file.read(kMaxFileBytes).split('\n')) {
    const int tab = line.lastIndexOf('\t');
    if (tab <= 0) continue;
    QString captures = QString::fromLatin1(line.mid(tab + 1)).trimmed();
    captures.remove(QRegularExpression(QStringLiteral("[^01]")));
    cameras[QString::fromUtf8(line.left(tab))] = captures.right(kKept);
  }
  return cameras;
}

void CameraLiveness::save(const std::map<QString, QString>& cameras) const {
  QByteArray data;
  for (const auto& [name, captures] : cameras) data += name.toUtf8() + '\t' + captures.toLatin1() + '\n';
  QString error;
  const QString path = hostPath(station_.programFile(QString::fromLatin1(kFileName)));
  if (!writeWholeFile(path, data, &error))
    station_.showLog(QStringLiteral("Camera check: cannot write %1: %2").arg(path, error));
}

void CameraLiveness::tell(const Figure& f, bool atStartUp) {
  const QString text =
      QStringLiteral("Camera check: %1 of the last %2 live captures of camera \"%3\" (%4 %) scored below the "
                     "liveness threshold %5: staff at this camera are refused as attacks; check its light and "
                     "position, or set AntiSpoof=0")
          .arg(f.refused)
          .arg(f.captures)
          .arg(camera())
          .arg(f.percent(), 0, 'f', 1)
          .arg(double(fsdk::kLivenessThreshold), 0, 'f', 2);
  // At start-up as an operator message (a box on screen, stderr when headless); during work in
  // the log and stderr, so that a check-in is never held up by a box.
  if (atStartUp) {
    station_.showLog(text);
    station_.messages().show(text);
  } else {
    station_.showLog(text);
    std::fprintf(stderr, "tavolin: %s\n", qUtf8Printable(text));
  }
}

}  // namespace tavo
