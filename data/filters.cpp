#include "data/filters.h"

#include <QStringList>

namespace tavo {

namespace {
QString contains(const QString& column) {
  return QStringLiteral("%1(%2, ?)").arg(QLatin1String(kContainsFunction), column);
}
}  // namespace

SqlCondition WorkFilter::condition() const {
  QStringList terms;
  SqlCondition c;
  if (idModel) {
    terms << QStringLiteral("Works.idModel = ?");
    c.params << *idModel;
  }
  if (!snContains.isEmpty()) {
    terms << contains(QStringLiteral("Works.SN"));
    c.params << snContains;
  }
  if (onlyFailed) terms << QStringLiteral("Works.excellent = 0");
  if (fromDate.isValid()) {
    terms << QStringLiteral("Works.datedoc >= ?");
    c.params << fromDate;
  }
  c.sql = terms.join(QStringLiteral(" AND "));
  return c;
}

SqlCondition ModelFilter::condition() const {
  if (by == By::None || text.isEmpty()) return {};
  return {contains(by == By::Ean ? QStringLiteral("Model.EAN") : QStringLiteral("Model.FullName")),
          {text}};
}

}  // namespace tavo
