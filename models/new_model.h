#pragma once
#include <QString>
#include <functional>

namespace tavo {

class DataStore;
class Station;

// EnrollPicture of the template base: appends the picture file (a host path) as a template of
// model `id` with barcode `fio`; `thresholdCheck` tells whether a face was found.
using EnrollPictureFn =
    std::function<void(const QString& fileName, int id, bool& thresholdCheck, const QString& fio)>;

// Wires a template base with EnrollPicture(fileName, id, thresholdCheck, fio).
template <class Base>
EnrollPictureFn enrollPictureOf(Base& base) {
  return [&base](const QString& f, int id, bool& check, const QString& fio) {
    base.EnrollPicture(f, id, check, fio);
  };
}

// NewModel: makes the photo file_path + "\" + file_source (station paths, e.g. the flag folder and
// "Face102_face.jpg") a new active model of the barcode EAN, without any window, and enrols it
// into the template base so that it takes part in matching at once.
//
// A row never exists without its face file: the photo is first encrypted, uncropped, into the
// model folder as NewModelFileName + "_face.bin"; only then is the Model row (FileName, EAN,
// Active = true, DateInsert = now) posted. When the post fails the file is removed again. A
// missing or unreadable photo throws std::runtime_error and leaves neither row nor file. Then
// `enroll` (may be empty: no template base) is called with the photo, the new id and EAN; its
// errors propagate, the model stays. Returns the new Model.id.
qint64 NewModel(Station& station, DataStore& data, const EnrollPictureFn& enroll, const QString& EAN,
                const QString& file_source, const QString& file_path);

}  // namespace tavo
