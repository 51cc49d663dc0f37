#include "support/TestSupport.h"

#include <QDir>
#include <QFile>

#include <sys/fsuid.h>
#include <unistd.h>

QString corpusDir()
{
    const QDir dir(QStringLiteral(TAVIMOR_CORPUS_DIR));
    return dir.exists() ? dir.absolutePath() : QString();
}

bool clearPermissions(const QString &path)
{
    return QFile::setPermissions(path, QFileDevice::Permissions());
}

DropFileAccess::DropFileAccess()
{
    // The file-system user is per thread and, unlike the effective user, leaves signals and the
    // other threads alone. Leaving user 0 also drops the capability to override permissions.
    if (::geteuid() == 0) {
        ::setfsuid(65534);
        m_dropped = true;
    }
}

DropFileAccess::~DropFileAccess()
{
    if (m_dropped)
        ::setfsuid(0);
}
