#pragma once

#include <QString>
#include <QStringList>

// The forms and the report ask for Windows font families ("幼圆", "Agency FB", "新宋体", "黑体",
// "宋体"). Map them to installed fonts with Simplified Chinese glyphs, whatever the locale.
// Call once after the application object exists.
void installCjkFontSubstitutions();

// The installed fonts that stand in for one of those families, best first: none when the family
// itself is installed (or is not one of them); else its English Windows name, the known CJK
// fonts of Linux and Windows, and failing those the first of chineseFamilies (the installed fonts
// with Simplified Chinese glyphs).
QStringList cjkSubstitutes(const QString &family, const QStringList &installed,
                           const QStringList &chineseFamilies);
