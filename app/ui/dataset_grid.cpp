#include "app/ui/dataset_grid.h"

#include <QDate>
#include <QDateTime>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPointer>
#include <QToolButton>
#include <exception>

#include "data/dataset.h"

namespace tavo {

using F = GridColumn::Format;

std::vector<GridColumn> workGridColumns() {
  return {
      {"datedoc", "Дата", 5, 0, F::DayMonth, {}},
      {"timedoc", "Время", 8, 0, F::Time, {}},
      {"is_face", "Лицо", 0, 0, F::FalseIsNo, {}},
      {"EAN", "БД", 25, 0, F::Plain, kLime},
      {"SN", "1С", 25, 0, F::Plain, kRed},
      {"PercentDifference", "% отл.", 4, 0, F::Fixed2, {}},
      {"excellent", "совпадение", 0, 0, F::FalseIsNo, {}},
      {"tags", "tags", 0, 70, F::Plain, {}},
      {"cLeft", "cLeft", 0, 0, F::Plain, {}},
      {"cRight", "cRight", 0, 0, F::Plain, {}},
      {"cTop", "cTop", 0, 0, F::Plain, {}},
      {"cBottom", "cBottom", 0, 0, F::Plain, {}},
      {"width", "width", 0, 0, F::Plain, {}},
      {"height", "height", 0, 0, F::Plain, {}},
  };
}

std::vector<GridColumn> modelGridColumns() {
  return {
      {"id", "id", 5, 0, F::Plain, {}},
      {"Active", "Активный", 0, 0, F::FalseIsNo, {}},
      {"dark", "Выгружено", 0, 0, F::TrueIsYes, {}},
      {"light", "ПорогПройден", 0, 0, F::TrueIsYes, {}},
      {"EAN", "EAN", 13, 0, F::Plain, {}},
      {"DateLastDetection", "Попытка", 10, 0, F::Date, {}},
      {"DateLastSimilarity", "Совпадение", 10, 0, F::Date, {}},
      {"DateInsert", "Дата вставки", 18, 0, F::DateTime, {}},
  };
}

QString displayText(const QVariant& v, GridColumn::Format format, const QLocale& locale) {
  switch (format) {
    case F::FalseIsNo: return v.isNull() || v.toBool() ? QString() : QStringLiteral("Нет");
    case F::TrueIsYes: return !v.isNull() && v.toBool() ? QStringLiteral("Да") : QString();
    default: break;
  }
  if (v.isNull()) return {};
  switch (format) {
    case F::DayMonth: return v.toDate().toString(QStringLiteral("dd.MM"));
    case F::Time: return v.toTime().toString(QStringLiteral("HH:mm:ss"));
    case F::Fixed2: {
      QString s = QString::number(v.toDouble(), 'f', 2);
      return s.replace(QLatin1Char('.'), locale.decimalPoint());
    }
    case F::Date: return v.toDate().toString(QStringLiteral("dd.MM.yyyy"));
    case F::DateTime: return v.toDateTime().toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
    default: break;
  }
  if (v.typeId() == QMetaType::Double) return QString::number(v.toDouble(), 'g', 15).replace('.', locale.decimalPoint());
  return v.toString();
}

DatasetModel::DatasetModel(Dataset& dataset, std::vector<GridColumn> columns, QLocale locale, QObject* parent)
    : QAbstractTableModel(parent), dataset_(dataset), columns_(std::move(columns)), locale_(std::move(locale)) {
  QPointer<DatasetModel> self(this);
  dataset_.onChange([self](Dataset::Change c) {
    if (self) self->changed(int(c));
  });
  reload();
}

int DatasetModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(rows_.size()); }
int DatasetModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(columns_.size()); }

QString DatasetModel::text(int row, int column) const {
  if (row < 0 || row >= int(rows_.size()) || column < 0 || column >= int(columns_.size())) return {};
  return displayText(rows_[size_t(row)][size_t(column)], columns_[size_t(column)].format, locale_);
}

QVariant DatasetModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  const GridColumn& c = columns_[size_t(index.column())];
  switch (role) {
    case Qt::DisplayRole: return text(index.row(), index.column());
    case Qt::BackgroundRole: return c.background.isValid() ? QVariant(c.background) : QVariant();
    case Qt::TextAlignmentRole: {
      const QVariant& v = rows_[size_t(index.row())][size_t(index.column())];
      const bool number = v.typeId() == QMetaType::Int || v.typeId() == QMetaType::Double ||
                          v.typeId() == QMetaType::LongLong;
      return QVariant::fromValue(Qt::AlignVCenter | (number ? Qt::AlignRight : Qt::AlignLeft));
    }
    default: return {};
  }
}

QVariant DatasetModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  if (section < 0 || section >= int(columns_.size())) return {};
  return columns_[size_t(section)].title;
}

void DatasetModel::changed(int kind) {
  switch (Dataset::Change(kind)) {
    case Dataset::Change::Scrolled: emit currentRowChanged(dataset_.currentRow()); break;
    case Dataset::Change::FieldChanged: {
      // An edit of a listed row shows at once; a new row shows once it is posted.
      const int row = dataset_.currentRow();
      if (dataset_.state() != Dataset::State::Edit || row < 0 || row >= int(rows_.size())) break;
      for (size_t c = 0; c < columns_.size(); ++c) rows_[size_t(row)][c] = dataset_.field(columns_[c].field);
      emit dataChanged(index(row, 0), index(row, int(columns_.size()) - 1));
      break;
    }
    case Dataset::Change::StateChanged: break;
    case Dataset::Change::DataChanged:
      if (deferReload && deferReload()) {
        stale_ = true;
        break;
      }
      reload();
      emit currentRowChanged(dataset_.isOpen() ? dataset_.currentRow() : -1);
      break;
  }
}

