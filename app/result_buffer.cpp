#include "app/result_buffer.h"

#include <stdexcept>

#include "app/ansi_text.h"
#include "app/paths.h"

namespace tavo {

void ResultBuffer::clear() {
  lines_.clear();
  if (watcher_) watcher_();
}

void ResultBuffer::add(const QString& line) {
  lines_ << line;
  if (watcher_) watcher_();
}

QByteArray ResultBuffer::bytes() const {
  QByteArray out;
  for (const QString& l : lines_) {
    out += toAnsi(l);
    out += "\r\n";
  }
  return out;
}

bool ResultBuffer::saveTo(const QString& path, QString* error) const {
  return writeFileAtomically(path, bytes(), error);
}

void ResultBuffer::saveOrThrow(const QString& path) const {
  QString error;
  if (!saveTo(path, &error))
    throw std::runtime_error(QStringLiteral("Cannot create file \"%1\". %2").arg(path, error).toStdString());
}

}  // namespace tavo
