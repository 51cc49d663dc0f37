#include "report/FontSetup.h"

#include <QCoreApplication>
#include <QDir>
#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>

namespace {
// Candidates in order of preference. The first choices have Simplified Chinese glyph shapes and a
// character map without the Kangxi radicals block: the PDF writer derives each glyph's Unicode
// value from the lowest code point that maps to it, so a font that maps U+2F42 and U+6587 to one
// glyph makes the report's text extract and search as radicals. The Noto faces stay as the last
// resort of the Linux fonts: right shapes, but that flaw. Then the fonts every Windows since
// Vista has, for a Windows without the Office fonts ("幼圆", "Agency FB").
QStringList sansCandidates()
{
    return {QStringLiteral("WenQuanYi Zen Hei"),  QStringLiteral("Noto Sans CJK SC"),
            QStringLiteral("Source Han Sans SC"), QStringLiteral("Source Han Sans CN"),
            QStringLiteral("Microsoft YaHei"),    QStringLiteral("SimHei")};
}

QStringList serifCandidates()
{
    return {QStringLiteral("AR PL UMing CN"),
            QStringLiteral("WenQuanYi Zen Hei"),
            QStringLiteral("Noto Serif CJK SC"),
            QStringLiteral("Source Han Serif SC"),
            QStringLiteral("Source Han Serif CN"),
            QStringLiteral("Noto Sans CJK SC"),
            QStringLiteral("SimSun"),
            QStringLiteral("NSimSun"),
            QStringLiteral("Microsoft YaHei"),
            QStringLiteral("SimHei")};
}

struct Request
{
    const char *family;
    const char *windowsName; // the family's English name on Windows, if it has one
    bool serif;
};

// 黑体 and 宋体 (the report), 幼圆 (start window), Agency FB and 新宋体 (label dialog).
const Request kRequests[] = {{"黑体", "SimHei", false},
                             {"幼圆", "YouYuan", false},
                             {"Agency FB", nullptr, false},
                             {"宋体", "SimSun", true},
                             {"新宋体", "NSimSun", true}};

#ifdef Q_OS_WIN
// The offscreen platform, which the command-line checker and the tests paint with, reads fonts
// from a folder of its own (next to Qt's libraries by default) instead of asking the system, and
// its default family "Helvetica" is not a Windows font: a missing family would fall back to the
// first font found, a bitmap Courier under Wine. On Windows it is pointed at the system's font
// folder and given the system's interface fonts before anything asks for a font.
void prepareOffscreenFonts()
{
    if (QGuiApplication::platformName() != QLatin1String("offscreen"))
        return;
    if (qEnvironmentVariableIsEmpty("QT_QPA_FONTDIR")) {
        const QString windows = qEnvironmentVariable("SystemRoot", qEnvironmentVariable("windir"));
        if (!windows.isEmpty())
            qputenv("QT_QPA_FONTDIR",
                    QDir(windows).filePath(QStringLiteral("Fonts")).toLocal8Bit());
    }
    QFont::insertSubstitutions(QStringLiteral("Helvetica"),
                               {QStringLiteral("Segoe UI"), QStringLiteral("Tahoma"),
                                QStringLiteral("Arial"), QStringLiteral("Microsoft YaHei")});
}
Q_COREAPP_STARTUP_FUNCTION(prepareOffscreenFonts)
#endif
} // namespace

QStringList cjkSubstitutes(const QString &family, const QStringList &installed,
                           const QStringList &chineseFamilies)
{
    const auto isInstalled = [&installed](const QString &name) {
        return installed.contains(name, Qt::CaseInsensitive);
    };
    // Where the font itself is installed it is used as is.
    if (isInstalled(family))
        return {};
    const Request *request = nullptr;
    for (const Request &candidate : kRequests) {
        if (family == QString::fromUtf8(candidate.family))
            request = &candidate;
    }
    if (!request)
        return {};

    QStringList candidates;
    // A Windows whose fonts carry English names has the font under that name.
    if (request->windowsName)
        candidates << QString::fromLatin1(request->windowsName);
    candidates << (request->serif ? serifCandidates() : sansCandidates());
    QStringList substitutes;
    for (const QString &candidate : qAsConst(candidates)) {
        if (isInstalled(candidate) && !substitutes.contains(candidate, Qt::CaseInsensitive))
            substitutes << candidate;
    }
    // Else any font with Simplified Chinese glyphs: a face not known here, never empty boxes.
    if (substitutes.isEmpty() && !chineseFamilies.isEmpty())
        substitutes << chineseFamilies.constFirst();
    return substitutes;
}

void installCjkFontSubstitutions()
{
    const QFontDatabase database;
    const QStringList installed = database.families();
    QStringList chinese;
    for (const QString &family : database.families(QFontDatabase::SimplifiedChinese)) {
        // Windows lists vertical-writing variants ("@SimSun") too: not for horizontal text.
        if (!family.startsWith(QLatin1Char('@')))
            chinese << family;
    }

    for (const Request &request : kRequests) {
        const QString family = QString::fromUtf8(request.family);
        const QStringList substitutes = cjkSubstitutes(family, installed, chinese);
        // Adds only names not yet listed, so a second call changes nothing.
        if (!substitutes.isEmpty())
            QFont::insertSubstitutions(family, substitutes);
    }
}
