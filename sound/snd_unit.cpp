#include "sound/snd_unit.h"

#include <QFile>
#include <alsa/asoundlib.h>
#include <dlfcn.h>
#include <portaudio.h>
#include <sndfile.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/paths.h"

namespace tavo {

// ---------------------------------------------------------------------------------------------
// Tone synthesis

void Generator(std::int16_t* buffer, int typ, int freq, int lev, int size, double& t) {
  const int count = size / 2;
  if (count <= 0) return;
  switch (typ) {
    case kWaveSilence:
      std::fill(buffer, buffer + count, std::int16_t{0});
      t = 0.0;
      return;
    case kWaveSine:
      for (int i = 0; i < count; ++i) {
        const double v = lev * std::sin(kTwoPi * freq * (t + i / double(kSampleRate)));
        // nearbyint rounds ties to even in the default rounding mode.
        buffer[i] = static_cast<std::int16_t>(std::clamp(std::nearbyint(v), -32768.0, 32767.0));
      }
      break;
    case kWaveSquare: {
      const auto high = static_cast<std::int16_t>(std::clamp(lev, -32768, 32767));
      const auto low = static_cast<std::int16_t>(std::clamp(-lev, -32768, 32767));
      for (int i = 0; i < count; ++i)
        buffer[i] = std::sin(kTwoPi * freq * (t + i / double(kSampleRate))) >= 0.0 ? high : low;
      break;
    }
    default:
      return;
  }
  t += count / double(kSampleRate);
}

void Mix(std::int16_t* dst, const std::int16_t* left, const std::int16_t* right, int count) {
  for (int k = 0; k < count / 2; ++k) {
    dst[2 * k] = left[k];
    dst[2 * k + 1] = right[k];
  }
}

ToneState startTone() { return ToneState{}; }

void nextToneBlock(ToneState& s, std::int16_t* left, std::int16_t* right, std::int16_t* out) {
  Generator(left, s.typ[0], s.freq[0], s.lev[0], kChannelBlockBytes, s.tPred[0]);
  Generator(right, s.typ[1], s.freq[1], s.lev[1], kChannelBlockBytes, s.tPred[1]);
  Mix(out, left, right, kMixCount);
}

// ---------------------------------------------------------------------------------------------
// Quiet audio libraries

namespace {

extern "C" void quietAlsa(const char*, int, const char*, int, const char*, ...) {}
extern "C" void quietJack(const char*) {}

}  // namespace

void silenceAudioLibraryMessages() {
  static std::once_flag once;
  std::call_once(once, [] {
    snd_lib_error_set_handler(&quietAlsa);
    // JACK is only there when PortAudio was built with it; never load it ourselves.
    if (void* jack = dlopen("libjack.so.0", RTLD_LAZY | RTLD_NOLOAD)) {
      using SetFn = void (*)(void (*)(const char*));
      if (auto f = reinterpret_cast<SetFn>(dlsym(jack, "jack_set_error_function"))) f(&quietJack);
      if (auto f = reinterpret_cast<SetFn>(dlsym(jack, "jack_set_info_function"))) f(&quietJack);
      dlclose(jack);
    }
  });
}

// ---------------------------------------------------------------------------------------------
// PortAudio output

namespace {

// PortAudio's set-up calls are not meant to run on several threads at once. Never destroyed:
// the exit hook still needs it.
std::mutex& paMutex() {
  static auto* m = new std::mutex;
  return *m;
}
bool paReady = false;   // Pa_Initialize succeeded (guarded by paMutex)
bool paTried = false;

bool ensurePortAudio() {
  std::lock_guard lock(paMutex());
  if (!paTried) {
    paTried = true;
    silenceAudioLibraryMessages();
    paReady = Pa_Initialize() == paNoError;
  }
  return paReady;
}

class PortAudioStream : public AudioStream {
 public:
  explicit PortAudioStream(PaStream* s) : stream_(s) {}
  ~PortAudioStream() override {
    std::lock_guard lock(paMutex());
    Pa_AbortStream(stream_);
    Pa_CloseStream(stream_);
  }
  bool write(const std::int16_t* frames, int frameCount) override {
    const PaError e = Pa_WriteStream(stream_, frames, static_cast<unsigned long>(frameCount));
    return e == paNoError || e == paOutputUnderflowed;
  }

