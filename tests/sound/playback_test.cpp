#include <gtest/gtest.h>
#include <sndfile.h>

#include <QFile>
#include <QProcess>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "sound/snd_unit.h"
#include "tests/support/test_env.h"

namespace tavo {
namespace {

using namespace std::chrono_literals;

bool waitUntil(const std::function<bool()>& done) {
  const auto end = std::chrono::steady_clock::now() + 5s;
  while (!done())
    if (std::chrono::steady_clock::now() > end) return false;
    else std::this_thread::sleep_for(1ms);
  return true;
}

// An output that records what is played. hold() makes writes wait, as while the device is busy
// with the block before.
class FakeOutput : public AudioOutput, public std::enable_shared_from_this<FakeOutput> {
 public:
  struct Played {
    int rate, channels, queueFrames;
    std::vector<std::int16_t> samples;
    bool closed = false;
  };
  bool device = true, opens = true;  // set before use
  int probes = 0, writes = 0;
  std::vector<Played> played;
  std::mutex m;

  bool hasDevice() override { std::lock_guard l(m); ++probes; return device; }
  std::unique_ptr<AudioStream> open(int rate, int channels, int queueFrames) override {
    std::lock_guard l(m);
    if (!opens) return nullptr;
    played.push_back({rate, channels, queueFrames, {}});
    return std::make_unique<Stream>(shared_from_this(), played.size() - 1);
  }
  void hold() { std::lock_guard l(m); held_ = true; }
  void release() { { std::lock_guard l(m); held_ = false; } cv_.notify_all(); }
  template <typename T> T get(T FakeOutput::*field) { std::lock_guard l(m); return this->*field; }
  std::size_t samplesIn(std::size_t i) { std::lock_guard l(m); return i < played.size() ? played[i].samples.size() : 0; }

