#pragma once
#include <QPlainTextEdit>

namespace tavo {

class OperatorLog;
class ResultBuffer;

// Memo4: follows the operator log line by line.
class OperatorLogView : public QPlainTextEdit {
  Q_OBJECT
 public:
  OperatorLogView(OperatorLog& log, QWidget* parent = nullptr);
};

// MemoOut: shows the result-file buffer (the last result file composed).
class ResultBufferView : public QPlainTextEdit {
  Q_OBJECT
 public:
  ResultBufferView(ResultBuffer& buffer, QWidget* parent = nullptr);
};

}  // namespace tavo
