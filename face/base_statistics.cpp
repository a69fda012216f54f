#include "face/base_statistics.h"

#include <cmath>

namespace tavo {
namespace {
constexpr double kFixedPoint = 1073741824.0;  // 2^30; descriptor values lie in -1..1
}

bool BaseStatistics::usable(const float* d) {
  if (!d) return false;
  for (int i = 0; i < fsdk::kDescriptorSize; ++i)
    if (!std::isfinite(d[i]) || std::fabs(d[i]) > 1.f) return false;
  return true;
}

void BaseStatistics::add(const float* d, const QString& person) {
  if (!usable(d)) return;
  for (int i = 0; i < fsdk::kDescriptorSize; ++i) sum_[i] += std::llround(double(d[i]) * kFixedPoint);
  ++records_;
  ++people_[person];
  stale_ = true;
}

void BaseStatistics::remove(const float* d, const QString& person) {
  if (!usable(d) || records_ == 0) return;
  const auto who = people_.find(person);
  if (who == people_.end()) return;  // never added
  for (int i = 0; i < fsdk::kDescriptorSize; ++i) sum_[i] -= std::llround(double(d[i]) * kFixedPoint);
  --records_;
  if (--who->second == 0) people_.erase(who);
  stale_ = true;
}

void BaseStatistics::clear() {
  sum_.fill(0);
  records_ = 0;
  people_.clear();
  stale_ = true;
}

const fsdk::Centre& BaseStatistics::centre() const {
  if (!stale_) return centre_;
  if (records_ == 0) {
    centre_ = fsdk::priorCentre();
  } else {
    double mean[fsdk::kDescriptorSize];
    for (int i = 0; i < fsdk::kDescriptorSize; ++i) mean[i] = double(sum_[i]) / kFixedPoint / double(records_);
    centre_ = fsdk::centreOf(mean, people_.size());
  }
  stale_ = false;
  return centre_;
}

}  // namespace tavo