 private:
  struct Stream : AudioStream {
    Stream(std::shared_ptr<FakeOutput> o, std::size_t i) : out(std::move(o)), index(i) {}
    ~Stream() override { std::lock_guard l(out->m); out->played[index].closed = true; }
    bool write(const std::int16_t* frames, int n) override {
      std::unique_lock l(out->m);
      ++out->writes;
      out->cv_.wait(l, [&] { return !out->held_; });
      auto& p = out->played[index];
      if (p.samples.size() < 16 * std::size_t(kBlockFrames)) {
        p.samples.insert(p.samples.end(), frames, frames + std::size_t(n) * p.channels);
      } else {  // enough kept: pace the writer instead of filling memory
        l.unlock();
        std::this_thread::sleep_for(1ms);
      }
      return true;
    }
    std::shared_ptr<FakeOutput> out;
    std::size_t index;
  };
  std::condition_variable cv_;
  bool held_ = false;
};

std::vector<std::int16_t> toneStream(int blocks) {
  ToneState state = startTone();
  std::vector<std::int16_t> left(kBlockFrames), right(kBlockFrames), block(2 * kBlockFrames), all;
  for (int b = 0; b < blocks; ++b) {
    nextToneBlock(state, left.data(), right.data(), block.data());
    all.insert(all.end(), block.begin(), block.end());
  }
  return all;
}

bool startsWith(const std::vector<std::int16_t>& got, const std::vector<std::int16_t>& want) {
  return got.size() >= want.size() && std::equal(want.begin(), want.end(), got.begin());
}

class SoundPlayback : public ::testing::Test {
 protected:
  void SetUp() override { setAudioOutput(fake); }
  void TearDown() override {
    fake->release();
    shutdownSound();
    EXPECT_EQ(liveToneThreads() + liveSoundThreads(), 0);
    setAudioOutput(nullptr);
  }
  std::shared_ptr<FakeOutput> fake = std::make_shared<FakeOutput>();
  test::TempProgramDir program;
};

TEST_F(SoundPlayback, ToneThreadPlaysTheGeneratedBlocksAndReleasesTheDevice) {
  StartSound(true);
  EXPECT_EQ(liveToneThreads(), 1);
  ASSERT_TRUE(waitUntil([&] { return fake->samplesIn(0) >= 6 * std::size_t(kBlockFrames); }));
  StopSound(true);
  ASSERT_TRUE(waitSoundIdle(5000));
  EXPECT_EQ(liveToneThreads(), 0);
  const auto& p = fake->played.at(0);
  EXPECT_EQ(fake->played.size(), 1u);
  EXPECT_EQ(p.rate, 44100);
  EXPECT_EQ(p.channels, 2);
  EXPECT_EQ(p.queueFrames, kBlockFrames);  // one block queued ahead
  EXPECT_TRUE(p.closed);
  EXPECT_TRUE(startsWith(p.samples, toneStream(3))) << "not the gapless 1000 Hz tone";
}

TEST_F(SoundPlayback, StopSoundReturnsAtOnceEvenWithTheCheckMarkCleared) {
  fake->hold();
  StartSound(true);
  ASSERT_TRUE(waitUntil([&] { return fake->get(&FakeOutput::writes) >= 1; }));
  // Sound switched off between start and stop: the tone must not go on for ever.
  StopSound(false);
  EXPECT_EQ(liveToneThreads(), 1) << "StopSound waited for the thread";
  fake->release();
  ASSERT_TRUE(waitSoundIdle(5000));
  EXPECT_EQ(liveToneThreads(), 0);
  // The flag is tested once per pass: the pass under way ends, no further block is queued.
  EXPECT_EQ(fake->get(&FakeOutput::writes), 1);
  EXPECT_TRUE(fake->played.at(0).closed);
}

TEST_F(SoundPlayback, SwitchedOffNoDeviceOrNoOpenMeansSilenceAndNoThread) {
  StartSound(false);
  PlaySouns(false, 1, program.path());
  EXPECT_EQ(fake->get(&FakeOutput::probes), 0) << "switched off must not touch the device";

  fake->device = false;
  StartSound(true);
  PlaySouns(true, 1, program.path());
  EXPECT_EQ(liveToneThreads() + liveSoundThreads(), 0);

  fake->device = true;
  fake->opens = false;  // the thread ends on its own, nothing reported
  StartSound(true);
  EXPECT_TRUE(waitUntil([] { return liveToneThreads() == 0; }));
  EXPECT_EQ(fake->get(&FakeOutput::writes), 0);
  StopSound(true);
}

TEST_F(SoundPlayback, SecondStartEndsTheFirstToneAndStartsAfresh) {
  StartSound(true);
  ASSERT_TRUE(waitUntil([&] { return fake->samplesIn(0) >= 4 * std::size_t(kBlockFrames); }));
  StartSound(true);
  EXPECT_TRUE(fake->get(&FakeOutput::played).at(0).closed) << "two tones at once";
  EXPECT_EQ(liveToneThreads(), 1);
  ASSERT_TRUE(waitUntil([&] { return fake->samplesIn(1) >= 2 * std::size_t(kBlockFrames); }));
  EXPECT_TRUE(startsWith(fake->get(&FakeOutput::played).at(1).samples, toneStream(1)));
}

void writeWav(const QString& path, int rate, int channels, const std::vector<std::int16_t>& samples) {
  SF_INFO info{0, rate, channels, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0, 0};
  SNDFILE* f = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
  ASSERT_NE(f, nullptr);
  sf_write_short(f, samples.data(), sf_count_t(samples.size()));
  sf_close(f);
}

TEST_F(SoundPlayback, SoundFileFromTheProgramDirectoryPlaysInTheBackground) {
  std::vector<std::int16_t> tadam(2 * 5000);
  for (std::size_t i = 0; i < tadam.size(); ++i) tadam[i] = std::int16_t(int(i % 2000) - 1000);
  writeWav(program.file(QStringLiteral("a-tadam.wav")), 22050, 2, tadam);
  fake->hold();
  PlaySouns(true, 1, program.path());
  ASSERT_TRUE(waitUntil([&] { return fake->get(&FakeOutput::writes) >= 1; }));
  EXPECT_EQ(liveSoundThreads(), 1) << "PlaySouns waited for the sound";
  fake->release();
  ASSERT_TRUE(waitSoundIdle(5000));

  const auto& p = fake->played.at(0);
  EXPECT_EQ(p.rate, 22050);
  EXPECT_EQ(p.channels, 2);
  EXPECT_TRUE(startsWith(p.samples, tadam));
  // Silence behind the end, so that closing the stream cuts nothing off.
  ASSERT_GT(p.samples.size(), tadam.size());
  EXPECT_TRUE(std::all_of(p.samples.begin() + tadam.size(), p.samples.end(), [](auto v) { return v == 0; }));
}

TEST_F(SoundPlayback, MissingOrBrokenFileBeepsAndTheSetUpSoundsPlay) {
  PlaySouns(true, 0, program.path());  // no "alarm.wav"
  ASSERT_TRUE(waitSoundIdle(5000));
  test::writeFile(program.file(QStringLiteral("a-tadam.wav")), "RIFF, but no sound");
  PlaySouns(true, 1, program.path());
  ASSERT_TRUE(waitSoundIdle(5000));
  ASSERT_EQ(fake->played.size(), 2u);
  for (const auto& beep : fake->played) {
    const auto loud = *std::max_element(beep.samples.begin(), beep.samples.end());
    EXPECT_TRUE(loud > 5000 && loud < 20000) << loud;
    EXPECT_GT(beep.samples.size(), 4410u);
  }

  QProcess make;
  make.start(QStringLiteral("sh"), {test::sourceDir() + "/scripts/make-sounds.sh", program.path()});
  ASSERT_TRUE(make.waitForFinished(60000));
  ASSERT_EQ(make.exitCode(), 0) << make.readAllStandardError().toStdString();
  PlaySouns(true, 0, program.path());
  ASSERT_TRUE(waitSoundIdle(5000));
  PlaySouns(true, 1, program.path());
  ASSERT_TRUE(waitSoundIdle(5000));
  ASSERT_EQ(fake->played.size(), 4u);
  EXPECT_GE(fake->played[2].samples.size(), 66150u);  // the 1.5 s alarm, not a beep
  EXPECT_GE(fake->played[3].samples.size(), 35000u);  // the 0.8 s chime
}

TEST_F(SoundPlayback, ShutdownStopsToneAndSound) {
  fake->hold();
  StartSound(true);
  PlaySouns(true, 1, program.path());
  ASSERT_TRUE(waitUntil([&] { return fake->get(&FakeOutput::writes) >= 2; }));
  fake->release();
  shutdownSound();
  EXPECT_EQ(liveToneThreads() + liveSoundThreads(), 0);
  for (const auto& p : fake->played) EXPECT_TRUE(p.closed);
}

}  // namespace
}  // namespace tavo
