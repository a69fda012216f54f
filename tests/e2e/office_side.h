#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>

namespace tavo::test {

class StationProcess;

// The office system's side of a check-in: drops "123.txt" for the barcode whole, waits for the
// end of the run and returns the answer file's bytes (empty when none came). flagDir: a host
// folder other than the station's own "C:\Face\Monitor".
QByteArray checkIn(StationProcess& station, const QString& ean, const QString& flagDir = QString());

// An answer file's expected bytes: each line ended by CR LF.
QByteArray lines(const QStringList& l);

// The photo name, the second line of a check-in answer.
QString secondLine(const QByteArray& answer);

}  // namespace tavo::test
