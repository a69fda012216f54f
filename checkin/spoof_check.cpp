#include "checkin/spoof_check.h"

#include <QFile>

#include <opencv2/imgcodecs.hpp>

#include <cmath>
#include <optional>

#include "base/paths.h"
#include "face/sdk/liveness.h"

namespace tavo {

SpoofVerdict judgeAttempt(const QString& picture, const PhotoResult& face, double radius) {
  SpoofVerdict v;
  v.attack = true;
  const cv::Mat bgr = cv::imread(QFile::encodeName(hostPath(picture)).toStdString(), cv::IMREAD_COLOR);
  if (bgr.empty()) return v;
  std::optional<cv::Rect2f> box;
  if (face.the_fase && face.cWidth > 0 && face.cHeight > 0) {
    // PhotoGet's margins are those of the face square of radius r around the face's centre.
    const int r = static_cast<int>(std::nearbyint((face.cWidth + face.cHeight) * radius));
    const float cx = static_cast<float>(face.cLeft + r), cy = static_cast<float>(face.cTop + r);
    box = cv::Rect2f(cx - face.cWidth / 2.0f, cy - face.cHeight / 2.0f, static_cast<float>(face.cWidth),
                     static_cast<float>(face.cHeight));
  } else {
    box = fsdk::largestFace(bgr);  // the slower road, only when the cascade found nothing
  }
  if (!box) return v;
  v.face = true;
  v.score = fsdk::livenessScore(bgr, *box);
  v.attack = v.score < fsdk::kLivenessThreshold;
  return v;
}

QString spoofLogLine(const SpoofVerdict& v) {
  if (!v.face) return QStringLiteral("*spoof - no face to judge");
  return (v.attack ? QStringLiteral("*spoof - score ") : QStringLiteral("*live - score ")) +
         QString::number(v.score, 'f', 4);
}

}  // namespace tavo
