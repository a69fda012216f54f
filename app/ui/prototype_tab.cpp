#include "app/ui/prototype_tab.h"

#include <QDateEdit>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <numeric>

#include "analysis/crop_bounds.h"
#include "analysis/distribution.h"
#include "analysis/spoof_count.h"
#include "analysis/face_positions.h"
#include "app/shell/station_parts.h"
#include "app/station_app.h"
#include "app/ui/tab_support.h"
#include "data/data_store.h"
#include "models/model_maintenance.h"
#include "models/ui/create_model_form.h"

namespace tavo {

DistributionChart::DistributionChart(QWidget* parent) : QWidget(parent) {
  setMinimumSize(240, 160);
  setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
}

void DistributionChart::setCounts(const std::vector<int>& counts, const QDate& day) {
  counts_ = counts;
  day_ = day;
  update();
}

void DistributionChart::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), palette().base());
  p.setPen(palette().color(QPalette::Text));
  const QFontMetrics fm(font());
  const int lineH = fm.height();
  if (counts_.empty()) {
    p.drawText(rect().adjusted(6, 6, -6, -6), Qt::AlignCenter | Qt::TextWordWrap,
               QStringLiteral("Совпадения по группам % за день: нажмите кнопку, чтобы посчитать"));
    return;
  }
  const int total = std::accumulate(counts_.begin(), counts_.end(), 0);
  p.drawText(QRect(0, 2, width(), lineH), Qt::AlignHCenter,
             QStringLiteral("Совпадения за %1, всего %2").arg(day_.toString(QStringLiteral("dd.MM.yyyy"))).arg(total));
  const int left = 6, right = 6, top = 2 * lineH + 6, bottom = 2 * lineH + 4;
  const QRect plot(left, top, width() - left - right, height() - top - bottom);
  if (plot.width() <= 0 || plot.height() <= 0) return;
  const int n = int(counts_.size());
  const int maxCount = std::max(1, *std::max_element(counts_.begin(), counts_.end()));
  const double slot = double(plot.width()) / n;
  p.drawLine(plot.bottomLeft(), plot.bottomRight());
  for (int i = 0; i < n; ++i) {
    const int h = int(double(counts_[size_t(i)]) / maxCount * plot.height() + 0.5);
    const int x = plot.left() + int(i * slot) + 1;
    const int w = std::max(1, int(slot) - 2);
    const QRect bar(x, plot.bottom() - h, w, h);
    p.fillRect(bar, QColor(0, 128, 64));
    if (counts_[size_t(i)] > 0)
      p.drawText(QRect(x - 4, bar.top() - lineH, w + 8, lineH), Qt::AlignHCenter | Qt::AlignBottom,
                 QString::number(counts_[size_t(i)]));
    // Every fourth band carries its upper bound (20, 40, ...); the rest would not fit.
    if ((i + 1) % 4 == 0)
      p.drawText(QRect(x - 10, plot.bottom() + 2, w + 20, lineH), Qt::AlignHCenter,
                 QString::number((i + 1) * kPercentStep));
  }
  p.drawText(QRect(0, height() - lineH - 2, width(), lineH), Qt::AlignHCenter, QStringLiteral("% совпадения, шаг 5"));
}

