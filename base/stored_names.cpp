#include "base/stored_names.h"

#include <QStringList>
#include <stdexcept>

#include "base/paths.h"

namespace tavo {

bool isSafeStoredName(const QString& name) {
  if (name.isEmpty() || name.startsWith(QLatin1Char('\\')) || name.startsWith(QLatin1Char('/')) ||
      name.contains(QLatin1Char(':')))
    return false;
  for (const QChar c : name)
    if (c.category() == QChar::Other_Control) return false;
  const QStringList parts = QString(name).replace(QLatin1Char('/'), QLatin1Char('\\')).split(QLatin1Char('\\'));
  return !parts.contains(QStringLiteral(".."));
}

QString storedFilePath(const QString& folder, const QString& name) {
  if (!isSafeStoredName(name))
    throw std::runtime_error(
        QStringLiteral("Имя файла \"%1\" из базы данных указывает за пределы папки %2").arg(name, folder).toStdString());
  return joinPath(folder, name);
}

}  // namespace tavo
