#include "cli/ConsoleText.h"

#include <QChar>
#include <QVector>

#include <algorithm>
#include <cstdio>

namespace {
bool isWide(uint c)
{
    // East Asian Wide and Fullwidth ranges, as terminals render them.
    static const uint kRanges[][2] = {
        {0x1100, 0x115F},   {0x231A, 0x231B},   {0x2329, 0x232A},   {0x2E80, 0x303E},
        {0x3041, 0x33FF},   {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},
        {0xA960, 0xA97F},   {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE10, 0xFE19},
        {0xFE30, 0xFE6F},   {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},   {0x1F300, 0x1F64F},
        {0x1F900, 0x1F9FF}, {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD},
    };
    for (const auto &range : kRanges) {
        if (c < range[0])
            return false;
        if (c <= range[1])
            return true;
    }
    return false;
}

bool isZeroWidth(uint c)
{
    if (c == 0x200B || c == 0x200C || c == 0x200D || c == 0x2060 || c == 0xFEFF)
        return true;
    switch (QChar::category(c)) {
    case QChar::Mark_NonSpacing:
    case QChar::Mark_Enclosing:
    case QChar::Other_Control:
        return true;
    default:
        return false;
    }
}

void writeTo(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    std::fflush(stream);
}
} // namespace

int displayWidth(const QString &text)
{
    int width = 0;
    const QVector<uint> codePoints = text.toUcs4();
    for (const uint c : codePoints) {
        if (isZeroWidth(c))
            continue;
        width += isWide(c) ? 2 : 1;
    }
    return width;
}

QString padToWidth(const QString &text, int width)
{
    const int fill = width - displayWidth(text);
    return fill > 0 ? text + QString(fill, QLatin1Char(' ')) : text;
}

QString elideToWidth(const QString &text, int width)
{
    if (displayWidth(text) <= width)
        return text;
    const QChar ellipsis(0x2026);
    QString kept;
    int used = 0;
    for (const uint c : text.toUcs4()) {
        const int w = isZeroWidth(c) ? 0 : isWide(c) ? 2 : 1;
        if (used + w > width - 1)
            break;
        kept += QString::fromUcs4(&c, 1);
        used += w;
    }
    return width > 0 ? kept + ellipsis : QString();
}

QString formatTable(const QVector<QStringList> &rows)
{
    int columns = 0;
    for (const QStringList &row : rows)
        columns = std::max(columns, static_cast<int>(row.size()));
    QVector<int> widths(columns, 0);
    for (const QStringList &row : rows) {
        for (int c = 0; c < row.size(); ++c)
            widths[c] = std::max(widths[c], displayWidth(row.at(c)));
    }

    QString out;
    for (int r = 0; r < rows.size(); ++r) {
        const QStringList &row = rows.at(r);
        QString line;
        for (int c = 0; c < columns; ++c) {
            const QString cell = row.value(c);
            line += c + 1 < columns ? padToWidth(cell, widths[c]) + QLatin1String("  ") : cell;
        }
        // Blank cells at the end of a row leave no trailing blanks.
        while (line.endsWith(QLatin1Char(' ')))
            line.chop(1);
        out += line + QLatin1Char('\n');
        if (r == 0) {
            int total = 0;
            for (int c = 0; c < columns; ++c)
                total += widths[c] + (c + 1 < columns ? 2 : 0);
            out += QString(total, QLatin1Char('-')) + QLatin1Char('\n');
        }
    }
    return out;
}

void writeOut(const QString &text)
{
    writeTo(stdout, text);
}

void writeErr(const QString &text)
{
    writeTo(stderr, text);
}
