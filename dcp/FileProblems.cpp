#include "dcp/FileProblems.h"

#include <QDir>

QString unreadableFileMessage(const QString &path, const QString &reason)
{
    return QStringLiteral("无法读取文件：") + QDir::toNativeSeparators(path) +
           QStringLiteral("（") + reason + QStringLiteral("），请检查移动硬盘后，再进行检测!");
}

QString changedFileMessage(const QString &path)
{
    return QStringLiteral("文件在检测过程中发生了变化：") + QDir::toNativeSeparators(path) +
           QStringLiteral("，请确认检测期间没有程序修改移动硬盘上的文件后，再进行检测!");
}
