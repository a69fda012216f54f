#pragma once
// `tavolin-face eval`: accuracy of the engine on a labelled set of pictures, as pairs or under the
// station's identification rule.
#include <QString>
#include <QStringList>

namespace tavo::tools {

struct EvalOptions {
  QString labels;        // CSV: file, identity[, kind]; only rows of kind "real" when it has a kind
  QString cascades;      // folder of the Haar cascades (for --station)
  int threshold = 3;     // detection threshold setting
  int identify = 0;      // > 0: the first N pictures of each identity are its models (pairs
                         // also take 3, or fewer for identities of 2-3 pictures)
  bool station = false;  // pictures go through the station's own face cut first
  bool pairs = false;    // print every pair
  double minimum = 75;   // the check-in minimum percentage, for --identify
  QStringList more;      // further labelled sets (each measured on its own)
  bool calibrate = false;  // fit the scale on all the sets, and leaving each out in turn
  int shrink = 10;       // for calibrate: people the prior weighs as
  QString write;         // for calibrate: the calibration file to write
};

// Runs the evaluation and prints its tables; returns the exit code.
int runEval(const EvalOptions& options);

// Splits one CSV line (quotes allowed).
QStringList csvFields(const QString& line);

}  // namespace tavo::tools
