#include "cli/ConsoleFrontEnd.h"

#include "cli/ConsoleText.h"
#include "dcp/DcpInspector.h"
#include "run/HashProgress.h"

ConsoleFrontEnd::ConsoleFrontEnd(const LabelInput *labels, bool showProgress, QObject *parent)
    : QObject(parent), m_cells(CheckRow::Count), m_details(CheckRow::Count), m_labels(labels),
      m_showProgress(showProgress)
{
}

void ConsoleFrontEnd::writeResult(int row, CellKind kind, const QString &text)
{
    if (row < 0 || row >= m_cells.size())
        return;
    m_cells[row] = Cell{kind, text};
    m_details[row].clear();
    if (row == CheckRow::Hash && kind == CellKind::Progress)
        m_hashProgressSeen = true;
    else if (row == CheckRow::Hash && kind == CellKind::Blank)
        m_hashProgressSeen = false;
    if (kind == CellKind::Progress)
        showProgress(resultText(row));
    else if (row == CheckRow::Hash)
        clearProgress();
}

void ConsoleFrontEnd::showWarning(const QString &message, const QString &)
{
    clearProgress();
    m_warning = message;
}

void ConsoleFrontEnd::writeDetail(int row, const QString &detail)
{
    if (row >= 0 && row < m_details.size())
        m_details[row] = detail;
}

void ConsoleFrontEnd::advisoriesFound(const QVector<Advisory> &advisories)
{
    m_advisories = advisories;
}

bool ConsoleFrontEnd::confirmLabels(DcpInspector &inspector)
{
    clearProgress();
    m_reachedConfirmation = true;
    if (!m_labels)
        return false;
    applyLabels(*m_labels, inspector);
    // The dialog would keep itself open on a refusal; here there is nobody to correct the fields,
    // so the refusal ends the run and its message is the warning.
    QString message;
    if (!inspector.checkLabelFields(message)) {
        m_warning = message;
        return false;
    }
    return true;
}

void ConsoleFrontEnd::setReportEnabled(bool enabled)
{
    m_reportEnabled = enabled;
}

void ConsoleFrontEnd::setBusy(bool) {}

void ConsoleFrontEnd::settingsRead(const RunSettings &settings)
{
    emit settingsWereRead(settings);
}

void ConsoleFrontEnd::hashingStarted(qint64 totalBytes)
{
    m_hashTotal = totalBytes;
    m_hashClock.start();
}

void ConsoleFrontEnd::runEnded(bool passed)
{
    clearProgress();
    m_ended = true;
    m_passed = passed;
    emit ended();
}

bool ConsoleFrontEnd::hashChecked() const
{
    return m_hashProgressSeen && m_cells.at(CheckRow::Hash).kind == CellKind::Pass;
}

bool ConsoleFrontEnd::hashSkipped() const
{
    const CellKind kind = m_cells.at(CheckRow::Hash).kind;
    return !m_hashProgressSeen && (kind == CellKind::Pass || kind == CellKind::NotApplicable);
}

int ConsoleFrontEnd::firstFailedRow() const
{
    for (int row = 0; row < m_cells.size(); ++row) {
        if (m_cells.at(row).kind == CellKind::Fail)
            return row;
    }
    return -1;
}

QString ConsoleFrontEnd::resultText(int row) const
{
    if (row < 0 || row >= m_cells.size())
        return QString();
    const Cell &cell = m_cells.at(row);
    // A progress cell without a text of its own shows the waiting text.
    return cellKindText(cell.kind, cell.text.isEmpty() ? QString() : cell.text);
}

QStringList ConsoleFrontEnd::cellTexts() const
{
    QStringList texts;
    for (int row = 0; row < m_cells.size(); ++row)
        texts << checkListNumber(row) << checkListItem(row) << resultText(row);
    return texts;
}

void ConsoleFrontEnd::showProgress(const QString &text)
{
    QString line = text;
    // Hours of hashing deserve an estimate: the rate so far and the time it leaves.
    bool isPercent = false;
    const double percent =
        text.endsWith(QLatin1Char('%')) ? text.chopped(1).toDouble(&isPercent) : 0.0;
    if (isPercent && m_hashClock.isValid()) {
        const QString rate = throughputText(qint64(percent / 100.0 * double(m_hashTotal)),
                                            m_hashTotal, m_hashClock.elapsed());
        if (!rate.isEmpty())
            line += QStringLiteral("  ") + rate;
    }
    emit progressed(line);
    if (!m_showProgress)
        return;
    line = checkListItem(CheckRow::Hash) + QLatin1Char(' ') + line;
    const int width = displayWidth(line);
    // A shorter text must not leave the end of the longer one behind.
    writeErr(QLatin1Char('\r') + padToWidth(line, m_progressWidth));
    m_progressWidth = qMax(m_progressWidth, width);
}

void ConsoleFrontEnd::clearProgress()
{
    if (!m_showProgress || m_progressWidth == 0)
        return;
    writeErr(QLatin1Char('\r') + QString(m_progressWidth, QLatin1Char(' ')) + QLatin1Char('\r'));
    m_progressWidth = 0;
}
