#pragma once

#include "platform/VolumeService.h"

#include <QVector>

// A volume layer for tests: the volumes it reports are set by the test, and it installs itself
// as the service the carrier rules use for as long as it lives.
class FakeVolumeService : public VolumeService
{
public:
    struct Volume
    {
        QString root; // with a trailing "/"
        bool usbFixedDisk = true;
        QString fileSystem = QStringLiteral("NTFS");
    };

    FakeVolumeService();
    explicit FakeVolumeService(const QVector<Volume> &volumes);
    ~FakeVolumeService() override;

    // One NTFS volume on a USB hard disk, rooted at the given folder.
    static QVector<Volume> usbDisk(const QString &root);

    QStringList volumeRoots() const override;
    bool isUsbFixedDisk(const QString &rootPath) const override;
    QString fileSystemName(const QString &rootPath) const override;

    QVector<Volume> volumes;
};
