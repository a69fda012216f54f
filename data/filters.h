#pragma once
#include <QDate>
#include <QString>
#include <QVariantList>
#include <optional>

namespace tavo {

// A condition over a dataset's table: SQL text with "?" placeholders and the values bound to
// them. Filter texts are values, never SQL.
struct SqlCondition {
  QString sql;  // empty: no condition
  QVariantList params;
  bool empty() const { return sql.isEmpty(); }
};

// The work-log filter of the "Работа" tab. Terms that are not set are left out.
struct WorkFilter {
  std::optional<int> idModel;  // idModel equals
  QString snContains;          // SN contains this text, literally, ignoring case
  bool onlyFailed = false;     // excellent = false ("Не совпал")
  QDate fromDate;              // datedoc on or after; invalid: no date term
  SqlCondition condition() const;
};

// The model filter of the "Модели" tab: one edit replaces the whole filter.
struct ModelFilter {
  enum class By { None, Ean, FullName };
  By by = By::None;
  QString text;  // contained literally, ignoring case; empty: no filter

  static ModelFilter none() { return {}; }
  static ModelFilter eanContains(const QString& t) { return {By::Ean, t}; }
  static ModelFilter fullNameContains(const QString& t) { return {By::FullName, t}; }
  SqlCondition condition() const;
};

// SQL function registered on every connection: contains_text(haystack, needle) is 1 when
// needle occurs in haystack as plain text, ignoring case (Cyrillic included); NULL counts as "".
inline constexpr const char* kContainsFunction = "contains_text";

}  // namespace tavo
