#pragma once
// Presentation-attack check of one check-in attempt (setting AntiSpoof).
#include <QString>

#include "face/picture/face_cropper.h"

namespace tavo {

class Station;

inline constexpr char kTagSpoof[] = "spoof";  // work-log tag and answer of attempts judged attacks

struct SpoofVerdict {
  bool attack = false;
  float score = 0;     // liveness, 0..1; 0 when no face was found
  bool face = false;   // a face was found to judge
};

// Judges the picture of an attempt (the working picture, as cropped) around the face box that
// the Haar detection found, or around the engine's largest face when the cascade found none. A
// picture without a face (or that cannot be read) is not judged: it is no attack, and the
// attempt goes on as without the check (it cannot be confirmed anyway). Throws
// std::runtime_error when the liveness network cannot be loaded.
SpoofVerdict judgeAttempt(const QString& picture, const PhotoResult& face);

// The operator-log line of a verdict.
QString spoofLogLine(const SpoofVerdict& v);

// AntiSpoof=1 needs the liveness network: without it the setting is refused (switched off for
// this run) with an operator message and a log line saying why, instead of every check-in
// failing on it. Call once the settings are read. Returns whether the setting was refused.
bool refuseAntiSpoofWithoutNetwork(Station& station);

}  // namespace tavo