 private:
  PaStream* stream_;
};

class PortAudioOutput : public AudioOutput {
 public:
  bool hasDevice() override {
    if (!ensurePortAudio()) return false;
    std::lock_guard lock(paMutex());
    return Pa_GetDeviceCount() > 0 && Pa_GetDefaultOutputDevice() != paNoDevice;
  }
  std::unique_ptr<AudioStream> open(int sampleRate, int channels, int queueFrames) override {
    if (!ensurePortAudio()) return nullptr;
    std::lock_guard lock(paMutex());
    const PaDeviceIndex device = Pa_GetDefaultOutputDevice();
    if (device == paNoDevice) return nullptr;
    const PaDeviceInfo* info = Pa_GetDeviceInfo(device);
    PaStreamParameters p{};
    p.device = device;
    p.channelCount = channels;
    p.sampleFormat = paInt16;
    p.suggestedLatency = std::max(info ? info->defaultHighOutputLatency : 0.0,
                                  double(queueFrames) / sampleRate);
    PaStream* s = nullptr;
    if (Pa_OpenStream(&s, nullptr, &p, sampleRate, paFramesPerBufferUnspecified, paClipOff,
                      nullptr, nullptr) != paNoError)
      return nullptr;
    if (Pa_StartStream(s) != paNoError) {
      Pa_CloseStream(s);
      return nullptr;
    }
    return std::make_unique<PortAudioStream>(s);
  }
};

// ---------------------------------------------------------------------------------------------
// Threads of the unit

// What a thread shares with the unit. The thread holds its own reference, so a thread that had
// to be left running at exit never touches freed memory.
struct ThreadFlags {
  std::atomic<bool> terminated{false};
  std::atomic<bool> finished{false};
};

class AudioThread {
 public:
  virtual ~AudioThread() = default;
  void Terminate() { flags_->terminated = true; }
  bool Finished() const { return flags_->finished; }
  bool waitFor(std::chrono::steady_clock::time_point deadline) {
    while (!Finished()) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (thread_.joinable()) thread_.join();
    return true;
  }
  void detach() {
    if (thread_.joinable()) thread_.detach();
  }
  void join() {
    if (thread_.joinable()) thread_.join();
  }

 protected:
  template <typename Body>
  void start(Body body) {
    thread_ = std::thread([flags = flags_, body = std::move(body)]() mutable {
      body(*flags);
      flags->finished = true;
    });
  }
  std::shared_ptr<ThreadFlags> flags_ = std::make_shared<ThreadFlags>();

 private:
  std::thread thread_;
};

// The tone thread: two output blocks used alternately, one always queued ahead of the one
// playing; the stop flag is tested once per pass.
class TServiceThread : public AudioThread {
 public:
  TServiceThread(std::shared_ptr<AudioOutput> output, const ToneState& state) {
    start([output = std::move(output), state](const ThreadFlags& flags) mutable {
      Execute(*output, state, flags);
    });
  }

 private:
  static void Execute(AudioOutput& output, ToneState state, const ThreadFlags& flags) {
    std::unique_ptr<AudioStream> stream = output.open(kSampleRate, 2, kBlockFrames);
    if (!stream) return;
    // One zero-filled region: output blocks 0 and 1, then the left and right channel blocks.
    std::unique_ptr<std::int16_t[]> region(new std::int16_t[4 * kMixCount]());
    std::int16_t* const block[2] = {region.get(), region.get() + kMixCount};
    std::int16_t* const left = region.get() + 2 * kMixCount;
    std::int16_t* const right = left + kBlockFrames;
    int current = 0;
    nextToneBlock(state, left, right, block[current]);
    while (!flags.terminated) {
      // Returns once the block is queued behind the one playing.
      if (!stream->write(block[current], kBlockFrames)) break;
      current = 1 - current;
      nextToneBlock(state, left, right, block[current]);
    }
    stream.reset();  // stops at once, drops what is queued, closes the device
  }
};

// A sound file (or the beep standing in for it) played to its end or until stopped.
class SoundFileThread : public AudioThread {
 public:
  SoundFileThread(std::shared_ptr<AudioOutput> output, std::string path) {
    start([output = std::move(output), path = std::move(path)](const ThreadFlags& flags) {
      play(*output, path, flags);
    });
  }

