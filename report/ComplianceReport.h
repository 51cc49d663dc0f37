#pragma once

#include <QString>
#include <QStringList>

class DcpInspector;

// Paints the two-page A4 compliance report of a passed run into path, replacing any file there.
// cellTexts is the check list's snapshot in row-major order (29 rows x 3 columns).
// Returns false, with a message that names the path, when the file cannot be created or written.
bool writeComplianceReport(const QString &path, const QStringList &cellTexts,
                           const DcpInspector &inspector, QString *errorMessage = nullptr);
