#include "report/ReportLocation.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace {
const char kReportFileName[] = "VetMasterReport.pdf";

// Tried by making a file: permission bits and access lists (and a read-only medium) all have
// their say that way, while QFileInfo::isWritable() on Windows looks at the attributes only.
bool takesNewFiles(const QString &folder)
{
    QTemporaryFile probe(folder + QStringLiteral("/.tavimor-XXXXXX"));
    return probe.open();
}
} // namespace

QString reportFilePath(const QString &programFolder, const QString &documentsFolder)
{
    const QString program =
        programFolder.isEmpty() ? QCoreApplication::applicationDirPath() : programFolder;
    const QString inProgramFolder = program + QLatin1Char('/') + QLatin1String(kReportFileName);
    if (takesNewFiles(program))
        return inProgramFolder;

    const QString documents =
        documentsFolder.isEmpty()
            ? QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)
            : documentsFolder;
    if (documents.isEmpty())
        return inProgramFolder;
    const QString folder = documents + QStringLiteral("/Tavimor");
    if (!QDir().mkpath(folder) || !takesNewFiles(folder))
        return inProgramFolder;
    return folder + QLatin1Char('/') + QLatin1String(kReportFileName);
}
