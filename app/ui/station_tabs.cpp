#include "app/ui/station_tabs.h"

#include <QLabel>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/station_app.h"
#include "app/ui/log_views.h"

namespace tavo {

QWidget* createWorkTab(StationApp& app, QWidget* parent) {
  auto* tab = new QWidget(parent);
  auto* layout = new QVBoxLayout(tab);
  auto* area = new QWidget(tab);
  area->setObjectName("WorkArea");
  layout->addWidget(area, 1);
  auto* memoOut = new ResultBufferView(app.station().memoOut, tab);
  memoOut->setFixedHeight(100);
  auto* memo4 = new OperatorLogView(app.station().log, tab);
  memo4->setFixedHeight(100);
  layout->addWidget(memoOut);
  layout->addWidget(memo4);
  return tab;
}

QWidget* createModelsTab(StationApp&, QWidget* parent) {
  auto* tab = new QWidget(parent);
  tab->setObjectName("ModelsTab");
  return tab;
}

QWidget* createPrototypeTab(StationApp&, QWidget* parent) {
  auto* tab = new QTabWidget(parent);
  tab->addTab(new QWidget(tab), QStringLiteral("Размеры изображений"));
  tab->addTab(new QWidget(tab), QStringLiteral("Анализ моделей"));
  return tab;
}

}  // namespace tavo
