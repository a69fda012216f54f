#include <gtest/gtest.h>

#include "base/ini_file.h"
#include "base/settings.h"
#include "tests/support/test_env.h"

using namespace tavo;
using tavo::test::TempProgramDir;
using tavo::test::writeFile;

namespace {
const QLocale kRussian(QLocale::Russian, QLocale::Russia);
const QLocale kEnglish(QLocale::English, QLocale::UnitedStates);
}  // namespace

TEST(Settings, NoIniFilesGiveEveryDefaultInItsTextForm) {
  TempProgramDir dir;
  const Settings s = Settings::read(dir.path(), kRussian);
  EXPECT_EQ(s.flagDir, "C:\\Face\\Monitor");
  EXPECT_EQ(s.modelDir, "C:\\Face\\Model");
  EXPECT_EQ(s.workDir, "C:\\Face\\Work");
  EXPECT_EQ(Settings::realText(s.workRadius, kRussian), "0,3");
  EXPECT_EQ(Settings::realText(s.modelRadius, kRussian), "0,3");
  EXPECT_EQ(s.cascade, "haarcascade_frontalface_alt.xml");
  EXPECT_EQ(Settings::integerText(s.waitTime), "3000");
  EXPECT_EQ(Settings::integerText(s.percent), "75");
  EXPECT_EQ(Settings::integerText(s.threshold), "3");
  EXPECT_EQ(s.faceWidth, 120);
  EXPECT_EQ(s.faceHeight, 120);
  EXPECT_FALSE(s.soundEnabled);
  EXPECT_FALSE(s.camRtsp);  // the web camera is used
  EXPECT_FALSE(s.exeHide);
  EXPECT_FALSE(s.antiSpoof);  // the check-in as specified
  EXPECT_TRUE(s.rtsp.startsWith("rtsp://"));
  EXPECT_TRUE(s.rtsp.contains(":5445/Stream2/Channel=2"));
  EXPECT_TRUE(s.cutLeft.isEmpty());
  EXPECT_EQ(s.programPath, dir.path());
}

TEST(Settings, ValuesFollowTheProfileRules) {
  TempProgramDir dir;
  writeFile(dir.file("tavo.ini"),
            "[PARAM]\r\n"
            "monitor =  \"D:\\Flags\"  \r\n"
            "WaitTime=0x10\r\n"
            "SoundEnabled=2\r\n"
            "Cam_RTSP=true\r\n"
            "exe_hide=1\r\n"
            "WorkRadius=0,25\r\n"
            "ModelRadius=0.4\r\n"
            "Facewidth=$20\r\n"
            "Faceheight=abc\r\n"
            "WebCam=/tmp/clip.mp4\r\n");
  writeFile(dir.file("tavo2.ini"), "[param]\nPixel=80\nSize=  5 \n");
  const Settings s = Settings::read(dir.path(), kRussian);
  EXPECT_EQ(s.flagDir, "D:\\Flags");  // trimmed, quotes removed, names without regard to case
  EXPECT_EQ(s.waitTime, 16);          // hexadecimal 0x10
  EXPECT_TRUE(s.soundEnabled);        // 2 counts as true
  EXPECT_FALSE(s.camRtsp);            // "true" is not an integer: the default
  EXPECT_TRUE(s.exeHide);             // shown only
  EXPECT_DOUBLE_EQ(s.workRadius, 0.25);
  EXPECT_DOUBLE_EQ(s.modelRadius, 0.3);  // wrong decimal separator: the default
  EXPECT_EQ(s.faceWidth, 32);            // "$" hexadecimal
  EXPECT_EQ(s.faceHeight, 120);
  EXPECT_EQ(s.percent, 80);
  EXPECT_EQ(s.threshold, 5);
  EXPECT_EQ(s.webCam, "/tmp/clip.mp4");
  EXPECT_EQ(s.modelDir, "C:\\Face\\Model");  // missing key

  // exe_hide changes nothing else: the same files without it read the same otherwise.
  writeFile(dir.file("tavo.ini"), "[param]\nexe_hide=0\n");
  EXPECT_FALSE(Settings::read(dir.path(), kRussian).exeHide);

  // AntiSpoof: 1 switches the presentation-attack check on, 0 or an unreadable value leaves it off.
  for (const auto& [line, on] : {std::pair{"AntiSpoof=1", true}, std::pair{"antispoof = 0", false},
                                 std::pair{"AntiSpoof=on", false}}) {
    writeFile(dir.file("tavo.ini"), QByteArray("[param]\n") + line + "\n");
    EXPECT_EQ(Settings::read(dir.path(), kRussian).antiSpoof, on) << line;
  }
}

TEST(Settings, RealsUseTheLocaleSeparator) {
  TempProgramDir dir;
  writeFile(dir.file("tavo.ini"), "[param]\nWorkRadius=0.5\nModelRadius=0,5\n");
  const Settings s = Settings::read(dir.path(), kEnglish);
  EXPECT_DOUBLE_EQ(s.workRadius, 0.5);
  EXPECT_DOUBLE_EQ(s.modelRadius, 0.3);
  EXPECT_EQ(Settings::realText(0.3, kEnglish), "0.3");
  EXPECT_EQ(Settings::realText(75, kRussian), "75");
  EXPECT_EQ(Settings::realText(87.654321, kRussian), "87,654321");
  EXPECT_EQ(Settings::realText(1.0 / 3.0, kRussian), "0,333333333333333");
}

TEST(IniFile, IntegersAndEdgeForms) {
  EXPECT_EQ(IniFile::parseInteger("75"), 75);
  EXPECT_EQ(IniFile::parseInteger("-5"), -5);
  EXPECT_EQ(IniFile::parseInteger("0X1f"), 31);
  EXPECT_EQ(IniFile::parseInteger("$FFFFFFFF"), -1);
  EXPECT_FALSE(IniFile::parseInteger(""));
  EXPECT_FALSE(IniFile::parseInteger("12a"));
  EXPECT_FALSE(IniFile::parseInteger("0x"));
  EXPECT_FALSE(IniFile::parseInteger("99999999999"));
  EXPECT_FALSE(IniFile::parseInteger("1 2"));

  const IniFile ini = IniFile::parse("junk line\n[other]\nPixel=1\n[param]\nPixel=2\nPixel=3\n");
  EXPECT_EQ(ini.readInteger("param", "pixel", 75), 2);  // first occurrence, like the profile API
  EXPECT_EQ(ini.readInteger("nosection", "pixel", 75), 75);
  EXPECT_EQ(Settings::wholeNumber(""), 0);
  EXPECT_EQ(Settings::wholeNumber("150"), 150);
}
