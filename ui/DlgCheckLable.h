#pragma once

#include "dcp/DcpInspector.h"

#include <QDialog>

// The inspector the windows work on; static storage, like the design asks.
extern DcpInspector gDcpInspector;

namespace Ui {
class DlgCheckLable;
}

// Lets the operator confirm the label fields that the run derived from the package, fill in
// the rest and declare the disk's data interface. Accepted only when no field is empty.
class DlgCheckLable : public QDialog
{
    Q_OBJECT
public:
    explicit DlgCheckLable(QWidget *parent = nullptr, DcpInspector &inspector = gDcpInspector);
    ~DlgCheckLable() override;

private slots:
    void on_pushButton_clicked();

private:
    Ui::DlgCheckLable *ui;
    DcpInspector &inspector;
};
