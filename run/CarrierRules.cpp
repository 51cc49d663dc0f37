#include "dcp/DcpInspector.h"
#include "platform/VolumeService.h"

#include <QDir>

const VolumeService &DcpInspector::carrierVolumes() const
{
    return volumes ? *volumes : volumeService();
}

bool DcpInspector::findRemovableDrives(QString &message)
{
    // Only USB hard disks count; flash sticks, internal disks and network drives are skipped.
    const VolumeService &service = carrierVolumes();
    const QStringList roots = service.volumeRoots();
    for (const QString &root : roots) {
        if (isUsbVolume(root, service))
            removableDrives.append(root);
    }
    if (removableDrives.isEmpty()) {
        failureDetail = roots.isEmpty() ? QStringLiteral("系统中没有找到任何卷")
                                        : QStringLiteral("找到的卷都不是USB移动硬盘：") +
                                              roots.join(QStringLiteral("、"));
        message = QStringLiteral("未检查到移动硬盘，请确认移动硬盘已经接入电脑后，再进行检测!");
        return false;
    }
    return true;
}

bool DcpInspector::checkNtfs(QString &message)
{
    bool anyNtfs = false;
    for (const QString &root : qAsConst(removableDrives)) {
        if (isNtfsVolume(root, carrierVolumes()))
            anyNtfs = true;
    }
    if (!anyNtfs) {
        QStringList found;
        for (const QString &root : qAsConst(removableDrives)) {
            const QString name = carrierVolumes().fileSystemName(root);
            found << QStringLiteral("%1：%2").arg(QDir::toNativeSeparators(root),
                                                  name.isEmpty() ? QStringLiteral("未知") : name);
        }
        failureDetail = QStringLiteral("移动硬盘的文件系统：\n") + found.join(QLatin1Char('\n'));
        message =
            QStringLiteral("移动硬盘不是NTFS文件系统格式，请确保移动硬盘为NTFS文件系统格式后，"
                           "再进行检测!");
        return false;
    }
    return true;
}

bool DcpInspector::checkSingleDrive(QString &message)
{
    if (removableDrives.size() >= 2) {
        QStringList roots;
        for (const QString &root : qAsConst(removableDrives))
            roots << QDir::toNativeSeparators(root);
        failureDetail = QStringLiteral("找到的移动硬盘分区：") + roots.join(QStringLiteral("、"));
        message =
            QStringLiteral("电脑上有多个移动硬盘或移动硬盘有多个分区，请确保电脑上只有一个移动"
                           "硬盘且移动硬盘只有一个分区后，再进行检测!");
        return false;
    }
    return true;
}
