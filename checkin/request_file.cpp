#include "checkin/request_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "base/ansi_text.h"
#include "base/paths.h"

namespace tavo {

namespace {

FileIdentity identityOf(const struct stat& st) {
  FileIdentity id;
  id.size = static_cast<qint64>(st.st_size);
  id.mtimeNs = static_cast<qint64>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
  id.inode = static_cast<qint64>(st.st_ino);
  return id;
}

QString systemText(int error) {
  char buf[256];
  return QString::fromLocal8Bit(strerror_r(error, buf, sizeof buf));
}

}  // namespace

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
  RequestBytes r;
  const QByteArray host = QFile::encodeName(hostPath(stationPath));
  // O_NONBLOCK: a FIFO put in place of the file must not hang the poll.
  const int fd = ::open(host.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    r.isLink = errno == ELOOP;
    r.error = r.isLink ? QStringLiteral("it is a symbolic link") : systemText(errno);
    return r;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    r.error = systemText(errno);
  } else if (!S_ISREG(st.st_mode)) {
    r.error = QStringLiteral("it is not a regular file");
  } else if (st.st_size > kMaxRequestBytes) {
    r.error = QStringLiteral("%1 bytes, more than a request can hold (%2)").arg(qint64(st.st_size)).arg(kMaxRequestBytes);
  } else {
    char buf[4096];
    for (;;) {
      const ssize_t n = ::read(fd, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        r.error = systemText(errno);
        break;
      }
      if (n == 0) {
        r.ok = true;
        break;
      }
      r.bytes.append(buf, n);
      if (r.bytes.size() > kMaxRequestBytes) {
        r.error = QStringLiteral("more than %1 bytes").arg(kMaxRequestBytes);
        break;
      }
    }
    // The identity after reading: a writer that went on meanwhile shows in it.
    if (r.ok && ::fstat(fd, &st) == 0) r.id = identityOf(st);
  }
  ::close(fd);
  if (!r.ok) r.bytes.clear();
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
