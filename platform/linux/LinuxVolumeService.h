#pragma once

#include "platform/VolumeService.h"

#include <QByteArray>
#include <QVector>

// The volume layer on Linux: mounted block-device file systems from the mount table, their disks
// looked up in sysfs, and the file-system type from the mount table, confirmed through udev's
// database or a superblock probe where the type is ambiguous. Every source is read through a
// path given to the constructor, so tests point it at fixture trees.
class LinuxVolumeService : public VolumeService
{
public:
    LinuxVolumeService(); // the running system's paths
    LinuxVolumeService(const QString &mountInfoPath, const QString &sysfsRoot,
                       const QString &udevDataRoot, const QString &devRoot);

    QStringList volumeRoots() const override;
    bool isUsbFixedDisk(const QString &rootPath) const override;
    QString fileSystemName(const QString &rootPath) const override;

    // Whether superblocks can be read directly when udev has no record (built with libblkid).
    static bool canProbeSuperblocks();

    // One line of the mount table, with its escapes decoded.
    struct Mount
    {
        QString device;     // "major:minor" as the mount table gives it
        QString root;       // the mounted folder inside the file system
        QString mountPoint; // without a trailing "/" (except for "/" itself)
        QString type;
        QString source;
    };
    static QVector<Mount> parseMountInfo(const QByteArray &text);
    // Decodes the mount table's octal escapes ("\040" for a blank, "\134" for a backslash).
    static QByteArray decodeMountField(const QByteArray &field);

private:
    struct Volume
    {
        Mount mount;
        QString sysfsPath; // canonical sysfs folder of the mounted block device
    };

    QVector<Volume> volumes() const;
    bool findVolume(const QString &rootPath, Volume &volume) const;
    QString blockDevicePath(const Mount &mount) const;
    bool isUsbFixedBlockDevice(const QString &sysfsPath, int depth) const;
    bool passesThroughUsb(const QString &sysfsPath) const;
    QString probedFileSystemType(const QString &device, const QString &sysfsPath) const;

    QString mountInfoPath;
    QString sysfsRoot;
    QString udevDataRoot;
    QString devRoot;
};
