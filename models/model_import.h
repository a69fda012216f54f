#pragma once
#include <QString>
#include <chrono>

namespace tavo {

class DataStore;
class Station;

// The import folder that another program fills with encrypted face files, and the flag file
// it leaves (FileNameFlag_load_model_from_ftp).
inline constexpr char kImportFolder[] = "C:\\Korvend\\Model\\TempModel\\";
inline constexpr char FileNameFlag_load_model_from_ftp[] = "C:\\Korvend\\LoadModel.txt";

struct ImportSummary {
  int imported = 0;  // models created, files moved
  int failed = 0;    // copies that failed: their record removed, the file kept
  int skipped = 0;   // "*.jpg" entries that are no regular file (links, folders, devices): left alone
  int refused = 0;   // names that are no UTF-8 or hold a control character: renamed "*.jpg.refused"
};

// How often a long import logs how far it is.
inline constexpr std::chrono::milliseconds kImportProgressEvery{5000};

// LoadFromOffice (start-up): every regular file "*.jpg" of the import folder (the extension in
// any case, as Windows matches it; in name order; read without following links) becomes an active model whose EAN is the
// first 13 characters of its name; the file is copied unchanged to the model directory as
// "<new name>_face.bin" and then deleted. A failed copy removes the record again, keeps the
// file and writes a log line. Symbolic links and other entries that are no regular file are
// never read or copied: they stay where they are, logged (folders silently). A name that is no
// valid UTF-8 or holds a control character (a line feed would reach the barcode) is refused: the
// file is renamed to its name + ".refused" in the import folder, unread, and logged. Every
// progressEvery a log line says how many files are done of all, the rate and the time left.
// Afterwards the flag file is deleted when present. Database errors propagate.
ImportSummary LoadFromOffice(Station& station, DataStore& data,
                             std::chrono::milliseconds progressEvery = kImportProgressEvery);

}  // namespace tavo
