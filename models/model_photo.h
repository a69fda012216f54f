#pragma once
#include <QByteArray>
#include <QString>

namespace tavo {

class Station;

// The model's face file: model directory + "\" + fileName + "_face.bin". Both throw
// std::runtime_error for a name that would lead out of the model directory (stored_names.h).
QString modelFaceBinPath(const Station& station, const QString& fileName);
// The plain face picture of older models: model directory + "\" + fileName + "_face.jpg".
QString modelFaceJpgPath(const Station& station, const QString& fileName);

// Reads the face picture a photo acquisition just left in "Temp\model_face.jpg"; empty when
// there is none (the acquisition found no picture).
QByteArray readTakenFace(const Station& station);

// SaveImage for a model (mode 1), from the face picture held in memory: writes `jpeg` encrypted
// with the system key as the model's "_face.bin" (whole or not at all, replacing an older one),
// then deletes the working pictures "Temp\model_face.jpg", "Temp\model_full.jpg" and
// "Temp\model_f.jpg". Throws std::runtime_error when `jpeg` is empty or the file cannot be
// written; nothing is deleted then.
void saveModelFace(const Station& station, const QString& fileName, const QByteArray& jpeg);

// Deletes the three working pictures of "Temp" (a missing one is no error).
void removeWorkingPictures(const Station& station);

}  // namespace tavo
