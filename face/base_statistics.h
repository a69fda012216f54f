#pragma once
// What the match scale needs to know of the template base's population: the sum of its
// descriptors and how many people they belong to. It follows every record that enters or leaves
// the base, so a model added, removed or deactivated moves the scale without a rebuild.
#include <QString>
#include <array>
#include <cstddef>
#include <cstdint>
#include <map>

#include "face/sdk/fsdk.h"

namespace tavo {

class BaseStatistics {
 public:
  // A record enters or leaves the base (a NaN descriptor, an unreadable template, counts for
  // nothing). `person` is the model's barcode.
  void add(const float* descriptor, const QString& person);
  void remove(const float* descriptor, const QString& person);
  void clear();

  std::size_t records() const { return records_; }
  std::size_t people() const { return people_.size(); }
  // The centre scores are measured from: the base's mean shrunk toward the prior centre (the
  // prior alone for an empty base).
  const fsdk::Centre& centre() const;

 private:
  static bool usable(const float* descriptor);

  // Fixed point (2^-30): sums of integers do not depend on the order records came and went in,
  // so the statistics equal those of a build of the same records, bit for bit.
  std::array<int64_t, fsdk::kDescriptorSize> sum_{};
  std::size_t records_ = 0;
  std::map<QString, int> people_;  // records per barcode
  mutable bool stale_ = true;
  mutable fsdk::Centre centre_;
};

}  // namespace tavo
