#pragma once
#include <QWidget>

namespace tavo {

// The "О программе" tab: the change history of the station (Memo3), read-only.
class AboutTab : public QWidget {
  Q_OBJECT
 public:
  explicit AboutTab(QWidget* parent = nullptr);
  static QString changeHistory();
};

}  // namespace tavo
