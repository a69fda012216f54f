#include "face/own_strangers.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <thread>

#include "face/face_base.h"

namespace tavo {
namespace {

bool usable(const float* d) {
  for (int i = 0; i < fsdk::kDescriptorSize; ++i)
    if (!std::isfinite(d[i])) return false;
  return true;
}

}  // namespace

void OwnStrangerSample::Probe::consider(float score, qint64 otherId, const QString& otherPerson) {
  if (otherPerson != person && score < fsdk::kSamePhotoScore && score > best) best = score, bestId = otherId;
}

OwnStrangerSample::Probe OwnStrangerSample::measured(std::size_t i, const float* descriptors,
                                                     const std::vector<TFaceRecord>& records) {
  Probe p;
  p.id = records[i].id;
  p.person = records[i].fio;
  std::memcpy(p.descriptor.data(), descriptors + i * fsdk::kDescriptorSize, sizeof p.descriptor);
  std::vector<float> scores(records.size());
  fsdk::rawScores(p.descriptor.data(), descriptors, records.size(), scores.data());
  for (std::size_t j = 0; j < records.size(); ++j) p.consider(scores[j], records[j].id, records[j].fio);
  return p;
}

void OwnStrangerSample::rebuild(const float* descriptors, const std::vector<TFaceRecord>& records) {
  std::vector<std::size_t> usableRecords;
  for (std::size_t i = 0; i < records.size(); ++i)
    if (usable(descriptors + i * fsdk::kDescriptorSize)) usableRecords.push_back(i);
  const std::size_t size = std::min(usableRecords.size(), kSize);
  std::partial_sort(usableRecords.begin(), usableRecords.begin() + long(size), usableRecords.end(),
                    [&](std::size_t a, std::size_t b) { return records[a].id < records[b].id; });
  probes_.assign(size, Probe{});
  // Each probe is measured on its own: the threads only share the work, never a result. A
  // failure (out of memory) reaches the caller as it would without threads.
  const std::size_t workers = std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 4);
  std::vector<std::exception_ptr> failures(workers);
  std::vector<std::thread> threads;
  for (std::size_t w = 0; w < workers; ++w)
    threads.emplace_back([&, w] {
      try {
        for (std::size_t k = w; k < size; k += workers) probes_[k] = measured(usableRecords[k], descriptors, records);
      } catch (...) {
        failures[w] = std::current_exception();
      }
    });
  for (std::thread& t : threads) t.join();
  for (const std::exception_ptr& f : failures)
    if (f) {
      probes_.clear();
      std::rethrow_exception(f);
    }
}

bool OwnStrangerSample::appended(const float* descriptor, const TFaceRecord& record) {
  if (!usable(descriptor)) return true;  // never matches, never counts
  if (probes_.size() < kSize || record.id < probes_.back().id) return false;
  for (Probe& p : probes_) {
    float score = 0;
    fsdk::rawScores(p.descriptor.data(), descriptor, 1, &score);
    p.consider(score, record.id, record.fio);
  }
  return true;
}

void OwnStrangerSample::removed(qint64 id, const float* descriptors, const std::vector<TFaceRecord>& records) {
  const auto gone = std::find_if(probes_.begin(), probes_.end(), [id](const Probe& p) { return p.id == id; });
  if (gone != probes_.end()) {
    const qint64 newest = probes_.back().id;
    probes_.erase(gone);
    // The next oldest model of the base joins the sample.
    long next = -1;
    for (std::size_t i = 0; i < records.size(); ++i)
      if (records[i].id > newest && usable(descriptors + i * fsdk::kDescriptorSize) &&
          (next < 0 || records[i].id < records[std::size_t(next)].id))
        next = long(i);
    if (next >= 0) probes_.push_back(measured(std::size_t(next), descriptors, records));
  }
  for (Probe& p : probes_) {
    if (p.bestId != id) continue;
    const auto at = std::find_if(records.begin(), records.end(), [&p](const TFaceRecord& r) { return r.id == p.id; });
    if (at != records.end()) p = measured(std::size_t(at - records.begin()), descriptors, records);
  }
}

fsdk::OwnStrangers OwnStrangerSample::statistics(std::size_t people) const {
  fsdk::OwnStrangers own;
  own.people = people;
  double sum = 0, sum2 = 0;
  std::size_t n = 0;
  for (const Probe& p : probes_)
    if (std::isfinite(p.best)) sum += p.best, sum2 += double(p.best) * p.best, ++n;
  if (n == 0) {
    own.people = 0;  // nobody to compare with: the fixed minimum
    return own;
  }
  own.mean = sum / double(n);
  own.spread = std::sqrt(std::max(sum2 / double(n) - own.mean * own.mean, 0.0));
  return own;
}

}  // namespace tavo