 private:
  static constexpr int kChunkFrames = 4096;

  static void play(AudioOutput& output, const std::string& path, const ThreadFlags& flags) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file && (info.channels < 1 || info.channels > 8 || info.samplerate < 1000 ||
                 info.samplerate > 384000 || info.frames <= 0)) {
      sf_close(file);
      file = nullptr;
    }
    if (!file) {
      playBeep(output, flags);
      return;
    }
    std::unique_ptr<AudioStream> stream = output.open(info.samplerate, info.channels, kChunkFrames);
    if (stream) {
      std::vector<std::int16_t> chunk(static_cast<std::size_t>(kChunkFrames) * info.channels);
      while (!flags.terminated) {
        const sf_count_t n = sf_readf_short(file, chunk.data(), kChunkFrames);
        if (n <= 0) break;
        if (!stream->write(chunk.data(), static_cast<int>(n))) break;
      }
      if (!flags.terminated) finish(*stream, info.channels);
    }
    sf_close(file);
  }

  // What a system without the named sound plays: a short soft beep.
  static void playBeep(AudioOutput& output, const ThreadFlags& flags) {
    std::unique_ptr<AudioStream> stream = output.open(kSampleRate, 1, kChunkFrames);
    if (!stream) return;
    const int frames = kSampleRate / 5;  // 0.2 s of 880 Hz
    const int fade = kSampleRate / 100;
    std::vector<std::int16_t> beep(static_cast<std::size_t>(frames));
    for (int i = 0; i < frames; ++i) {
      const double env = std::min({1.0, double(i) / fade, double(frames - 1 - i) / fade});
      beep[i] = static_cast<std::int16_t>(
          std::lround(12000.0 * env * std::sin(kTwoPi * 880.0 * i / kSampleRate)));
    }
    for (int at = 0; at < frames && !flags.terminated; at += kChunkFrames) {
      if (!stream->write(beep.data() + at, std::min(kChunkFrames, frames - at))) return;
    }
    if (!flags.terminated) finish(*stream, 1);
  }

  // Closing a stream drops what is still queued: queue silence behind the end first, so that
  // the last chunk is heard.
  static void finish(AudioStream& stream, int channels) {
    const std::vector<std::int16_t> silence(static_cast<std::size_t>(kChunkFrames) * channels);
    stream.write(silence.data(), kChunkFrames);
  }
};

struct Unit {
  std::mutex mutex;
  std::shared_ptr<AudioOutput> output;
  std::unique_ptr<TServiceThread> serviceThread;           // the tone playing (ServiceThread)
  std::vector<std::unique_ptr<TServiceThread>> stopping;   // tones asked to stop
  std::unique_ptr<SoundFileThread> soundFile;              // the sound file playing
  std::vector<std::unique_ptr<SoundFileThread>> stoppingFiles;
  bool leftRunning = false;  // a thread had to be left behind at exit: keep PortAudio up

  std::shared_ptr<AudioOutput> currentOutput() {
    if (!output) output = std::make_shared<PortAudioOutput>();
    return output;
  }

  // Joins threads that have ended.
  void reap() {
    auto ended = [](const auto& t) {
      if (!t->Finished()) return false;
      t->join();
      return true;
    };
    std::erase_if(stopping, ended);
    std::erase_if(stoppingFiles, ended);
    if (soundFile && ended(soundFile)) soundFile.reset();
  }
};

// Never destroyed: threads are stopped by the exit hook instead, and a thread left running
// then may still look at nothing but its own flags.
Unit& unit() {
  static Unit* u = [] {
    auto* created = new Unit;
    std::atexit([] { shutdownSound(); });
    return created;
  }();
  return *u;
}

