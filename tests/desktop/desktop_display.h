#pragma once
#include <QProcess>
#include <QString>

namespace tavo::test {

// An Xvfb display (1280 x 800) with trayer as its system tray, for the life of the object.
class DesktopDisplay {
 public:
  ~DesktopDisplay();
  bool start();
  static DesktopDisplay& current();  // the display of this test run (started by main)
  QString name() const { return name_; }  // ":N"
  QString error() const { return error_; }

  // The geometry and map state of the top-level window titled `title` of the program named
  // `program` (its window class instance; xwininfo).
  struct WindowInfo {
    bool found = false;
    QString id;
    int width = 0;
    int height = 0;
    bool viewable = false;
  };
  WindowInfo window(const QString& title, const QString& program) const;
  // A PNG of that window (ImageMagick's import), for the README's screenshots.
  bool screenshot(const QString& windowId, const QString& pngPath) const;

 private:
  QProcess xvfb_;
  QProcess tray_;
  QString name_;
  QString error_;
};

}  // namespace tavo::test
