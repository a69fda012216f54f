#include "app/start_up.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <stdexcept>

#include "base/paths.h"
#include "app/window_port.h"
#include "base/station.h"

namespace tavo {

namespace {

const QString kQeConfig = QStringLiteral("C:\\Korvend\\Qe.cfg");
const QString kQeProgram = QStringLiteral("C:\\Korvend\\Qe.exe");
const QString kOldUpdater = QStringLiteral("C:\\Korvend\\Tavolin+.exe");

void runStep(Station& station, const std::function<void()>& step, const QString& name) {
  if (step) step();
  else station.showLog(QStringLiteral("  %1 - not available in this build").arg(name));
}

}  // namespace

QStringList workingFolders(const Station& station) {
  const Settings& s = station.settings;
  return {s.programPath + QStringLiteral("Temp"),     s.programPath + QStringLiteral("FTP"),
          s.flagDir,                                   s.modelDir,
          s.modelDir + QStringLiteral("\\TempModel"), s.workDir};
}

void createFolderOneLevel(const QString& stationPath) {
  const QString host = hostPath(stationPath);
  const QFileInfo info(host);
  if (info.isDir()) return;
  if (info.exists() || !QDir().mkdir(host))
    throw std::runtime_error(QStringLiteral("Cannot create folder \"%1\"").arg(stationPath).toStdString());
}

bool startSiblingTool() {
  if (QFileInfo::exists(hostPath(kQeConfig))) return false;
  const QString program = hostPath(kQeProgram);
  if (!QFileInfo(program).isFile()) return false;
  return QProcess::startDetached(program, {}, QFileInfo(program).absolutePath());
}

bool runStartUp(Station& station, WindowPort& window, const StartUpSteps& steps) {
  bool hidden = false;
  station.startUpInProgress = true;
  try {
    runStep(station, steps.openWebCamera, QStringLiteral("web camera"));
    const QDate today = station.clock().today();
    window.setDateDoc(today);
    if (steps.showWorkLogFrom) steps.showWorkLogFrom(today);
    if (steps.readSettings) steps.readSettings();
    if (steps.startVideoView && station.settings.camRtsp) steps.startVideoView();
    if (steps.claimFlagFolder) steps.claimFlagFolder();
    window.showWorkTab();
    for (const QString& folder : workingFolders(station)) createFolderOneLevel(folder);
    if (steps.claimFlagFolder) steps.claimFlagFolder();

    // The station always runs hidden: exe_hide in the settings is shown only.
    window.enterHiddenMode();
    hidden = true;
    runStep(station, steps.importModels, QStringLiteral("model import"));
    if (steps.reopenModelTable) steps.reopenModelTable();
    runStep(station, steps.buildTemplateBase, QStringLiteral("template base"));
    if (steps.switchPollOn) steps.switchPollOn();

    startSiblingTool();
    removeFile(kOldUpdater);
  } catch (const std::exception& e) {
    station.startUpInProgress = false;
    window.setBusy(false);
    if (!hidden) window.showAtDesignedSize();
    station.messages().show(QString::fromStdString(e.what()));
    return false;
  }
  station.startUpInProgress = false;
  return true;
}

}  // namespace tavo
