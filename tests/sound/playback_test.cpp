#include <gtest/gtest.h>
#include <sndfile.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sound/snd_unit.h"
#include "tests/support/test_env.h"

namespace tavo {
namespace {

using namespace std::chrono_literals;

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 5000ms) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

// An output device that records what is played. Writes can be held back to stand for a device
// that is busy playing the block before.
class FakeOutput : public AudioOutput {
 public:
  struct Played {
    int rate = 0, channels = 0, queueFrames = 0;
    std::vector<std::int16_t> samples;
    bool closed = false;
  };

  bool hasDevice() override {
    std::lock_guard lock(m_);
    ++probes_;
    return device_;
  }
  std::unique_ptr<AudioStream> open(int rate, int channels, int queueFrames) override;

  void setDevice(bool on) { std::lock_guard lock(m_); device_ = on; }
  void setOpenWorks(bool on) { std::lock_guard lock(m_); openWorks_ = on; }
  void hold() { std::lock_guard lock(m_); held_ = true; }
  void release() {
    { std::lock_guard lock(m_); held_ = false; }
    cv_.notify_all();
  }
  int probes() { std::lock_guard lock(m_); return probes_; }
  int opens() { std::lock_guard lock(m_); return opens_; }
  int writes() { std::lock_guard lock(m_); return writes_; }
  std::vector<Played> played() { std::lock_guard lock(m_); return played_; }
  std::size_t samplesIn(std::size_t stream) {
    std::lock_guard lock(m_);
    return stream < played_.size() ? played_[stream].samples.size() : 0;
  }

 private:
  friend class FakeStream;
  std::mutex m_;
  std::condition_variable cv_;
  bool device_ = true, openWorks_ = true, held_ = false;
  int probes_ = 0, opens_ = 0, writes_ = 0;
  std::vector<Played> played_;
};

class FakeStream : public AudioStream {
 public:
  FakeStream(FakeOutput* out, std::size_t index) : out_(out), index_(index) {}
  ~FakeStream() override {
    std::lock_guard lock(out_->m_);
    out_->played_[index_].closed = true;
  }
  bool write(const std::int16_t* frames, int frameCount) override {
    std::unique_lock lock(out_->m_);
    ++out_->writes_;
    out_->cv_.wait(lock, [&] { return !out_->held_; });
    auto& samples = out_->played_[index_].samples;
    const std::size_t n = std::size_t(frameCount) * out_->played_[index_].channels;
    // Keep the first blocks; past them pace the writer instead of filling memory.
    if (samples.size() < 8 * 2 * std::size_t(kBlockFrames)) {
      samples.insert(samples.end(), frames, frames + n);
    } else {
      lock.unlock();
      std::this_thread::sleep_for(1ms);
    }
    return true;
  }

 private:
  FakeOutput* out_;
  std::size_t index_;
};

std::unique_ptr<AudioStream> FakeOutput::open(int rate, int channels, int queueFrames) {
  std::lock_guard lock(m_);
  ++opens_;
  if (!openWorks_) return nullptr;
  played_.push_back(Played{rate, channels, queueFrames, {}, false});
  return std::make_unique<FakeStream>(this, played_.size() - 1);
}

std::vector<std::int16_t> toneStream(int blocks) {
  ToneState state = startTone();
  std::vector<std::int16_t> left(kBlockFrames), right(kBlockFrames), out;
  std::vector<std::int16_t> block(2 * kBlockFrames);
  for (int b = 0; b < blocks; ++b) {
    nextToneBlock(state, left.data(), right.data(), block.data());
    out.insert(out.end(), block.begin(), block.end());
  }
  return out;
}

class SoundPlayback : public ::testing::Test {
 protected:
  void SetUp() override { setAudioOutput(fake); }
  void TearDown() override {
    fake->release();
    shutdownSound();
    EXPECT_EQ(liveToneThreads(), 0);
    EXPECT_EQ(liveSoundThreads(), 0);
    setAudioOutput(nullptr);
  }
  std::shared_ptr<FakeOutput> fake = std::make_shared<FakeOutput>();
};

TEST_F(SoundPlayback, ToneThreadPlaysTheGeneratedBlocksAndReleasesTheDevice) {
  StartSound(true);
  EXPECT_EQ(liveToneThreads(), 1);
  ASSERT_TRUE(waitUntil([&] { return fake->samplesIn(0) >= 3 * 2 * std::size_t(kBlockFrames); }));
  StopSound(true);
  ASSERT_TRUE(waitSoundIdle(5000));
  EXPECT_EQ(liveToneThreads(), 0);

  const auto played = fake->played();
  ASSERT_EQ(played.size(), 1u);
  EXPECT_EQ(played[0].rate, 44100);
  EXPECT_EQ(played[0].channels, 2);
  EXPECT_EQ(played[0].queueFrames, kBlockFrames);  // one block queued ahead
  EXPECT_TRUE(played[0].closed);
  const auto expected = toneStream(3);
  ASSERT_GE(played[0].samples.size(), expected.size());
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), played[0].samples.begin()))
      << "the blocks are not the gapless 1000 Hz tone";
}

