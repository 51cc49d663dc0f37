#include "platform/VolumeService.h"
#include "platform/win/win32volumes.h"

#include <QDir>
#include <QFileInfo>

namespace {
// Drive letters from the toolkit, everything else from the Win32 queries beside this file.
class WindowsVolumeService : public VolumeService
{
public:
    QStringList volumeRoots() const override
    {
        QStringList roots;
        const QFileInfoList drives = QDir::drives();
        for (const QFileInfo &drive : drives)
            roots << drive.absolutePath();
        return roots;
    }

    bool isUsbFixedDisk(const QString &rootPath) const override
    {
        const std::string root = rootPath.toStdString();
        return win32volumes::isFixedDrive(root) && win32volumes::isUsbVolume(root);
    }

    QString fileSystemName(const QString &rootPath) const override
    {
        return QString::fromStdString(win32volumes::fileSystemName(rootPath.toStdString()));
    }
};
} // namespace

std::unique_ptr<VolumeService> createSystemVolumeService()
{
    return std::make_unique<WindowsVolumeService>();
}
