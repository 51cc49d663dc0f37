#include "platform/VolumeService.h"

namespace {
class PlaceholderService : public VolumeService
{
public:
    QStringList volumeRoots() const override { return {}; }
    bool isUsbFixedDisk(const QString &) const override { return false; }
    QString fileSystemName(const QString &) const override { return {}; }
};
} // namespace

std::unique_ptr<VolumeService> createSystemVolumeService()
{
    return std::make_unique<PlaceholderService>();
}
