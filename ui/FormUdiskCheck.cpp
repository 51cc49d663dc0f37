#include "ui/FormUdiskCheck.h"

#include "dcp/DcpInspector.h"
#include "report/ComplianceReport.h"
#include "report/ReportLocation.h"
#include "ui/DlgCheckLable.h"
#include "ui/LabelFit.h"
#include "ui_FormUdiskCheck.h"

#include <QBrush>
#include <QCloseEvent>
#include <QColor>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QHeaderView>
#include <QMessageBox>
#include <QStandardItemModel>
#include <QTranslator>
#include <QUrl>

namespace {
const int kColumnCount = 3;
const int kResultColumn = 2;

// The message boxes' button that opens their detailed text speaks the operator's language; every
// other text of the boxes stays as it is.
class DetailButtonTranslator : public QTranslator
{
public:
    using QTranslator::QTranslator;
    bool isEmpty() const override { return false; }
    QString translate(const char *context, const char *sourceText, const char *disambiguation,
                      int n) const override
    {
        Q_UNUSED(disambiguation)
        Q_UNUSED(n)
        if (qstrcmp(context, "QMessageBox") != 0)
            return QString();
        if (qstrcmp(sourceText, "Show Details...") == 0)
            return QStringLiteral("显示详细信息…");
        if (qstrcmp(sourceText, "Hide Details...") == 0)
            return QStringLiteral("隐藏详细信息…");
        return QString();
    }
};

void installDetailButtonTexts()
{
    static DetailButtonTranslator *translator = nullptr;
    if (translator)
        return;
    translator = new DetailButtonTranslator(QCoreApplication::instance());
    QCoreApplication::installTranslator(translator);
}

// At most this many advisories are listed in the box itself; all of them in its details.
const int kAdvisoriesShown = 10;

// The foreground colour of a cell of this kind (invalid for a blank cell).
QColor cellKindColor(CellKind kind)
{
    switch (kind) {
    case CellKind::Blank:
        return QColor();
    case CellKind::Fail:
        return QColor(255, 0, 0, 255);
    case CellKind::Progress:
        return QColor(0, 0, 255, 255);
    case CellKind::Pass:
    case CellKind::NotApplicable:
    case CellKind::UnencryptedPass:
        return QColor(0, 255, 0, 255);
    }
    return QColor();
}
} // namespace

FormUdiskCheck::FormUdiskCheck(QWidget *parent)
    : QWidget(parent), ui(new Ui::FormUdiskCheck), model(new QStandardItemModel),
      run(gDcpInspector, *this)
{
    ui->setupUi(this);
    fitLabelsToWidth(this);
    installDetailButtonTexts();
    ui->tvCheckList->setModel(model);

    model->setColumnCount(kColumnCount);
    model->setHeaderData(0, Qt::Horizontal, tr("序号"), Qt::EditRole);
    model->setHeaderData(1, Qt::Horizontal, tr("检测项"), Qt::EditRole);
    model->setHeaderData(2, Qt::Horizontal, tr("检测结果"), Qt::EditRole);
    ui->tvCheckList->horizontalHeader()->setStyleSheet(
        QStringLiteral("QHeaderView::section{color:blue}"));
    ui->tvCheckList->setColumnWidth(0, 150);
    ui->tvCheckList->setColumnWidth(1, 300);
    ui->tvCheckList->setColumnWidth(2, 200);
    ui->tvCheckList->verticalHeader()->hide();
    ui->tvCheckList->setSelectionBehavior(QAbstractItemView::SelectRows);
    ui->tvCheckList->setEditTriggers(QAbstractItemView::NoEditTriggers);

    for (int row = 0; row < CheckRow::Count; ++row) {
        model->setItem(row, 0, new QStandardItem(checkListNumber(row)));
        model->setItem(row, 1, new QStandardItem(checkListItem(row)));
    }
    ui->btnReport->setEnabled(false);
}

FormUdiskCheck::~FormUdiskCheck()
{
    delete ui;
    delete model;
}

