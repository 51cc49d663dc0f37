#include "report/FontSetup.h"

#include <QFont>
#include <QFontDatabase>
#include <QStringList>

namespace {
// Candidates in order of preference. The first choices have Simplified Chinese glyph shapes and a
// character map without the Kangxi radicals block: the PDF writer derives each glyph's Unicode
// value from the lowest code point that maps to it, so a font that maps U+2F42 and U+6587 to one
// glyph makes the report's text extract and search as radicals. The Noto faces stay as the last
// resort: right shapes, but that flaw.
QStringList sansCandidates()
{
    return {QStringLiteral("WenQuanYi Zen Hei"), QStringLiteral("Noto Sans CJK SC"),
            QStringLiteral("Source Han Sans SC"), QStringLiteral("Source Han Sans CN")};
}

QStringList serifCandidates()
{
    return {QStringLiteral("AR PL UMing CN"),      QStringLiteral("WenQuanYi Zen Hei"),
            QStringLiteral("Noto Serif CJK SC"),   QStringLiteral("Source Han Serif SC"),
            QStringLiteral("Source Han Serif CN"), QStringLiteral("Noto Sans CJK SC")};
}
} // namespace

void installCjkFontSubstitutions()
{
    const QFontDatabase database;
    const QStringList installed = database.families();
    const auto isInstalled = [&installed](const QString &family) {
        return installed.contains(family, Qt::CaseInsensitive);
    };

    struct Request
    {
        const char *family;
        bool serif;
    };
    // 黑体 and 宋体 (the report), 幼圆 (start window), Agency FB and 新宋体 (label dialog).
    const Request requests[] = {
        {"黑体", false}, {"幼圆", false}, {"Agency FB", false}, {"宋体", true}, {"新宋体", true}};

    for (const Request &request : requests) {
        const QString family = QString::fromUtf8(request.family);
        // Where the Windows font itself is installed it is used as is.
        if (isInstalled(family))
            continue;
        QStringList substitutes;
        for (const QString &candidate : request.serif ? serifCandidates() : sansCandidates()) {
            if (isInstalled(candidate))
                substitutes << candidate;
        }
        // Adds only names not yet listed, so a second call changes nothing.
        if (!substitutes.isEmpty())
            QFont::insertSubstitutions(family, substitutes);
    }
}
