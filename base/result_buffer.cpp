#include "base/result_buffer.h"

#include "base/ansi_text.h"
#include "base/atomic_file.h"
#include "base/paths.h"

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
  return writeWholeFile(hostPath(path), bytes(), error);
}

void ResultBuffer::saveOrThrow(const QString& path) const {
  QString error;
  if (!saveTo(path, &error))
    throw ResultFileError(QStringLiteral("Cannot create file \"%1\". %2").arg(path, error).toStdString(), path,
                          bytes());
}

}  // namespace tavo
