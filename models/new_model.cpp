#include "models/new_model.h"

#include <QDateTime>
#include <stdexcept>

#include "base/paths.h"
#include "base/station.h"
#include "data/data_store.h"
#include "models/model_file_name.h"
#include "protect/face_file.h"

namespace tavo {

namespace {

qint64 insertModelRow(DataStore& data, const QString& fileName, const QString& ean, const QDateTime& now) {
  Dataset& table = data.tableModel();
  if (table.isOpen() && table.state() == Dataset::State::Browse) {
    table.insert();
    try {
      table.setField(QStringLiteral("FileName"), fileName);
      table.setField(QStringLiteral("EAN"), ean);
      table.setField(QStringLiteral("Active"), true);
      table.setField(QStringLiteral("DateInsert"), now);
      return table.post();
    } catch (...) {
      table.cancel();
      throw;
    }
  }
  // The model editor may hold TableModel in insert or edit state (the poll runs while it is
  // open): a dataset insert would post the operator's unfinished row, so write the row directly.
  Database& db = data.database();
  db.exec(QStringLiteral("INSERT INTO Model (FileName, EAN, Active, DateInsert) VALUES (?, ?, ?, ?)"),
          {fileName, ean, true, now});
  return db.lastInsertId();
}

}  // namespace

qint64 NewModel(Station& station, DataStore& data, const EnrollPictureFn& enroll, const QString& EAN,
                const QString& file_source, const QString& file_path) {
  const QString photo = joinPath(file_path, file_source);
  if (!fileExists(photo))
    throw std::runtime_error(QStringLiteral("NewModel: the photo %1 does not exist").arg(photo).toStdString());

  const QDateTime now = station.clock().now();
  const QString baseName = NewModelFileName(now.date());
  const QString basePath = joinPath(station.settings.modelDir, baseName);
  const QString faceFile = basePath + QLatin1String(kFaceBinSuffix);

  // The face file first: a row is only ever posted for a model whose photo is on disk.
  EncryptImage(photo, basePath, kSystemKey);
  qint64 id = 0;
  try {
    id = insertModelRow(data, baseName, EAN, now);
  } catch (...) {
    removeFile(faceFile);
    throw;
  }

  if (enroll) {
    bool thresholdCheck = false;
    enroll(hostPath(photo), int(id), thresholdCheck, EAN);
  }
  return id;
}

}  // namespace tavo
