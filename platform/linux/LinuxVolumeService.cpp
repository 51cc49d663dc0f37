#include "platform/linux/LinuxVolumeService.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>

#include <algorithm>

#ifdef TAVIMOR_HAVE_BLKID
#include <blkid.h>
#endif

namespace {
// Device-mapper and md stacks are shallow; the limit only guards against a looping tree.
constexpr int kMaxStackDepth = 8;
// sysfs attributes and udev records are small; anything larger is not what we expect.
constexpr qint64 kMaxAttributeSize = 64 * 1024;

QByteArray readSmallFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.read(kMaxAttributeSize);
}

bool isOctalDigit(char c)
{
    return c >= '0' && c <= '7';
}

QString withoutTrailingSlash(const QString &path)
{
    QString result = path;
    while (result.size() > 1 && result.endsWith(QLatin1Char('/')))
        result.chop(1);
    return result;
}

QString rootPathOf(const QString &mountPoint)
{
    return mountPoint.endsWith(QLatin1Char('/')) ? mountPoint : mountPoint + QLatin1Char('/');
}
} // namespace

LinuxVolumeService::LinuxVolumeService()
    : LinuxVolumeService(QStringLiteral("/proc/self/mountinfo"), QStringLiteral("/sys"),
                         QStringLiteral("/run/udev/data"), QStringLiteral("/dev"))
{
}

LinuxVolumeService::LinuxVolumeService(const QString &mountInfoPath, const QString &sysfsRoot,
                                       const QString &udevDataRoot, const QString &devRoot)
    : mountInfoPath(mountInfoPath), sysfsRoot(sysfsRoot), udevDataRoot(udevDataRoot),
      devRoot(devRoot)
{
}

bool LinuxVolumeService::canProbeSuperblocks()
{
#ifdef TAVIMOR_HAVE_BLKID
    return true;
#else
    return false;
#endif
}

QByteArray LinuxVolumeService::decodeMountField(const QByteArray &field)
{
    QByteArray decoded;
    decoded.reserve(field.size());
    for (int i = 0; i < field.size(); ++i) {
        if (field.at(i) == '\\' && i + 3 < field.size() && isOctalDigit(field.at(i + 1)) &&
            isOctalDigit(field.at(i + 2)) && isOctalDigit(field.at(i + 3))) {
            const int value = (field.at(i + 1) - '0') * 64 + (field.at(i + 2) - '0') * 8 +
                              (field.at(i + 3) - '0');
            decoded.append(char(value & 0xff));
            i += 3;
        } else {
            decoded.append(field.at(i));
        }
    }
    return decoded;
}

QVector<LinuxVolumeService::Mount> LinuxVolumeService::parseMountInfo(const QByteArray &text)
{
    // "id parent major:minor root mount-point options [optional fields] - type source
    // super-options"
    QVector<Mount> mounts;
    const QList<QByteArray> lines = text.split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> fields = line.split(' ');
        int separator = -1;
        for (int i = 6; i < fields.size(); ++i) {
            if (fields.at(i) == "-") {
                separator = i;
                break;
            }
        }
        if (separator < 0 || separator + 2 >= fields.size())
            continue;
        Mount mount;
        mount.device = QString::fromLatin1(fields.at(2));
        mount.root = QFile::decodeName(decodeMountField(fields.at(3)));
        mount.mountPoint = withoutTrailingSlash(QFile::decodeName(decodeMountField(fields.at(4))));
        mount.type = QString::fromLatin1(decodeMountField(fields.at(separator + 1)));
        mount.source = QFile::decodeName(decodeMountField(fields.at(separator + 2)));
        if (mount.mountPoint.startsWith(QLatin1Char('/')))
            mounts << mount;
    }
    return mounts;
}