TEST_F(SoundPlayback, StopSoundReturnsWhileTheDeviceIsStillBusy) {
  fake->hold();  // the device is playing the block before: writes wait
  StartSound(true);
  ASSERT_TRUE(waitUntil([&] { return fake->writes() >= 1; }));
  StopSound(true);
  // StopSound did not wait for the thread: it is still inside its write.
  EXPECT_EQ(liveToneThreads(), 1);
  fake->release();
  ASSERT_TRUE(waitSoundIdle(5000));
  EXPECT_EQ(liveToneThreads(), 0);
  // The flag is tested once per pass: the pass under way ends, no further block is queued.
  EXPECT_EQ(fake->writes(), 1);
  EXPECT_TRUE(fake->played().at(0).closed);
}

TEST_F(SoundPlayback, SwitchedOffTouchesNothing) {
  StartSound(false);
  PlaySouns(false, 1, QStringLiteral("/nonexistent/"));
  StopSound(false);
  EXPECT_EQ(fake->probes(), 0);
  EXPECT_EQ(fake->opens(), 0);
  EXPECT_EQ(liveToneThreads(), 0);
  EXPECT_EQ(liveSoundThreads(), 0);
}

TEST_F(SoundPlayback, NoDeviceOrNoOpenMeansSilenceWithoutErrors) {
  fake->setDevice(false);
  StartSound(true);
  PlaySouns(true, 0, QStringLiteral("/nonexistent/"));
  EXPECT_EQ(liveToneThreads(), 0);
  EXPECT_EQ(liveSoundThreads(), 0);
  EXPECT_EQ(fake->opens(), 0);
  StopSound(true);

  // A device that cannot be opened: the thread ends on its own, nothing is played.
  fake->setDevice(true);
  fake->setOpenWorks(false);
  StartSound(true);
  EXPECT_TRUE(waitUntil([] { return liveToneThreads() == 0; }));
  EXPECT_EQ(fake->opens(), 1);
  EXPECT_EQ(fake->writes(), 0);
  StopSound(true);
}

TEST_F(SoundPlayback, SecondStartReplacesTheToneAndStartsItAfresh) {
  StartSound(true);
  ASSERT_TRUE(waitUntil([&] { return fake->samplesIn(0) >= 2 * 2 * std::size_t(kBlockFrames); }));
  StartSound(true);
  // The first tone has released its device before the second one starts.
  auto played = fake->played();
  ASSERT_GE(played.size(), 1u);
  EXPECT_TRUE(played[0].closed);
  EXPECT_EQ(liveToneThreads(), 1);
  ASSERT_TRUE(waitUntil([&] { return fake->samplesIn(1) >= 2 * std::size_t(kBlockFrames); }));
  played = fake->played();
  ASSERT_EQ(played.size(), 2u);
  const auto expected = toneStream(1);
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), played[1].samples.begin()));
  StopSound(true);
  ASSERT_TRUE(waitSoundIdle(5000));
  EXPECT_EQ(liveToneThreads(), 0);
}

TEST_F(SoundPlayback, ToneStopsEvenWhenSoundWasSwitchedOffMeanwhile) {
  StartSound(true);
  ASSERT_TRUE(waitUntil([&] { return fake->writes() >= 1; }));
  StopSound(false);
  ASSERT_TRUE(waitSoundIdle(5000));
  EXPECT_EQ(liveToneThreads(), 0);
}

void writeWav(const QString& path, int rate, int channels, const std::vector<std::int16_t>& samples) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = channels;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* f = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
  ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
  ASSERT_EQ(sf_write_short(f, samples.data(), sf_count_t(samples.size())), sf_count_t(samples.size()));
  sf_close(f);
}

