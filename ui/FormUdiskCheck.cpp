#include "ui/FormUdiskCheck.h"

FormUdiskCheck::FormUdiskCheck(QWidget *parent) : QWidget(parent) {}

FormUdiskCheck::~FormUdiskCheck() = default;
