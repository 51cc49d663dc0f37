#pragma once

#include <QWidget>

class FormUdiskCheck : public QWidget
{
    Q_OBJECT
public:
    explicit FormUdiskCheck(QWidget *parent = nullptr);
    ~FormUdiskCheck() override;
};
