#pragma once
#include <QWidget>

class QCheckBox;
class QLineEdit;

namespace tavo {

class Station;

// The "Настройки" tab: the running settings, read-only; "Выбор" picks another flag directory for
// this run only.
class SettingsTab : public QWidget {
  Q_OBJECT
 public:
  SettingsTab(Station& station, QWidget* parent = nullptr);
  void refresh();  // shows the current settings

 private:
  void button1Click();  // "Выбор"
  QLineEdit* addField(const QString& name);

  Station& station_;
  QLineEdit *editPath_, *editFlag_, *editModel_, *editWork_, *ean_, *editRadius_, *editRadiusModel_,
      *editCascade_, *editRtsp_, *cutLeft_, *cutRight_, *editPercent_, *editWaitTime_,
      *editThreshold_, *faceWidth_, *faceHeight_;
  QCheckBox *checkEnabledSound_, *checkCamRtsp_, *checkExeHide_, *checkAntiSpoof_;
};

}  // namespace tavo
