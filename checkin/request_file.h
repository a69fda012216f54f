#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

#include "base/regular_file.h"

namespace tavo {


// What stands under a name of the flag directory, the name itself looked at (a symbolic link is
// not followed). The folder is shared with other machines: only a regular file is a request.
enum class EntryKind { Missing, Regular, Link, Other };
struct FlagEntry {
  EntryKind kind = EntryKind::Missing;
  FileIdentity id;  // of the name itself (of the link, for a link)
};
FlagEntry inspectFlagEntry(const QString& stationPath);

// The identity of the regular file at a station path; empty when there is none (missing, a link,
// a folder...).
std::optional<FileIdentity> fileIdentity(const QString& stationPath);

// A request file read whole by the reader of outside files (app/regular_file.h); a request
// larger than kMaxRequestBytes is not read.
inline constexpr qint64 kMaxRequestBytes = 64 * 1024;
struct RequestBytes {
  bool ok = false;
  bool isLink = false;   // the name is a symbolic link: nothing was read
  QByteArray bytes;
  FileIdentity id;       // of the file read
  QString error;         // why not, when !ok (the system's text)
};
RequestBytes readRequestBytes(const QString& stationPath);

// Reads a request file whole and splits it into lines (BOM rules, else code page 1251; untrimmed).
// Throws std::runtime_error when it cannot be read (a link counts as unreadable).
QStringList readRequestFile(const QString& stationPath);

// Whether a request's text is complete: at least minLines lines and a final line feed (a final
// CR alone may still get its LF). UTF-16 files are judged by whole characters.
bool requestComplete(const QByteArray& bytes, int minLines);

// Why a barcode cannot name an answer file "out" + barcode + ".txt" in the flag directory:
// a path separator, "..", a control character, or more than 64 characters. Empty when it can.
QString barcodeProblem(const QString& barcode);
inline constexpr int kMaxBarcodeLength = 64;

}  // namespace tavo
