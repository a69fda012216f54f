#pragma once
// Measuring match scales on labelled sets: the station's own (face/sdk: the raw cosine, the
// minimum moved by the base's own strangers), the candidates it was chosen among, their
// calibration on several sets at once and the estimate on a set left out of the fit.
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

#include "face/sdk/fsdk.h"

namespace tavo::tools {

struct Row {
  QString file, identity;
  std::optional<fsdk::Descriptor> descriptor;
};

// One labelled set with the pairwise raw cosines of its descriptors.
struct LabelledSet {
  QString name;
  std::vector<Row> rows;
  int identify = 3;            // models per identity for the station's rule
  std::vector<float> cosine;   // rows x rows, NaN where a descriptor is missing
  std::vector<double> mean;    // mean descriptor
  std::size_t people = 0;      // identities with a descriptor

  float cos(std::size_t i, std::size_t j) const { return cosine[i * rows.size() + j]; }
};

// Pictures under two identities that are the same photo (raw cosine >= 0.99): printed and left
// out of the set. Fills cosine, mean and people.
void prepare(LabelledSet& set, bool quiet = false);

// A scale: how two descriptors are scored, and the scores of the similarity knots.
struct Scale {
  enum Kind { Raw, Centred, Cohort, Combined, OwnStrangers };
  Kind kind = Centred;
  fsdk::Centre prior;       // Centred, Combined
  int shrink = 10;          // people
  float floor = -1;         // Combined: least raw cosine
  float knot90 = 0.75f, knot75 = 0.51f, knot70 = 0.46f, knot50 = 0.30f, knot0 = 0;
  float far[4] = {0.28f, 0.47f, 0.51f, 0.53f};  // scores at 1e-1, 1e-2, 1e-3, 1e-4
  // OwnStrangers: the knots above are the fixed table (knot75 the one a base of unknown people
  // gets); a base moves them to its own strangers' centre + ownMargin spreads (the best scores of
  // its models against the other people's: mean and standard deviation, or as $TAVO_OWN_STAT
  // says), shrunk toward knot75 for few people (`shrink`), between ownFloor and knot90.
  float ownFloor = 0.47f, ownMargin = 0.f;
  double ownRate = 0.01;

  float similarity(float score) const;
  // The scale a station with this base uses (itself but for OwnStrangers). `model`: the base.
  Scale forBase(const LabelledSet& set, const std::vector<char>& model) const;
  static Scale shipped();  // the engine's own
  static const char* name(Kind kind);
};

// Fits a scale of the given kind on the sets (each weighing the same). The check-in minimum
// (0.75) goes where the strictest set lets through at most one different-person pair in a
// thousand and at most kStrangerRate of the strangers showing their best match's barcode (the
// loosest stranger goal, 1 %, on every set).
constexpr double kStrangerRate = 0.01;
Scale fit(Scale::Kind kind, const std::vector<const LabelledSet*>& sets, int shrink);

// Figures of one set under one scale.
struct SetFigures {
  int same = 0, samePass = 0, different = 0, differentPass = 0;
  double sameAtOwnFmr = 0;  // same-person pass at the set's own FMR 1e-3
  int genuine = 0, confirmed = 0, impostorAccepted = 0, strangers = 0, strangerAccepted = 0;
  int genuineCheckIns = 0, confirmedCheckIns = 0, impostorCheckInsAccepted = 0, strangerCheckIns = 0,
      strangerCheckInsAccepted = 0;
  int models = 0;
  float bestStranger = 0, worstGenuine = 1, worstGenuineCheckIn = 1;  // similarities
  std::vector<float> strangerScores;  // the best score of each stranger attempt
};
SetFigures measure(const LabelledSet& set, const Scale& scale, double minimum, bool printPairs = false);

// The tables of `eval`: pairs, or the station's rule with --identify.
void printPairs(const SetFigures& f, const LabelledSet& set, const Scale& scale);
void printIdentification(const SetFigures& f, const LabelledSet& set, double minimum);

// Calibration over several sets: each candidate fitted on all and, leaving one set out in turn,
// fitted on the others and measured on the one left out. `write`: the shipped calibration file.
void calibrate(const std::vector<LabelledSet>& sets, double minimum, int shrink, const QString& write);

}  // namespace tavo::tools
