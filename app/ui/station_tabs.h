#pragma once

class QWidget;

namespace tavo {

class StationApp;

// The tabs whose contents belong to the operator tools: "Работа" (work log, with the result-file
// buffer and the operator log at its bottom), "Модели" and "Prototype".
QWidget* createWorkTab(StationApp& app, QWidget* parent);
QWidget* createModelsTab(StationApp& app, QWidget* parent);
QWidget* createPrototypeTab(StationApp& app, QWidget* parent);

}  // namespace tavo
