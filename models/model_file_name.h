#pragma once
#include <QDate>
#include <QString>

namespace tavo {

class Clock;

// Length of a model's base name: "yyyymmdd-" (9) and a GUID of 36 characters.
inline constexpr int kModelFileNameLength = 45;

// A fresh base name for a new model (Model.FileName): the creation day as "yyyymmdd-" followed by
// a newly generated GUID in upper case, without braces, e.g.
// "20190512-1B4E28BA-2FA1-11D2-883F-0016D3CCA427". Two calls never give the same name.
QString NewModelFileName(const QDate& day);
// The same for the station's clock (its today()).
QString NewModelFileName(const Clock& clock);

// True when text has the form of such a name (date digits, hyphen, upper-case GUID).
bool isModelFileName(const QString& text);

}  // namespace tavo
