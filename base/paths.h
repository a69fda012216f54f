#pragma once
#include <QString>

namespace tavo {

// Folder under which drive-letter paths live: $TAVO_DRIVES, or /mnt (the way WSL mounts drives).
QString drivesRoot();

// Turns a path as the station writes it ("C:\Face\Monitor", "Temp\model_full.jpg" appended to the
// program directory, "2019\05\12\name") into the path to touch on disk: "X:\a\b" becomes
// drivesRoot()/x/a/b, every "\" becomes "/". Paths are built in the station's own form and pass
// through here only when the disk is touched.
QString hostPath(const QString& path);

// dir + "\" + name: how the station joins a folder setting (held without a trailing separator)
// and a file name.
QString joinPath(const QString& dir, const QString& name);

// Small file helpers on station paths (converted with hostPath).
bool fileExists(const QString& path);
bool removeFile(const QString& path);  // true when the file is gone afterwards

// Writes data to a temporary file in the target's folder and renames it over the target, so that
// a reader never sees half a file. Returns false (and leaves no temporary file, and the target as
// it was) on failure, with the system's text of why (writeWholeFile).
// The file is never open to other users (see file_modes.h).
bool writeFileAtomically(const QString& path, const QByteArray& data, QString* error = nullptr);
// The same for a working file that every run makes again (Sync::Skipped in atomic_file.h).
bool writeWorkingFile(const QString& path, const QByteArray& data, QString* error = nullptr);

}  // namespace tavo
