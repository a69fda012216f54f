#pragma once
// tavolin-face spoof LABELS.csv: liveness scores of labelled pictures and the error rates of the
// shipped threshold.
#include <QString>
#include <QStringList>

namespace tavo {

// args: the whole command line after the program name: "spoof", the CSV, and the options
// --nets DIR, --threshold T, --attempts N. Returns the exit code.
int spoofCommand(const QString& netsFolder, const QStringList& args);

}  // namespace tavo
