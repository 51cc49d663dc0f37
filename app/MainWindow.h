#pragma once

#include <QMainWindow>

namespace Ui {
class MainWindow;
}

// The start window: the notice and the way on to the check window.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

private slots:
    void on_btnStart_clicked();
    void on_btnExit_clicked();

private:
    Ui::MainWindow *ui;
};
