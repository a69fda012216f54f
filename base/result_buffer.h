#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <stdexcept>

namespace tavo {

// A result file that could not be written whole (and so does not exist, or is as it was).
class ResultFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
  ResultFileError(const std::string& what, QString path, QByteArray bytes)
      : std::runtime_error(what), path(std::move(path)), bytes(std::move(bytes)) {}
  QString path;      // station path of the file
  QByteArray bytes;  // what it was to hold, so that it can be written again as it was
};

// The result-file buffer (MemoOut): a result file is composed here line by line and saved whole.
// Saved bytes: each line in code page 1251 followed by CR LF, no byte-order mark; an empty buffer
// gives 0 bytes. The file appears whole or not at all (temporary file renamed into place).
class ResultBuffer {
 public:
  void clear();
  void add(const QString& line);
  const QStringList& lines() const { return lines_; }

  QByteArray bytes() const;
  // Saves to a station path (converted with hostPath). Returns false with the system's error text
  // on failure ("No space left on device").
  bool saveTo(const QString& path, QString* error = nullptr) const;
  // Like saveTo, but throws ResultFileError on failure (for operations whose errors propagate).
  void saveOrThrow(const QString& path) const;

  void setWatcher(std::function<void()> w) { watcher_ = std::move(w); }

 private:
  QStringList lines_;
  std::function<void()> watcher_;
};

}  // namespace tavo
