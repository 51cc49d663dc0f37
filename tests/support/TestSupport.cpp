#include "support/TestSupport.h"
#include "support/FixtureBuilder.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>

QString corpusDir()
{
    const QDir dir(QStringLiteral(TAVIMOR_CORPUS_DIR));
    return dir.exists() ? dir.absolutePath() : QString();
}

QStringList folderSnapshot(const QString &folder)
{
    QStringList entries;
    QDirIterator it(folder, QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        QFile file(info.filePath());
        const bool plain = info.isFile() && !info.isSymLink() && file.open(QIODevice::ReadOnly);
        entries << info.filePath() + QLatin1Char(' ') + info.symLinkTarget() + QLatin1Char(' ') +
                       (plain ? FixtureBuilder::sha1Base64(file.readAll()) : QString());
    }
    entries.sort();
    return entries;
}

Unreadable::Unreadable(const QString &path) : m_path(QFile::encodeName(path))
{
    ::chmod(m_path.constData(), 0);
    if (::geteuid() != 0)
        return;
    for (QDir dir = QFileInfo(path).dir(); !dir.isRoot(); dir.cdUp()) {
        const QByteArray folder = QFile::encodeName(dir.path());
        struct stat info;
        if (::stat(folder.constData(), &info) == 0 && !(info.st_mode & S_IXOTH)) {
            ::chmod(folder.constData(), info.st_mode | S_IXOTH);
            m_opened.append({folder, info.st_mode});
        }
    }
    // The group too: root's group would otherwise select the folders' group bits.
    m_dropped = ::setegid(65534) == 0 && ::seteuid(65534) == 0;
}

Unreadable::~Unreadable()
{
    if (m_dropped && (::seteuid(0) != 0 || ::setegid(0) != 0))
        qFatal("cannot take root back");
    for (const auto &folder : qAsConst(m_opened))
        ::chmod(folder.first.constData(), static_cast<mode_t>(folder.second));
    ::chmod(m_path.constData(), 0644);
}
