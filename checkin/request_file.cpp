#include "checkin/request_file.h"

#include <sys/stat.h>

#include <QFile>
#include <stdexcept>

#include "base/ansi_text.h"
#include "base/paths.h"
#include "base/regular_file.h"

namespace tavo {

FlagEntry inspectFlagEntry(const QString& stationPath) {
  struct stat st {};
  const QByteArray host = QFile::encodeName(hostPath(stationPath));
  FlagEntry e;
  if (::lstat(host.constData(), &st) != 0) return e;
  e.id = identityOf(st);
  e.kind = S_ISREG(st.st_mode) ? EntryKind::Regular : S_ISLNK(st.st_mode) ? EntryKind::Link : EntryKind::Other;
  return e;
}

std::optional<FileIdentity> fileIdentity(const QString& stationPath) {
  const FlagEntry e = inspectFlagEntry(stationPath);
  if (e.kind != EntryKind::Regular) return std::nullopt;
  return e.id;
}

RequestBytes readRequestBytes(const QString& stationPath) {
  OutsideFile f = readOutsideFile(hostPath(stationPath), kMaxRequestBytes);
  RequestBytes r;
  r.ok = f.ok;
  r.isLink = f.isLink();
  r.bytes = std::move(f.bytes);
  r.id = f.id;
  switch (f.problem) {
    case OutsideFile::Problem::Link: r.error = QStringLiteral("it is a symbolic link"); break;
    case OutsideFile::Problem::NotRegular: r.error = QStringLiteral("it is not a regular file"); break;
    case OutsideFile::Problem::TooLarge:
      r.error = f.id.size > kMaxRequestBytes
                    ? QStringLiteral("%1 bytes, more than a request can hold (%2)").arg(f.id.size).arg(kMaxRequestBytes)
                    : QStringLiteral("more than %1 bytes").arg(kMaxRequestBytes);
      r.id = {};
      break;
    default: r.error = f.error;
  }
  return r;
}

QStringList readRequestFile(const QString& stationPath) {
  const RequestBytes r = readRequestBytes(stationPath);
  if (!r.ok)
    throw std::runtime_error(QStringLiteral("Cannot read file \"%1\". %2").arg(stationPath, r.error).toStdString());
  return readRequestLines(r.bytes);
}

bool requestComplete(const QByteArray& bytes, int minLines) {
  bool lineFeedAtEnd = false;
  if (bytes.startsWith("\xFF\xFE"))
    lineFeedAtEnd = bytes.size() % 2 == 0 && bytes.endsWith(QByteArray("\n\0", 2));
  else if (bytes.startsWith("\xFE\xFF"))
    lineFeedAtEnd = bytes.size() % 2 == 0 && bytes.endsWith(QByteArray("\0\n", 2));
  else
    lineFeedAtEnd = bytes.endsWith('\n');
  return lineFeedAtEnd && readRequestLines(bytes).size() >= minLines;
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
