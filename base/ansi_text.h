#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>

namespace tavo {

// The office system's code page: Windows ANSI 1251.
QByteArray toAnsi(const QString& text);
QString fromAnsi(const QByteArray& bytes);
// True when every character of text has a code-page 1251 form.
bool fitsAnsi(const QString& text);

// Request files: a leading byte-order mark selects UTF-8 or UTF-16 (LE/BE), otherwise code page
// 1251; split at CR LF, CR or LF; lines are kept untrimmed. A final line ending adds no empty line.
QStringList readRequestLines(const QByteArray& bytes);

}  // namespace tavo