TEST_F(SoundPlayback, SoundFileComesFromTheProgramDirectoryAndPlaysInTheBackground) {
  test::TempProgramDir program;
  std::vector<std::int16_t> tadam(2 * 5000);
  for (std::size_t i = 0; i < tadam.size(); ++i) tadam[i] = std::int16_t(int(i % 2000) - 1000);
  writeWav(program.file(QStringLiteral("a-tadam.wav")), 22050, 2, tadam);

  fake->hold();
  PlaySouns(true, 1, program.path());
  ASSERT_TRUE(waitUntil([&] { return fake->writes() >= 1; }));
  EXPECT_EQ(liveSoundThreads(), 1) << "PlaySouns returned before the sound finished";
  fake->release();
  ASSERT_TRUE(waitSoundIdle(5000));
  EXPECT_EQ(liveSoundThreads(), 0);

  const auto played = fake->played();
  ASSERT_EQ(played.size(), 1u);
  EXPECT_EQ(played[0].rate, 22050);
  EXPECT_EQ(played[0].channels, 2);
  ASSERT_GE(played[0].samples.size(), tadam.size());
  EXPECT_TRUE(std::equal(tadam.begin(), tadam.end(), played[0].samples.begin()));
  // Silence follows, so that closing the stream cuts nothing of the sound.
  EXPECT_GT(played[0].samples.size(), tadam.size());
  for (std::size_t i = tadam.size(); i < played[0].samples.size(); ++i)
    ASSERT_EQ(played[0].samples[i], 0);
  EXPECT_TRUE(played[0].closed);
}

TEST_F(SoundPlayback, MissingOrBrokenSoundFilePlaysABeep) {
  test::TempProgramDir program;
  PlaySouns(true, 0, program.path());  // no "alarm.wav"
  ASSERT_TRUE(waitSoundIdle(5000));
  test::writeFile(program.file(QStringLiteral("a-tadam.wav")), QByteArray("RIFF but not really"));
  PlaySouns(true, 1, program.path());
  ASSERT_TRUE(waitSoundIdle(5000));
  PlaySouns(true, 7, program.path());  // no such kind: nothing
  ASSERT_TRUE(waitSoundIdle(5000));

  const auto played = fake->played();
  ASSERT_EQ(played.size(), 2u);
  for (const auto& beep : played) {
    EXPECT_EQ(beep.rate, 44100);
    ASSERT_GT(beep.samples.size(), 4410u);
    int loud = 0;
    for (std::int16_t v : beep.samples) loud = std::max(loud, std::abs(int(v)));
    EXPECT_GT(loud, 5000);
    EXPECT_LT(loud, 20000);
  }
}

TEST_F(SoundPlayback, SoundsMadeByTheSetUpScriptPlay) {
  test::TempProgramDir program;
  QProcess make;
  make.start(QStringLiteral("sh"), {test::sourceDir() + QStringLiteral("/scripts/make-sounds.sh"),
                                    program.path()});
  ASSERT_TRUE(make.waitForFinished(60000));
  ASSERT_EQ(make.exitCode(), 0) << make.readAllStandardError().toStdString();
  EXPECT_FALSE(make.readAllStandardError().contains("make-sounds"));

  PlaySouns(true, 0, program.path());
  ASSERT_TRUE(waitSoundIdle(5000));
  PlaySouns(true, 1, program.path());
  ASSERT_TRUE(waitSoundIdle(5000));
  const auto played = fake->played();
  ASSERT_EQ(played.size(), 2u);
  // Longer than the built-in beep: the files themselves were played.
  EXPECT_GE(played[0].samples.size(), 66150u);  // alarm, 1.5 s
  EXPECT_GE(played[1].samples.size(), 35000u);  // chime, 0.8 s
  for (const auto& p : played) EXPECT_EQ(p.rate, 44100);
  EXPECT_EQ(QDir(program.path()).entryList(QDir::Hidden | QDir::AllEntries | QDir::NoDotAndDotDot)
                .filter(QStringLiteral("make-sounds")).size(), 0);
}

TEST_F(SoundPlayback, ShutdownStopsToneAndSoundAndTheUnitStartsAgainAfterwards) {
  test::TempProgramDir program;
  fake->hold();
  StartSound(true);
  PlaySouns(true, 1, program.path());
  ASSERT_TRUE(waitUntil([&] { return fake->writes() >= 2; }));
  fake->release();
  shutdownSound();
  EXPECT_EQ(liveToneThreads(), 0);
  EXPECT_EQ(liveSoundThreads(), 0);
  for (const auto& p : fake->played()) EXPECT_TRUE(p.closed);

  StartSound(true);
  EXPECT_EQ(liveToneThreads(), 1);
  StopSound(true);
  ASSERT_TRUE(waitSoundIdle(5000));
}

}  // namespace
}  // namespace tavo
