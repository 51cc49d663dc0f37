#pragma once

#include <QString>
#include <QStringList>

class DcpInspector;

// The report is the only file Tavimor writes, so where it goes is guarded: it replaces an earlier
// report or takes an empty place, and never lands in the master being checked or on the run's
// own input files.
struct ReportGuard
{
    QStringList masterRoots; // nothing is written inside these folders
    QStringList inputFiles;  // the run's settings and labels files
};

enum class ReportPathProblem {
    None,
    FolderMissing,  // the folder that would hold the report does not exist
    NotRegularFile, // a link, folder, pipe, device or socket is at the path
    InsideMaster,   // the path lies inside a folder of masterRoots
    InputFile,      // the path is one of inputFiles
    NotAReport,     // a file that is not an earlier report is at the path
};

// Where the report may not go, judged by canonical paths (links and ".." resolved; an absent
// report through its folder).
ReportPathProblem reportPathProblem(const QString &path, const ReportGuard &guard);

// True when the file at path is a report as writeComplianceReport writes them.
bool isComplianceReport(const QString &path);

// Paints the two-page A4 compliance report of a passed run into path: into a temporary file in
// the same folder that then replaces whatever report was there, so that a failed write leaves an
// earlier report as it was. cellTexts is the check list's snapshot in row-major order (29 rows x
// 3 columns). Besides the guard's paths, the inspector's checked drive roots and the settings
// file are kept out of reach. Returns false, with a message that names the path, when the path
// is refused or the file cannot be written.
bool writeComplianceReport(const QString &path, const QStringList &cellTexts,
                           const DcpInspector &inspector, QString *errorMessage = nullptr,
                           const ReportGuard &guard = ReportGuard());