bool FormUdiskCheck::writeReport(const QString &path)
{
    QString message;
    if (writeComplianceReport(path, cellTexts, gDcpInspector, &message))
        return true;
    if (message.isEmpty())
        message = QStringLiteral("无法写入检测报告文件：") + path;
    QMessageBox::warning(this, QStringLiteral("提示"), message, QMessageBox::Ok,
                         QMessageBox::NoButton);
    return false;
}

void FormUdiskCheck::on_btnMasterCheck_clicked()
{
    cellTexts.clear();
    run.start();
}

void FormUdiskCheck::on_btnReport_clicked()
{
    cellTexts.clear();
    for (int row = 0; row < model->rowCount(); ++row) {
        for (int column = 0; column < model->columnCount(); ++column)
            cellTexts << model->index(row, column).data(Qt::DisplayRole).toString();
    }
    const QString path = reportFilePath();
    // A report that could not be written is not offered to the viewer: it would show an
    // earlier run's file or nothing at all.
    if (writeReport(path))
        QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void FormUdiskCheck::OnMsgSignal(QString strSign)
{
    run.OnMsgSignal(strSign);
}

void FormUdiskCheck::on_btnExit_clicked()
{
    close();
}

void FormUdiskCheck::closeEvent(QCloseEvent *event)
{
    // Closing the window ends the application; a worker still hashing must not outlive it.
    run.stopWorker();
    QWidget::closeEvent(event);
}

void FormUdiskCheck::writeResult(int row, CellKind kind, const QString &text)
{
    auto *item = new QStandardItem(cellKindText(kind, text));
    model->setItem(row, kResultColumn, item);
    if (kind == CellKind::Blank)
        return;
    item->setTextAlignment(Qt::AlignCenter);
    item->setForeground(QBrush(cellKindColor(kind), Qt::SolidPattern));
}

void FormUdiskCheck::showWarning(const QString &message, const QString &detail)
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("提示"), message, QMessageBox::Ok, this);
    box.setDetailedText(detail);
    box.exec();
}

void FormUdiskCheck::writeDetail(int row, const QString &detail)
{
    if (QStandardItem *item = model->item(row, kResultColumn))
        item->setToolTip(detail);
}

void FormUdiskCheck::advisoriesFound(const QVector<Advisory> &advisories)
{
    if (advisories.isEmpty())
        return;
    QStringList lines;
    for (const Advisory &advisory : advisories) {
        // Paths stay as the command line prints them, "/" separated and relative to the master.
        const bool named = advisory.path.isEmpty() || advisory.message.contains(advisory.path);
        lines << (named ? advisory.message
                        : advisory.path + QStringLiteral("：") + advisory.message);
    }
    QString text = QStringLiteral("以下%1项不影响检测结论，但影院服务器可能拒绝导入这样的DCP：\n\n")
                       .arg(advisories.size()) +
                   lines.mid(0, kAdvisoriesShown).join(QLatin1Char('\n'));
    if (lines.size() > kAdvisoriesShown)
        text += QStringLiteral("\n……另有%1项，见详细信息").arg(lines.size() - kAdvisoriesShown);
    QMessageBox box(QMessageBox::Information, QStringLiteral("附加提示"), text, QMessageBox::Ok,
                    this);
    if (lines.size() > kAdvisoriesShown)
        box.setDetailedText(lines.join(QLatin1Char('\n')));
    box.exec();
}

bool FormUdiskCheck::confirmLabels(DcpInspector &inspector)
{
    DlgCheckLable dialog(this, inspector);
    dialog.setWindowTitle(QStringLiteral("数字电影送审母版信息"));
    return dialog.exec() == QDialog::Accepted;
}

void FormUdiskCheck::setReportEnabled(bool enabled)
{
    ui->btnReport->setEnabled(enabled);
}

void FormUdiskCheck::setBusy(bool busy)
{
    setCursor(busy ? Qt::WaitCursor : Qt::ArrowCursor);
}

void FormUdiskCheck::runEnded(bool passed)
{
    emit checkRunEnded(passed);
}