QString LinuxVolumeService::blockDevicePath(const Mount &mount) const
{
    // Pseudo file systems carry an anonymous device number (major 0) that has no entry here.
    const QStringList numbers = mount.device.split(QLatin1Char(':'));
    bool majorOk = false;
    const int major = numbers.value(0).toInt(&majorOk);
    if (numbers.size() == 2 && majorOk && major != 0) {
        const QFileInfo link(sysfsRoot + QStringLiteral("/dev/block/") + mount.device);
        const QString path = link.canonicalFilePath();
        if (!path.isEmpty() && QFileInfo(path).isDir())
            return path;
    }
    // Btrfs reports an anonymous device number too; its source still names the block device.
    if (mount.source.startsWith(QLatin1String("/dev/"))) {
        const QString node = QFileInfo(devRoot + mount.source.mid(4)).canonicalFilePath();
        if (!node.isEmpty()) {
            const QFileInfo entry(sysfsRoot + QStringLiteral("/class/block/") +
                                  QFileInfo(node).fileName());
            const QString path = entry.canonicalFilePath();
            if (!path.isEmpty() && QFileInfo(path).isDir())
                return path;
        }
    }
    return QString();
}

QVector<LinuxVolumeService::Volume> LinuxVolumeService::volumes() const
{
    QFile file(mountInfoPath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QVector<Mount> mounts = parseMountInfo(file.readAll());

    // Only the last mount on a mount point is visible there.
    QHash<QString, int> visibleAt;
    for (int i = 0; i < mounts.size(); ++i)
        visibleAt.insert(mounts.at(i).mountPoint, i);

    // A file system mounted in several places (bind mounts) is one volume; its whole-tree mount
    // is the one to report.
    QVector<Volume> found;
    QHash<QString, int> indexOfDevice;
    for (int i = 0; i < mounts.size(); ++i) {
        const Mount &mount = mounts.at(i);
        if (visibleAt.value(mount.mountPoint) != i)
            continue;
        const QString path = blockDevicePath(mount);
        if (path.isEmpty())
            continue;
        const auto known = indexOfDevice.constFind(path);
        if (known != indexOfDevice.constEnd()) {
            Volume &earlier = found[known.value()];
            if (earlier.mount.root != QLatin1String("/") && mount.root == QLatin1String("/"))
                earlier.mount = mount;
            continue;
        }
        indexOfDevice.insert(path, found.size());
        found.append(Volume{mount, path});
    }

    // Sorted by path, like drive letters: the mount order depends on the order of plugging in.
    std::sort(found.begin(), found.end(), [](const Volume &a, const Volume &b) {
        return a.mount.mountPoint < b.mount.mountPoint;
    });
    return found;
}

bool LinuxVolumeService::findVolume(const QString &rootPath, Volume &volume) const
{
    const QString mountPoint = withoutTrailingSlash(rootPath);
    const QVector<Volume> all = volumes();
    for (const Volume &candidate : all) {
        if (candidate.mount.mountPoint == mountPoint) {
            volume = candidate;
            return true;
        }
    }
    return false;
}

QStringList LinuxVolumeService::volumeRoots() const
{
    QStringList roots;
    const QVector<Volume> all = volumes();
    for (const Volume &volume : all)
        roots << rootPathOf(volume.mount.mountPoint);
    return roots;
}

bool LinuxVolumeService::passesThroughUsb(const QString &sysfsPath) const
{
    // The device path runs through a USB host ("usb2") and then a port ("2-1", "4-2.1") when the
    // disk hangs off a USB device, whichever driver (usb-storage or uas) serves it. udev's bus
    // name is no help here: some USB-SATA bridges make it say "ata".
    static const QRegularExpression host(QStringLiteral("^usb[0-9]+$"));
    static const QRegularExpression port(QStringLiteral("^[0-9]+-[0-9]+(\\.[0-9]+)*$"));
    const QString base = QFileInfo(sysfsRoot).canonicalFilePath();
    if (base.isEmpty() || !sysfsPath.startsWith(base + QLatin1Char('/')))
        return false;
    const QStringList parts = sysfsPath.mid(base.size() + 1).split(QLatin1Char('/'));
    bool underHost = false;
    for (const QString &part : parts) {
        if (host.match(part).hasMatch())
            underHost = true;
        else if (underHost && port.match(part).hasMatch())
            return true;
    }
    return false;
}

bool LinuxVolumeService::isUsbFixedBlockDevice(const QString &sysfsPath, int depth) const
{
    if (depth > kMaxStackDepth)
        return false;

    // A device-mapper or md device counts only when everything beneath it is on a USB disk.
    const QDir slaves(sysfsPath + QStringLiteral("/slaves"));
    const QStringList lower =
        slaves.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System, QDir::Name);
    if (!lower.isEmpty()) {
        for (const QString &name : lower) {
            const QString path = QFileInfo(slaves.filePath(name)).canonicalFilePath();
            if (path.isEmpty() || !isUsbFixedBlockDevice(path, depth + 1))
                return false;
        }
        return true;
    }

    QString disk = sysfsPath;
    if (QFileInfo::exists(sysfsPath + QStringLiteral("/partition")))
        disk = QFileInfo(sysfsPath).absolutePath();
    // A flash stick announces a removable medium; a USB hard disk does not.
    if (readSmallFile(disk + QStringLiteral("/removable")).trimmed() != "0")
        return false;
    return passesThroughUsb(disk);
}

