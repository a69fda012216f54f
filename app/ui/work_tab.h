#pragma once
#include <QWidget>

class QCheckBox;
class QDateEdit;
class QLineEdit;
class QPushButton;
class QSplitter;
class QTimer;

namespace tavo {

class DatasetGrid;
class DatasetNavigator;
class ScaledPictureView;
class StationApp;

// The "Работа" tab: the work-log filters and navigator, the three operator actions, the grid,
// the pictures of the current entry beside it (only while the window is shown), and MemoOut above
// Memo4 at the bottom.
class WorkTab : public QWidget {
  Q_OBJECT
 public:
  WorkTab(StationApp& app, QWidget* parent = nullptr);

  static constexpr int kPanelWidth = 327;
  static constexpr int kCryptHeight = 116;

  QDateEdit* dateDoc() const { return dateDoc_; }
  QLineEdit* idModelEdit() const { return idModel_; }
  QLineEdit* snEdit() const { return sn_; }
  QCheckBox* failedBox() const { return failed_; }
  QPushButton* addToModelsButton() const { return addToModels_; }
  QPushButton* testCheckInButton() const { return inWork_; }
  QPushButton* recheckButton() const { return recheck_; }
  DatasetGrid* grid() const { return grid_; }
  DatasetNavigator* navigator() const { return navigator_; }
  ScaledPictureView* imageCrypt() const { return imageCrypt_; }
  ScaledPictureView* imageFace() const { return imageFace_; }
  QSplitter* splitter() const { return splitter_; }

  // EditidModelChange: the filter of the work log from the four inputs.
  void applyFilter();
  // SourceWorkDataChange: the pictures of the current entry.
  void showPictures();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void paintVideo();

  StationApp& app_;
  QDateEdit* dateDoc_;
  QLineEdit* idModel_;
  QLineEdit* sn_;
  QCheckBox* failed_;
  QPushButton* addToModels_;
  QPushButton* inWork_;
  QPushButton* recheck_;
  DatasetNavigator* navigator_ = nullptr;
  DatasetGrid* grid_ = nullptr;
  ScaledPictureView* imageCrypt_;
  ScaledPictureView* video_;
  ScaledPictureView* imageFace_;
  QSplitter* splitter_;
  QTimer* videoTimer_;
  QString shownFile_;
  bool pictureShown_ = false;
};

}  // namespace tavo
