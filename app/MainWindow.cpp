#include "app/MainWindow.h"

#include "ui/FormUdiskCheck.h"
#include "ui/LabelFit.h"
#include "ui_MainWindow.h"

#include <QCoreApplication>

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent), ui(new Ui::MainWindow)
{
    ui->setupUi(this);
    fitLabelsToWidth(this);
}

MainWindow::~MainWindow()
{
    delete ui;
}

void MainWindow::on_btnStart_clicked()
{
    auto *form = new FormUdiskCheck;
    // The check window lives until the process ends; releasing it once the event loop is over
    // also stops a worker that may still hash and keeps leak checkers quiet.
    connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, form,
            &QObject::deleteLater);
    form->show();
    hide();
}

void MainWindow::on_btnExit_clicked()
{
    close();
}
