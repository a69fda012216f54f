#pragma once
#include <QDate>
#include <QTabWidget>
#include <QWidget>
#include <vector>

class QDateEdit;
class QPushButton;

namespace tavo {

class ScaledPictureView;
class StationApp;
class TextMemoView;

// The day's match-percentage distribution as bars, one per 5-point band, beside the numbers.
class DistributionChart : public QWidget {
  Q_OBJECT
 public:
  explicit DistributionChart(QWidget* parent = nullptr);
  void setCounts(const std::vector<int>& counts, const QDate& day);
  const std::vector<int>& counts() const { return counts_; }
  QSize sizeHint() const override { return {300, 220}; }

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  std::vector<int> counts_;
  QDate day_;
};

// The "Prototype" tab: "Размеры изображений" (crop bounds, drawing tools, distribution with its
// chart, Memo1, Image1) and "Анализ моделей" (the actuality check and Memo2).
class PrototypeTab : public QTabWidget {
  Q_OBJECT
 public:
  PrototypeTab(StationApp& app, QWidget* parent = nullptr);

  QPushButton* button(const QString& objectName) const;
  QDateEdit* dayPicker() const { return day_; }
  ScaledPictureView* image1() const { return image1_; }
  TextMemoView* memo1() const { return memo1_; }
  TextMemoView* memo2() const { return memo2_; }
  DistributionChart* chart() const { return chart_; }

 private:
  StationApp& app_;
  QDateEdit* day_;
  ScaledPictureView* image1_;
  TextMemoView* memo1_;
  TextMemoView* memo2_;
  DistributionChart* chart_;
};

}  // namespace tavo
