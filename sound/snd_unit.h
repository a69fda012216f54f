#pragma once
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

namespace tavo {

// Alert sounds: the steady tone played while pictures are taken, and the result sounds.
// Every public operation takes the "Включить звук" check mark and does nothing when it is false.

// Starts the 1000 Hz tone on a thread of its own. A tone still playing is stopped first: there is
// only ever one tone. No output device: nothing happens.
void StartSound(bool enabled);

// Asks the tone to stop and returns at once; the tone ends within one block (about 0.19 s).
// A tone that is playing is stopped even when the check mark was cleared meanwhile.
void StopSound(bool enabled);

// Plays "alarm.wav" (kind 0) or "a-tadam.wav" (kind 1) from the program directory (host folder
// ending with '/') in the background and returns at once. A missing or unreadable file plays a
// short built-in beep instead. Other kinds play nothing.
void PlaySouns(bool enabled, std::uint8_t kind, const QString& programPath);

inline constexpr char kAlarmSound[] = "alarm.wav";
inline constexpr char kTadamSound[] = "a-tadam.wav";

// ---- Tone synthesis (pure) ----

inline constexpr int kSampleRate = 44100;
inline constexpr int kBlockFrames = 8192;                    // 185.8 ms per block
inline constexpr int kChannelBlockBytes = kBlockFrames * 2;  // Size for Generator
inline constexpr int kMixCount = kBlockFrames * 2;           // Count for Mix
inline constexpr double kTwoPi = 6.283185307179586;

enum WaveType : int { kWaveSilence = 0, kWaveSine = 1, kWaveSquare = 2 };

// Fills one channel block of size / 2 samples from running time t (seconds) and advances t by the
// block's duration. Sine: round-half-even of lev * sin(2pi f (t + i / 44100)); square: +lev when
// that sine is >= 0, else -lev; silence: zeros and t = 0; any other type leaves block and t alone.
void Generator(std::int16_t* buffer, int typ, int freq, int lev, int size, double& t);

// Interleaves two channel blocks: dst[2k] = left[k], dst[2k + 1] = right[k]; count samples in all.
void Mix(std::int16_t* dst, const std::int16_t* left, const std::int16_t* right, int count);

// Settings of the two channels (0 = left, 1 = right) and their running times.
struct ToneState {
  int freq[2] = {1000, 1000};
  int typ[2] = {kWaveSine, kWaveSine};
  int lev[2] = {20000, 20000};
  double tPred[2] = {0.0, 0.0};
};

// What StartSound plays: 1000 Hz sine at level 20000 on both channels from time 0.
ToneState startTone();

// Generates the next block of both channels (into left and right, kBlockFrames each) and
// interleaves it into out (2 * kBlockFrames samples); the running times go on.
void nextToneBlock(ToneState& state, std::int16_t* left, std::int16_t* right, std::int16_t* out);

// ---- Audio output (PortAudio by default; tests hand in their own) ----

// One open output stream of 16-bit interleaved frames. write() returns once the frames are queued
// behind those already playing (it may wait while the queue is full). Destroying the stream stops
// playback at once, drops what is queued and closes the device.
class AudioStream {
 public:
  virtual ~AudioStream() = default;
  virtual bool write(const std::int16_t* frames, int frameCount) = 0;
};

class AudioOutput {
 public:
  virtual ~AudioOutput() = default;
  // The presence test: is there a device to play on?
  virtual bool hasDevice() = 0;
  // Opens the default output for 16-bit PCM; null when it cannot be opened. queueFrames is how
  // much may wait ahead of what is playing.
  virtual std::unique_ptr<AudioStream> open(int sampleRate, int channels, int queueFrames) = 0;
};

// Replaces the output (null brings back PortAudio). Threads already playing keep theirs.
void setAudioOutput(std::shared_ptr<AudioOutput> output);

// Threads of this unit that have not ended yet (tone and sound files).
int liveToneThreads();
int liveSoundThreads();

// Waits until every thread that was asked to stop, and every sound file, has ended; true when
// they all did within timeoutMs. The running tone (not asked to stop) is not waited for.
bool waitSoundIdle(int timeoutMs);

// Stops every thread of this unit and waits for them (run at exit as well).
void shutdownSound();

// Silences ALSA's and JACK's messages on stderr (done before PortAudio starts).
void silenceAudioLibraryMessages();

}  // namespace tavo
