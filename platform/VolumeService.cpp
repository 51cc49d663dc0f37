#include "platform/VolumeService.h"

namespace {
VolumeService *installedService = nullptr;
} // namespace

VolumeService &volumeService()
{
    if (installedService)
        return *installedService;
    static const std::unique_ptr<VolumeService> systemService = createSystemVolumeService();
    return *systemService;
}

void setVolumeService(VolumeService *service)
{
    installedService = service;
}

bool isUsbVolume(QString rootPath, const VolumeService &service)
{
    return service.isUsbFixedDisk(rootPath);
}

bool isNtfsVolume(QString rootPath, const VolumeService &service)
{
    return service.fileSystemName(rootPath).compare(QLatin1String("NTFS"), Qt::CaseInsensitive) ==
           0;
}
