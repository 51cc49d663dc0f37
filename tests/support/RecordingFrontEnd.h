#pragma once

#include "dcp/DcpInspector.h"
#include "run/CheckRun.h"

#include <QStringList>
#include <QVector>

#include <functional>

// A front end for tests: it keeps the check list as the run left it, and logs every call in
// order ("cell 18 Progress 40.96%", "warning …", "busy 0", "report 1", "confirm", "ended 1").
class RecordingFrontEnd : public CheckRunFrontEnd
{
public:
    struct Cell
    {
        CellKind kind = CellKind::Blank;
        QString text;
        bool written = false; // a run has written this cell (a blank one included)
    };

    RecordingFrontEnd();

    void writeResult(int row, CellKind kind, const QString &text) override;
    void showWarning(const QString &message) override;
    bool confirmLabels(DcpInspector &inspector) override;
    void setReportEnabled(bool enabled) override;
    void setBusy(bool busy) override;
    void runEnded(bool passed) override;

    // Forgets everything recorded; the answers below stay.
    void clear();

    CellKind kind(int row) const { return cells.value(row).kind; }
    QString text(int row) const { return cells.value(row).text; }
    // "P" pass, "F" fail, "-" not applicable, "U" unencrypted pass, "." blank, "~" progress:
    // one character per row, so that a whole check list compares as one text.
    QString summary() const;

    // What the operator enters in the label dialog: a Chinese film name, colour, audio,
    // producer and the interface below; the pre-filled fields are kept.
    static void fillValidLabels(DcpInspector &inspector, const QString &diskInterface);

    // The dialog's answer. By default the valid labels above with "USB3.0", accepted.
    std::function<bool(DcpInspector &)> onConfirm;

    QVector<Cell> cells;
    QStringList log;
    QStringList warnings;
    QStringList progressTexts; // every progress text written, in order
    QVector<bool> endings;     // the argument of every runEnded
    bool busy = false;
    bool reportEnabled = false;
    int confirmCalls = 0;
    DcpInspector offeredLabels; // the inspector as the last dialog found it
};
