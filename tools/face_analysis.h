#pragma once
// One picture through the engine's calls, as the tools use them.
#include <QString>

#include "face/sdk/fsdk.h"

namespace tavo::tools {

struct PictureAnalysis {
  int code = FSDKE_OK;  // first failing call
  const char* step = "";
  TFacePosition face;
  bool eyes = false;
  FSDK_FaceTemplate tmpl;
};

// Load, face, eyes and template of a picture file (the image is released again).
PictureAnalysis analysePicture(const QString& path);

}  // namespace tavo::tools
