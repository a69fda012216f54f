#include "face/template_store.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cmath>
#include <cstring>

#include "data/database.h"

namespace tavo {
namespace {

template <class T>
QByteArray podBytes(const T& v) {
  return QByteArray(reinterpret_cast<const char*>(&v), qsizetype(sizeof(T)));
}

template <class T>
bool podFrom(const QVariant& value, T& out) {
  const QByteArray b = value.toByteArray();
  if (b.size() != qsizetype(sizeof(T))) return false;
  std::memcpy(&out, b.constData(), sizeof(T));
  return true;
}

}  // namespace

QByteArray networksDigest(const QString& hostFolder) {
  const QFileInfoList files = QDir(hostFolder).entryInfoList(QDir::Files | QDir::Readable, QDir::Name);
  if (files.isEmpty()) return {};
  QCryptographicHash hash(QCryptographicHash::Sha256);
  for (const QFileInfo& info : files) {
    QFile f(info.absoluteFilePath());
    if (!f.open(QIODevice::ReadOnly)) return {};
    hash.addData(info.fileName().toUtf8());
    hash.addData(QByteArray::number(f.size()));
    if (!hash.addData(&f)) return {};
  }
  return hash.result();
}

QByteArray outcomeDigest(const QByteArray& faceFileBytes, const OutcomeKey& key) {
  QCryptographicHash hash(QCryptographicHash::Sha256);
  hash.addData(faceFileBytes);
  hash.addData(QByteArray::number(key.detectionThreshold));
  hash.addData(key.networks);
  return hash.result();
}

bool isTransientFailure(int code) {
  switch (code) {
    case FSDKE_FAILED:
    case FSDKE_NOT_INITIALIZED:
    case FSDKE_INVALID_HANDLE:
    case FSDKE_NETWORKS_MISSING:
    case FSDKE_OUT_OF_MEMORY: return true;
    default: return false;
  }
}

bool hasTransientFailure(const PictureTemplate& p) {
  // Steps after a failed one are not tried: their codes say nothing.
  if (isTransientFailure(p.loadCode)) return true;
  if (!p.loaded()) return false;
  if (isTransientFailure(p.faceCode)) return true;
  if (p.faceCode != FSDKE_OK) return false;
  if (isTransientFailure(p.eyesCode)) return true;
  return p.eyesCode == FSDKE_OK && isTransientFailure(p.templateCode);
}

TemplateStore::TemplateStore(Database& db, std::function<void(const QString&)> log)
    : db_(db), log_(std::move(log)) {}

template <class F>
void TemplateStore::guarded(const char* what, F f) {
  if (!enabled_ || !db_.isOpen()) return;
  try {
    f();
  } catch (const std::exception& e) {
    enabled_ = false;
    if (log_) log_(QStringLiteral("  FaceTemplate %1: %2").arg(QLatin1String(what), QString::fromUtf8(e.what())));
  }
}

QByteArray TemplateStore::encodeDescriptor(const FSDK_FaceTemplate& t) {
  const auto d = fsdk::descriptorOf(t);
  if (!d) return {};
  return QByteArray(reinterpret_cast<const char*>(d->data()), qsizetype(d->size() * sizeof(float)));
}

std::optional<fsdk::Descriptor> TemplateStore::decodeDescriptor(const QByteArray& blob) {
  fsdk::Descriptor d{};
  if (blob.size() != qsizetype(d.size() * sizeof(float))) return std::nullopt;
  std::memcpy(d.data(), blob.constData(), d.size() * sizeof(float));
  for (float v : d)
    if (!std::isfinite(v)) return std::nullopt;
  // The template made of it must read back, or it is no descriptor of this engine.
  if (!fsdk::descriptorOf(fsdk::templateOf(d))) return std::nullopt;
  return d;
}

PictureTemplate StoredTemplate::picture() const {
  PictureTemplate p;
  p.loadCode = FSDKE_OK;
  p.faceCode = faceCode;
  p.eyesCode = eyesCode;
  p.templateCode = templateCode;
  p.FacePosition = FacePosition;
  p.FacialFeatures = FacialFeatures;
  if (p.complete()) p.Template = fsdk::templateOf(descriptor);
  return p;
}

std::unordered_map<qint64, StoredTemplate> TemplateStore::loadAll() {
  std::unordered_map<qint64, StoredTemplate> out;
  guarded("load", [&] {
    const Rows r = db_.query(
        QStringLiteral("SELECT ModelId, Digest, FaceCode, EyesCode, TemplateCode, Position, Features, Descriptor "
                       "FROM FaceTemplate WHERE EngineVersion = ? AND TemplateVersion = ?"),
        {qlonglong(fsdk::kEngineVersion), qlonglong(fsdk::kTemplateVersion)});
    out.reserve(std::size_t(r.size()));
    for (const QVariantList& row : r.rows) {
      StoredTemplate s;
      s.digest = row[1].toByteArray();
      s.faceCode = int(row[2].toLongLong());
      s.eyesCode = int(row[3].toLongLong());
      s.templateCode = int(row[4].toLongLong());
      if (s.digest.size() != 32) continue;
      const bool faceFound = s.faceCode == FSDKE_OK;
      if (faceFound && (!podFrom(row[5], s.FacePosition) || !podFrom(row[6], s.FacialFeatures))) continue;
      if (faceFound && s.eyesCode == FSDKE_OK && s.templateCode == FSDKE_OK) {
        const auto d = decodeDescriptor(row[7].toByteArray());
        if (!d) continue;  // a damaged row: the picture is worked out again and the row replaced
        s.descriptor = *d;
      }
      out.emplace(row[0].toLongLong(), std::move(s));
    }
  });
  return out;
}

void TemplateStore::put(qint64 modelId, const QByteArray& digest, const PictureTemplate& p) {
  if (!p.loaded() || hasTransientFailure(p)) return;
  guarded("put", [&] {
    const QVariant none;
    db_.exec(QStringLiteral("INSERT OR REPLACE INTO FaceTemplate (ModelId, Digest, EngineVersion, TemplateVersion, "
                            "FaceCode, EyesCode, TemplateCode, Position, Features, Descriptor) "
                            "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
             {modelId, digest, qlonglong(fsdk::kEngineVersion), qlonglong(fsdk::kTemplateVersion), p.faceCode,
              p.eyesCode, p.templateCode, p.faceFound() ? QVariant(podBytes(p.FacePosition)) : none,
              p.faceFound() ? QVariant(podBytes(p.FacialFeatures)) : none,
              p.complete() ? QVariant(encodeDescriptor(p.Template)) : none});
  });
}

void TemplateStore::putAll(const std::vector<Entry>& entries) {
  if (entries.empty()) return;
  guarded("put", [&] {
    Database::Transaction tx(db_);
    for (const Entry& e : entries) put(e.modelId, e.digest, e.picture);
    tx.commit();
  });
}

void TemplateStore::forget(qint64 modelId) {
  guarded("forget", [&] { db_.exec(QStringLiteral("DELETE FROM FaceTemplate WHERE ModelId = ?"), {modelId}); });
}

void TemplateStore::prune() {
  guarded("prune", [&] {
    db_.exec(QStringLiteral("DELETE FROM FaceTemplate WHERE ModelId NOT IN (SELECT id FROM Model) "
                            "OR EngineVersion <> ? OR TemplateVersion <> ?"),
             {qlonglong(fsdk::kEngineVersion), qlonglong(fsdk::kTemplateVersion)});
  });
}

}  // namespace tavo
