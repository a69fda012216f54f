#include "app/ui/log_views.h"

#include <QPointer>

#include "base/operator_log.h"
#include "base/result_buffer.h"

namespace tavo {

OperatorLogView::OperatorLogView(OperatorLog& log, QWidget* parent) : QPlainTextEdit(parent) {
  setObjectName("Memo4");
  setReadOnly(true);
  setLineWrapMode(NoWrap);
  for (const QString& l : log.lines()) appendPlainText(l);
  QPointer<OperatorLogView> self(this);
  log.addWatcher([self](const QString& line) {
    if (self) self->appendPlainText(line);
  });
  log.addClearWatcher([self] {
    if (self) self->clear();
  });
}

ResultBufferView::ResultBufferView(ResultBuffer& buffer, QWidget* parent) : QPlainTextEdit(parent) {
  setObjectName("MemoOut");
  setReadOnly(true);
  setLineWrapMode(NoWrap);
  QPointer<ResultBufferView> self(this);
  ResultBuffer* b = &buffer;
  buffer.setWatcher([self, b] {
    if (self) self->setPlainText(b->lines().join('\n'));
  });
}

}  // namespace tavo
