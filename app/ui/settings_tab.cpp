#include "app/ui/settings_tab.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "base/paths.h"
#include "base/station.h"

namespace tavo {

QLineEdit* SettingsTab::addField(const QString& name) {
  auto* e = new QLineEdit(this);
  e->setObjectName(name);
  e->setReadOnly(true);
  return e;
}

SettingsTab::SettingsTab(Station& station, QWidget* parent) : QWidget(parent), station_(station) {
  auto* group = new QGroupBox(QStringLiteral("Настройки"), this);
  auto* grid = new QGridLayout(group);
  editPath_ = addField("EditPath");
  editFlag_ = addField("EditFlag");
  editModel_ = addField("EditModel");
  editWork_ = addField("EditWork");
  ean_ = addField("EAN");
  editRadius_ = addField("EditRadius");
  editRadiusModel_ = addField("EditRadiusModel");
  editCascade_ = addField("EditCascade");
  editRtsp_ = addField("EditRTSP");
  cutLeft_ = addField("CutLeft");
  cutRight_ = addField("CutRight");
  editPercent_ = addField("EditPercent");
  editWaitTime_ = addField("EditWaitTime");
  editThreshold_ = addField("EditThreshold");
  faceWidth_ = addField("Facewidth");
  faceHeight_ = addField("Faceheight");

  auto label = [this](const QString& text) { return new QLabel(text, this); };
  auto* button1 = new QPushButton(QStringLiteral("Выбор"), this);
  button1->setObjectName("Button1");
  connect(button1, &QPushButton::clicked, this, &SettingsTab::button1Click);

  int row = 0;
  // One label and field per row, two pairs where the layout has two.
  grid->addWidget(label(QStringLiteral("Каталог с программой")), row, 0);
  grid->addWidget(editPath_, row++, 1, 1, 3);
  grid->addWidget(label(QStringLiteral("Каталог с флагом работы")), row, 0);
  grid->addWidget(editFlag_, row, 1, 1, 3);
  grid->addWidget(button1, row++, 4);
  grid->addWidget(label(QStringLiteral("Каталог с моделями")), row, 0);
  grid->addWidget(editModel_, row++, 1, 1, 3);
  grid->addWidget(label(QStringLiteral("Каталог с фото регистрации")), row, 0);
  grid->addWidget(editWork_, row++, 1, 1, 3);
  grid->addWidget(label(QStringLiteral("Штрихкод сотрудника")), row, 0);
  grid->addWidget(ean_, row++, 1);
  grid->addWidget(label(QStringLiteral("Радиус лица (работа)")), row, 0);
  grid->addWidget(editRadius_, row, 1);
  grid->addWidget(label(QStringLiteral("Радиус лица (модели)")), row, 2);
  grid->addWidget(editRadiusModel_, row++, 3);
  grid->addWidget(label(QStringLiteral("Каскад")), row, 0);
  grid->addWidget(editCascade_, row++, 1, 1, 3);
  grid->addWidget(label(QStringLiteral("Строка подключения (RTSP)")), row, 0);
  grid->addWidget(editRtsp_, row++, 1, 1, 3);
  grid->addWidget(label(QStringLiteral("Обрезать слева")), row, 0);
  grid->addWidget(cutLeft_, row, 1);
  grid->addWidget(label(QStringLiteral("Обрезать справа")), row, 2);
  grid->addWidget(cutRight_, row++, 3);
  grid->addWidget(label(QStringLiteral("Мин. процент совпадения")), row, 0);
  grid->addWidget(editPercent_, row, 1);
  grid->addWidget(label(QStringLiteral("Время ожидания")), row, 2);
  grid->addWidget(editWaitTime_, row++, 3);
  grid->addWidget(label(QStringLiteral("Порог/Threshold")), row, 0);
  grid->addWidget(editThreshold_, row++, 1);

  checkEnabledSound_ = new QCheckBox(QStringLiteral("Включить звук"), this);
  checkEnabledSound_->setObjectName("CheckEnabledSound");
  checkCamRtsp_ = new QCheckBox(QStringLiteral("Check_Cam_RTSP"), this);
  checkCamRtsp_->setObjectName("Check_Cam_RTSP");
  checkExeHide_ = new QCheckBox(QStringLiteral("Check_exe_hide"), this);
  checkExeHide_->setObjectName("Check_exe_hide");
  checkAntiSpoof_ = new QCheckBox(QStringLiteral("AntiSpoof"), this);
  checkAntiSpoof_->setObjectName("CheckAntiSpoof");
  for (QCheckBox* c : {checkEnabledSound_, checkCamRtsp_, checkExeHide_, checkAntiSpoof_}) c->setEnabled(false);
  grid->addWidget(checkEnabledSound_, row, 0);
  grid->addWidget(checkCamRtsp_, row, 1);
  grid->addWidget(checkExeHide_, row, 2);
  grid->addWidget(checkAntiSpoof_, row++, 3);

  grid->addWidget(label(QStringLiteral("Размер лица  - ширина")), row, 0);
  grid->addWidget(faceWidth_, row, 1);
  grid->addWidget(label(QStringLiteral("Высота")), row, 2);
  grid->addWidget(faceHeight_, row++, 3);
  grid->setColumnStretch(1, 1);
  grid->setColumnStretch(3, 1);
  grid->setRowStretch(row, 1);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(group);

  // The fields follow the running settings (crop bounds and the barcode change while running).
  auto* timer = new QTimer(this);
  connect(timer, &QTimer::timeout, this, &SettingsTab::refresh);
  timer->start(250);
  refresh();
}

void SettingsTab::refresh() {
  const Settings& s = station_.settings;
  auto set = [](QLineEdit* e, const QString& t) {
    if (e->text() != t) e->setText(t);
  };
  set(editPath_, s.programPath);
  set(editFlag_, s.flagDir);
  set(editModel_, s.modelDir);
  set(editWork_, s.workDir);
  set(ean_, s.ean);
  set(editRadius_, Settings::realText(s.workRadius, station_.locale));
  set(editRadiusModel_, Settings::realText(s.modelRadius, station_.locale));
  set(editCascade_, s.cascade);
  set(editRtsp_, s.rtsp);
  set(cutLeft_, s.cutLeft);
  set(cutRight_, s.cutRight);
  set(editPercent_, Settings::integerText(s.percent));
  set(editWaitTime_, Settings::integerText(s.waitTime));
  set(editThreshold_, Settings::integerText(s.threshold));
  set(faceWidth_, Settings::integerText(s.faceWidth));
  set(faceHeight_, Settings::integerText(s.faceHeight));
  checkEnabledSound_->setChecked(s.soundEnabled);
  checkCamRtsp_->setChecked(s.camRtsp);
  checkExeHide_->setChecked(s.exeHide);
  checkAntiSpoof_->setChecked(s.antiSpoof);
}

void SettingsTab::button1Click() {
  QString start = hostPath(station_.settings.flagDir);
  if (station_.settings.flagDir.isEmpty()) start = station_.settings.programPath;
  const QString chosen = QFileDialog::getExistingDirectory(this, QStringLiteral("Выбор папки"), start);
  if (chosen.isEmpty()) return;  // cancelled
  QString folder = chosen;
  while (folder.size() > 1 && folder.endsWith('/')) folder.chop(1);
  station_.settings.flagDir = folder;  // for this run only; never saved
  refresh();
}

}  // namespace tavo
