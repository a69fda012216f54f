#pragma once
#include <QByteArray>
#include <QString>

namespace tavo {

// Reads a file that other machines can place: only a regular file, opened without following a
// symbolic link (O_NOFOLLOW) and checked on the open descriptor, so a link or a device swapped
// in after a look at the folder is refused as well. On failure returns false and says why
// ("symbolic link", "not a regular file", or the system's error text).
bool readRegularFile(const QString& hostPath, QByteArray* data, QString* why = nullptr);

// What a folder entry is without following it: empty for a regular file, otherwise the reason
// it is no file to take ("symbolic link", "not a regular file", the system's error text).
QString notRegularFileReason(const QString& hostPath);

}  // namespace tavo
