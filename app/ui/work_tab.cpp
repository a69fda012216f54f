#include "app/ui/work_tab.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSplitter>
#include <QTimer>
#include <QVBoxLayout>

#include "base/paths.h"
#include "base/stored_names.h"
#include "app/shell/station_parts.h"
#include "app/station_app.h"
#include "app/ui/dataset_grid.h"
#include "app/ui/log_views.h"
#include "app/ui/tab_support.h"
#include "checkin/operator_actions.h"
#include "data/data_store.h"
#include "face/picture/frame_grab.h"
#include "face/picture/network_camera.h"
#include "models/ui/create_model_form.h"
#include "protect/face_file.h"

namespace tavo {

WorkTab::WorkTab(StationApp& app, QWidget* parent) : QWidget(parent), app_(app) {
  setObjectName(QStringLiteral("WorkTab"));
  Station& station = app.station();
  StationParts* parts = app.parts();
  auto report = [&station](const QString& text) { station.messages().show(text); };

  QVBoxLayout* layout = tabPageLayout(this);

  // Filter bar.
  auto* filters = new QHBoxLayout;
  if (parts) {
    navigator_ = datasetNavigator(parts->data().tableWorks(), "DBNavigator1", station, this);
    filters->addWidget(navigator_);
  }
  dateDoc_ = new QDateEdit(station.clock().today(), this);
  dateDoc_->setObjectName(QStringLiteral("DateDoc"));
  dateDoc_->setCalendarPopup(true);
  dateDoc_->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
  idModel_ = filterEdit(this, "EditidModel", QStringLiteral("idModel"), 80);
  // Digits only, and few enough to stay a whole number.
  idModel_->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("\\d{0,9}")), idModel_));
  sn_ = filterEdit(this, "EditFilerFIO1c", QStringLiteral("ФИО 1С"), 160);
  failed_ = new QCheckBox(QStringLiteral("Не совпал"), this);
  failed_->setObjectName(QStringLiteral("CheckBox1"));
  filters->addWidget(dateDoc_);
  filters->addWidget(idModel_);
  filters->addWidget(sn_);
  filters->addWidget(failed_);
  filters->addStretch(1);
  layout->addLayout(filters);

  // Action bar.
  auto* actions = new QHBoxLayout;
  addToModels_ = makeButton(this, "Button18", QStringLiteral("Добавить в модели"));
  inWork_ = makeButton(this, "InWork", QStringLiteral("Отметка"));
  recheck_ = makeButton(this, "Button20", QStringLiteral("Перепроверить"));
  actions->addWidget(addToModels_);
  actions->addWidget(inWork_);
  actions->addWidget(recheck_);
  actions->addStretch(1);
  layout->addLayout(actions);

  // Grid and picture panel.
  splitter_ = new QSplitter(Qt::Horizontal, this);
  splitter_->setObjectName(QStringLiteral("Splitter1"));
  if (parts) {
    auto* model = new DatasetModel(parts->data().tableWorks(), workGridColumns(), station.locale);
    grid_ = new DatasetGrid(model, splitter_);
    grid_->setObjectName(QStringLiteral("DBGrid2"));
    grid_->onError = report;
    QPalette pal = grid_->palette();
    pal.setColor(QPalette::Base, kWorkGridBackground);
    pal.setColor(QPalette::AlternateBase, kWorkGridBackground);
    grid_->setPalette(pal);
    splitter_->addWidget(grid_);
  } else {
    splitter_->addWidget(new QLabel(QStringLiteral("Журнал работы недоступен"), splitter_));
  }
  auto* panel = new QWidget(splitter_);
  panel->setObjectName(QStringLiteral("PanelPictures"));
  auto* panelLayout = new QVBoxLayout(panel);
  panelLayout->setContentsMargins(0, 0, 0, 0);
  panelLayout->setSpacing(2);
  imageCrypt_ = new ScaledPictureView(panel);
  imageCrypt_->setObjectName(QStringLiteral("ImageCrypt"));
  imageCrypt_->setFixedHeight(kCryptHeight);
  video_ = new ScaledPictureView(panel);
  video_->setObjectName(QStringLiteral("PasLibVlcPlayer1"));
  imageFace_ = new ScaledPictureView(panel);
  imageFace_->setObjectName(QStringLiteral("ImageFace"));
  panelLayout->addWidget(imageCrypt_);
  panelLayout->addWidget(video_, 1);
  panelLayout->addWidget(imageFace_, 1);
  splitter_->addWidget(panel);
  splitter_->setStretchFactor(0, 1);
  splitter_->setStretchFactor(1, 0);
  splitter_->setSizes({800, kPanelWidth});
  layout->addWidget(splitter_, 1);

  // The result-file buffer above the operator log.
  auto* memoOut = new ResultBufferView(station.memoOut, this);
  memoOut->setFixedHeight(100);
  auto* memo4 = new OperatorLogView(station.log, this);
  memo4->setFixedHeight(100);
  layout->addWidget(memoOut);
  layout->addWidget(memo4);

  // The network camera's latest frame.
  videoTimer_ = new QTimer(this);
  videoTimer_->setInterval(200);
  connect(videoTimer_, &QTimer::timeout, this, &WorkTab::paintVideo);
  videoTimer_->start();

  connect(dateDoc_, &QDateEdit::dateChanged, this, &WorkTab::applyFilter);
  connect(idModel_, &QLineEdit::textChanged, this, &WorkTab::applyFilter);
  connect(sn_, &QLineEdit::textChanged, this, &WorkTab::applyFilter);
  connect(failed_, &QCheckBox::clicked, this, &WorkTab::applyFilter);

  if (!parts) {
    for (QPushButton* b : {addToModels_, inWork_, recheck_}) b->setEnabled(false);
    return;
  }
  connect(inWork_, &QPushButton::clicked, this, [this] {
    runOperatorAction(app_.station(), [this] { InWorkClick(app_.station(), app_.parts()->checkIn()); });
  });
  connect(recheck_, &QPushButton::clicked, this, [this] {
    runOperatorAction(app_.station(), [this] {
      StationParts& p = *app_.parts();
      Button20Click(app_.station(), p.data(), p.faceBase());
    });
  });
  connect(addToModels_, &QPushButton::clicked, this, [this] {
    runOperatorAction(app_.station(), [this] {
      StationParts& p = *app_.parts();
      if (!p.modelRecords()) throw std::runtime_error("Окно модели не создано: добавить в модели нельзя");
      Button18Click(app_.station(), p.data(), *p.modelRecords());
    });
  });

  QPointer<WorkTab> self(this);
  parts->data().tableWorks().onChange([self](Dataset::Change c) {
    if (!self) return;
    if (c == Dataset::Change::Scrolled || c == Dataset::Change::DataChanged) self->pictureShown_ = false;
    self->showPictures();
  });
}

