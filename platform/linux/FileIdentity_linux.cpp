#include "platform/FileIdentity.h"

#include <QFile>

#include <sys/stat.h>

bool isLinkItself(const QString &path)
{
    struct stat self = {};
    return ::lstat(QFile::encodeName(path).constData(), &self) == 0 && S_ISLNK(self.st_mode);
}
