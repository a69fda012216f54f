#include "app/ui/tab_support.h"

#include <QPointer>
#include <exception>
#include <opencv2/core.hpp>

#include "base/station.h"
#include "app/ui/dataset_grid.h"
#include "base/text_memo.h"

namespace tavo {

void runOperatorAction(Station& station, const std::function<void()>& action) {
  try {
    action();
  } catch (const std::exception& e) {
    station.messages().show(QString::fromUtf8(e.what()));
  }
}

TextMemoView::TextMemoView(TextMemo& memo, const QString& objectName, QWidget* parent)
    : QPlainTextEdit(parent), memo_(memo) {
  setObjectName(objectName);
  setReadOnly(true);
  setLineWrapMode(NoWrap);
  follow();
  QPointer<TextMemoView> self(this);
  memo.addWatcher([self] {
    if (self) self->follow();
  });
}

void TextMemoView::follow() {
  const QStringList& lines = memo_.lines();
  if (lines.size() == shown_ + 1 && shown_ > 0) {
    appendPlainText(lines.back());  // the usual case: one line added
  } else {
    setPlainText(lines.join(QLatin1Char('\n')));
  }
  shown_ = int(lines.size());
}

QImage toQImage(const cv::Mat& m) {
  if (m.empty()) return {};
  if (m.type() == CV_8UC3) return QImage(m.data, m.cols, m.rows, int(m.step), QImage::Format_BGR888).copy();
  if (m.type() == CV_8UC1) return QImage(m.data, m.cols, m.rows, int(m.step), QImage::Format_Grayscale8).copy();
  return {};
}

QVBoxLayout* tabPageLayout(QWidget* page) {
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->setSpacing(4);
  return layout;
}

DatasetNavigator* datasetNavigator(Dataset& dataset, const char* objectName, Station& station, QWidget* parent) {
  auto* navigator = new DatasetNavigator(dataset, parent);
  navigator->setObjectName(QString::fromLatin1(objectName));
  navigator->onError = [&station](const QString& text) { station.messages().show(text); };
  return navigator;
}

QPushButton* makeButton(QWidget* parent, const char* objectName, const QString& caption) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(QString::fromLatin1(objectName));
  return button;
}

QLineEdit* filterEdit(QWidget* parent, const char* objectName, const QString& hint, int width) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QString::fromLatin1(objectName));
  edit->setPlaceholderText(hint);
  edit->setToolTip(hint);
  edit->setFixedWidth(width);
  return edit;
}

}  // namespace tavo
