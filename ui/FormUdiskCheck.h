#pragma once

#include "run/CheckRun.h"

#include <QStringList>
#include <QWidget>

class QStandardItemModel;

namespace Ui {
class FormUdiskCheck;
}

// The check window: the check list, the run button and the report button. The run itself is a
// CheckRun that reaches the window through the front-end interface below.
class FormUdiskCheck : public QWidget, private CheckRunFrontEnd
{
    Q_OBJECT
public:
    explicit FormUdiskCheck(QWidget *parent = nullptr);
    ~FormUdiskCheck() override;

    // The check list behind tvCheckList: 3 columns, 29 rows, results in column 2.
    QStandardItemModel *checkListModel() const { return model; }
    CheckRun &checkRun() { return run; }

    // Paints the report into path; false (after telling the operator) when it cannot be written.
    bool writeReport(const QString &path);

    // The check list's display texts in row-major order, taken when the report is requested.
    QStringList cellTexts;

signals:
    // A check run is over, whichever way it ended (passed: the report may be written).
    void checkRunEnded(bool passed);

public slots:
    void on_btnMasterCheck_clicked();
    void on_btnReport_clicked();
    void OnMsgSignal(QString strSign);
    void on_btnExit_clicked();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void writeResult(int row, CellKind kind, const QString &text) override;
    void showWarning(const QString &message, const QString &detail) override;
    void writeDetail(int row, const QString &detail) override;
    void advisoriesFound(const QVector<Advisory> &advisories) override;
    bool confirmLabels(DcpInspector &inspector) override;
    void setReportEnabled(bool enabled) override;
    void setBusy(bool busy) override;
    void runEnded(bool passed) override;

    Ui::FormUdiskCheck *ui;
    QStandardItemModel *model;
    CheckRun run;
};