bool LinuxVolumeService::isUsbFixedDisk(const QString &rootPath) const
{
    Volume volume;
    if (!findVolume(rootPath, volume))
        return false;
    return isUsbFixedBlockDevice(volume.sysfsPath, 0);
}

QString LinuxVolumeService::probedFileSystemType(const QString &device,
                                                 const QString &sysfsPath) const
{
    QString number =
        QString::fromLatin1(readSmallFile(sysfsPath + QStringLiteral("/dev")).trimmed());
    if (number.isEmpty())
        number = device;
    const QList<QByteArray> lines =
        readSmallFile(udevDataRoot + QStringLiteral("/b") + number).split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith("E:ID_FS_TYPE=")) {
            const QByteArray type = line.mid(13).trimmed();
            if (!type.isEmpty())
                return QString::fromLatin1(type);
        }
    }

#ifdef TAVIMOR_HAVE_BLKID
    // Without udev's record, read the superblock ourselves where the device node is readable.
    const QString node = devRoot + QLatin1Char('/') + QFileInfo(sysfsPath).fileName();
    QString probed;
    if (blkid_probe probe = blkid_new_probe_from_filename(QFile::encodeName(node).constData())) {
        blkid_probe_enable_superblocks(probe, 1);
        blkid_probe_set_superblocks_flags(probe, BLKID_SUBLKS_TYPE);
        const char *type = nullptr;
        size_t length = 0;
        if (blkid_do_safeprobe(probe) == 0 &&
            blkid_probe_lookup_value(probe, "TYPE", &type, &length) == 0 && type)
            probed = QString::fromLatin1(type);
        blkid_free_probe(probe);
    }
    return probed;
#else
    return QString();
#endif
}

QString LinuxVolumeService::fileSystemName(const QString &rootPath) const
{
    Volume volume;
    if (!findVolume(rootPath, volume))
        return QString();
    const QString &type = volume.mount.type;
    if (type == QLatin1String("ntfs") || type == QLatin1String("ntfs3"))
        return QStringLiteral("NTFS");
    // ntfs-3g mounts as "fuseblk", and so do exFAT and other FUSE drivers: ask what is on disk.
    if (type == QLatin1String("fuseblk") || type.startsWith(QLatin1String("fuseblk."))) {
        const QString probed = probedFileSystemType(volume.mount.device, volume.sysfsPath);
        if (probed == QLatin1String("ntfs"))
            return QStringLiteral("NTFS");
        return probed.isEmpty() ? type : probed;
    }
    return type;
}

std::unique_ptr<VolumeService> createSystemVolumeService()
{
    return std::make_unique<LinuxVolumeService>();
}