void DatasetModel::reloadIfStale() {
  if (!stale_) return;
  reload();
  emit currentRowChanged(dataset_.isOpen() ? dataset_.currentRow() : -1);
}

void DatasetModel::reload() {
  if (reloading_) return;
  if (dataset_.isOpen() && dataset_.state() != Dataset::State::Browse) return;
  reloading_ = true;
  stale_ = false;
  beginResetModel();
  rows_.clear();
  if (dataset_.isOpen()) {
    // Walk the rows quietly and come back to where the dataset was, end-of-rows included, so
    // that a walk running around this one goes on undisturbed.
    const bool wasNotifying = dataset_.notificationsEnabled();
    const int keep = dataset_.currentRow();
    const bool atEof = dataset_.eof();
    const int n = dataset_.recordCount();
    dataset_.setNotificationsEnabled(false);
    try {
      rows_.reserve(size_t(n));
      for (int r = 0; r < n; ++r) {
        dataset_.moveTo(r);
        std::vector<QVariant> row;
        row.reserve(columns_.size());
        for (const GridColumn& c : columns_) row.push_back(dataset_.field(c.field));
        rows_.push_back(std::move(row));
      }
      if (keep >= 0) dataset_.moveTo(keep);
      if (atEof && keep == n - 1 && n > 0) dataset_.next();
    } catch (const std::exception&) {
      rows_.clear();
    }
    endResetModel();
    dataset_.setNotificationsEnabled(wasNotifying);
  } else {
    endResetModel();
  }
  reloading_ = false;
}

DatasetGrid::DatasetGrid(DatasetModel* model, QWidget* parent) : QTableView(parent), model_(model) {
  model->setParent(this);
  setModel(model);
  setEditTriggers(NoEditTriggers);
  setSelectionBehavior(SelectRows);
  setSelectionMode(SingleSelection);
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
  verticalHeader()->setFixedWidth(12);
  horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  horizontalHeader()->setHighlightSections(false);
  applyColumnWidths();
  connect(model, &DatasetModel::currentRowChanged, this, &DatasetGrid::followCurrent);
  connect(model, &QAbstractItemModel::modelReset, this, [this] { followCurrent(model_->dataset().currentRow()); });
  connect(this, &QTableView::clicked, this, &DatasetGrid::rowClicked);
  connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current) { rowClicked(current); });
  followCurrent(model->dataset().isOpen() ? model->dataset().currentRow() : -1);
  // A hidden station posts work rows all day; nobody sees the grid until the window is shown.
  model->deferReload = [this] { return !window()->isVisible(); };
}

void DatasetGrid::showEvent(QShowEvent* event) {
  QTableView::showEvent(event);
  model_->reloadIfStale();
}

void DatasetGrid::applyColumnWidths() {
  const QFontMetrics fm(font());
  const int digit = fm.horizontalAdvance(QLatin1Char('0'));
  const auto& cols = model_->columns();
  for (size_t i = 0; i < cols.size(); ++i) {
    const GridColumn& c = cols[i];
    // Characters of the widest digit, and never narrower than the title.
    int w = c.widthPixels;
    if (w == 0) w = std::max(std::max(c.widthChars, 5) * digit + 12, fm.horizontalAdvance(c.title) + 14);
    setColumnWidth(int(i), w);
  }
}

void DatasetGrid::followCurrent(int row) {
  if (following_) return;
  following_ = true;
  if (row < 0 || row >= model_->rowCount()) {
    clearSelection();
  } else {
    const QModelIndex idx = model_->index(row, std::max(0, currentIndex().column()));
    selectionModel()->setCurrentIndex(idx, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    scrollTo(idx);
  }
  following_ = false;
}

void DatasetGrid::rowClicked(const QModelIndex& index) {
  if (following_ || !index.isValid()) return;
  Dataset& d = model_->dataset();
  if (!d.isOpen() || d.currentRow() == index.row()) return;
  try {
    d.moveTo(index.row());
  } catch (const std::exception& e) {
    if (onError) onError(QString::fromUtf8(e.what()));
  }
}

DatasetNavigator::DatasetNavigator(Dataset& dataset, QWidget* parent) : QWidget(parent), dataset_(dataset) {
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(0);
  const struct {
    Button b;
    const char* name;
    const char* text;
    const char* tip;
  } buttons[] = {{First, "First", "|◀", "Первая запись"},
                 {Prior, "Prior", "◀", "Предыдущая запись"},
                 {Next, "Next", "▶", "Следующая запись"},
                 {Last, "Last", "▶|", "Последняя запись"}};
  for (const auto& def : buttons) {
    auto* button = new QToolButton(this);
    button->setObjectName(QString::fromLatin1(def.name));
    button->setText(QString::fromUtf8(def.text));
    button->setToolTip(QString::fromUtf8(def.tip));
    button->setFixedSize(28, 24);
    row->addWidget(button);
    const Button b = def.b;
    connect(button, &QToolButton::clicked, this, [this, b] { press(b); });
  }
}

void DatasetNavigator::press(Button b) {
  Dataset* d = &dataset_;
  try {
    if (!d->isOpen()) throw std::runtime_error("Набор данных не открыт");
    switch (b) {
      case First: d->first(); break;
      case Prior: d->prior(); break;
      case Next: d->next(); break;
      case Last: d->last(); break;
    }
  } catch (const std::exception& e) {
    if (onError) onError(QString::fromUtf8(e.what()));
  }
}

}  // namespace tavo
