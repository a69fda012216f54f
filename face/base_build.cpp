#include "face/base_build.h"

#include <chrono>
#include <utility>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "base/paths.h"
#include "base/regular_file.h"
#include "protect/face_file.h"

namespace tavo {
namespace {

// The picture DecryptImage would leave in "Temp\CreateArreyModel.jpg", decoded in memory: no
// deciphered model photo reaches the disk. Empty when the face file holds no usable picture.
cv::Mat enrolmentPicture(const QByteArray& faceFileBytes) {
  const QByteArray jpeg = enrolmentJpeg(faceFileBytes, kSystemKey);
  if (jpeg.isEmpty()) return {};
  try {
    return cv::imdecode(cv::Mat(1, int(jpeg.size()), CV_8UC1, const_cast<char*>(jpeg.constData())), cv::IMREAD_COLOR);
  } catch (const cv::Exception&) {
    return {};
  }
}

}  // namespace

BuildOutcome buildOutcome(const BuildJob& job, const std::unordered_map<qint64, StoredTemplate>& stored,
                          const OutcomeKey& key) {
  BuildOutcome out;
  const QString bin = job.base + QLatin1String(kFaceBinSuffix);
  // Face files go through the one reader of files from outside, as every other road reads them.
  OutsideFile file = readOutsideFile(hostPath(bin), kMaxPictureFileBytes);
  if (!file.ok) {
    out.error = QStringLiteral("Cannot open file \"%1\": %2").arg(bin, file.error).toStdString();
    return out;
  }
  const QByteArray bytes = std::move(file.bytes);
  out.digest = outcomeDigest(bytes, key);
  if (const auto s = stored.find(job.id); s != stored.end() && s->second.digest == out.digest) {
    out.pictureMade = true;
    out.fromStore = true;
    out.picture = s->second.picture();
    return out;
  }
  const cv::Mat picture = enrolmentPicture(bytes);
  out.pictureMade = !picture.empty();
  if (out.pictureMade) out.picture = templateOfPicture(picture, key.detectionThreshold, kEnrolmentScale);
  return out;
}

void PendingTemplates::add(qint64 modelId, const QByteArray& digest, const PictureTemplate& picture) {
  entries_.push_back({modelId, digest, picture});
  if (entries_.size() >= size_) flush();
}

void PendingTemplates::flush() {
  store_.putAll(entries_);
  entries_.clear();
}

BuildPipeline::BuildPipeline(const std::vector<BuildJob>& jobs, const std::unordered_map<qint64, StoredTemplate>& stored,
                             int workers, const OutcomeKey& key, int lookahead)
    : jobs_(jobs), stored_(stored), key_(key), lookahead_(std::size_t(std::max(lookahead, 1))) {
  for (int k = 0; k < workers; ++k) workers_.emplace_back([this] { work(); });
}

BuildPipeline::~BuildPipeline() {
  {
    std::lock_guard<std::mutex> g(lock_);
    stop_ = true;
  }
  changed_.notify_all();
  for (auto& w : workers_) w.join();
}

void BuildPipeline::work() {
  for (;;) {
    std::size_t i;
    {
      std::unique_lock<std::mutex> g(lock_);
      changed_.wait(g, [&] { return stop_ || next_ >= jobs_.size() || next_ < taken_ + lookahead_; });
      if (stop_ || next_ >= jobs_.size()) return;
      i = next_++;
    }
    BuildOutcome o;
    if (jobs_[i].active) {
      try {
        o = buildOutcome(jobs_[i], stored_, key_);
      } catch (const std::exception& e) {
        o = BuildOutcome{};
        o.error = e.what();
      }
    }
    {
      std::lock_guard<std::mutex> g(lock_);
      done_.emplace(i, std::move(o));
    }
    changed_.notify_all();
  }
}

BuildOutcome BuildPipeline::take(std::size_t i, const std::function<void()>& idle) {
  std::unique_lock<std::mutex> g(lock_);
  for (;;) {
    if (auto it = done_.find(i); it != done_.end()) {
      BuildOutcome o = std::move(it->second);
      done_.erase(it);
      taken_ = i + 1;
      g.unlock();
      changed_.notify_all();
      return o;
    }
    if (workers_.empty()) {
      // No workers: the message thread does the work itself.
      g.unlock();
      BuildOutcome o;
      if (jobs_[i].active) o = buildOutcome(jobs_[i], stored_, key_);
      taken_ = i + 1;
      return o;
    }
    if (idle) {
      g.unlock();
      idle();
      g.lock();
      if (done_.count(i)) continue;
    }
    changed_.wait_for(g, std::chrono::milliseconds(5));
  }
}

}  // namespace tavo
