#include "models/model_import.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStringDecoder>
#include <cerrno>
#include <cstdio>
#include <memory>
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

bool endsWithJpg(const QByteArray& name) {
  return name.size() > 4 && name.right(4).toLower() == ".jpg";
}

// Why a name (its bytes in the folder) cannot become a model: its first 13 characters are the
// barcode the office system's answers name. Empty when it can.
QString nameProblem(const QByteArray& name) {
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  const QString text = utf8(name);
  if (utf8.hasError()) return QStringLiteral("имя не в UTF-8");
  for (const QChar c : text)
    if (c.category() == QChar::Other_Control) return QStringLiteral("управляющий символ в имени");
  return {};
}

// The name as a log line can hold it: control characters and bytes that are no UTF-8 as \xNN.
QString printableName(const QByteArray& name) {
  QString out;
  for (const char ch : name) {
    const auto b = static_cast<unsigned char>(ch);
    if (b < 0x20 || b >= 0x7F) out += QStringLiteral("\\x%1").arg(b, 2, 16, QLatin1Char('0'));
    else out += QLatin1Char(ch);
  }
  return nameProblem(name).isEmpty() ? QString::fromUtf8(name) : out;
}

// "*.jpg" names of the folder, as the bytes the file system holds.
QList<QByteArray> rawJpgNames(const QString& folder) {
  QList<QByteArray> names;
  std::unique_ptr<DIR, int (*)(DIR*)> d(::opendir(QFile::encodeName(folder).constData()), ::closedir);
  if (!d) return names;
  while (const dirent* e = ::readdir(d.get())) {
    const QByteArray name(e->d_name);
    if (endsWithJpg(name)) names << name;
  }
  return names;
}

// Never over an earlier refused file of the same name.
bool renameNoReplace(const QByteArray& from, const QByteArray& to) {
  if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without RENAME_NOREPLACE.
  struct stat st {};
  if (::lstat(to.constData(), &st) == 0) {
    errno = EEXIST;
    return false;
  }
  return std::rename(from.constData(), to.constData()) == 0;
}

// Names the station cannot take are refused once, visibly: the file stays in the import folder
// under its name + ".refused", never read, and the log says why.
int refuseBadNames(Station& station, const QString& folder, const QList<QByteArray>& names) {
  int refused = 0;
  for (const QByteArray& name : names) {
    const QString why = nameProblem(name);
    if (why.isEmpty()) continue;
    ++refused;
    const QByteArray from = QFile::encodeName(folder) + '/' + name;
    const bool renamed = renameNoReplace(from, from + ".refused");
    station.showLog(QStringLiteral("LoadFromOffice: %1/%2 отклонён (%3)%4")
                        .arg(folder, printableName(name), why,
                             renamed ? QStringLiteral(", переименован в *.jpg.refused")
                                     : QStringLiteral(", переименовать не удалось: ") + systemErrorText(errno)));
  }
  return refused;
}

// A line every progressEvery: files done of all, the rate, the time left.
class ImportProgress {
 public:
  ImportProgress(Station& station, int total, std::chrono::milliseconds every)
      : station_(station), total_(total), every_(every) {
    clock_.start();
  }
  void done(int files) {
    const qint64 ms = clock_.elapsed();
    if (files >= total_ || ms - lastMs_ < every_.count()) return;
    lastMs_ = ms;
    const double rate = ms > 0 ? files * 1000.0 / double(ms) : 0;
    const qint64 left = rate > 0 ? qint64((total_ - files) / rate + 0.5) : -1;
    station_.showLog(QStringLiteral("LoadFromOffice: %1 из %2 файлов, %3 файлов/с, осталось %4")
                         .arg(files)
                         .arg(total_)
                         .arg(rate, 0, 'f', 1)
                         .arg(left < 0 ? QStringLiteral("?") : QStringLiteral("%1 с").arg(left)));
  }

 private:
  Station& station_;
  const int total_;
  const std::chrono::milliseconds every_;
  QElapsedTimer clock_;
  qint64 lastMs_ = 0;
};

}  // namespace

ImportSummary LoadFromOffice(Station& station, DataStore& data, std::chrono::milliseconds progressEvery) {
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
  const QList<QByteArray> rawNames = rawJpgNames(dir.absolutePath());
  summary.refused = refuseBadNames(station, dir.absolutePath(), rawNames);
  // Only names that are what the file system holds (a name that is no UTF-8 is listed decoded).
  QSet<QByteArray> takeable;
  for (const QByteArray& n : rawNames)
    if (nameProblem(n).isEmpty()) takeable.insert(n);
  int total = 0;
  for (const QFileInfo& entry : entries) total += takeable.contains(QFile::encodeName(entry.fileName()));
  ImportProgress progress(station, total, progressEvery);
  int seen = 0;
  for (const QFileInfo& entry : entries) {
    if (entry.suffix().compare(QLatin1String("jpg"), Qt::CaseInsensitive) != 0) continue;
    if (!takeable.contains(QFile::encodeName(entry.fileName()))) continue;
    progress.done(seen++);
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
