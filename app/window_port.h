#pragma once
#include <QDate>

namespace tavo {

// What the start-up asks of the main window. Headless, nothing is shown, so every call is a no-op.
class WindowPort {
 public:
  virtual ~WindowPort() = default;
  virtual void setDateDoc(const QDate&) {}  // the work log's first day
  virtual void showWorkTab() {}
  virtual void enterHiddenMode() {}  // borderless, zero-sized: not shown at all
  virtual void showAtDesignedSize() {}  // when the start-up is cut short before hiding
  virtual void setBusy(bool) {}         // input off while the template base is built
};

}  // namespace tavo
