#include "models/ui/create_model_form.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <stdexcept>

#include "base/station.h"
#include "data/dataset.h"

namespace tavo {

ScaledPictureView::ScaledPictureView(QWidget* parent) : QWidget(parent) {
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void ScaledPictureView::setImage(const QImage& image) {
  image_ = image;
  update();
}

void ScaledPictureView::clear() {
  image_ = QImage();
  update();
}

QRect ScaledPictureView::pictureRect() const {
  if (image_.isNull() || width() <= 0 || height() <= 0) return {};
  const QSize s = image_.size().scaled(size(), Qt::KeepAspectRatio);
  return QRect(QPoint((width() - s.width()) / 2, (height() - s.height()) / 2), s);
}

void ScaledPictureView::paintEvent(QPaintEvent*) {
  if (image_.isNull()) return;
  QPainter p(this);
  p.setRenderHint(QPainter::SmoothPixmapTransform);
  p.drawImage(pictureRect(), image_);
}

TCreateModelForm::TCreateModelForm(Station& station, QWidget* parent) : QDialog(parent), station_(station) {
  setObjectName(QStringLiteral("CreateModelForm"));
  QFont f(QStringLiteral("Tahoma"));
  f.setPixelSize(16);
  setFont(f);
  setModal(true);
  resize(652, 583);

  auto* top = new QWidget(this);
  top->setFixedHeight(71);
  auto* topRows = new QVBoxLayout(top);
  topRows->setContentsMargins(6, 2, 6, 2);
  topRows->setSpacing(2);
  auto* row1 = new QHBoxLayout;
  auto* eanLabel = new QLabel(QStringLiteral("EAN"), top);
  ean_ = new QLineEdit(top);
  ean_->setObjectName(QStringLiteral("EAN"));
  ean_->setMaxLength(13);
  eanLabel->setBuddy(ean_);
  active_ = new QCheckBox(QStringLiteral("Активный"), top);
  row1->addWidget(eanLabel);
  row1->addWidget(ean_, 1);
  row1->addWidget(active_);
  auto* row2 = new QHBoxLayout;
  stream_ = new QPushButton(QStringLiteral("Получить фото"), top);
  web_ = new QPushButton(QStringLiteral("Сфотографировать (web)"), top);
  file_ = new QPushButton(QStringLiteral("Загрузить из файла"), top);
  row2->addWidget(stream_);
  row2->addWidget(web_);
  row2->addWidget(file_);
  row2->addStretch(1);
  topRows->addLayout(row1);
  topRows->addLayout(row2);

  picture_ = new ScaledPictureView(this);

  auto* bottom = new QWidget(this);
  bottom->setFixedHeight(41);
  auto* bottomRow = new QHBoxLayout(bottom);
  bottomRow->setContentsMargins(6, 2, 6, 2);
  save_ = new QPushButton(QStringLiteral("Сохранить"), bottom);
  cancel_ = new QPushButton(QStringLiteral("Отменить"), bottom);
  photoChanged_ = new QCheckBox(QStringLiteral("фото изменено"), bottom);
  dateInsert_ = new QLineEdit(bottom);
  dateInsert_->setObjectName(QStringLiteral("DateInsert"));
  dateInsert_->setReadOnly(true);
  bottomRow->addWidget(save_);
  bottomRow->addWidget(cancel_);
  bottomRow->addWidget(photoChanged_);
  bottomRow->addStretch(1);
  bottomRow->addWidget(dateInsert_);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(top);
  layout->addWidget(picture_, 1);
  layout->addWidget(bottom);

  // A barcode scanner ends its input with Enter: that must not close the window.
  for (QPushButton* b : {stream_, web_, file_, save_, cancel_}) {
    b->setAutoDefault(false);
    b->setDefault(false);
  }

  chooseFile = [](QWidget* parent) {
    return QFileDialog::getOpenFileName(parent, QString(), QString(), fileFilters().join(QStringLiteral(";;")));
  };

  connect(ean_, &QLineEdit::textEdited, this, [this](const QString& text) {
    if (loading_ || !session_ || !session_->table) return;
    runAction([&] { session_->table->setField(QStringLiteral("EAN"), text); });
  });
  connect(active_, &QCheckBox::toggled, this, [this](bool on) {
    if (loading_ || !session_ || !session_->table) return;
    runAction([&] { session_->table->setField(QStringLiteral("Active"), on); });
  });
  connect(stream_, &QPushButton::clicked, this, [this] {
    if (session_ && session_->fromStream) runAction(session_->fromStream);
  });
  connect(web_, &QPushButton::clicked, this, [this] {
    if (session_ && session_->fromWebCamera) runAction(session_->fromWebCamera);
  });
  connect(file_, &QPushButton::clicked, this, [this] { fileClicked(); });
  connect(save_, &QPushButton::clicked, this, [this] { saveClicked(); });
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
}

QStringList TCreateModelForm::fileFilters() {
  return {QStringLiteral("JPEG Image File (*.jpg)"), QStringLiteral("JPEG Image File (*.jpeg)")};
}

bool TCreateModelForm::exec(const ModelEditorSession& session) {
  session_ = &session;
  setWindowTitle(session.caption);
  loadFields();
  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
  const bool ok = QDialog::exec() == QDialog::Accepted;
  session_ = nullptr;
  return ok;
}

void TCreateModelForm::loadFields() {
  loading_ = true;
  const Dataset* t = session_ ? session_->table : nullptr;
  if (t && (t->state() == Dataset::State::Insert || t->state() == Dataset::State::Edit || t->currentRow() >= 0)) {
    ean_->setText(t->asString(QStringLiteral("EAN")));
    active_->setChecked(t->asBool(QStringLiteral("Active")));
    const QDateTime inserted = t->asDateTime(QStringLiteral("DateInsert"));
    dateInsert_->setText(inserted.isValid() ? inserted.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")) : QString());
  } else {
    ean_->clear();
    active_->setChecked(false);
    dateInsert_->clear();
  }
  loading_ = false;
}

void TCreateModelForm::saveClicked() {
  if (!session_ || !session_->save) {
    accept();
    return;
  }
  bool ok = false;
  runAction([&] { ok = session_->save(); });
  if (ok) accept();
}

void TCreateModelForm::fileClicked() {
  if (!session_ || !session_->fromFile || !chooseFile) return;
  const QString path = chooseFile(this);
  if (path.isEmpty()) return;
  runAction([&] { session_->fromFile(path); });
}

void TCreateModelForm::runAction(const std::function<void()>& action) {
  // The window stays open after a failed step; the operator may try again or cancel.
  try {
    action();
  } catch (const std::exception& e) {
    station_.messages().show(QString::fromUtf8(e.what()));
  }
}

bool TCreateModelForm::photoChanged() const { return photoChanged_->isChecked(); }

void TCreateModelForm::clearPicture() { picture_->clear(); }

void TCreateModelForm::showPicture(const QString& hostPath) { picture_->setImage(QImage(hostPath)); }

void TCreateModelForm::showImage(const QImage& image) { picture_->setImage(image); }

void TCreateModelForm::setPhotoChanged(bool changed) { photoChanged_->setChecked(changed); }

}  // namespace tavo
