#pragma once
#include <QWidget>
#include <functional>
#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;

namespace tavo {

class DatasetGrid;
class DatasetNavigator;
class ScaledPictureView;
class StationApp;

// The "Модели" tab: the two model filters with the row count, the navigator and the model
// buttons, the grid (double click edits) with the model's two pictures beside it, and the
// maintenance buttons at the bottom.
class ModelsTab : public QWidget {
  Q_OBJECT
 public:
  ModelsTab(StationApp& app, QWidget* parent = nullptr);

  static constexpr int kPanelWidth = 200;
  static constexpr int kPictureHeight = 200;

  QLineEdit* eanFilter() const { return ean_; }
  QLineEdit* nameFilter() const { return name_; }
  QLabel* countLabel() const { return count_; }
  QLabel* baseLabel() const { return baseLabel_; }
  DatasetGrid* grid() const { return grid_; }
  DatasetNavigator* navigator() const { return navigator_; }
  ScaledPictureView* imageModelFace() const { return face_; }
  ScaledPictureView* imageDecrypted() const { return decrypted_; }
  QPushButton* button(const QString& objectName) const;

  // FilterModelEanChange / EditFilterBaseChange.
  void filterByEan();
  void filterByName();
  // SourceModelDataChange.
  void showPictures();

 private:
  void runWithRecords(const std::function<void()>& action);

  StationApp& app_;
  QLineEdit* ean_;
  QLineEdit* name_;
  QLabel* count_;
  QLabel* baseLabel_;
  DatasetNavigator* navigator_ = nullptr;
  DatasetGrid* grid_ = nullptr;
  ScaledPictureView* face_;
  ScaledPictureView* decrypted_;
  std::optional<QString> shownFile_;
};

}  // namespace tavo
