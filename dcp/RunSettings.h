#pragma once

#include <QString>
#include <QStringList>

// What a check run takes from the settings file. The run reads it once, at its start, from one
// path, and hands it to discovery (the approved devices) and to hashing (the switch).

// The window's settings file: "set.ini" in the working directory, read afresh at every run.
QString defaultSettingsPath();

struct RunSettings
{
    QString path = defaultSettingsPath(); // where it was read from, kept out of the report's reach
    bool hashCheck = false;               // "hash/check" is a number other than 0
    QStringList certificates;             // "cert_list/certN" for N below "cert_num/num"
    // The keys the run reads ("hash/check", "cert_num/num", "cert_list/certN") that the file
    // holds. None in a readable file means it is not a settings file.
    QStringList knownKeys;
};

// The settings at path. A file that is missing, not a regular file or larger than the input file
// limit reads as no settings: hashing off, no device approved.
RunSettings readRunSettings(const QString &path);
