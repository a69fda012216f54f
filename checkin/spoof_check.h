#pragma once
// Presentation-attack check of one check-in attempt (setting AntiSpoof).
#include <QString>

#include "face/picture/face_cropper.h"

namespace tavo {

inline constexpr char kTagSpoof[] = "spoof";  // work-log tag and answer of attempts judged attacks

struct SpoofVerdict {
  bool attack = false;
  float score = 0;     // liveness, 0..1; 0 when no face was found
  bool face = false;   // a face was found to judge
};

// Judges the picture of an attempt (the working picture, as cropped) around the face that the
// Haar detection found (`face`, margins as PhotoGet gives them with the face radius `radius`), or
// around the engine's largest face when the cascade found none. A picture that cannot be read or
// shows no face cannot prove a live person and is judged an attack. Throws std::runtime_error
// when the liveness network cannot be loaded.
SpoofVerdict judgeAttempt(const QString& picture, const PhotoResult& face, double radius);

// The operator-log line of a verdict.
QString spoofLogLine(const SpoofVerdict& v);

}  // namespace tavo
