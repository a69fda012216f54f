#pragma once
#include <QObject>

class QSocketNotifier;

namespace tavo {

// Turns SIGTERM and SIGINT into a clean quit of the Qt event loop (exit code 0).
class UnixSignals : public QObject {
  Q_OBJECT
 public:
  explicit UnixSignals(QObject* parent = nullptr);
  ~UnixSignals() override;

 signals:
  void quitRequested(int signal);

 private:
  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace tavo
