#pragma once

#include <QString>

// Where the window writes "VetMasterReport.pdf": in the program's folder, unless that folder
// takes no new files, as under Program Files for a user who is not an administrator. Then it goes
// to "Tavimor" in the user's Documents folder, which is made when missing. When neither folder
// can be written, the program's folder is kept, so that the writing fails there and says so.
// Empty arguments stand for the program's folder and the user's Documents folder.
QString reportFilePath(const QString &programFolder = QString(),
                       const QString &documentsFolder = QString());
