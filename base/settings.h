#pragma once
#include <QLocale>
#include <QString>

namespace tavo {

// The running settings: what the settings tab shows. Read once at start-up from "tavo2.ini" and
// "tavo.ini" in the program directory; every part of the station reads them here.
struct Settings {
  // Not from the INI files.
  QString programPath;  // ProgrammPath / EditPath: host folder of the program, ending with '/'
  QString ean;          // EAN: the barcode being processed
  QString cutLeft;      // CutLeft: crop bound in pixels as text; empty until first computed
  QString cutRight;     // CutRight

  // tavo2.ini
  int percent = 75;   // Pixel -> EditPercent
  int threshold = 3;  // Size  -> EditThreshold

  // tavo.ini
  QString flagDir = QStringLiteral("C:\\Face\\Monitor");  // Monitor -> EditFlag
  QString modelDir = QStringLiteral("C:\\Face\\Model");   // Model   -> EditModel
  QString workDir = QStringLiteral("C:\\Face\\Work");     // Work    -> EditWork
  double workRadius = 0.3;                               // WorkRadius
  double modelRadius = 0.3;                              // ModelRadius
  QString cascade = QStringLiteral("haarcascade_frontalface_alt.xml");
  QString rtsp = defaultRtsp();
  int waitTime = 3000;                                   // WaitTime, ms
  bool soundEnabled = false;                             // SoundEnabled
  bool camRtsp = false;                                  // Cam_RTSP
  bool exeHide = false;                                  // exe_hide (shown only)
  int faceWidth = 120;                                   // Facewidth
  int faceHeight = 120;                                  // Faceheight
  QString webCam = QStringLiteral("0");                  // WebCam: camera number or video file
  bool antiSpoof = false;                                // AntiSpoof: refuse pictures judged attacks

  static QString defaultRtsp();

  // Reads both INI files from the program directory (host path ending with '/').
  static Settings read(const QString& programPath, const QLocale& locale);

  // Text forms as the settings tab shows them.
  static QString integerText(int v);
  static QString realText(double v, const QLocale& locale);  // shortest form, up to 15 digits

  // The whole number in a crop-bound field; empty or unreadable counts as 0.
  static int wholeNumber(const QString& text);
};

}  // namespace tavo
