#include "models/model_maintenance.h"

#include <QDir>
#include <QFile>
#include <stdexcept>

#include "base/events.h"
#include "base/file_modes.h"
#include "base/paths.h"
#include "base/stored_names.h"
#include "base/station.h"
#include "data/data_store.h"
#include "models/model_photo.h"

namespace tavo {

namespace {

// Walks TableModel as filtered, first to last, with notifications off so that the pictures and
// grids do not follow every row; they catch up once at the end. The current row is kept.
template <class Fn>
void walkModels(Dataset& t, Fn&& fn) {
  if (!t.isOpen()) throw std::runtime_error("Таблица моделей не открыта");
  if (t.state() == Dataset::State::Insert || t.state() == Dataset::State::Edit)
    throw std::runtime_error("Модель редактируется: сначала закончите правку");
  const qint64 keep = t.currentRow() >= 0 ? t.id() : -1;
  t.setNotificationsEnabled(false);
  try {
    for (t.first(); !t.eof() && t.currentRow() >= 0; t.next()) fn();
  } catch (...) {
    // A row the database refused is left unchanged, not half edited.
    if (t.state() == Dataset::State::Insert || t.state() == Dataset::State::Edit) t.cancel();
    if (keep >= 0) t.locateId(keep);
    t.setNotificationsEnabled(true);
    throw;
  }
  if (keep >= 0) t.locateId(keep);
  t.setNotificationsEnabled(true);
}

// Runs the changes of one tool as one commit instead of one per row (one disk sync each). An
// error still keeps the rows changed before it, as row-by-row posting would.
template <class Fn>
void inOneCommit(Database& db, Fn&& fn) {
  Database::Transaction tx(db);
  try {
    fn();
  } catch (...) {
    tx.commit();
    throw;
  }
  tx.commit();
}

// A copy for the operator to collect: no disk sync per file (a thousand of them took seconds); a
// copy that fails half way is removed.
bool copyReplacing(const QString& from, const QString& to) {
  QFile source(hostPath(from));
  if (!source.open(QIODevice::ReadOnly)) return false;
  const QByteArray bytes = source.readAll();
  if (bytes.size() != source.size()) return false;
  QFile target(hostPath(to));
  if (!target.open(QIODevice::WriteOnly | QIODevice::Truncate) || !dropOtherUsersAccess(target.fileName())) return false;
  if (target.write(bytes) != bytes.size() || !target.flush()) {
    target.close();
    target.remove();
    return false;
  }
  return true;
}

}  // namespace

QDateTime oneMonthBefore(const QDateTime& t) {
  // QDate::addMonths keeps the day, or takes the last day of a shorter month.
  return QDateTime(t.date().addMonths(-1), t.time(), t.timeSpec());
}

int Button10Click(Station& station, DataStore& data) {
  const QString target = station.programFile(QStringLiteral("Temp\\Model"));
  if (!QDir().mkpath(hostPath(target)))
    throw std::runtime_error(QStringLiteral("Cannot create folder %1").arg(hostPath(target)).toStdString());
  Dataset& t = data.tableModel();
  int copies = 0;
  inOneCommit(data.database(), [&] {
    walkModels(t, [&] {
      const QString name = t.asString(QStringLiteral("FileName"));
      // A stored name that leads out of the model folder names no picture of this model.
      const bool safe = isSafeStoredName(name);
      if (!safe && !name.isEmpty()) station.showLog(QStringLiteral("  Недопустимое имя файла модели: ") + name);
      const QString plain = safe ? modelFaceJpgPath(station, name) : QString();
      const bool hasPlain = safe && fileExists(plain);
      if (hasPlain) {
        if (copyReplacing(plain, joinPath(target, name + QLatin1String("_face.jpg"))))
          ++copies;
        else
          station.showLog(QStringLiteral("  Не удалось скопировать ") + hostPath(plain));
      }
      t.edit();
      t.setField(QStringLiteral("Active"), hasPlain);
      t.post();
    });
  });
  return copies;
}

void Button13Click(Station& station, DataStore& data) {
  ResultBuffer& memo = station.memoOut;
  memo.clear();
  Dataset& t = data.tableModel();
  // The lines are collected first: events let through after each line may move the cursor.
  QStringList lines;
  walkModels(t, [&] {
    lines << t.asString(QStringLiteral("EAN")) + QLatin1Char(';') + t.asString(QStringLiteral("FileName")) +
                 QLatin1String("_face.jpg;");
  });
  // The file is written from these lines, not from the memo: a check-in or an answer handled
  // while events run composes its own result file in MemoOut.
  ResultBuffer file;
  for (const QString& line : lines) {
    memo.add(line);
    file.add(line);
    processPendingEvents();
  }
  file.saveOrThrow(station.programFile(QStringLiteral("BaseModel.txt")));
}

int Button17Click(Station& station, DataStore& data) {
  TextMemo& memo = station.memo2;
  memo.clear();
  int deactivated = 0;
  const QDateTime limit = oneMonthBefore(station.clock().now());
  inOneCommit(data.database(), [&] {
    for (const auto& [ean, count] : data.activeModelCountsByEan()) {
      memo.add(ean);
      if (count <= Cntrl) continue;
      const Rows candidates = data.staleModelCandidates(ean, limit);
      for (int i = 1; i <= candidates.size() && count - Cntrl >= i; ++i) {
        const qint64 id = candidates.value(i - 1, QStringLiteral("id")).toLongLong();
        memo.add(QStringLiteral("-%1) %2").arg(i).arg(id));
        data.setModelActive(id, false);
        ++deactivated;
      }
    }
  });
  // The grid shows the new marks (unless a model is being edited).
  Dataset& t = data.tableModel();
  if (deactivated > 0 && t.isOpen() && t.state() == Dataset::State::Browse) t.refresh();
  return deactivated;
}

}  // namespace tavo
