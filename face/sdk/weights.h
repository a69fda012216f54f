#pragma once
// Reading tfjs weight files: a JSON manifest naming the tensors in the order they are packed, and
// one or more binary files holding them back to back.
#include <QString>

#include <map>
#include <string>
#include <vector>

namespace tavo::fsdk::detail {

struct Tensor {
  std::vector<int> shape;
  std::vector<float> values;
  std::size_t count() const { return values.size(); }
};

using TensorMap = std::map<std::string, Tensor>;

// Reads dir/<model>-weights_manifest.json and its binary files. Quantised tensors are expanded
// (value = min + scale * byte). Throws std::runtime_error on a missing file, a bad manifest or a
// binary of the wrong size.
TensorMap loadWeights(const QString& dir, const QString& model);

}  // namespace tavo::fsdk::detail
