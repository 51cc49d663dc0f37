#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>

class QSettings;

// Settings and labels files are a few lines of text that an operator typed. They are read only
// when they are regular files (a link is followed to its target) no larger than kInputFileLimit,
// and never beyond that limit plus one byte: a device, a pipe or a huge file named by mistake
// must neither block the checker nor exhaust its memory.

constexpr qint64 kInputFileLimit = 1024 * 1024;

enum class InputFileProblem { None, Missing, NotRegular, TooLarge, Unreadable };

struct InputFile
{
    QByteArray bytes;
    InputFileProblem problem = InputFileProblem::None;
    QString reason; // for the operator, in English; empty when there is no problem
};

// What is wrong with the file at path, judged without opening it.
InputFileProblem inputFileProblem(const QString &path, qint64 limit = kInputFileLimit,
                                  QString *reason = nullptr);

InputFile readInputFile(const QString &path, qint64 limit = kInputFileLimit);

// The settings file through the toolkit's INI reading, or nullptr when it is not a regular file
// within the limit: then hashing is off and no device is approved, as without a settings file.
std::unique_ptr<QSettings> openSettingsFile();

// The keys a check run reads ("hash/check", "cert_num/num", "cert_list/certN") that the settings
// file holds, as the run looks them up. None in a readable file means it is not a settings file.
QStringList knownSettingsKeys();
