#pragma once
#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

namespace tavo::test {

QString sourceDir();    // the repository
QString buildDir();     // the CMake build folder
QString testDataDir();  // ../shared/testdata beside the repository (or $TAVO_TESTDATA)
QString testData(const QString& relative);

// The environment of the station program run headless over the program directory dir: its drives
// inside dir, quiet OpenCV, no display.
QProcessEnvironment headlessStationEnvironment(const QString& dir);  // a file under testDataDir()
QString thirdPartyDir();  // third_party/ of the repository: weights and cascades from the set-up

QByteArray readFile(const QString& hostPath);
void writeFile(const QString& hostPath, const QByteArray& data);

// A temporary program directory ending with '/', with "Temp" inside, and $TAVO_DRIVES pointed at
// its "drives" folder for the lifetime of the object (the old value comes back afterwards).
class TempProgramDir {
 public:
  TempProgramDir();
  ~TempProgramDir();
  QString path() const;                       // ends with '/'
  QString file(const QString& name) const;    // path() + name
  QString drives() const;                     // the drives root inside it
  // What a station reads from its program directory, from the set-up's third_party/: every Haar
  // cascade copied in, and "nets" linked to the network weights. False when one could not be had.
  bool installCascades() const;
  bool linkNetworks() const;
  bool isValid() const { return dir_.isValid(); }

 private:
  QTemporaryDir dir_;
  QByteArray oldDrives_;
  bool hadDrives_;
};

}  // namespace tavo::test
