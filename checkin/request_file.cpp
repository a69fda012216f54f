#include "checkin/request_file.h"

#include <sys/stat.h>

#include <QFile>
#include <stdexcept>

#include "app/ansi_text.h"
#include "app/paths.h"

namespace tavo {

std::optional<FileIdentity> fileIdentity(const QString& stationPath) {
  struct stat st {};
  const QByteArray host = QFile::encodeName(hostPath(stationPath));
  if (::stat(host.constData(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  FileIdentity id;
  id.size = static_cast<qint64>(st.st_size);
  id.mtimeNs = static_cast<qint64>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
  id.inode = static_cast<qint64>(st.st_ino);
  return id;
}

QStringList readRequestFile(const QString& stationPath) {
  QFile f(hostPath(stationPath));
  if (!f.open(QIODevice::ReadOnly))
    throw std::runtime_error(
        QStringLiteral("Cannot open file \"%1\". %2").arg(stationPath, f.errorString()).toStdString());
  const QByteArray bytes = f.readAll();
  if (f.error() != QFileDevice::NoError)
    throw std::runtime_error(
        QStringLiteral("Cannot read file \"%1\". %2").arg(stationPath, f.errorString()).toStdString());
  return readRequestLines(bytes);
}

QString barcodeProblem(const QString& barcode) {
  if (barcode.size() > kMaxBarcodeLength)
    return QStringLiteral("longer than %1 characters").arg(kMaxBarcodeLength);
  if (barcode.contains(QLatin1Char('/')) || barcode.contains(QLatin1Char('\\')))
    return QStringLiteral("contains a path separator");
  if (barcode.contains(QLatin1String("..")))
    return QStringLiteral("contains \"..\"");
  for (const QChar c : barcode) {
    if (c.category() == QChar::Other_Control)
      return QStringLiteral("contains a control character");
  }
  return {};
}

}  // namespace tavo
