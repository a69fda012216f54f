#pragma once
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <QPlainTextEdit>
#include <QString>
#include <functional>

namespace cv {
class Mat;
}

namespace tavo {

class Dataset;
class DatasetNavigator;
class Station;
class TextMemo;

// Runs an operator action; an error ends it and its text goes to a message box (the window's
// default error handling).
void runOperatorAction(Station& station, const std::function<void()>& action);

// A read-only memo that follows a TextMemo of the station (Memo1, Memo2).
class TextMemoView : public QPlainTextEdit {
  Q_OBJECT
 public:
  TextMemoView(TextMemo& memo, const QString& objectName, QWidget* parent = nullptr);

 private:
  void follow();
  TextMemo& memo_;
  int shown_ = 0;
};

// The layout of a tab page: its bars and panels one under the other, with narrow margins.
QVBoxLayout* tabPageLayout(QWidget* page);

// A navigator over one of the station's datasets; what it cannot do goes to the operator.
DatasetNavigator* datasetNavigator(Dataset& dataset, const char* objectName, Station& station, QWidget* parent);

QPushButton* makeButton(QWidget* parent, const char* objectName, const QString& caption);

// A filter field of a tab's filter bar: its hint shown when empty and as a tool tip.
QLineEdit* filterEdit(QWidget* parent, const char* objectName, const QString& hint, int width);

// A copy of an OpenCV BGR (or grey) picture as a QImage.
QImage toQImage(const cv::Mat& bgr);

}  // namespace tavo
