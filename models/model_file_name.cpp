#include "models/model_file_name.h"

#include <QRegularExpression>
#include <QUuid>

#include "base/clock.h"

namespace tavo {

QString NewModelFileName(const QDate& day) {
  return day.toString(QStringLiteral("yyyyMMdd")) + QLatin1Char('-') +
         QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

QString NewModelFileName(const Clock& clock) { return NewModelFileName(clock.today()); }

bool isModelFileName(const QString& text) {
  static const QRegularExpression form(QStringLiteral(
      "^[0-9]{8}-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"));
  return text.size() == kModelFileNameLength && form.match(text).hasMatch();
}

}  // namespace tavo
