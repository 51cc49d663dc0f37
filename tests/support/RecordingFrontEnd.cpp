#include "support/RecordingFrontEnd.h"

namespace {
QString kindName(CellKind kind)
{
    switch (kind) {
    case CellKind::Blank:
        return QStringLiteral("Blank");
    case CellKind::Pass:
        return QStringLiteral("Pass");
    case CellKind::Fail:
        return QStringLiteral("Fail");
    case CellKind::Progress:
        return QStringLiteral("Progress");
    case CellKind::NotApplicable:
        return QStringLiteral("NotApplicable");
    case CellKind::UnencryptedPass:
        return QStringLiteral("UnencryptedPass");
    }
    return QString();
}

QChar kindLetter(CellKind kind)
{
    switch (kind) {
    case CellKind::Blank:
        return QLatin1Char('.');
    case CellKind::Pass:
        return QLatin1Char('P');
    case CellKind::Fail:
        return QLatin1Char('F');
    case CellKind::Progress:
        return QLatin1Char('~');
    case CellKind::NotApplicable:
        return QLatin1Char('-');
    case CellKind::UnencryptedPass:
        return QLatin1Char('U');
    }
    return QLatin1Char('?');
}
} // namespace

RecordingFrontEnd::RecordingFrontEnd() : cells(CheckRow::Count)
{
    onConfirm = [](DcpInspector &inspector) {
        fillValidLabels(inspector, QStringLiteral("USB3.0"));
        return true;
    };
}

void RecordingFrontEnd::writeResult(int row, CellKind kind, const QString &text)
{
    log << QStringLiteral("cell %1 %2 %3").arg(row).arg(kindName(kind), text);
    if (row < 0 || row >= cells.size())
        return;
    cells[row] = {kind, text, true};
    if (kind == CellKind::Progress)
        progressTexts << text;
}

void RecordingFrontEnd::showWarning(const QString &message)
{
    log << QStringLiteral("warning ") + message;
    warnings << message;
}

bool RecordingFrontEnd::confirmLabels(DcpInspector &inspector)
{
    log << QStringLiteral("confirm");
    ++confirmCalls;
    offeredLabels = inspector;
    return onConfirm ? onConfirm(inspector) : false;
}

void RecordingFrontEnd::setReportEnabled(bool enabled)
{
    log << QStringLiteral("report %1").arg(enabled ? 1 : 0);
    reportEnabled = enabled;
}

void RecordingFrontEnd::setBusy(bool isBusy)
{
    log << QStringLiteral("busy %1").arg(isBusy ? 1 : 0);
    busy = isBusy;
}

void RecordingFrontEnd::runEnded(bool passed)
{
    log << QStringLiteral("ended %1").arg(passed ? 1 : 0);
    endings << passed;
}

void RecordingFrontEnd::clear()
{
    cells = QVector<Cell>(CheckRow::Count);
    log.clear();
    warnings.clear();
    progressTexts.clear();
    endings.clear();
    busy = false;
    reportEnabled = false;
    confirmCalls = 0;
    offeredLabels = DcpInspector();
}

QString RecordingFrontEnd::summary() const
{
    QString letters;
    for (const Cell &cell : cells)
        letters += kindLetter(cell.kind);
    return letters;
}

void RecordingFrontEnd::fillValidLabels(DcpInspector &inspector, const QString &diskInterface)
{
    inspector.filmName = QStringLiteral("建国大业");
    inspector.color = QStringLiteral("XYZ");
    inspector.audio = QStringLiteral("5.1");
    inspector.producer = QStringLiteral("中影");
    inspector.diskInterface = diskInterface;
}
