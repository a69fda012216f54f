#include "base/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <cerrno>

#include "base/regular_file.h"

namespace tavo {

namespace {

// Creates a new hidden file "." + base + ".XXXXXXXX" in folder, never through a link.
// Returns the descriptor (or -1 with errno set) and the name made.
int createHidden(const QString& folder, const QString& base, QByteArray* made) {
  for (int tries = 0; tries < 16; ++tries) {
    const QString suffix = QStringLiteral("%1").arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
    const QString name = folder + QStringLiteral("/.") + base + QLatin1Char('.') + suffix;
    *made = QFile::encodeName(name);
    const int fd = ::open(made->constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

// Writes all of data, then syncs (unless skipped) and closes fd (closed in every case). 0 or the errno.
int writeSyncClose(int fd, const QByteArray& data, Sync sync = Sync::Done) {
  const char* p = data.constData();
  qsizetype left = data.size();
  int failure = 0;
  while (left > 0) {
    const ssize_t n = ::write(fd, p, size_t(left));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      failure = n < 0 ? errno : EIO;
      break;
    }
    p += n;
    left -= n;
  }
  // Network and some local file systems report a full disk only here.
  if (!failure && sync == Sync::Done && ::fsync(fd) != 0 && errno != EINVAL) failure = errno;
  if (::close(fd) != 0 && !failure) failure = errno;
  return failure;
}

}  // namespace

bool writeWholeFile(const QString& hostPath, const QByteArray& data, QString* error, Sync sync) {
  const QFileInfo target(hostPath);
  const QString folder = target.path();
  const QByteArray targetName = QFile::encodeName(hostPath);
  QByteArray temp;
  auto fail = [&](int e) {
    if (!temp.isEmpty()) ::unlink(temp.constData());
    if (error) *error = systemErrorText(e);
    return false;
  };

  const int fd = createHidden(folder, target.fileName(), &temp);
  if (fd < 0) {
    const int e = errno;
    temp.clear();
    return fail(e);
  }
  // A file replaced keeps its permissions, as an edited file would, less any access for other
  // users: an older world-readable picture must not stay so (file_modes.h).
  struct stat old {};
  if (::lstat(targetName.constData(), &old) == 0 && S_ISREG(old.st_mode)) ::fchmod(fd, old.st_mode & 07770);

  if (const int e = writeSyncClose(fd, data, sync)) return fail(e);
  // rename replaces a link of that name itself, never what it points to.
  if (::rename(temp.constData(), targetName.constData()) != 0) return fail(errno);
  return true;
}

QString folderWriteProblem(const QString& hostFolder) {
  QByteArray probe;
  const int fd = createHidden(hostFolder, QStringLiteral("write-probe"), &probe);
  if (fd < 0) return systemErrorText(errno);
  // About the size of a result file: a folder with room for nothing fails here.
  const int e = writeSyncClose(fd, QByteArray(512, ' '));
  ::unlink(probe.constData());
  return e ? systemErrorText(e) : QString();
}

}  // namespace tavo
