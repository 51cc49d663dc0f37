#include "dcp/MasterFiles.h"

#include "platform/FileIdentity.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QVector>

QString canonicalRootPrefix(const QString &masterRoot)
{
    QString root = QFileInfo(masterRoot).canonicalFilePath();
    if (!root.isEmpty() && !root.endsWith(QLatin1Char('/')))
        root += QLatin1Char('/');
    return root;
}

bool liesInside(const QString &rootPrefix, const QString &path)
{
    if (rootPrefix.isEmpty())
        return false;
    const QString real = QFileInfo(path).canonicalFilePath();
    return !real.isEmpty() && QString(real + QLatin1Char('/')).startsWith(rootPrefix);
}

QString assetFileInMaster(const QString &masterRoot, const QString &assetMapFolder,
                          const QString &assetPath)
{
    // A colon starts a scheme ("file:", "http:"), follows a drive letter or names an NTFS
    // stream; no file name on the disk holds one. Backslashes separate folders on Windows.
    if (assetPath.isEmpty() || assetPath.startsWith(QLatin1Char('/')) ||
        assetPath.startsWith(QLatin1Char('\\')) || assetPath.contains(QLatin1Char(':')) ||
        assetPath.contains(QChar(0)))
        return QString();
    int depth = 0;
    for (const QString &part : QString(assetPath)
                                   .replace(QLatin1Char('\\'), QLatin1Char('/'))
                                   .split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (part == QLatin1String(".."))
            --depth;
        else if (part != QLatin1String("."))
            ++depth;
        if (depth < 0)
            return QString();
    }
    const QString path = assetMapFolder + QLatin1Char('/') + assetPath;
    if (!QFileInfo(path).isFile() || !liesInside(canonicalRootPrefix(masterRoot), path))
        return QString();
    return path;
}

MasterWalk::MasterWalk(const QString &root, FolderLinks folderLinks,
                       std::function<bool()> stopRequested)
    : m_root(root), m_folderLinks(folderLinks), m_stopRequested(std::move(stopRequested))
{
}

bool MasterWalk::run(const std::function<bool(const QFileInfo &)> &visit)
{
    struct Level
    {
        QFileInfoList entries;
        int next = 0;
    };
    const QString rootPrefix = canonicalRootPrefix(m_root);
    const FileIdentity rootId = fileIdentity(m_root);
    if (rootPrefix.isEmpty() || !rootId.valid)
        return true; // no such folder: nothing in it
    QSet<FileIdentity> visited{rootId};
    // An explicit stack rather than recursion: a deeply nested disk cannot exhaust the stack.
    QVector<Level> stack;
    const auto enter = [&](const QString &folder) {
        ++m_folders;
        if (m_stopRequested && m_stopRequested())
            return false;
        stack.append({QDir(folder).entryInfoList(QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot,
                                                 QDir::NoSort),
                      0});
        return true;
    };
    if (!enter(m_root))
        return false;

    while (!stack.isEmpty()) {
        Level &level = stack.last();
        if (level.next >= level.entries.size()) {
            stack.removeLast();
            continue;
        }
        const QFileInfo entry = level.entries.at(level.next++);
        const QString path = entry.absoluteFilePath();
        if (!entry.isDir()) {
            if (entry.isSymLink() && !liesInside(rootPrefix, path))
                continue;
            if (!visit(entry))
                return false;
            continue;
        }
        const FileIdentity id = fileIdentity(path);
        if (!id.valid || visited.contains(id))
            continue;
        if (id.link || entry.isSymLink() || entry.isJunction()) {
            if (m_folderLinks == SkipFolderLinks || !liesInside(rootPrefix, path))
                continue;
        }
        visited.insert(id);
        if (!enter(path)) // invalidates level
            return false;
    }
    return true;
}
