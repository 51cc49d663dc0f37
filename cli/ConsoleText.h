#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

// Plain-text output for terminals: widths counted in terminal columns, where a CJK or full-width
// character takes two and a combining mark none.

int displayWidth(const QString &text);

// The text followed by blanks up to width columns (never cut).
QString padToWidth(const QString &text, int width);

// The text cut to at most width columns, ending in "…" where it was cut.
QString elideToWidth(const QString &text, int width);

// Rows of cells as aligned columns, two blanks apart; the first row is the header and is
// underlined. The last column is not padded. Every line ends in "\n".
QString formatTable(const QVector<QStringList> &rows);

// Writes UTF-8 text to standard output or standard error and flushes.
void writeOut(const QString &text);
void writeErr(const QString &text);
