#pragma once
#include "base/operator_messages.h"

namespace tavo {

// Operator messages as modal message boxes (timers keep ticking while one is open).
class MessageBoxes : public OperatorMessages {
 public:
  void show(const QString& text, const QString& caption = QString()) override;
  bool confirm(const QString& text, const QString& caption = QString()) override;
};

}  // namespace tavo
