#pragma once
#include <QByteArray>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "face/face_base.h"
#include "face/template_store.h"

namespace tavo {

// One row of the model table as the build found it.
struct BuildJob {
  qint64 id = 0;
  int row = 0;
  bool active = false;
  QString ean;
  QString base;  // model directory + FileName (station path, no suffix)
};

// What the per-picture work made of a row's face file.
struct BuildOutcome {
  std::string error;         // the face file could not be read: the build ends there
  bool pictureMade = false;  // the face file gave a picture (false: "Error loading file")
  bool fromStore = false;    // taken from the template store, no picture decoded
  QByteArray digest;
  PictureTemplate picture;
};

// The per-picture work of one face file, a pure function of its bytes and the key: read, digest,
// then the stored outcome when the digest and engine match, else decipher, decode and re-encode in
// memory (the picture DecryptImage would write) and templateOfPicture on it.
BuildOutcome buildOutcome(const BuildJob& job, const std::unordered_map<qint64, StoredTemplate>& stored,
                          const OutcomeKey& key);

// Outcomes worked out afresh on their way into the template store, written in batches of `size`,
// each in one transaction. What is left goes at flush() or when the object ends, also when an
// error ends the build.
class PendingTemplates {
 public:
  explicit PendingTemplates(TemplateStore& store, std::size_t size = 64) : store_(store), size_(size) {}
  ~PendingTemplates() { flush(); }
  PendingTemplates(const PendingTemplates&) = delete;
  PendingTemplates& operator=(const PendingTemplates&) = delete;

  void add(qint64 modelId, const QByteArray& digest, const PictureTemplate& picture);
  void flush();

 private:
  TemplateStore& store_;
  const std::size_t size_;
  std::vector<TemplateStore::Entry> entries_;
};

// Worker threads working the rows ahead of the message thread, which takes the outcomes in row
// order (with 0 workers the message thread does the work in take()). At most `lookahead` outcomes
// wait unclaimed, so memory stays flat on any base size.
class BuildPipeline {
 public:
  BuildPipeline(const std::vector<BuildJob>& jobs, const std::unordered_map<qint64, StoredTemplate>& stored,
                int workers, const OutcomeKey& key, int lookahead = 32);
  ~BuildPipeline();  // stops the workers (outcomes not taken are dropped)
  BuildPipeline(const BuildPipeline&) = delete;
  BuildPipeline& operator=(const BuildPipeline&) = delete;

  // The outcome of job i (taken in order 0, 1, ...); `idle` runs while it is not ready yet.
  BuildOutcome take(std::size_t i, const std::function<void()>& idle);

 private:
  void work();

  const std::vector<BuildJob>& jobs_;
  const std::unordered_map<qint64, StoredTemplate>& stored_;
  const OutcomeKey key_;
  const std::size_t lookahead_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::size_t next_ = 0;   // next job a worker claims
  std::size_t taken_ = 0;  // jobs the message thread has taken
  std::unordered_map<std::size_t, BuildOutcome> done_;
  bool stop_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace tavo
