#include "app/station_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QSysInfo>
#include <cerrno>

#include "base/regular_file.h"

namespace tavo {

namespace {

// The lock file without following links: the folder may be shared, and a link planted under the
// name must not make the station write elsewhere.
int openLockFile(const QByteArray& file) {
  const int flags = O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
  int fd = ::open(file.constData(), flags, 0640);
  if (fd < 0 && errno == ELOOP && ::unlink(file.constData()) == 0) fd = ::open(file.constData(), flags, 0640);
  if (fd < 0) return -1;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    errno = EINVAL;
    return -1;
  }
  return fd;
}

QString holderOf(int fd) {
  char buf[256] = {};
  const ssize_t n = ::pread(fd, buf, sizeof buf - 1, 0);
  const QString text = n > 0 ? QString::fromUtf8(buf, int(n)).trimmed() : QString();
  return text.isEmpty() ? QStringLiteral("another process") : text;
}

}  // namespace

StationLock::~StationLock() { release(); }

bool StationLock::take(const QString& hostFolder, QString* why) {
  release();
  const QByteArray file = QFile::encodeName(hostFolder + QLatin1Char('/') + QLatin1String(kFileName));
  const int fd = openLockFile(file);
  if (fd < 0) {
    // Served as before: a station must not stop for want of its lock file alone.
    if (why)
      *why = QStringLiteral("the lock file \"%1\" cannot be opened (%2): a second station on it would not be noticed")
                 .arg(QFile::decodeName(file), systemErrorText(errno));
    return true;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    if (error == EWOULDBLOCK) {
      if (why) *why = QStringLiteral("it is held by %1").arg(holderOf(fd));
      ::close(fd);
      return false;
    }
    // A file system without locks (some network mounts): served, but a second station on it
    // would not be noticed.
    if (why) *why = QStringLiteral("it cannot be locked (%1): a second station on it would not be noticed").arg(systemErrorText(error));
  } else if (why) {
    why->clear();
  }
  const QByteArray holder = QStringLiteral("station process %1 on %2\n")
                                .arg(::getpid())
                                .arg(QSysInfo::machineHostName())
                                .toUtf8();
  if (::ftruncate(fd, 0) == 0) {
    [[maybe_unused]] const ssize_t n = ::pwrite(fd, holder.constData(), size_t(holder.size()), 0);
  }
  fd_ = fd;
  folder_ = hostFolder;
  return true;
}

void StationLock::release() {
  if (fd_ < 0) return;
  ::close(fd_);  // the lock goes with the descriptor
  fd_ = -1;
  folder_.clear();
}

}  // namespace tavo
