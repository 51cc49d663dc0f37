#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <QVector>

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

// One line of an INI text as both the settings and the labels file see it: blanks around a line,
// a section name, a key and a value are not part of them.
struct IniLine
{
    enum Kind { Blank, Comment, Section, Entry, Malformed }; // Malformed: no key before a "="
    Kind kind = Blank;
    int number = 0;  // from 1
    QString section; // the section the line stands in (for a Section line: the one it opens)
    QString key;
    QString value; // as written after the "=", quotes included
};

// The lines of text split at line feeds; a line starting with one of commentStarts is a comment.
QVector<IniLine> iniLines(const QString &text, const QString &commentStarts);
