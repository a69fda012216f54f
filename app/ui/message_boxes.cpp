#include "app/ui/message_boxes.h"

#include <QApplication>
#include <QMessageBox>

namespace tavo {

void MessageBoxes::show(const QString& text, const QString& caption) {
  QMessageBox box(QMessageBox::NoIcon, caption.isEmpty() ? QApplication::applicationName() : caption, text,
                  QMessageBox::Ok);
  box.exec();
}

bool MessageBoxes::confirm(const QString& text, const QString& caption) {
  return QMessageBox::question(nullptr, caption.isEmpty() ? QApplication::applicationName() : caption, text,
                               QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

}  // namespace tavo
