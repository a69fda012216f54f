#pragma once
// Reading tfjs weight files: a JSON manifest naming the tensors in the order they are packed, and
// one or more binary files holding them back to back.
#include <QByteArray>
#include <QString>

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace tavo::fsdk::detail {

struct Tensor {
  std::vector<int> shape;
  std::vector<float> values;
  std::size_t count() const { return values.size(); }
};

using TensorMap = std::map<std::string, Tensor>;

// The network files of one folder, each read once and then kept: a copy of a net built later
// (for a second thread) does not depend on the folder still holding the same files.
class NetFiles {
 public:
  explicit NetFiles(QString dir) : dir_(std::move(dir)) {}
  const QString& dir() const { return dir_; }
  // The file's bytes. Throws std::runtime_error when it cannot be read.
  QByteArray read(const QString& name);

 private:
  QString dir_;
  std::mutex lock_;
  std::map<QString, QByteArray> kept_;
};

// Reads <model>-weights_manifest.json and its binary files. Quantised tensors are expanded
// (value = min + scale * byte). Throws std::runtime_error on a missing file, a bad manifest or a
// binary of the wrong size.
TensorMap loadWeights(NetFiles& files, const QString& model);
TensorMap loadWeights(const QString& dir, const QString& model);

}  // namespace tavo::fsdk::detail
