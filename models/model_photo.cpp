#include "models/model_photo.h"

#include <QFile>
#include <stdexcept>

#include "base/paths.h"
#include "base/station.h"
#include "base/stored_names.h"
#include "protect/face_file.h"

namespace tavo {

QString modelFaceBinPath(const Station& station, const QString& fileName) {
  return storedFilePath(station.settings.modelDir, fileName) + QLatin1String(kFaceBinSuffix);
}

QString modelFaceJpgPath(const Station& station, const QString& fileName) {
  return storedFilePath(station.settings.modelDir, fileName) + QLatin1String(kFaceJpgSuffix);
}

QByteArray readTakenFace(const Station& station) {
  QFile f(hostPath(station.tempFile(QStringLiteral("model_face.jpg"))));
  if (!f.open(QIODevice::ReadOnly)) return {};
  return f.readAll();
}

void saveModelFace(const Station& station, const QString& fileName, const QByteArray& jpeg) {
  if (jpeg.isEmpty()) throw std::runtime_error("The model has no face picture to store");
  if (fileName.isEmpty()) throw std::runtime_error("The model has no file name");
  const QString target = modelFaceBinPath(station, fileName);
  QString error;
  if (!writeFileAtomically(target, keyStreamTransform(jpeg, kSystemKey), &error))
    throw std::runtime_error(QStringLiteral("Cannot write %1: %2").arg(hostPath(target), error).toStdString());
  removeWorkingPictures(station);
}

void removeWorkingPictures(const Station& station) {
  for (const char* name : {"model_full.jpg", "model_face.jpg", "model_f.jpg"})
    removeFile(station.tempFile(QLatin1String(name)));
}

}  // namespace tavo
