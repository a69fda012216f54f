#pragma once
// The base's own strangers, which move its match minimum: how alike the people of this base look
// to this camera, measured on the base itself.
#include <QString>
#include <cstddef>
#include <vector>

#include "face/sdk/fsdk.h"

namespace tavo {

struct TFaceRecord;

// A fixed sample of the base's models (all of them up to kSize, else the kSize oldest by model
// id, so the order records came in does not matter), each with its best score against every
// model of the other people. A score of 0.99 or more is the same photo under two barcodes and
// says nothing of the population.
class OwnStrangerSample {
 public:
  static constexpr std::size_t kSize = 500;

  // Measures the sample of the base afresh (kSize scans of the base, on the processor's cores).
  void rebuild(const float* descriptors, const std::vector<TFaceRecord>& records);
  // The base's last record was just appended: scored against the sample (kSize scores). False
  // when it belongs in the sample itself: the caller rebuilds.
  bool appended(const float* descriptor, const TFaceRecord& record);
  // Every record of model `id` has just left the base (`descriptors`, `records`: the base now):
  // the sample models it was the best stranger of are scored again, and a sample model that left
  // makes room for the next oldest (a scan each).
  void removed(qint64 id, const float* descriptors, const std::vector<TFaceRecord>& records);

  // Mean and spread of the sample's best scores; `people`: barcodes in the base.
  fsdk::OwnStrangers statistics(std::size_t people) const;

 private:
  struct Probe {
    qint64 id = 0;
    QString person;
    fsdk::Descriptor descriptor{};
    float best = -INFINITY;  // no model of another person yet
    qint64 bestId = 0;       // the model that scores it
    // Another model's score: the best so far when it belongs to another person and is no copy.
    void consider(float score, qint64 otherId, const QString& otherPerson);
  };
  static Probe measured(std::size_t record, const float* descriptors, const std::vector<TFaceRecord>& records);
  std::vector<Probe> probes_;  // by id
};

}  // namespace tavo
