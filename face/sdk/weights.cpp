#include "face/sdk/weights.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstring>
#include <stdexcept>

namespace tavo::fsdk::detail {
namespace {

[[noreturn]] void fail(const QString& text) { throw std::runtime_error(text.toStdString()); }

QByteArray readWhole(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) fail(QStringLiteral("cannot read network file %1").arg(path));
  return f.readAll();
}

std::size_t bytesPerValue(const QString& dtype) {
  if (dtype == "uint8") return 1;
  if (dtype == "uint16") return 2;
  if (dtype == "float32" || dtype == "int32") return 4;
  return 0;
}

}  // namespace

QByteArray NetFiles::read(const QString& name) {
  std::lock_guard<std::mutex> guard(lock_);
  const auto kept = kept_.find(name);
  if (kept != kept_.end()) return kept->second;
  return kept_[name] = readWhole(dir_ + '/' + name);
}

TensorMap loadWeights(const QString& dir, const QString& model) {
  NetFiles files(dir);
  return loadWeights(files, model);
}

TensorMap loadWeights(NetFiles& files, const QString& model) {
  const QString manifestPath = files.dir() + '/' + model + "-weights_manifest.json";
  QJsonParseError err{};
  const QJsonDocument doc = QJsonDocument::fromJson(files.read(model + "-weights_manifest.json"), &err);
  if (err.error != QJsonParseError::NoError || !doc.isArray())
    fail(QStringLiteral("bad network manifest %1").arg(manifestPath));

  TensorMap tensors;
  for (const QJsonValue& groupValue : doc.array()) {
    const QJsonObject group = groupValue.toObject();
    QByteArray data;
    for (const QJsonValue& p : group.value("paths").toArray()) data += files.read(p.toString());
    std::size_t offset = 0;
    for (const QJsonValue& wv : group.value("weights").toArray()) {
      const QJsonObject w = wv.toObject();
      Tensor t;
      std::size_t count = 1;
      for (const QJsonValue& d : w.value("shape").toArray()) {
        t.shape.push_back(d.toInt());
        count *= static_cast<std::size_t>(d.toInt());
      }
      const QString dtype = w.value("dtype").toString();
      const QJsonObject q = w.value("quantization").toObject();
      const bool quantised = !q.isEmpty();
      const std::size_t width = bytesPerValue(quantised ? q.value("dtype").toString() : dtype);
      if (width == 0) fail(QStringLiteral("unsupported tensor type in %1").arg(manifestPath));
      if (offset + count * width > static_cast<std::size_t>(data.size()))
        fail(QStringLiteral("network file of %1 is too short").arg(model));
      const auto* bytes = reinterpret_cast<const unsigned char*>(data.constData()) + offset;
      t.values.resize(count);
      if (quantised) {
        const double scale = q.value("scale").toDouble();
        const double min = q.value("min").toDouble();
        for (std::size_t i = 0; i < count; ++i) {
          const double raw = width == 1 ? bytes[i] : (bytes[2 * i] | (bytes[2 * i + 1] << 8));
          t.values[i] = static_cast<float>(min + scale * raw);
        }
      } else if (dtype == "float32") {
        std::memcpy(t.values.data(), bytes, count * 4);
      } else {
        for (std::size_t i = 0; i < count; ++i) {
          int32_t v;
          std::memcpy(&v, bytes + 4 * i, 4);
          t.values[i] = static_cast<float>(v);
        }
      }
      offset += count * width;
      tensors[w.value("name").toString().toStdString()] = std::move(t);
    }
    if (offset != static_cast<std::size_t>(data.size()))
      fail(QStringLiteral("network file of %1 has %2 bytes, the manifest describes %3")
               .arg(model)
               .arg(data.size())
               .arg(offset));
  }
  return tensors;
}

}  // namespace tavo::fsdk::detail
