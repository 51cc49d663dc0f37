#pragma once

#include <QDate>
#include <QString>

// What a check run takes from its surroundings, made injectable so that the command-line checker
// can name another settings file and tests can fix "today".

// The settings file read afresh at every use: "set.ini" in the working directory by default.
QString settingsFilePath();
void setSettingsFilePath(const QString &path); // empty restores the default

// Today's local date, unless a test has fixed it.
QDate currentLocalDate();
void setCurrentLocalDateOverride(const QDate &date); // invalid date restores the clock
