#pragma once
#include <QByteArray>
#include <QString>

namespace tavo {

// Writes data whole under a host path, or not at all: into a hidden temporary file of the same
// folder (created without following links), every write, the sync to disk and the close checked,
// then renamed over the target. A reader sees the old file or the whole new one, never a part.
// On failure the temporary file is removed, the target is left as it was, and *error holds the
// system's own text ("No space left on device", "Read-only file system").
// A new file gets the usual permissions (0666 less the umask); a replaced one keeps its own,
// less any access for other users.
// `Sync::Skipped` leaves the sync out, for working files every run makes again (a check-in's
// pictures in "Temp"): a lost one costs nothing, while each sync costs a disk flush, tens of
// milliseconds on a busy or spinning disk. Write and close are still checked.
enum class Sync { Done, Skipped };
bool writeWholeFile(const QString& hostPath, const QByteArray& data, QString* error = nullptr, Sync sync = Sync::Done);

// Whether a small file can be written in a folder (host path) right now: empty when it can,
// else the system's text of why not. Leaves nothing behind.
QString folderWriteProblem(const QString& hostFolder);

}  // namespace tavo
