#include "checkin/work_records.h"

#include <QDir>
#include <QUuid>
#include <stdexcept>

#include "base/paths.h"
#include "base/station.h"
#include "data/data_store.h"
#include "data/orphan_photos.h"
#include "protect/face_file.h"

namespace tavo {

QString CreateFileName(const Station& station, const QString& pathWork) {
  // One reading of the clock for the name and its folders: a name made at midnight must not
  // land in the next day's folder.
  const QDate day = station.clock().now().date();
  const QString guid = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
  const QString name = day.toString(QStringLiteral("yyyyMMdd-")) + guid;

  const QString year = day.toString(QStringLiteral("yyyy"));
  const QString month = year + QLatin1Char('\\') + day.toString(QStringLiteral("MM"));
  const QString dayFolder = month + QLatin1Char('\\') + day.toString(QStringLiteral("dd"));
  for (const QString& folder : {year, month, dayFolder}) {
    const QString host = hostPath(pathWork + folder);
    if (QDir(host).exists()) continue;
    if (!QDir().mkdir(host))
      throw std::runtime_error(
          QStringLiteral("Cannot create folder \"%1\"").arg(pathWork + folder).toStdString());
  }
  return dayFolder + QLatin1Char('\\') + name;
}

void SaveImage(const QString& path, const QString& pathModel, const QString& filename,
               std::uint8_t mode) {
  const QString full = path + QStringLiteral("Temp\\model_full.jpg");
  const QString face = path + QStringLiteral("Temp\\model_face.jpg");
  // A check-in photo is noted before it exists, so that one left without its row (the run was
  // killed) is known as this station's own; the note goes when the row is posted.
  if (mode == 0) noteUnpostedWorkPhoto(path, pathModel + filename);
  EncryptImage(mode == 0 ? full : face, pathModel + filename, kSystemKey);
  if (mode != 0) removeFile(face);
  removeFile(full);
  removeFile(path + QStringLiteral("Temp\\model_f.jpg"));
}

qint64 InsertWorkRecord(DataStore& data, const QString& filename, bool is_face, int idModel,
                        double percent, const QString& EAN, const QString& tags, int cLeft,
                        int cRight, int cTop, int cBottom, int cHeight, int cWidth) {
  WorkRecord w;
  w.fileName = filename;
  w.isFace = is_face;
  w.idModel = idModel;
  w.percent = percent;
  w.sn = EAN;
  w.tags = tags;
  w.cLeft = cLeft;
  w.cRight = cRight;
  w.cTop = cTop;
  w.cBottom = cBottom;
  w.height = cHeight;
  w.width = cWidth;
  const qint64 id = data.insertWork(w);
  clearUnpostedWorkPhoto(data.station().settings.programPath, filename);
  return id;
}

}  // namespace tavo
