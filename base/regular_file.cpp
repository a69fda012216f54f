#include "base/regular_file.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tavo {

FileIdentity identityOf(const struct stat& st) {
  FileIdentity id;
  id.size = static_cast<qint64>(st.st_size);
  id.mtimeNs = static_cast<qint64>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
  id.inode = static_cast<qint64>(st.st_ino);
  return id;
}

namespace {

QString kindProblem(mode_t mode) {
  if (S_ISLNK(mode)) return QStringLiteral("symbolic link");
  if (!S_ISREG(mode)) return QStringLiteral("not a regular file");
  return {};
}

QString tooLarge(qint64 size, qint64 cap) { return QStringLiteral("%1 bytes, more than %2").arg(size).arg(cap); }

}  // namespace

QString systemErrorText(int error) {
  char buf[256];
  // The GNU strerror_r: the text may or may not be in buf.
  return QString::fromLocal8Bit(strerror_r(error, buf, sizeof buf));
}

QString notRegularFileReason(const QString& hostPath) {
  struct stat st {};
  if (::lstat(QFile::encodeName(hostPath).constData(), &st) != 0) return systemErrorText(errno);
  return kindProblem(st.st_mode);
}

OutsideFile readOutsideFile(const QString& hostPath, qint64 maxBytes) {
  OutsideFile r;
  auto fail = [&](OutsideFile::Problem p, const QString& why) {
    r.problem = p;
    r.error = why;
  };
  // O_NONBLOCK: a FIFO put in place of a file must not hang the station in open().
  const int fd = ::open(QFile::encodeName(hostPath).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ELOOP) fail(OutsideFile::Problem::Link, QStringLiteral("symbolic link"));
    else fail(OutsideFile::Problem::System, systemErrorText(errno));
    return r;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    fail(OutsideFile::Problem::System, systemErrorText(errno));
  } else if (const QString p = kindProblem(st.st_mode); !p.isEmpty()) {
    fail(OutsideFile::Problem::NotRegular, p);
  } else if (st.st_size > maxBytes) {
    r.id = identityOf(st);
    fail(OutsideFile::Problem::TooLarge, tooLarge(qint64(st.st_size), maxBytes));
  } else {
    QByteArray bytes;
    bytes.reserve(qsizetype(st.st_size));
    char buf[65536];
    for (;;) {
      const ssize_t n = ::read(fd, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        fail(OutsideFile::Problem::System, systemErrorText(errno));
        break;
      }
      if (n == 0) {
        r.ok = true;
        break;
      }
      bytes.append(buf, qsizetype(n));
      // The file grew while it was read.
      if (bytes.size() > maxBytes) {
        fail(OutsideFile::Problem::TooLarge, QStringLiteral("more than %1 bytes").arg(maxBytes));
        break;
      }
    }
    if (r.ok && ::fstat(fd, &st) == 0) r.id = identityOf(st);
    if (r.ok) r.bytes = std::move(bytes);
  }
  ::close(fd);
  return r;
}

bool readRegularFile(const QString& hostPath, QByteArray* data, QString* why) {
  OutsideFile r = readOutsideFile(hostPath, kMaxPictureFileBytes);
  if (!r.ok) {
    if (why) *why = r.error;
    return false;
  }
  if (data) *data = std::move(r.bytes);
  return true;
}

}  // namespace tavo