void WorkTab::applyFilter() {
  StationParts* parts = app_.parts();
  if (!parts || !parts->data().tableWorks().isOpen()) return;
  runOperatorAction(app_.station(), [&] {
    WorkFilter f;
    if (!idModel_->text().isEmpty()) f.idModel = idModel_->text().toInt();
    f.snContains = sn_->text();
    f.onlyFailed = failed_->isChecked();
    f.fromDate = dateDoc_->date();
    parts->data().applyWorkFilter(f);
  });
}

void WorkTab::showPictures() {
  StationParts* parts = app_.parts();
  if (!parts || !window()->isVisible()) return;  // nothing is decrypted for a hidden window
  Dataset& t = parts->data().tableWorks();
  QString fileName;
  if (t.isOpen() && t.currentRow() >= 0) fileName = t.asString(QStringLiteral("FileName"));
  if (pictureShown_ && fileName == shownFile_) return;
  shownFile_ = fileName;
  pictureShown_ = true;
  imageFace_->clear();
  imageCrypt_->clear();
  // A stored name that leads out of its folder shows nothing.
  if (!isSafeStoredName(fileName)) return;
  const QString base = joinPath(app_.station().settings.workDir, fileName);
  const QString face = hostPath(base + QLatin1String(kFaceJpgSuffix));
  if (QFileInfo(face).isFile()) imageFace_->setImage(QImage(face));
  if (QFileInfo(hostPath(base + QLatin1String(kFaceBinSuffix))).isFile()) {
    try {
      if (auto image = DecryptImageView(base, kSystemKey)) imageCrypt_->setImage(*image);
    } catch (const std::exception&) {
      // An unreadable file shows no picture, like a missing one.
    }
  }
}

void WorkTab::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  pictureShown_ = false;
  showPictures();
}

void WorkTab::paintVideo() {
  StationParts* parts = app_.parts();
  if (!parts || !isVisible()) return;
  if (NetworkCamera* stream = parts->cameras().networkCamera()) {
    const QImage frame = stream->latestImage();
    if (!frame.isNull()) video_->setImage(frame);
  }
}

}  // namespace tavo
