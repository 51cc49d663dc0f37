#include "support/FakeVolumeService.h"

#include <QDir>

FakeVolumeService::FakeVolumeService()
{
    setVolumeService(this);
}

FakeVolumeService::FakeVolumeService(const QVector<Volume> &volumes) : volumes(volumes)
{
    setVolumeService(this);
}

FakeVolumeService::~FakeVolumeService()
{
    setVolumeService(nullptr);
}

QVector<FakeVolumeService::Volume> FakeVolumeService::usbDisk(const QString &root)
{
    QString path = QDir::fromNativeSeparators(root);
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    Volume volume;
    volume.root = path;
    return {volume};
}

QStringList FakeVolumeService::volumeRoots() const
{
    QStringList roots;
    for (const Volume &volume : volumes)
        roots << volume.root;
    return roots;
}

bool FakeVolumeService::isUsbFixedDisk(const QString &rootPath) const
{
    for (const Volume &volume : volumes) {
        if (volume.root == rootPath)
            return volume.usbFixedDisk;
    }
    return false;
}

QString FakeVolumeService::fileSystemName(const QString &rootPath) const
{
    for (const Volume &volume : volumes) {
        if (volume.root == rootPath)
            return volume.fileSystem;
    }
    return QString();
}
