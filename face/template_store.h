#pragma once
#include <QByteArray>
#include <QString>
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

#include "face/face_base.h"

namespace tavo {

class Database;

// What besides the face file decides its outcome: the detection threshold (Size) and the network
// files the engine was loaded from.
struct OutcomeKey {
  int detectionThreshold = 3;
  QByteArray networks;  // networksDigest() of the engine's folder
};

// Digest (SHA-256) of every regular file in the networks folder (host path), by name, size and
// content: networks replaced in place give another digest. Empty when the folder cannot be read.
QByteArray networksDigest(const QString& hostFolder);

// Digest (SHA-256) of a face file's bytes and the key: what ties a stored outcome to its picture,
// its threshold and its networks.
QByteArray outcomeDigest(const QByteArray& faceFileBytes, const OutcomeKey& key);

// A code that says the engine failed (memory, a failed pass, networks not loaded), not what the
// picture holds: such an outcome is never stored, the next build tries the picture again.
bool isTransientFailure(int code);
// Whether a step that was tried (load, face, eyes, template) failed so.
bool hasTransientFailure(const PictureTemplate& picture);

// Stored outcome of one model's face file: what templateOfPicture made of it. Only pictures that
// loaded and met no transient failure are stored; the descriptor is there when the template was
// obtained.
struct StoredTemplate {
  QByteArray digest;
  int faceCode = FSDKE_FAILED, eyesCode = FSDKE_FAILED, templateCode = FSDKE_FAILED;
  TFacePosition FacePosition{};
  FSDK_Features FacialFeatures{};
  fsdk::Descriptor descriptor{};  // the template's meaningful bytes (when complete)

  // The outcome as templateOfPicture gave it (the template rebuilt from the descriptor).
  PictureTemplate picture() const;
};

// The template store: table FaceTemplate of the station's database, one row per model, stamped
// with fsdk::kEngineVersion and fsdk::kTemplateVersion and keyed by outcomeDigest. A row of another
// version, with a damaged blob or another digest (face file, threshold, networks) is never used. Database errors never reach the caller: a store that
// fails is switched off for the rest of the build (logged once) and the base is built without it.
class TemplateStore {
 public:
  explicit TemplateStore(Database& db, std::function<void(const QString&)> log = {});

  // Every usable row of this engine, by model id (read once at the start of a build).
  std::unordered_map<qint64, StoredTemplate> loadAll();
  // Stores (replaces) the outcome of a model's face file; an outcome with a transient failure
  // is not stored.
  void put(qint64 modelId, const QByteArray& digest, const PictureTemplate& picture);
  // Stores (replaces) outcomes of several models in one transaction.
  struct Entry {
    qint64 modelId;
    QByteArray digest;
    PictureTemplate picture;
  };
  void putAll(const std::vector<Entry>& entries);
  // Drops a model's row.
  void forget(qint64 modelId);
  // Drops rows of models that no longer exist and of other engine versions.
  void prune();

  bool enabled() const { return enabled_; }

  // Row blobs, exposed for the tests that damage a row.
  static QByteArray encodeDescriptor(const FSDK_FaceTemplate& t);
  static std::optional<fsdk::Descriptor> decodeDescriptor(const QByteArray& blob);

 private:
  template <class F>
  void guarded(const char* what, F f);

  Database& db_;
  std::function<void(const QString&)> log_;
  bool enabled_ = true;
};

}  // namespace tavo
