#pragma once
#include <QDate>
#include <QString>
#include <QStringList>
#include <functional>

namespace tavo {

class Station;
class WindowPort;

// The steps of the start-up that belong to other parts of the station; each may throw.
// A step left empty is not available in this build and says so in the operator log.
struct StartUpSteps {
  std::function<void()> openWebCamera;         // 1
  std::function<void(const QDate&)> showWorkLogFrom;  // 2: work-log filter from today
  std::function<void()> readSettings;          // 3 (fills station.settings)
  std::function<void()> startVideoView;        // 3: when the stream camera is chosen
  // 3 and 5: this station's hold on the flag folder, its old "ArrayOk.txt" removed; throws when
  // another station holds it. Called once the settings name the folder and again once it exists.
  std::function<void()> claimFlagFolder;
  std::function<void()> importModels;          // 6: LoadFromOffice
  std::function<void()> reopenModelTable;      // 6
  std::function<void()> buildTemplateBase;     // 6: Button19Click
  std::function<void()> switchPollOn;          // 6: Timer1 on
};

// The folders the start-up creates, in order, one directory level each.
QStringList workingFolders(const Station& station);

// Creates a folder that does not exist yet, one level only: its parent must exist.
// Throws std::runtime_error("Cannot create folder ...") otherwise.
void createFolderOneLevel(const QString& stationPath);

// Starts "C:\Korvend\Qe.exe" detached unless "C:\Korvend\Qe.cfg" exists. Returns whether it
// started; a missing or unstartable program is not reported.
bool startSiblingTool();

// The start-up handler (FormCreate). Errors end it early: the error's text goes to the operator,
// the remaining steps are skipped, and the window is shown at its designed size when the error
// came before the hidden-mode step. Returns true when every step ran.
bool runStartUp(Station& station, WindowPort& window, const StartUpSteps& steps);

}  // namespace tavo
