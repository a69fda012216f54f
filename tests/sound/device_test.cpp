// The tone through PortAudio and ALSA for real. ALSA reads ~/.asoundrc when PortAudio starts, so
// these run in a child process (this test binary again) with HOME pointing at a prepared folder.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <chrono>
#include <thread>
#include <vector>

#include "sound/snd_unit.h"
#include "tests/support/test_env.h"

namespace tavo {
namespace {

using namespace std::chrono_literals;

bool inChild() { return qEnvironmentVariableIsSet("TAVO_SOUND_CHILD"); }

// ---- Run in the child ----

TEST(DeviceChild, PlayToneIntoFile) {
  if (!inChild()) GTEST_SKIP() << "runs in a child process";
  const QString out = qEnvironmentVariable("TAVO_SOUND_OUT");
  setAudioOutput(nullptr);
  StartSound(true);
  ASSERT_EQ(liveToneThreads(), 1);
  const auto end = std::chrono::steady_clock::now() + 10s;
  while (QFileInfo(out).size() < 3 * 4 * kBlockFrames && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(1ms);
  StopSound(true);
  ASSERT_TRUE(waitSoundIdle(5000));
  EXPECT_EQ(liveToneThreads(), 0);
}

TEST(DeviceChild, ExitWhileTonePlays) {
  if (!inChild()) GTEST_SKIP() << "runs in a child process";
  setAudioOutput(nullptr);
  StartSound(true);
  const auto end = std::chrono::steady_clock::now() + 10s;
  while (QFileInfo(qEnvironmentVariable("TAVO_SOUND_OUT")).size() < 4 * kBlockFrames &&
         std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(1ms);
  EXPECT_EQ(liveToneThreads(), 1);
  // No StopSound: the process ends with the tone playing.
}

TEST(DeviceChild, NoDevice) {
  if (!inChild()) GTEST_SKIP() << "runs in a child process";
  setAudioOutput(nullptr);
  StartSound(true);
  if (liveToneThreads() != 0) {
    StopSound(true);
    GTEST_SKIP() << "this machine has an audio device";
  }
  PlaySouns(true, 1, QStringLiteral("/nonexistent/"));
  EXPECT_EQ(liveSoundThreads(), 0);
  StopSound(true);
}

// ---- Run by ctest ----

struct Child {
  int exitCode = -1;
  QString out;
  QString err;
};

Child runChild(const QString& test, const QString& home, const QString& rawFile = {}) {
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("HOME"), home);
  env.insert(QStringLiteral("TAVO_SOUND_CHILD"), QStringLiteral("1"));
  env.insert(QStringLiteral("TAVO_SOUND_OUT"), rawFile);
  env.remove(QStringLiteral("ALSA_CONFIG_PATH"));
  p.setProcessEnvironment(env);
  p.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_filter=") + test});
  Child c;
  if (!p.waitForFinished(60000)) {
    p.kill();
    p.waitForFinished();
    c.err = QStringLiteral("child timed out");
    return c;
  }
  c.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  c.out = QString::fromLocal8Bit(p.readAllStandardOutput());
  c.err = QString::fromLocal8Bit(p.readAllStandardError());
  return c;
}

void expectQuietStderr(const Child& c) {
  EXPECT_FALSE(c.err.contains(QStringLiteral("ALSA lib"))) << c.err.toStdString();
  EXPECT_FALSE(c.err.contains(QStringLiteral("jack"), Qt::CaseInsensitive)) << c.err.toStdString();
}

// A home folder whose ALSA default device writes everything played into out.raw.
QString fileDeviceHome(const QTemporaryDir& home) {
  const QString raw = home.filePath(QStringLiteral("out.raw"));
  test::writeFile(home.filePath(QStringLiteral(".asoundrc")),
                  QStringLiteral("pcm.!default { type file slave.pcm \"null\" file \"%1\" format \"raw\" }\n")
                      .arg(raw)
                      .toLocal8Bit());
  return raw;
}

TEST(RealDevice, ToneLandsInAnAlsaFileDeviceSampleForSample) {
  if (inChild()) GTEST_SKIP();
  QTemporaryDir home;
  ASSERT_TRUE(home.isValid());
  const QString raw = fileDeviceHome(home);
  const Child c = runChild(QStringLiteral("DeviceChild.PlayToneIntoFile"), home.path(), raw);
  ASSERT_EQ(c.exitCode, 0) << c.out.toStdString() << c.err.toStdString();
  ASSERT_TRUE(c.out.contains(QStringLiteral("[  PASSED  ] 1 test"))) << c.out.toStdString();
  ASSERT_FALSE(c.out.contains(QStringLiteral("[  SKIPPED ]"))) << c.out.toStdString();
  expectQuietStderr(c);

  const QByteArray bytes = test::readFile(raw);
  const qsizetype frames = bytes.size() / 4;
  ASSERT_GE(frames, 3 * kBlockFrames);
  const int blocks = int((frames + kBlockFrames - 1) / kBlockFrames);
  ToneState state = startTone();
  std::vector<std::int16_t> left(kBlockFrames), right(kBlockFrames), block(2 * kBlockFrames);
  const auto* got = reinterpret_cast<const unsigned char*>(bytes.constData());
  for (int b = 0; b < blocks; ++b) {
    nextToneBlock(state, left.data(), right.data(), block.data());
    for (int k = 0; k < 2 * kBlockFrames; ++k) {
      const qsizetype at = (qsizetype(b) * 2 * kBlockFrames + k) * 2;
      if (at + 1 >= frames * 4) break;
      const auto sample = std::int16_t(got[at] | (got[at + 1] << 8));
      ASSERT_EQ(sample, block[k]) << "block " << b << " sample " << k;
    }
  }
}

TEST(RealDevice, ProcessEndsCleanlyWithTheTonePlaying) {
  if (inChild()) GTEST_SKIP();
  QTemporaryDir home;
  ASSERT_TRUE(home.isValid());
  const Child c = runChild(QStringLiteral("DeviceChild.ExitWhileTonePlays"), home.path(), fileDeviceHome(home));
  EXPECT_EQ(c.exitCode, 0) << c.out.toStdString() << c.err.toStdString();
  EXPECT_TRUE(c.out.contains(QStringLiteral("[  PASSED  ] 1 test"))) << c.out.toStdString();
  expectQuietStderr(c);
}

TEST(RealDevice, NoSoundCardMeansSilenceAndNoThread) {
  if (inChild()) GTEST_SKIP();
  QTemporaryDir home;  // no .asoundrc: only the machine's own cards
  ASSERT_TRUE(home.isValid());
  const Child c = runChild(QStringLiteral("DeviceChild.NoDevice"), home.path());
  ASSERT_EQ(c.exitCode, 0) << c.out.toStdString() << c.err.toStdString();
  if (c.out.contains(QStringLiteral("[  SKIPPED ]"))) GTEST_SKIP() << "this machine has an audio device";
  expectQuietStderr(c);
}

}  // namespace
}  // namespace tavo
