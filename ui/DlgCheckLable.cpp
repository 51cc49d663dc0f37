#include "ui/DlgCheckLable.h"

#include "ui/LabelFit.h"
#include "ui_DlgCheckLable.h"

#include <QMessageBox>

DcpInspector gDcpInspector;

DlgCheckLable::DlgCheckLable(QWidget *parent, DcpInspector &inspector)
    : QDialog(parent), ui(new Ui::DlgCheckLable), inspector(inspector)
{
    ui->setupUi(this);
    fitLabelsToWidth(this);
    ui->editDcpName->setText(inspector.cplName);
    ui->editKdmDate->setText(inspector.kdmDate);
    ui->editDuration->setText(inspector.duration);
    // Editable combos take any text as their edit text, listed item or not.
    ui->cbAspect->setCurrentText(inspector.aspect);
    ui->cbResolution->setCurrentText(inspector.resolution);
    ui->editFrame->setText(inspector.frame);
    // An invalid date (empty or malformed text) is ignored by the editor, which keeps its own.
    ui->editVetDate->setDate(QDate::fromString(inspector.vetDate, QStringLiteral("yyyyMMdd")));
}

DlgCheckLable::~DlgCheckLable()
{
    delete ui;
}

void DlgCheckLable::on_pushButton_clicked()
{
    inspector.filmName = ui->editFilmName->text();
    inspector.kdmDate = ui->editKdmDate->text();
    inspector.duration = ui->editDuration->text();
    inspector.frame = ui->editFrame->text();
    inspector.aspect = ui->cbAspect->currentText();
    inspector.resolution = ui->cbResolution->currentText();
    inspector.color = ui->cbColor->currentText();
    inspector.audio = ui->cbAudio->currentText();
    inspector.vetDate = ui->editVetDate->date().toString(QStringLiteral("yyyyMMdd"));
    inspector.producer = ui->editProducer->text();
    inspector.diskInterface = ui->cbUsb->currentText();

    QString message;
    if (inspector.checkLabelFields(message)) {
        accept();
        return;
    }
    QMessageBox::warning(this, QStringLiteral("提示"), message, QMessageBox::Ok,
                         QMessageBox::NoButton);
}
