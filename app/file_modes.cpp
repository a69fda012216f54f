#include "app/file_modes.h"

#include <QFile>
#include <sys/stat.h>

namespace tavo {

unsigned restrictFileModes() { return unsigned(::umask(S_IRWXO | S_IWGRP)); }

bool dropOtherUsersAccess(const QString& hostPath) {
  const QFileDevice::Permissions others = QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
  const QFileDevice::Permissions now = QFile::permissions(hostPath);
  return !(now & others) || QFile::setPermissions(hostPath, now & ~others);
}

void setFileModeMask(unsigned mask) { ::umask(mode_t(mask)); }

}  // namespace tavo
