#include "tests/support/test_env.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <stdexcept>

namespace tavo::test {

QString sourceDir() {
  const QByteArray env = qgetenv("TAVO_SOURCE_DIR");
  return env.isEmpty() ? QStringLiteral(TAVO_SOURCE_DIR_DEFAULT) : QString::fromLocal8Bit(env);
}

QString buildDir() {
  const QByteArray env = qgetenv("TAVO_BUILD_DIR");
  return env.isEmpty() ? QStringLiteral(TAVO_BUILD_DIR_DEFAULT) : QString::fromLocal8Bit(env);
}

QString testDataDir() {
  const QByteArray env = qgetenv("TAVO_TESTDATA");
  if (!env.isEmpty()) return QString::fromLocal8Bit(env);
  return QDir::cleanPath(sourceDir() + QStringLiteral("/../shared/testdata"));
}

QString testData(const QString& relative) { return testDataDir() + '/' + relative; }

QProcessEnvironment headlessStationEnvironment(const QString& dir) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("TAVO_DRIVES", dir + "/drives");
  env.insert("OPENCV_LOG_LEVEL", "ERROR");
  env.remove("DISPLAY");
  env.remove("WAYLAND_DISPLAY");
  env.remove("QT_QPA_PLATFORM");
  return env;
}

QString thirdPartyDir() { return sourceDir() + QStringLiteral("/third_party"); }

QByteArray readFile(const QString& hostPath) {
  QFile f(hostPath);
  if (!f.open(QIODevice::ReadOnly)) throw std::runtime_error("cannot read " + hostPath.toStdString());
  return f.readAll();
}

void writeFile(const QString& hostPath, const QByteArray& data) {
  QDir().mkpath(QFileInfo(hostPath).absolutePath());
  QFile f(hostPath);
  if (!f.open(QIODevice::WriteOnly) || f.write(data) != data.size())
    throw std::runtime_error("cannot write " + hostPath.toStdString());
}

TempProgramDir::TempProgramDir() : hadDrives_(qEnvironmentVariableIsSet("TAVO_DRIVES")) {
  oldDrives_ = qgetenv("TAVO_DRIVES");
  QDir(dir_.path()).mkpath(QStringLiteral("Temp"));
  QDir(dir_.path()).mkpath(QStringLiteral("drives/c"));
  qputenv("TAVO_DRIVES", drives().toLocal8Bit());
}

TempProgramDir::~TempProgramDir() {
  if (hadDrives_) qputenv("TAVO_DRIVES", oldDrives_);
  else qunsetenv("TAVO_DRIVES");
}

QString TempProgramDir::path() const { return dir_.path() + '/'; }
QString TempProgramDir::file(const QString& name) const { return path() + name; }
QString TempProgramDir::drives() const { return dir_.path() + QStringLiteral("/drives"); }

bool TempProgramDir::installCascades() const {
  const QDir cascades(thirdPartyDir() + QStringLiteral("/cascades"));
  const QStringList names = cascades.entryList({QStringLiteral("*.xml")}, QDir::Files);
  bool ok = !names.isEmpty();
  for (const QString& name : names) ok = QFile::copy(cascades.filePath(name), file(name)) && ok;
  return ok;
}

bool TempProgramDir::linkNetworks() const {
  return QFile::link(thirdPartyDir() + QStringLiteral("/face-models"), file(QStringLiteral("nets")));
}

}  // namespace tavo::test
