#include "base/file_modes.h"

#include <QFile>
#include <sys/stat.h>

namespace tavo {

unsigned restrictFileModes() {
  const mode_t old = ::umask(0);
  // The group's share is left as the service sets it (the flag directory is shared through it).
  ::umask(old | S_IRWXO);
  return unsigned(old);
}

bool dropOtherUsersAccess(const QString& hostPath) {
  const QFileDevice::Permissions others = QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
  const QFileDevice::Permissions now = QFile::permissions(hostPath);
  return !(now & others) || QFile::setPermissions(hostPath, now & ~others);
}

void setFileModeMask(unsigned mask) { ::umask(mode_t(mask)); }

}  // namespace tavo
