#include "checkin/spoof_check.h"

#include <QFile>

#include <opencv2/imgcodecs.hpp>

#include <optional>

#include "base/paths.h"
#include "base/station.h"
#include "face/sdk/liveness.h"

namespace tavo {

SpoofVerdict judgeAttempt(const QString& picture, const PhotoResult& face) {
  SpoofVerdict v;
  const cv::Mat bgr = cv::imread(QFile::encodeName(hostPath(picture)).toStdString(), cv::IMREAD_COLOR);
  if (bgr.empty()) return v;
  std::optional<cv::Rect2f> box;
  if (face.the_fase && !face.faceBox.empty()) box = cv::Rect2f(face.faceBox);
  else box = fsdk::largestFace(bgr);  // the slower road, only when the cascade found nothing
  if (!box) return v;
  v.face = true;
  v.score = fsdk::livenessScore(bgr, *box);
  v.attack = v.score < fsdk::kLivenessThreshold;
  return v;
}

QString spoofLogLine(const SpoofVerdict& v) {
  if (!v.face) return QStringLiteral("*liveness - no face to judge");
  return (v.attack ? QStringLiteral("*spoof - score ") : QStringLiteral("*live - score ")) +
         QString::number(v.score, 'f', 4);
}

bool refuseAntiSpoofWithoutNetwork(Station& station) {
  if (!station.settings.antiSpoof) return false;
  const QString problem = fsdk::livenessNetworkProblem(hostPath(station.settings.programPath + QStringLiteral("nets")));
  if (problem.isEmpty()) return false;
  station.settings.antiSpoof = false;
  const QString text = QStringLiteral("AntiSpoof=1 refused: %1. Check-ins run without the presentation-attack check "
                                      "until the network is installed and the station restarted.")
                           .arg(problem);
  station.showLog(text);
  station.messages().show(text);
  return true;
}

}  // namespace tavo
