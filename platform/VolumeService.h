#pragma once

#include <QString>
#include <QStringList>

#include <memory>

// What the carrier rules need of the operating system: the volume roots, whether a volume sits on
// a fixed (non-removable-medium) USB disk, and a volume's file-system name. One implementation per
// system; tests install a fake.
class VolumeService
{
public:
    virtual ~VolumeService() = default;

    // Root paths ("E:/" on Windows, mount points on Linux, with a trailing "/"), in a stable order.
    virtual QStringList volumeRoots() const = 0;
    // The volume's disk is attached through USB and reports a fixed, non-removable medium.
    virtual bool isUsbFixedDisk(const QString &rootPath) const = 0;
    // "NTFS" for an NTFS volume (in any letter case); another name, or empty when unknown.
    virtual QString fileSystemName(const QString &rootPath) const = 0;
};

// The service of this operating system.
std::unique_ptr<VolumeService> createSystemVolumeService();

// The service the rules use: the system's, unless a test or caller has installed another one.
VolumeService &volumeService();
void setVolumeService(VolumeService *service); // nullptr restores the system service

// The helpers the carrier rules are written with.
bool isUsbVolume(QString rootPath, const VolumeService &service = volumeService());
bool isNtfsVolume(QString rootPath, const VolumeService &service = volumeService());
