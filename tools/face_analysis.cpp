#include "tools/face_analysis.h"

namespace tavo::tools {

PictureAnalysis analysePicture(const QString& path) {
  PictureAnalysis a;
  HImage image = 0;
  const QByteArray p = path.toUtf8();
  a.code = FSDK_LoadImageFromFile(&image, p.constData());
  if (a.code != FSDKE_OK) {
    a.step = "cannot read the picture";
    return a;
  }
  a.code = FSDK_DetectFace(image, &a.face);
  if (a.code != FSDKE_OK) {
    a.step = "no face";
  } else {
    FSDK_Features features;
    a.eyes = FSDK_DetectEyesInRegion(image, &a.face, &features) == FSDKE_OK;
    a.code = FSDK_GetFaceTemplateInRegion(image, &a.face, &a.tmpl);
    if (a.code != FSDKE_OK) a.step = "no template";
  }
  FSDK_FreeImage(image);
  return a;
}

}  // namespace tavo::tools
