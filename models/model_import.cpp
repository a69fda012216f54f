#include "models/model_import.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <stdexcept>

#include "base/paths.h"
#include "base/regular_file.h"
#include "base/station.h"
#include "data/data_store.h"
#include "models/model_file_name.h"
#include "models/model_photo.h"

namespace tavo {

namespace {

// Removes the row just posted (by id) when its file did not arrive.
void removeModelRow(Dataset& t, qint64 id) {
  if (t.locateId(id)) t.remove();
}

}  // namespace

ImportSummary LoadFromOffice(Station& station, DataStore& data) {
  ImportSummary summary;
  Dataset& t = data.tableModel();
  const QString folder = QLatin1String(kImportFolder);
  QDir dir(hostPath(folder));
  // Windows matches "*.jpg" without regard to case. Every kind of entry is listed so that links
  // and other non-files can be told apart and logged; only regular files are taken.
  const QFileInfoList entries =
      dir.exists() ? dir.entryInfoList({QStringLiteral("*.jpg")},
                                       QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot,
                                       QDir::Name | QDir::IgnoreCase)
                   : QFileInfoList();
  for (const QFileInfo& entry : entries) {
    if (entry.suffix().compare(QLatin1String("jpg"), Qt::CaseInsensitive) != 0) continue;
    // The folder is filled from outside: a link could hand the station any file of the machine.
    if (const QString why = notRegularFileReason(entry.absoluteFilePath()); !why.isEmpty()) {
      if (!entry.isDir() || entry.isSymLink())
        station.showLog(QStringLiteral("LoadFromOffice: %1 пропущен (%2)").arg(entry.absoluteFilePath(), why));
      ++summary.skipped;
      continue;
    }
    // Without the model table (no database) a file cannot become a model: it stays for a later start.
    if (!t.isOpen()) throw std::runtime_error("База данных не открыта: импорт моделей невозможен");
    QByteArray bytes;
    QString error;
    if (!readRegularFile(entry.absoluteFilePath(), &bytes, &error)) {
      ++summary.skipped;
      station.showLog(QStringLiteral("LoadFromOffice: %1 пропущен (%2)").arg(entry.absoluteFilePath(), error));
      continue;
    }
    const QString fileName = entry.fileName();
    const QString ean = fileName.left(13);
    const QString name = NewModelFileName(station.clock());

    // The record is stored before the file is copied.
    qint64 id = 0;
    t.insert();
    try {
      t.setField(QStringLiteral("FileName"), name);
      t.setField(QStringLiteral("EAN"), ean);
      t.setField(QStringLiteral("Active"), true);
      t.setField(QStringLiteral("DateInsert"), station.clock().now());
      id = t.post();
    } catch (...) {
      t.cancel();
      throw;
    }

    if (!writeFileAtomically(modelFaceBinPath(station, name), bytes, &error)) {
      removeModelRow(t, id);
      ++summary.failed;
      station.showLog(QStringLiteral("LoadFromOffice: файл %1 не скопирован (%2), модель не создана, файл оставлен")
                          .arg(entry.absoluteFilePath(), error));
      continue;
    }
    ++summary.imported;
    if (!QFile::remove(entry.absoluteFilePath()))
      station.showLog(QStringLiteral("LoadFromOffice: не удалось удалить файл ") + entry.absoluteFilePath());
  }
  const QString flag = QLatin1String(FileNameFlag_load_model_from_ftp);
  if (fileExists(flag) && !removeFile(flag))
    station.showLog(QStringLiteral("LoadFromOffice: не удалось удалить файл ") + hostPath(flag));
  return summary;
}

}  // namespace tavo
