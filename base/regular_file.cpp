#include "base/regular_file.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tavo {

namespace {

QString systemError(int err) { return QString::fromLocal8Bit(std::strerror(err)); }

QString kindProblem(mode_t mode) {
  if (S_ISLNK(mode)) return QStringLiteral("symbolic link");
  if (!S_ISREG(mode)) return QStringLiteral("not a regular file");
  return {};
}

}  // namespace

QString notRegularFileReason(const QString& hostPath) {
  struct stat st {};
  if (::lstat(QFile::encodeName(hostPath).constData(), &st) != 0) return systemError(errno);
  return kindProblem(st.st_mode);
}

bool readRegularFile(const QString& hostPath, QByteArray* data, QString* why) {
  auto fail = [&](const QString& reason) {
    if (why) *why = reason;
    return false;
  };
  // O_NONBLOCK: a FIFO put in place of a file must not hang the station in open().
  const int fd = ::open(QFile::encodeName(hostPath).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return fail(errno == ELOOP ? QStringLiteral("symbolic link") : systemError(errno));
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    const int err = errno;
    ::close(fd);
    return fail(systemError(err));
  }
  if (const QString p = kindProblem(st.st_mode); !p.isEmpty()) {
    ::close(fd);
    return fail(p);
  }
  QByteArray bytes;
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int err = errno;
      ::close(fd);
      return fail(systemError(err));
    }
    if (n == 0) break;
    bytes.append(buf, qsizetype(n));
  }
  ::close(fd);
  if (data) *data = std::move(bytes);
  return true;
}

}  // namespace tavo
