#pragma once
#include <QAbstractTableModel>
#include <QColor>
#include <QLocale>
#include <QTableView>
#include <QVariant>
#include <QWidget>
#include <functional>
#include <vector>

namespace tavo {

class Dataset;

// One column of a grid over a dataset: the field, its title, its width and how its values read.
struct GridColumn {
  enum class Format {
    Plain,
    DayMonth,    // "dd.mm"
    Time,        // hours, minutes, seconds
    Fixed2,      // "0.00", regional decimal separator
    Date,        // the regional short date
    DateTime,    // date and time
    FalseIsNo,   // true shows nothing, false "Нет"
    TrueIsYes,   // true shows "Да", false nothing
  };
  QString field;
  QString title;
  int widthChars = 0;  // display width in characters; 0: as wide as the title needs
  int widthPixels = 0; // a fixed width in pixels (wins over widthChars)
  Format format = Format::Plain;
  QColor background;   // invalid: the grid's own background
};

// The columns of the work-log grid (DBGrid2) and of the models grid (DBGrid1), in their order.
std::vector<GridColumn> workGridColumns();
std::vector<GridColumn> modelGridColumns();
inline const QColor kWorkGridBackground{0, 128, 64};
inline const QColor kLime{0, 255, 0};
inline const QColor kRed{255, 0, 0};

// The text a value shows in a column (empty for null).
QString displayText(const QVariant& value, GridColumn::Format format, const QLocale& locale);

// A read-only table model over an open dataset. It keeps a copy of the dataset's rows, taken
// again on every re-read, post or delete the dataset reports, and follows its current row.
class DatasetModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  DatasetModel(Dataset& dataset, std::vector<GridColumn> columns, QLocale locale, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

  Dataset& dataset() { return dataset_; }
  const std::vector<GridColumn>& columns() const { return columns_; }
  QString text(int row, int column) const;
  // Takes the rows from the dataset again (only between edits: an open insert or edit is left
  // alone).
  void reload();
  // While this says so (the window is hidden), re-reads wait until reloadIfStale().
  std::function<bool()> deferReload;
  void reloadIfStale();
  bool stale() const { return stale_; }

 signals:
  void currentRowChanged(int row);

 private:
  void changed(int kind);

  Dataset& dataset_;
  std::vector<GridColumn> columns_;
  QLocale locale_;
  std::vector<std::vector<QVariant>> rows_;
  bool reloading_ = false;
  bool stale_ = false;
};

// The grid: read-only, whole rows selected, the selected row is the dataset's current row.
class DatasetGrid : public QTableView {
  Q_OBJECT
 public:
  DatasetGrid(DatasetModel* model, QWidget* parent = nullptr);
  DatasetModel* datasetModel() const { return model_; }
  // Sets the column widths from the column definitions and the grid's font.
  void applyColumnWidths();
  // What a failed move reports to (the operator's message box).
  std::function<void(const QString&)> onError;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void followCurrent(int row);
  void rowClicked(const QModelIndex& index);

  DatasetModel* model_;
  bool following_ = false;
};

// The navigator: first, prior, next, last over a dataset.
class DatasetNavigator : public QWidget {
  Q_OBJECT
 public:
  DatasetNavigator(Dataset& dataset, QWidget* parent = nullptr);
  std::function<void(const QString&)> onError;
  enum Button { First, Prior, Next, Last };
  void press(Button b);

 private:
  Dataset& dataset_;
};

}  // namespace tavo