PrototypeTab::PrototypeTab(StationApp& app, QWidget* parent) : QTabWidget(parent), app_(app) {
  setObjectName(QStringLiteral("PageControl2"));
  Station& station = app.station();
  StationParts* parts = app.parts();

  // "Размеры изображений".
  auto* sizes = new QWidget(this);
  sizes->setObjectName(QStringLiteral("TabSheetSizes"));
  auto* sizesLayout = new QVBoxLayout(sizes);
  auto* buttons = new QHBoxLayout;
  auto add = [&](const char* name, const QString& caption) {
    auto* b = new QPushButton(caption, sizes);
    b->setObjectName(QString::fromLatin1(name));
    buttons->addWidget(b);
    return b;
  };
  QPushButton* q = add("Button9", QStringLiteral("Q - step 100"));
  QPushButton* all = add("Button5", QStringLiteral("All"));
  QPushButton* max = add("Button6", QStringLiteral("Max size"));
  QPushButton* avg = add("Button7", QStringLiteral("Avg size"));
  QPushButton* clear = add("Button8", QStringLiteral("Clear"));
  buttons->addSpacing(16);
  QPushButton* distribution = add("Button11", QStringLiteral("Совпадения по группам %, за день"));
  day_ = new QDateEdit(distributionDefaultDay(), sizes);
  day_->setObjectName(QStringLiteral("DateTimePicker1"));
  day_->setCalendarPopup(true);
  day_->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
  buttons->addWidget(day_);
  QPushButton* spoofs = add("ButtonSpoof", QStringLiteral("Атаки (spoof), за день"));
  buttons->addStretch(1);
  sizesLayout->addLayout(buttons);

  auto* body = new QHBoxLayout;
  memo1_ = new TextMemoView(station.memo1, QStringLiteral("Memo1"), sizes);
  memo1_->setFixedWidth(230);
  chart_ = new DistributionChart(sizes);
  chart_->setObjectName(QStringLiteral("DistributionChart"));
  chart_->setFixedWidth(300);
  image1_ = new ScaledPictureView(sizes);
  image1_->setObjectName(QStringLiteral("Image1"));
  body->addWidget(memo1_);
  body->addWidget(chart_);
  body->addWidget(image1_, 1);
  sizesLayout->addLayout(body, 1);
  addTab(sizes, QStringLiteral("Размеры изображений"));

  // "Анализ моделей".
  auto* check = new QWidget(this);
  check->setObjectName(QStringLiteral("TabSheetModels"));
  auto* checkLayout = new QVBoxLayout(check);
  auto* label = new QLabel(QStringLiteral("Если более трех моделей, то запускается проверка"), check);
  auto* actuality = new QPushButton(QStringLiteral("Проверка актуальности моделей"), check);
  actuality->setObjectName(QStringLiteral("Button17"));
  auto* checkRow = new QHBoxLayout;
  checkRow->addWidget(label);
  checkRow->addWidget(actuality);
  checkRow->addStretch(1);
  checkLayout->addLayout(checkRow);
  memo2_ = new TextMemoView(station.memo2, QStringLiteral("Memo2"), check);
  checkLayout->addWidget(memo2_, 1);
  addTab(check, QStringLiteral("Анализ моделей"));

  if (!parts) {
    for (QPushButton* b : {q, all, max, avg, distribution, spoofs, actuality}) b->setEnabled(false);
  }
  auto run = [this](const std::function<void(Station&, DataStore&)>& action) {
    runOperatorAction(app_.station(), [&] { action(app_.station(), app_.parts()->data()); });
  };
  auto draw = [this, run](cv::Mat (*tool)(Station&, DataStore&)) {
    run([this, tool](Station& s, DataStore& d) { image1_->setImage(toQImage(tool(s, d))); });
  };
  connect(q, &QPushButton::clicked, this, [run] { run([](Station& s, DataStore& d) { Button9Click(s, d); }); });
  connect(all, &QPushButton::clicked, this, [draw] { draw(&Button5Click); });
  connect(max, &QPushButton::clicked, this, [draw] { draw(&Button6Click); });
  connect(avg, &QPushButton::clicked, this, [draw] { draw(&Button7Click); });
  connect(clear, &QPushButton::clicked, this, [this] { Button8Click(app_.station()); });
  connect(distribution, &QPushButton::clicked, this, [this, run] {
    run([this](Station& s, DataStore& d) {
      const QDate day = day_->date();
      chart_->setCounts(Button11Click(s, d, day), day);
    });
  });
  connect(spoofs, &QPushButton::clicked, this, [this, run] {
    run([this](Station& s, DataStore& d) { SpoofCountClick(s, d, day_->date()); });
  });
  connect(actuality, &QPushButton::clicked, this, [run] { run([](Station& s, DataStore& d) { Button17Click(s, d); }); });
}

QPushButton* PrototypeTab::button(const QString& objectName) const { return findChild<QPushButton*>(objectName); }

}  // namespace tavo
