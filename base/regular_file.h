#pragma once
#include <QByteArray>
#include <QString>
#include <sys/stat.h>

namespace tavo {

// The system's own text for an error number ("No space left on device", "Permission denied").
QString systemErrorText(int error);

// What tells one version of a file from another: its size, modification time (ns) and inode.
struct FileIdentity {
  qint64 size = -1;
  qint64 mtimeNs = 0;
  qint64 inode = 0;
  bool operator==(const FileIdentity&) const = default;
};
// The identity of a file from what fstat or lstat said of it.
FileIdentity identityOf(const struct stat& st);

// Files that other machines can place (requests, pictures of the flag folder, the import) and
// face files are read by this one reader: only a regular file, opened once without following a
// symbolic link (O_NOFOLLOW) and checked on the open descriptor, so a link or a device swapped in
// after a look at the folder is refused as well; read whole, never more than maxBytes.
struct OutsideFile {
  enum class Problem { None, Link, NotRegular, TooLarge, System };
  bool ok = false;
  Problem problem = Problem::None;
  QByteArray bytes;   // empty unless ok
  FileIdentity id;    // of the file read, taken after reading (a writer that went on shows in it);
                      // of the file refused, when it is too large
  QString error;      // why not, when !ok: "symbolic link", "not a regular file", "N bytes, more
                      // than M", or the system's text
  bool isLink() const { return problem == Problem::Link; }
};
OutsideFile readOutsideFile(const QString& hostPath, qint64 maxBytes);

// The cap for pictures and face files: a 50-megapixel JPEG at the highest quality stays below it.
inline constexpr qint64 kMaxPictureFileBytes = 128LL * 1024 * 1024;

// readOutsideFile with the picture cap, for callers that only need the bytes or the reason.
bool readRegularFile(const QString& hostPath, QByteArray* data, QString* why = nullptr);

// What a folder entry is without following it: empty for a regular file, otherwise the reason
// it is no file to take ("symbolic link", "not a regular file", the system's error text).
QString notRegularFileReason(const QString& hostPath);

}  // namespace tavo
