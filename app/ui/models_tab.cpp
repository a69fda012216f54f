#include "app/ui/models_tab.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSplitter>
#include <QVBoxLayout>

#include "base/paths.h"
#include "base/stored_names.h"
#include "app/shell/station_parts.h"
#include "app/station_app.h"
#include "app/ui/dataset_grid.h"
#include "app/ui/tab_support.h"
#include "data/data_store.h"
#include "face/face_base.h"
#include "models/model_maintenance.h"
#include "models/model_records.h"
#include "models/ui/create_model_form.h"
#include "protect/face_file.h"

namespace tavo {

ModelsTab::ModelsTab(StationApp& app, QWidget* parent) : QWidget(parent), app_(app) {
  setObjectName(QStringLiteral("ModelsTab"));
  Station& station = app.station();
  StationParts* parts = app.parts();
  auto report = [&station](const QString& text) { station.messages().show(text); };

  QVBoxLayout* layout = tabPageLayout(this);

  auto* filters = new QHBoxLayout;
  ean_ = filterEdit(this, "FilterModelEan", QStringLiteral("EAN"), 140);
  name_ = filterEdit(this, "EditFilterBase", QStringLiteral("ФИО 1С"), 180);
  count_ = new QLabel(QStringLiteral("Количество записей"), this);
  count_->setObjectName(QStringLiteral("LabelCountModel"));
  filters->addWidget(ean_);
  filters->addWidget(name_);
  filters->addWidget(count_);
  filters->addStretch(1);
  layout->addLayout(filters);

  auto* bar = new QHBoxLayout;
  if (parts) {
    navigator_ = datasetNavigator(parts->data().tableModel(), "DBNavigator2", station, this);
    bar->addWidget(navigator_);
  }
  QPushButton* create = makeButton(this, "Button2", QStringLiteral("Создать"));
  QPushButton* change = makeButton(this, "Button3", QStringLiteral("Изменить"));
  QPushButton* remove = makeButton(this, "Button4", QStringLiteral("Удалить"));
  QPushButton* build = makeButton(this, "Button19", QStringLiteral("Создать базу lux"));
  QPushButton* encrypt = makeButton(this, "Button14", QStringLiteral("Шифровать модели"));
  encrypt->setEnabled(false);
  baseLabel_ = new QLabel(QStringLiteral("База моделей ..."), this);
  baseLabel_->setObjectName(QStringLiteral("Label18"));
  for (QWidget* w : std::initializer_list<QWidget*>{create, change, remove, build, encrypt, baseLabel_}) bar->addWidget(w);
  bar->addStretch(1);
  layout->addLayout(bar);

  auto* middle = new QHBoxLayout;
  if (parts) {
    auto* model = new DatasetModel(parts->data().tableModel(), modelGridColumns(), station.locale);
    grid_ = new DatasetGrid(model, this);
    grid_->setObjectName(QStringLiteral("DBGrid1"));
    grid_->onError = report;
    middle->addWidget(grid_, 1);
  } else {
    middle->addWidget(new QLabel(QStringLiteral("Модели недоступны"), this), 1);
  }
  auto* panel = new QWidget(this);
  panel->setFixedWidth(kPanelWidth);
  auto* panelLayout = new QVBoxLayout(panel);
  panelLayout->setContentsMargins(0, 0, 0, 0);
  face_ = new ScaledPictureView(panel);
  face_->setObjectName(QStringLiteral("ImageModelFace"));
  face_->setFixedHeight(kPictureHeight);
  decrypted_ = new ScaledPictureView(panel);
  decrypted_->setObjectName(QStringLiteral("ImageDecrypted"));
  decrypted_->setFixedHeight(kPictureHeight);
  panelLayout->addWidget(face_);
  panelLayout->addWidget(decrypted_);
  panelLayout->addStretch(1);
  middle->addWidget(panel);
  layout->addLayout(middle, 1);

  auto* bottom = new QHBoxLayout;
  QPushButton* copy = makeButton(this, "Button10",
                                 QStringLiteral("Скопировать файлы в новую папку. Поставить метку если нет файла"));
  QPushButton* exportList = makeButton(this, "Button13", QStringLiteral("Выгрузить базу в TXT"));
  bottom->addWidget(copy);
  bottom->addWidget(exportList);
  bottom->addStretch(1);
  layout->addLayout(bottom);

  connect(ean_, &QLineEdit::textChanged, this, &ModelsTab::filterByEan);
  connect(name_, &QLineEdit::textChanged, this, &ModelsTab::filterByName);
  if (!parts) {
    for (QPushButton* b : {create, change, remove, build, copy, exportList}) b->setEnabled(false);
    return;
  }

  connect(create, &QPushButton::clicked, this, [this] { runWithRecords([this] { app_.parts()->modelRecords()->NewRecord(QString()); }); });
  connect(change, &QPushButton::clicked, this, [this] { runWithRecords([this] { app_.parts()->modelRecords()->EditRecord(); }); });
  connect(remove, &QPushButton::clicked, this, [this] { runWithRecords([this] { app_.parts()->modelRecords()->DelRecord(); }); });
  connect(grid_, &QAbstractItemView::doubleClicked, this,
          [this] { runWithRecords([this] { app_.parts()->modelRecords()->EditRecord(); }); });
  connect(build, &QPushButton::clicked, this,
          [this] { runOperatorAction(app_.station(), [this] { app_.parts()->faceBase().Button19Click(); }); });
  connect(copy, &QPushButton::clicked, this,
          [this] { runOperatorAction(app_.station(), [this] { Button10Click(app_.station(), app_.parts()->data()); }); });
  connect(exportList, &QPushButton::clicked, this,
          [this] { runOperatorAction(app_.station(), [this] { Button13Click(app_.station(), app_.parts()->data()); }); });

  FaceBase& base = parts->faceBase();
  QPointer<QLabel> label(baseLabel_);
  // The count, with the build's progress while it runs (after it, the models a full base left out).
  const auto showBase = [label, &base] {
    if (!label) return;
    const QString count = base.labelText().isEmpty() ? QStringLiteral("База моделей ...") : base.labelText();
    label->setText(base.labelNote().isEmpty() ? count : count + QStringLiteral(" (") + base.labelNote() + ')');
  };
  showBase();
  base.onLabel = [showBase](const QString&) { showBase(); };
  base.onLabelNote = showBase;
  QPointer<ModelsTab> self(this);
  if (!base.setBusy)
    base.setBusy = [self](bool busy) {
      if (self) self->window()->setEnabled(!busy);
    };
  parts->data().tableModel().onChange([self](Dataset::Change c) {
    if (!self) return;
    if (c == Dataset::Change::Scrolled || c == Dataset::Change::DataChanged) self->shownFile_.reset();
    self->showPictures();
  });
  showPictures();
}

QPushButton* ModelsTab::button(const QString& objectName) const { return findChild<QPushButton*>(objectName); }

void ModelsTab::runWithRecords(const std::function<void()>& action) {
  runOperatorAction(app_.station(), [&] {
    if (!app_.parts()->modelRecords()) throw std::runtime_error("Окно модели не создано");
    action();
  });
}

void ModelsTab::filterByEan() {
  StationParts* parts = app_.parts();
  if (!parts || !parts->data().tableModel().isOpen()) return;
  runOperatorAction(app_.station(), [&] {
    parts->data().applyModelFilter(ean_->text().isEmpty() ? ModelFilter::none() : ModelFilter::eanContains(ean_->text()));
    count_->setText(QStringLiteral("Количество записей %1").arg(parts->data().tableModel().recordCount()));
  });
}

void ModelsTab::filterByName() {
  StationParts* parts = app_.parts();
  if (!parts || !parts->data().tableModel().isOpen()) return;
  runOperatorAction(app_.station(), [&] {
    parts->data().applyModelFilter(name_->text().isEmpty() ? ModelFilter::none()
                                                            : ModelFilter::fullNameContains(name_->text()));
    count_->setText(QStringLiteral("Количество записей %1").arg(parts->data().tableModel().recordCount()));
  });
}

void ModelsTab::showPictures() {
  StationParts* parts = app_.parts();
  if (!parts) return;
  Dataset& t = parts->data().tableModel();
  QString fileName;
  if (t.isOpen() && t.currentRow() >= 0) fileName = t.asString(QStringLiteral("FileName"));
  if (shownFile_ && *shownFile_ == fileName) return;  // an edit of other fields: same pictures
  shownFile_ = fileName;
  face_->clear();
  decrypted_->clear();
  // A stored name that leads out of its folder shows nothing.
  if (!isSafeStoredName(fileName)) return;
  const QString base = joinPath(app_.station().settings.modelDir, fileName);
  const QString face = hostPath(base + QLatin1String(kFaceJpgSuffix));
  if (QFileInfo(face).isFile()) face_->setImage(QImage(face));
  if (QFileInfo(hostPath(base + QLatin1String(kFaceBinSuffix))).isFile()) {
    try {
      if (auto image = DecryptImageView(base, kSystemKey)) decrypted_->setImage(*image);
    } catch (const std::exception&) {
      // An unreadable file shows no picture, like a missing one.
    }
  }
}

}  // namespace tavo