template <typename T>
bool waitAll(std::vector<std::unique_ptr<T>>& threads, std::chrono::steady_clock::time_point end) {
  bool all = true;
  for (auto& t : threads) all = t->waitFor(end) && all;
  return all;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Public operations

void StartSound(bool enabled) {
  if (!enabled) return;
  Unit& u = unit();
  std::lock_guard lock(u.mutex);
  u.reap();
  // One tone at a time: the one playing and any still winding down end first (within a block).
  if (u.serviceThread) {
    u.serviceThread->Terminate();
    u.stopping.push_back(std::move(u.serviceThread));
  }
  for (auto& t : u.stopping) t->join();
  u.stopping.clear();
  std::shared_ptr<AudioOutput> output = u.currentOutput();
  if (!output->hasDevice()) return;
  u.serviceThread = std::make_unique<TServiceThread>(output, startTone());
}

void StopSound(bool /*enabled*/) {
  // A tone that plays is stopped whatever the check mark says now: clearing it between start and
  // stop must not leave the tone sounding for ever. With no tone nothing is touched.
  Unit& u = unit();
  std::lock_guard lock(u.mutex);
  u.reap();
  if (!u.serviceThread) return;
  u.serviceThread->Terminate();
  u.stopping.push_back(std::move(u.serviceThread));
}

void PlaySouns(bool enabled, std::uint8_t kind, const QString& programPath) {
  if (!enabled) return;
  QString name;
  if (kind == 0) name = QLatin1String(kAlarmSound);
  else if (kind == 1) name = QLatin1String(kTadamSound);
  else return;
  const std::string path = QFile::encodeName(hostPath(programPath + name)).toStdString();
  Unit& u = unit();
  std::lock_guard lock(u.mutex);
  u.reap();
  std::shared_ptr<AudioOutput> output = u.currentOutput();
  if (!output->hasDevice()) return;
  // A new sound replaces the one still playing, as the system's sound playback does.
  if (u.soundFile) {
    u.soundFile->Terminate();
    u.stoppingFiles.push_back(std::move(u.soundFile));
  }
  u.soundFile = std::make_unique<SoundFileThread>(output, path);
}

void setAudioOutput(std::shared_ptr<AudioOutput> output) {
  Unit& u = unit();
  std::lock_guard lock(u.mutex);
  u.output = std::move(output);
}

int liveToneThreads() {
  Unit& u = unit();
  std::lock_guard lock(u.mutex);
  int n = u.serviceThread && !u.serviceThread->Finished() ? 1 : 0;
  for (const auto& t : u.stopping) n += t->Finished() ? 0 : 1;
  return n;
}

int liveSoundThreads() {
  Unit& u = unit();
  std::lock_guard lock(u.mutex);
  int n = u.soundFile && !u.soundFile->Finished() ? 1 : 0;
  for (const auto& t : u.stoppingFiles) n += t->Finished() ? 0 : 1;
  return n;
}

bool waitSoundIdle(int timeoutMs) {
  Unit& u = unit();
  std::lock_guard lock(u.mutex);
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  bool all = waitAll(u.stopping, end);
  all = waitAll(u.stoppingFiles, end) && all;
  if (u.soundFile) all = u.soundFile->waitFor(end) && all;
  u.reap();
  return all;
}

void shutdownSound() {
  Unit& u = unit();
  std::lock_guard lock(u.mutex);
  if (u.serviceThread) u.stopping.push_back(std::move(u.serviceThread));
  if (u.soundFile) u.stoppingFiles.push_back(std::move(u.soundFile));
  for (auto& t : u.stopping) t->Terminate();
  for (auto& t : u.stoppingFiles) t->Terminate();
  // A tone ends within a block; a device that hangs must not keep the process from ending.
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
  bool all = waitAll(u.stopping, end);
  all = waitAll(u.stoppingFiles, end) && all;
  for (auto& t : u.stopping) t->detach();
  for (auto& t : u.stoppingFiles) t->detach();
  u.stopping.clear();
  u.stoppingFiles.clear();
  if (!all) u.leftRunning = true;
  std::lock_guard paLock(paMutex());
  if (paReady && !u.leftRunning) {
    Pa_Terminate();
    paReady = false;
    paTried = false;
  }
}

}  // namespace tavo
