#include "app/ui/station_tabs.h"

#include "app/ui/models_tab.h"
#include "app/ui/prototype_tab.h"
#include "app/ui/work_tab.h"

namespace tavo {

QWidget* createWorkTab(StationApp& app, QWidget* parent) { return new WorkTab(app, parent); }

QWidget* createModelsTab(StationApp& app, QWidget* parent) { return new ModelsTab(app, parent); }

QWidget* createPrototypeTab(StationApp& app, QWidget* parent) { return new PrototypeTab(app, parent); }

}  // namespace tavo
