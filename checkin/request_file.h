#pragma once
#include <QString>
#include <QStringList>
#include <optional>

namespace tavo {

// What tells one version of a request file from another: its size and modification time (ns).
struct FileIdentity {
  qint64 size = -1;
  qint64 mtimeNs = 0;
  qint64 inode = 0;
  bool operator==(const FileIdentity&) const = default;
};

// The identity of the file at a station path; empty when it does not exist (or is no file).
std::optional<FileIdentity> fileIdentity(const QString& stationPath);

// Reads a request file whole and splits it into lines (BOM rules, else code page 1251; untrimmed).
// Throws std::runtime_error when it cannot be read.
QStringList readRequestFile(const QString& stationPath);

// Why a barcode cannot name an answer file "out" + barcode + ".txt" in the flag directory:
// a path separator, "..", a control character, or more than 64 characters. Empty when it can.
QString barcodeProblem(const QString& barcode);
inline constexpr int kMaxBarcodeLength = 64;

}  // namespace tavo
