#pragma once

#include <QString>

// The interface verdict: "USB3.0" or a higher USB version typed the same way ("USB3.1", "USB3.2",
// "USB4", "USB4.0"); anything else, "USB2.0" and "USB3" included, is below what is required.
bool isUsb3OrHigher(const QString &diskInterface);
