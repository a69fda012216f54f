#pragma once
#include <QDate>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "data/database.h"
#include "data/dataset.h"
#include "data/filters.h"
#include "data/retention.h"

namespace tavo {

class Station;

// One work-log row as the check-in writes it (InsertWorkRecord).
struct WorkRecord {
  QString fileName;
  bool isFace = false;
  int idModel = 0;
  double percent = 0;
  QString sn;    // the barcode presented by the office system
  QString tags;
  int cLeft = 0, cRight = 0, cTop = 0, cBottom = 0;
  int height = 0, width = 0;
};

// A row of the result query QueryResult.
struct ResultQueryRow {
  std::optional<int> idModel;
  QString fio;
  double koef = 0;
  bool isMirror = false;
  double percent = 0;
  QString fileName;
  QString fullName;  // Model.FullName, empty when the model is gone
  QString ean;       // Model.EAN, empty when the model is gone
};

// Minimum or average margins over the work rows with all four margins above 0; empty when no row.
struct MarginFigures {
  std::optional<double> left, right, top, bottom;
};

enum class MarginSide { Left, Right };

// The data store (TDataModule1): the connection to "FaceBase.mdb" in the program directory, the
// open datasets, the retention timer, and the statements the other parts run, each with bound
// parameters. Dates in Date/Time columns are ISO text: datedoc "yyyy-MM-dd", timedoc
// "HH:mm:ss", DateLastDetection/DateLastSimilarity/BirthDay "yyyy-MM-dd", DateInsert
// "yyyy-MM-ddTHH:mm:ss"; bind QDate/QTime/QDateTime values and they take these forms.
class DataStore : public QObject {
 public:
  explicit DataStore(Station& station, QObject* parent = nullptr);
  ~DataStore() override;

  // DataModuleCreate: opens programPath + "FaceBase.mdb" with the password, then the datasets
  // TableModel (sorted), TableWorks (sorted), TableEmployees, TableResult, TableModelMatch in this
  // order, and arms the retention timer. Throws std::runtime_error with the provider's text;
  // datasets after a failing one stay closed.
  void open();
  bool isOpen() const { return db_.isOpen(); }
  void close();

  Station& station() { return station_; }
  Database& database() { return db_; }
  Retention& retention() { return retention_; }

  Dataset& tableModel() { return tableModel_; }
  Dataset& tableWorks() { return tableWorks_; }
  Dataset& tableEmployees() { return tableEmployees_; }
  Dataset& tableResult() { return tableResult_; }
  Dataset& tableModelMatch() { return tableModelMatch_; }
  Dataset& queryResult() { return queryResult_; }

  static QString modelSort() { return QStringLiteral("EAN,DateLastSimilarity"); }
  static QString worksSort() { return QStringLiteral("datedoc DESC, timedoc DESC"); }

  // Filters of the browsing tabs (the first row that passes becomes current).
  void applyWorkFilter(const WorkFilter& f);
  void applyModelFilter(const ModelFilter& f);

  // Generic statements with bound parameters (the statement runners).
  int exec(const QString& sql, const QVariantList& params = {});
  Rows query(const QString& sql, const QVariantList& params = {});

  // --- Check-in run ---
  void clearResult();  // empties Result
  // Appends a Result row; idModel empty leaves idmodel NULL (a barcode without models).
  qint64 appendResult(std::optional<int> idModel, double percent, const QString& fileName,
                      const QString& fio = QString());
  // (Re)opens QueryResult: top 100 Result rows with their model, highest percentage first; with a
  // minimum only rows with PercentDifference >= minimum. Returns its rows; the dataset
  // queryResult() holds them too.
  std::vector<ResultQueryRow> openQueryResult(std::optional<double> minimumPercent);
  // Active models whose EAN equals the barcode (all Model columns).
  Rows activeModelsOf(const QString& ean);
  // InsertWorkRecord: appends a row through TableWorks (it becomes the current row), dated now by
  // the station's clock; excellent = model idModel exists and SN equals its EAN. Returns its id.
  qint64 insertWork(const WorkRecord& w);
  // DateLastDetection of every active model of the barcode.
  int setLastDetection(const QString& ean, const QDate& day);
  // DateLastSimilarity of the active model idModel if its barcode is ean.
  int setLastSimilarity(const QString& ean, int idModel, const QDate& day);

  // --- Analysis ---
  // Work rows with a face, lower < margin <= upper and datedoc >= from.
  int countMarginBand(MarginSide side, int lower, int upper, const QDate& from);
  // Work rows with excellent, lower < PercentDifference <= upper and datedoc = day.
  int countPercentBand(double lower, double upper, const QDate& day);
  MarginFigures marginMinimums();
  MarginFigures marginAverages();

  // --- Model maintenance ---
  // Active models grouped by EAN with their counts, in EAN order.
  std::vector<std::pair<QString, int>> activeModelCountsByEan();
  // Active models of the barcode inserted before the moment, least recently matched first (never
  // matched first); columns id, EAN, DateLastSimilarity.
  Rows staleModelCandidates(const QString& ean, const QDateTime& insertedBefore);
  void setModelActive(qint64 id, bool active);

 private:
  Station& station_;
  Database db_;
  Dataset tableModel_, tableWorks_, tableEmployees_, tableResult_, tableModelMatch_, queryResult_;
  Retention retention_;
};

}  // namespace tavo
