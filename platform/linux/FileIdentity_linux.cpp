#include "platform/FileIdentity.h"

#include <QFile>

#include <sys/stat.h>

FileIdentity fileIdentity(const QString &path)
{
    FileIdentity id;
    const QByteArray name = QFile::encodeName(path);
    struct stat target = {};
    if (::stat(name.constData(), &target) != 0)
        return id;
    struct stat self = {};
    id.valid = true;
    id.volume = quint64(target.st_dev);
    id.index = quint64(target.st_ino);
    id.link = ::lstat(name.constData(), &self) == 0 && S_ISLNK(self.st_mode);
    return id;
}
