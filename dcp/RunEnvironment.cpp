#include "dcp/RunEnvironment.h"

namespace {
QString &settingsPathOverride()
{
    static QString path;
    return path;
}

QDate &dateOverride()
{
    static QDate date;
    return date;
}
} // namespace

QString settingsFilePath()
{
    const QString &path = settingsPathOverride();
    return path.isEmpty() ? QStringLiteral("set.ini") : path;
}

void setSettingsFilePath(const QString &path)
{
    settingsPathOverride() = path;
}

QDate currentLocalDate()
{
    const QDate &date = dateOverride();
    return date.isValid() ? date : QDate::currentDate();
}

void setCurrentLocalDateOverride(const QDate &date)
{
    dateOverride() = date;
}
