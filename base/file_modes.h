#pragma once
#include <QString>

namespace tavo {

// Face pictures, work photos and the database are personal data: nothing the station creates is
// open to other users of the machine. Adds "no access for others" to the process's file-creation
// mask (the group's part stays as the service sets it: 022 becomes 027, files 0640; the unit's
// 0002 becomes 0007, files 0660) and returns the previous mask. Called first thing at start-up.
unsigned restrictFileModes();
// Takes any access for other users off a file the station made by other means than
// writeFileAtomically (a copy keeps its source's permissions). False when that failed.
bool dropOtherUsersAccess(const QString& hostPath);
// Puts a mask back (tests).
void setFileModeMask(unsigned mask);

}  // namespace tavo
