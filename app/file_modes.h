#pragma once
#include <QString>

namespace tavo {

// Face pictures, work photos and the database are personal data: nothing the station creates is
// open to other users of the machine. Sets the process's file-creation mask to 027 (files
// 0640, folders 0750 at most) and returns the previous mask. Called first thing at start-up.
unsigned restrictFileModes();
// Takes any access for other users off a file the station made by other means than
// writeFileAtomically (a copy keeps its source's permissions). False when that failed.
bool dropOtherUsersAccess(const QString& hostPath);
// Puts a mask back (tests).
void setFileModeMask(unsigned mask);

}  // namespace tavo
