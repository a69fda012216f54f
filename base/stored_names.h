#pragma once
#include <QString>

namespace tavo {

// A file name read back from the database (a model's or a work row's FileName) is joined to its
// folder only when it stays inside it: relative, without a drive, "..", or control characters.
bool isSafeStoredName(const QString& name);

// folder + "\" + name for a safe stored name; throws std::runtime_error naming the value otherwise.
QString storedFilePath(const QString& folder, const QString& name);

}  // namespace tavo
