#pragma once

#include "cli/LabelFile.h"
#include "run/CheckRun.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

// The check run's front end for the command line: it keeps the check list in memory, takes the
// label confirmation from a labels file instead of the dialog, and shows the hash progress as one
// line on standard error when that is a terminal (or tells it to whoever draws a line for several
// front ends).
class ConsoleFrontEnd : public QObject, public CheckRunFrontEnd
{
    Q_OBJECT
public:
    // labels: the operator's confirmation, or nullptr when none was given.
    ConsoleFrontEnd(const LabelInput *labels, bool showProgress, QObject *parent = nullptr);

    void writeResult(int row, CellKind kind, const QString &text) override;
    void showWarning(const QString &message, const QString &detail) override;
    void writeDetail(int row, const QString &detail) override;
    void advisoriesFound(const QVector<Advisory> &advisories) override;
    bool confirmLabels(DcpInspector &inspector) override;
    void setReportEnabled(bool enabled) override;
    void setBusy(bool busy) override;
    void hashingStarted(qint64 totalBytes) override;
    void settingsRead(const RunSettings &settings) override;
    void runEnded(bool passed) override;

    bool hasEnded() const { return m_ended; }
    bool passed() const { return m_passed; }
    bool reportEnabled() const { return m_reportEnabled; }
    // The warning that ended the run (a refused confirmation included); empty when none.
    QString warning() const { return m_warning; }
    // The run got as far as the label confirmation.
    bool reachedConfirmation() const { return m_reachedConfirmation; }
    // Row 18 passed because every asset was hashed and matched.
    bool hashChecked() const;
    // The run got past the packing-list rules, but no asset was hashed: hashing was off.
    bool hashSkipped() const;

    // What failed in a failed row; empty for other rows.
    QString detail(int row) const { return m_details.value(row); }
    // The run's advisories; empty until the run reached a verdict.
    const QVector<Advisory> &advisories() const { return m_advisories; }

    // The first row that failed, or -1.
    int firstFailedRow() const;

    // The result text of a row as the window would show it.
    QString resultText(int row) const;
    // Number, item and result of every row, row-major: what the report prints.
    QStringList cellTexts() const;

    // Removes the progress line, if one is shown.
    void clearProgress();

signals:
    void ended();
    void settingsWereRead(const RunSettings &settings);
    // The hash progress with its rate and the time it leaves, whether or not it is drawn here.
    void progressed(const QString &text);

private:
    void showProgress(const QString &text);

    struct Cell
    {
        CellKind kind = CellKind::Blank;
        QString text;
    };
    QVector<Cell> m_cells;
    QVector<QString> m_details;
    QVector<Advisory> m_advisories;
    const LabelInput *m_labels;
    bool m_showProgress;
    int m_progressWidth = 0;
    qint64 m_hashTotal = 0;
    QElapsedTimer m_hashClock;
    QString m_warning;
    bool m_ended = false;
    bool m_passed = false;
    bool m_reportEnabled = false;
    bool m_reachedConfirmation = false;
    // Hashing writes its progress into row 18 before any verdict; a row 18 without progress
    // was not judged by hashing.
    bool m_hashProgressSeen = false;
};
