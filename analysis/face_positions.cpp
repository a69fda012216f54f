#include "analysis/face_positions.h"

#include <QFileInfo>
#include <cmath>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <stdexcept>

#include "base/paths.h"
#include "base/station.h"
#include "data/data_store.h"

namespace tavo {
namespace {

cv::Mat loadSample(const Station& station) {
  const QString path = hostPath(station.programFile(QStringLiteral("Image.jpg")));
  cv::Mat image;
  if (QFileInfo(path).isFile()) image = cv::imread(path.toStdString(), cv::IMREAD_COLOR);
  if (image.empty())
    throw std::runtime_error(QStringLiteral("Не удалось открыть рисунок %1").arg(path).toStdString());
  return image;
}

void frame(cv::Mat& image, int left, int top, int right, int bottom) {
  cv::rectangle(image, cv::Point(left, top), cv::Point(right, bottom), kFrameColour, 2);
}

void vertical(cv::Mat& image, int x, const cv::Scalar& colour, int pen) {
  cv::line(image, cv::Point(x, 0), cv::Point(x, image.rows), colour, pen);
}

struct Margins {
  long left = 0, right = 0, top = 0, bottom = 0;
};

// No row with four positive margins reads as zeros.
Margins figures(const MarginFigures& f, long (*round)(double)) {
  return {round(f.left.value_or(0)), round(f.right.value_or(0)), round(f.top.value_or(0)),
          round(f.bottom.value_or(0))};
}

long towardsEven(double v) { return std::lrint(v); }  // the default rounding mode: ties to even
long whole(double v) { return std::lround(v); }

void frameFromMargins(cv::Mat& image, const Margins& m) {
  frame(image, int(m.left), int(m.top), image.cols - int(m.right), image.rows - int(m.bottom));
}

void marginLines(Station& station, const Margins& m) {
  station.memo1.add(QStringLiteral("cLeft - %1").arg(m.left));
  station.memo1.add(QStringLiteral("cRight - %1").arg(m.right));
  station.memo1.add(QStringLiteral("cTop - %1").arg(m.top));
  station.memo1.add(QStringLiteral("cBottom - %1").arg(m.bottom));
}

}  // namespace

cv::Mat Button5Click(Station& station, DataStore& data) {
  cv::Mat image = loadSample(station);
  const int W = image.cols, H = image.rows;
  Dataset& t = data.tableWorks();
  qint64 sumLeft = 0, sumRight = 0, sumTop = 0, sumBottom = 0;
  const qint64 n = t.recordCount();
  for (t.first(); !t.eof(); t.next()) {
    const int l = t.asInt(QStringLiteral("cLeft")), r = t.asInt(QStringLiteral("cRight"));
    const int tp = t.asInt(QStringLiteral("cTop")), b = t.asInt(QStringLiteral("cBottom"));
    frame(image, l, tp, W - r, H - b);
    sumLeft += l;
    sumRight += W - r;
    sumTop += tp;
    sumBottom += H - b;
  }
  station.memo1.add(QStringLiteral("***"));
  station.memo1.add(QStringLiteral("All - %1").arg(n));
  Margins avg;
  if (n > 0) {
    // Whole numbers, rounded towards zero.
    avg = {long(sumLeft / n), long(sumRight / n), long(sumTop / n), long(sumBottom / n)};
    vertical(image, int(avg.left), kRedLine, 5);
    vertical(image, int(avg.right), kGreenLine, 5);
  }
  station.memo1.add(QStringLiteral("*** avg calc"));
  station.memo1.add(QStringLiteral("avgLeft - %1").arg(avg.left));
  station.memo1.add(QStringLiteral("avgRight - %1").arg(avg.right));
  station.memo1.add(QStringLiteral("avgTop - %1").arg(avg.top));
  station.memo1.add(QStringLiteral("avgBottom - %1").arg(avg.bottom));
  return image;
}

cv::Mat Button6Click(Station& station, DataStore& data) {
  cv::Mat image = loadSample(station);
  const Margins m = figures(data.marginMinimums(), whole);
  frameFromMargins(image, m);
  station.memo1.add(QStringLiteral("*** min"));
  marginLines(station, m);
  return image;
}

cv::Mat Button7Click(Station& station, DataStore& data) {
  cv::Mat image = loadSample(station);
  const Margins m = figures(data.marginAverages(), towardsEven);
  frameFromMargins(image, m);
  vertical(image, 800, kGreenLine, 2);
  vertical(image, image.cols - 450, kCyanLine, 2);
  station.memo1.add(QStringLiteral("*** avg"));
  marginLines(station, m);
  return image;
}

void Button8Click(Station& station) { station.memo1.clear(); }

}  // namespace tavo
