#include "dcp/DcpInspector.h"
#include "platform/linux/LinuxVolumeService.h"
#include "support/FakeVolumeService.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <unistd.h>

namespace {

const QString kNoDiskMessage =
    QStringLiteral("未检查到移动硬盘，请确认移动硬盘已经接入电脑后，再进行检测!");
const QString kNotNtfsMessage =
    QStringLiteral("移动硬盘不是NTFS文件系统格式，请确保移动硬盘为NTFS文件系统格式后，再进行检测!");
const QString kSeveralMessage =
    QStringLiteral("电脑上有多个移动硬盘或移动硬盘有多个分区，请确保电脑上只有一个移动硬盘且移动"
                   "硬盘只有一个分区后，再进行检测!");

// A sysfs, /dev, udev and mount-table tree shaped like the real ones, built in a temporary
// folder. Every link is relative and stays inside the tree, as in /sys.
class SystemTree
{
public:
    explicit SystemTree(const QString &base) : base(base)
    {
        for (const char *folder : {"sys/dev/block", "sys/class/block", "dev", "udev"})
            QDir(base).mkpath(QLatin1String(folder));
    }

    QString sys() const { return base + QStringLiteral("/sys"); }

    // A disk below sys/devices; the last path component is its kernel name.
    QString addDisk(const QString &devicePath, const QString &number, bool removable)
    {
        const QString folder = sys() + QStringLiteral("/devices/") + devicePath;
        addBlockDevice(folder, number);
        write(folder + QStringLiteral("/removable"), removable ? "1\n" : "0\n");
        return folder;
    }

    QString addPartition(const QString &diskFolder, const QString &name, const QString &number)
    {
        const QString folder = diskFolder + QLatin1Char('/') + name;
        addBlockDevice(folder, number);
        write(folder + QStringLiteral("/partition"), "1\n");
        return folder;
    }

    // A device-mapper device over the given block devices, with its /dev/mapper alias.
    QString addMapper(const QString &name, const QString &number, const QString &alias,
                      const QStringList &lowerFolders)
    {
        const QString folder = sys() + QStringLiteral("/devices/virtual/block/") + name;
        addBlockDevice(folder, number);
        write(folder + QStringLiteral("/removable"), "0\n");
        for (const QString &lower : lowerFolders) {
            link(lower, folder + QStringLiteral("/slaves/") + QFileInfo(lower).fileName());
            link(folder, lower + QStringLiteral("/holders/") + name);
        }
        link(base + QStringLiteral("/dev/") + name, base + QStringLiteral("/dev/mapper/") + alias);
        return folder;
    }

    void setDeviceNode(const QString &name, const QByteArray &content)
    {
        write(base + QStringLiteral("/dev/") + name, content);
    }

    void addUdevRecord(const QString &number, const QByteArray &text)
    {
        write(base + QStringLiteral("/udev/b") + number, text);
    }

    // A mount-table line without its two leading ids, which are numbered here.
    void addMount(const QByteArray &line)
    {
        mountInfo += QByteArray::number(mountInfoLines + 21) + " 1 " + line + '\n';
        ++mountInfoLines;
        write(base + QStringLiteral("/mountinfo"), mountInfo);
    }

    LinuxVolumeService service() const
    {
        return LinuxVolumeService(base + QStringLiteral("/mountinfo"), sys(),
                                  base + QStringLiteral("/udev"), base + QStringLiteral("/dev"));
    }

private:
    void addBlockDevice(const QString &folder, const QString &number)
    {
        const QString name = QFileInfo(folder).fileName();
        QDir().mkpath(folder + QStringLiteral("/slaves"));
        QDir().mkpath(folder + QStringLiteral("/holders"));
        write(folder + QStringLiteral("/dev"), number.toLatin1() + '\n');
        link(folder, sys() + QStringLiteral("/dev/block/") + number);
        link(folder, sys() + QStringLiteral("/class/block/") + name);
        setDeviceNode(name, QByteArray());
    }

    static void link(const QString &target, const QString &linkPath)
    {
        const QString folder = QFileInfo(linkPath).absolutePath();
        QDir().mkpath(folder);
        const QString relative = QDir(folder).relativeFilePath(target);
        QVERIFY2(::symlink(QFile::encodeName(relative).constData(),
                           QFile::encodeName(linkPath).constData()) == 0,
                 qPrintable(linkPath));
    }

    static void write(const QString &path, const QByteArray &content)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
        file.write(content);
    }

    QString base;
    QByteArray mountInfo;
    int mountInfoLines = 0;
};

// The smallest image whose superblock libblkid takes for NTFS: the boot sector's parameters and
// two MFT records (the first and the volume record) that start with "FILE".
QByteArray minimalNtfsImage()
{
    QByteArray image(8192, '\0');
    auto put16 = [&](int offset, quint16 value) { qToLittleEndian(value, image.data() + offset); };
    auto put64 = [&](int offset, quint64 value) { qToLittleEndian(value, image.data() + offset); };
    image.replace(3, 8, "NTFS    ");
    put16(11, 512);     // bytes per sector
    image[13] = 1;      // sectors per cluster
    image[21] = '\xf8'; // media: hard disk
    put64(40, 16);      // sectors
    put64(48, 1);       // MFT cluster
    put64(56, 2);       // MFT mirror cluster
    image[64] = '\xf6'; // MFT record of 2^10 bytes
    image.replace(512, 4, "FILE");
    image.replace(512 + 3 * 1024, 4, "FILE");
    return image;
}

const char *const kUsbHost = "pci0000:00/0000:00:14.0/";

// The layouts seen on real machines, side by side in one tree.
void buildFullLayout(SystemTree &tree)
{
    const QString usb = QLatin1String(kUsbHost);

    // Internal NVMe disk holding the system, with a bind mount and an EFI partition hidden by
    // a later mount on the same folder.
    const QString nvme =
        tree.addDisk(QStringLiteral("pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0/nvme0n1"),
                     QStringLiteral("259:0"), false);
    tree.addPartition(nvme, QStringLiteral("nvme0n1p1"), QStringLiteral("259:1"));
    tree.addPartition(nvme, QStringLiteral("nvme0n1p2"), QStringLiteral("259:2"));
    tree.addMount("259:2 / / rw,relatime shared:1 - ext4 /dev/nvme0n1p2 rw,errors=remount-ro");
    tree.addMount("0:22 / /sys rw,nosuid,nodev,noexec,relatime shared:7 - sysfs sysfs rw");
    tree.addMount("0:23 / /proc rw,nosuid,nodev,noexec,relatime shared:13 - proc proc rw");
    tree.addMount("0:25 / /run rw,nosuid,nodev,noexec,relatime shared:5 - tmpfs tmpfs rw,mode=755");
    tree.addMount("259:1 / /boot/efi rw,relatime shared:30 - vfat /dev/nvme0n1p1 rw,fmask=0077");
    tree.addMount("0:48 / /boot/efi rw,relatime shared:31 - tmpfs tmpfs rw");
    tree.addMount("259:2 /home /srv/home rw,relatime shared:1 - ext4 /dev/nvme0n1p2 rw");

    // Internal SATA disk: a Windows partition and an LVM volume.
    const QString sata = tree.addDisk(
        QStringLiteral("pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0/block/sda"),
        QStringLiteral("8:0"), false);
    tree.addPartition(sata, QStringLiteral("sda2"), QStringLiteral("8:2"));
    const QString sda3 = tree.addPartition(sata, QStringLiteral("sda3"), QStringLiteral("8:3"));
    tree.addMapper(QStringLiteral("dm-1"), QStringLiteral("253:1"), QStringLiteral("vg-home"),
                   {sda3});
    tree.addMount("8:2 / /mnt/windows rw,relatime shared:40 - ntfs3 /dev/sda2 rw,uid=1000");
    tree.addMount("253:1 / /home rw,relatime shared:41 - ext4 /dev/mapper/vg-home rw");

    // A snap's squashfs on a loop device.
    tree.addDisk(QStringLiteral("virtual/block/loop0"), QStringLiteral("7:0"), false);
    tree.addMount("7:0 / /snap/core/1 ro,nodev,relatime shared:50 - squashfs /dev/loop0 ro");

    // USB hard disk over usb-storage, NTFS through the kernel driver.
    const QString sdb =
        tree.addDisk(usb + QStringLiteral("usb2/2-1/2-1:1.0/host4/target4:0:0/4:0:0:0/block/sdb"),
                     QStringLiteral("8:16"), false);
    tree.addPartition(sdb, QStringLiteral("sdb1"), QStringLiteral("8:17"));
    tree.addMount("8:17 / /media/op/DCP\\040Disk rw,nosuid,nodev,relatime shared:60 - ntfs3 "
                  "/dev/sdb1 rw,uid=1000");

    // USB hard disk over uas behind a hub, NTFS through ntfs-3g; udev's bus name says "ata".
    const QString sdc = tree.addDisk(
        usb + QStringLiteral("usb4/4-2/4-2.1/4-2.1:1.0/host6/target6:0:0/6:0:0:0/block/sdc"),
        QStringLiteral("8:32"), false);
    tree.addPartition(sdc, QStringLiteral("sdc1"), QStringLiteral("8:33"));
    tree.addUdevRecord(QStringLiteral("8:33"), "S:disk/by-label/DCP\nE:ID_BUS=ata\n"
                                               "E:ID_FS_TYPE=ntfs\nE:ID_FS_USAGE=filesystem\n");
    tree.addMount("8:33 / /media/op/\xe7\x89\x87\xe5\x90\x8d\\040A\\134B rw,nosuid,nodev,relatime "
                  "shared:61 - fuseblk /dev/sdc1 rw,user_id=0,group_id=0,allow_other");

    // USB flash stick: removable medium.
    const QString sdd =
        tree.addDisk(usb + QStringLiteral("usb1/1-3/1-3:1.0/host5/target5:0:0/5:0:0:0/block/sdd"),
                     QStringLiteral("8:48"), true);
    tree.addPartition(sdd, QStringLiteral("sdd1"), QStringLiteral("8:49"));
    tree.addMount("8:49 / /media/op/STICK rw,nosuid,nodev,relatime shared:62 - vfat /dev/sdd1 rw");

    // USB hard disk with two mounted partitions, NTFS and exFAT.
    const QString sde =
        tree.addDisk(usb + QStringLiteral("usb2/2-2/2-2:1.0/host7/target7:0:0/7:0:0:0/block/sde"),
                     QStringLiteral("8:64"), false);
    tree.addPartition(sde, QStringLiteral("sde1"), QStringLiteral("8:65"));
    tree.addPartition(sde, QStringLiteral("sde2"), QStringLiteral("8:66"));
    tree.addMount("8:65 / /media/op/MASTER rw,relatime shared:63 - ntfs3 /dev/sde1 rw");
    tree.addMount("8:66 / /media/op/EXTRA rw,relatime shared:64 - exfat /dev/sde2 rw");

    // exFAT on a USB hard disk, mounted on a folder whose name needs escapes.
    const QString sdf =
        tree.addDisk(usb + QStringLiteral("usb2/2-3/2-3:1.0/host8/target8:0:0/8:0:0:0/block/sdf"),
                     QStringLiteral("8:80"), false);
    tree.addPartition(sdf, QStringLiteral("sdf1"), QStringLiteral("8:81"));
    tree.addMount(
        "8:81 / /media/op/Tab\\011New\\012Line rw,relatime shared:65 - exfat /dev/sdf1 rw");

    // exFAT through FUSE: "fuseblk" that udev knows is not NTFS.
    const QString sdg =
        tree.addDisk(usb + QStringLiteral("usb3/3-1/3-1:1.0/host9/target9:0:0/9:0:0:0/block/sdg"),
                     QStringLiteral("8:96"), false);
    tree.addPartition(sdg, QStringLiteral("sdg1"), QStringLiteral("8:97"));
    tree.addUdevRecord(QStringLiteral("8:97"), "E:ID_BUS=usb\nE:ID_FS_TYPE=exfat\n");
    tree.addMount("8:97 / /media/op/FUSEX rw,relatime shared:66 - fuseblk /dev/sdg1 rw");

    // "fuseblk" without a udev record: one partition holds NTFS, the other nothing readable.
    const QString sdh = tree.addDisk(
        usb + QStringLiteral("usb3/3-2/3-2:1.0/host10/target10:0:0/10:0:0:0/block/sdh"),
        QStringLiteral("8:112"), false);
    tree.addPartition(sdh, QStringLiteral("sdh1"), QStringLiteral("8:113"));
    tree.addPartition(sdh, QStringLiteral("sdh2"), QStringLiteral("8:114"));
    tree.setDeviceNode(QStringLiteral("sdh1"), minimalNtfsImage());
    tree.addMount("8:113 / /media/op/PROBED rw,relatime shared:67 - fuseblk /dev/sdh1 rw");
    tree.addMount("8:114 / /media/op/UNKNOWN rw,relatime shared:68 - fuseblk /dev/sdh2 rw");

    // An encrypted volume on a USB hard disk, NTFS through the old kernel driver.
    const QString sdi = tree.addDisk(
        usb + QStringLiteral("usb2/2-4/2-4:1.0/host11/target11:0:0/11:0:0:0/block/sdi"),
        QStringLiteral("8:128"), false);
    const QString sdi1 = tree.addPartition(sdi, QStringLiteral("sdi1"), QStringLiteral("8:129"));
    tree.addMapper(QStringLiteral("dm-0"), QStringLiteral("253:0"), QStringLiteral("vault"),
                   {sdi1});
    tree.addMount("253:0 / /media/op/VAULT rw,relatime shared:69 - ntfs /dev/mapper/vault ro");

    // Btrfs gives an anonymous device number; only the source names the USB partition.
    const QString sdj = tree.addDisk(
        usb + QStringLiteral("usb2/2-5/2-5:1.0/host12/target12:0:0/12:0:0:0/block/sdj"),
        QStringLiteral("8:144"), false);
    tree.addPartition(sdj, QStringLiteral("sdj1"), QStringLiteral("8:145"));
    tree.addMount("0:45 / /media/op/BTRFS rw,relatime shared:70 - btrfs /dev/sdj1 rw,subvol=/");

    // A file system on the whole USB disk, without a partition table.
    tree.addDisk(usb + QStringLiteral("usb2/2-6/2-6:1.0/host13/target13:0:0/13:0:0:0/block/sdk"),
                 QStringLiteral("8:160"), false);
    tree.addMount("8:160 / /media/op/WHOLE rw,relatime shared:71 - ntfs3 /dev/sdk rw");
}

// One USB hard disk with one NTFS volume, beside internal disks and a flash stick.
void buildSingleDiskLayout(SystemTree &tree)
{
    const QString usb = QLatin1String(kUsbHost);
    const QString nvme =
        tree.addDisk(QStringLiteral("pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0/nvme0n1"),
                     QStringLiteral("259:0"), false);
    tree.addPartition(nvme, QStringLiteral("nvme0n1p2"), QStringLiteral("259:2"));
    tree.addMount("259:2 / / rw,relatime shared:1 - ext4 /dev/nvme0n1p2 rw");
    const QString sata = tree.addDisk(
        QStringLiteral("pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0/block/sda"),
        QStringLiteral("8:0"), false);
    tree.addPartition(sata, QStringLiteral("sda2"), QStringLiteral("8:2"));
    tree.addMount("8:2 / /mnt/windows rw,relatime shared:40 - ntfs3 /dev/sda2 rw");
    const QString sdd =
        tree.addDisk(usb + QStringLiteral("usb1/1-3/1-3:1.0/host5/target5:0:0/5:0:0:0/block/sdd"),
                     QStringLiteral("8:48"), true);
    tree.addPartition(sdd, QStringLiteral("sdd1"), QStringLiteral("8:49"));
    tree.addMount("8:49 / /media/op/STICK rw,relatime shared:62 - ntfs3 /dev/sdd1 rw");
    const QString sdb =
        tree.addDisk(usb + QStringLiteral("usb2/2-1/2-1:1.0/host4/target4:0:0/4:0:0:0/block/sdb"),
                     QStringLiteral("8:16"), false);
    tree.addPartition(sdb, QStringLiteral("sdb1"), QStringLiteral("8:17"));
    tree.addMount("8:17 / /media/op/DCP\\040Disk rw,relatime shared:60 - ntfs3 /dev/sdb1 rw");
}

// The three rules in run order; returns the number of the failed rule (0 when all pass).
int runCarrierRules(DcpInspector &inspector, QString &message)
{
    inspector.resetRunData();
    if (!inspector.findRemovableDrives(message))
        return 1;
    if (!inspector.checkNtfs(message))
        return 2;
    if (!inspector.checkSingleDrive(message))
        return 3;
    return 0;
}

class ServiceInstaller
{
public:
    explicit ServiceInstaller(VolumeService *service) { setVolumeService(service); }
    ~ServiceInstaller() { setVolumeService(nullptr); }
};

} // namespace

using Volume = FakeVolumeService::Volume;
Q_DECLARE_METATYPE(QVector<Volume>)

class TestCarrier : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void decodeMountField_data();
    void decodeMountField();
    void parseMountInfoSkipsMalformedLines();

    void volumeRoots();
    void volumeDetails_data();
    void volumeDetails();
    void unreadableSourcesGiveNothing();

    void rules_data();
    void rules();
    void checkNtfsWithoutDrives();
    void rulesOverLinuxLayer();

    void systemLayer();

private:
    QTemporaryDir fullDir;
    QTemporaryDir singleDir;
};

void TestCarrier::initTestCase()
{
    QVERIFY(fullDir.isValid());
    QVERIFY(singleDir.isValid());
    SystemTree full(fullDir.path());
    buildFullLayout(full);
    SystemTree single(singleDir.path());
    buildSingleDiskLayout(single);
}

void TestCarrier::decodeMountField_data()
{
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<QByteArray>("decoded");
    QTest::newRow("plain") << QByteArray("/media/op/DCP") << QByteArray("/media/op/DCP");
    QTest::newRow("blank") << QByteArray("/a\\040b") << QByteArray("/a b");
    QTest::newRow("tab, newline") << QByteArray("\\011x\\012") << QByteArray("\tx\n");
    QTest::newRow("backslash") << QByteArray("a\\134040") << QByteArray("a\\040");
    QTest::newRow("utf-8 kept") << QByteArray("/\xe7\x89\x87") << QByteArray("/\xe7\x89\x87");
    QTest::newRow("short escape") << QByteArray("a\\04") << QByteArray("a\\04");
    QTest::newRow("not octal") << QByteArray("a\\089") << QByteArray("a\\089");
    QTest::newRow("trailing backslash") << QByteArray("a\\") << QByteArray("a\\");
}

void TestCarrier::decodeMountField()
{
    QFETCH(QByteArray, field);
    QFETCH(QByteArray, decoded);
    QCOMPARE(LinuxVolumeService::decodeMountField(field), decoded);
}

void TestCarrier::parseMountInfoSkipsMalformedLines()
{
    const QByteArray text = "\n"
                            "garbage\n"
                            "36 35 98:0 /mnt1 /mnt2 rw,noatime master:1 - ext3\n"
                            "37 35 8:1 / /no/separator rw,noatime ext3 /dev/sda1 rw\n"
                            "38 35 8:2 / /opt rw master:1 shared:2 - ext4 /dev/sda2 rw\n"
                            "39 35 8:3 / relative rw - ext4 /dev/sda3 rw";
    const QVector<LinuxVolumeService::Mount> mounts = LinuxVolumeService::parseMountInfo(text);
    QCOMPARE(mounts.size(), 1);
    QCOMPARE(mounts.at(0).device, QStringLiteral("8:2"));
    QCOMPARE(mounts.at(0).mountPoint, QStringLiteral("/opt"));
    QCOMPARE(mounts.at(0).type, QStringLiteral("ext4"));
    QCOMPARE(mounts.at(0).source, QStringLiteral("/dev/sda2"));
}

void TestCarrier::volumeRoots()
{
    const QStringList expected = {
        QStringLiteral("/"),
        QStringLiteral("/home/"),
        QStringLiteral("/media/op/BTRFS/"),
        QStringLiteral("/media/op/DCP Disk/"),
        QStringLiteral("/media/op/EXTRA/"),
        QStringLiteral("/media/op/FUSEX/"),
        QStringLiteral("/media/op/MASTER/"),
        QStringLiteral("/media/op/PROBED/"),
        QStringLiteral("/media/op/STICK/"),
        QStringLiteral("/media/op/Tab\tNew\nLine/"),
        QStringLiteral("/media/op/UNKNOWN/"),
        QStringLiteral("/media/op/VAULT/"),
        QStringLiteral("/media/op/WHOLE/"),
        QStringLiteral("/media/op/片名 A\\B/"),
        QStringLiteral("/mnt/windows/"),
        QStringLiteral("/snap/core/1/"),
    };
    QCOMPARE(SystemTree(fullDir.path()).service().volumeRoots(), expected);
}

void TestCarrier::volumeDetails_data()
{
    QTest::addColumn<QString>("root");
    QTest::addColumn<bool>("usbFixedDisk");
    QTest::addColumn<QString>("fileSystem");
    QTest::addColumn<bool>("needsProbe");

    QTest::newRow("usb-storage disk, ntfs3")
        << QStringLiteral("/media/op/DCP Disk/") << true << QStringLiteral("NTFS") << false;
    QTest::newRow("uas disk behind hub, ntfs-3g known to udev")
        << QStringLiteral("/media/op/片名 A\\B/") << true << QStringLiteral("NTFS") << false;
    QTest::newRow("flash stick") << QStringLiteral("/media/op/STICK/") << false
                                 << QStringLiteral("vfat") << false;
    QTest::newRow("SATA disk, NTFS")
        << QStringLiteral("/mnt/windows/") << false << QStringLiteral("NTFS") << false;
    QTest::newRow("NVMe system disk")
        << QStringLiteral("/") << false << QStringLiteral("ext4") << false;
    QTest::newRow("LVM on SATA") << QStringLiteral("/home/") << false << QStringLiteral("ext4")
                                 << false;
    QTest::newRow("loop device") << QStringLiteral("/snap/core/1/") << false
                                 << QStringLiteral("squashfs") << false;
    QTest::newRow("two partitions, first")
        << QStringLiteral("/media/op/MASTER/") << true << QStringLiteral("NTFS") << false;
    QTest::newRow("two partitions, second")
        << QStringLiteral("/media/op/EXTRA/") << true << QStringLiteral("exfat") << false;
    QTest::newRow("exFAT on USB") << QStringLiteral("/media/op/Tab\tNew\nLine/") << true
                                  << QStringLiteral("exfat") << false;
    QTest::newRow("exFAT through FUSE")
        << QStringLiteral("/media/op/FUSEX/") << true << QStringLiteral("exfat") << false;
    QTest::newRow("fuseblk, superblock NTFS")
        << QStringLiteral("/media/op/PROBED/") << true << QStringLiteral("NTFS") << true;
    QTest::newRow("fuseblk, nothing known")
        << QStringLiteral("/media/op/UNKNOWN/") << true << QStringLiteral("fuseblk") << false;
    QTest::newRow("device mapper on USB")
        << QStringLiteral("/media/op/VAULT/") << true << QStringLiteral("NTFS") << false;
    QTest::newRow("btrfs on USB") << QStringLiteral("/media/op/BTRFS/") << true
                                  << QStringLiteral("btrfs") << false;
    QTest::newRow("whole USB disk")
        << QStringLiteral("/media/op/WHOLE/") << true << QStringLiteral("NTFS") << false;
    QTest::newRow("without trailing slash")
        << QStringLiteral("/media/op/MASTER") << true << QStringLiteral("NTFS") << false;
    QTest::newRow("pseudo file system") << QStringLiteral("/proc/") << false << QString() << false;
    QTest::newRow("bind mount") << QStringLiteral("/srv/home/") << false << QString() << false;
    QTest::newRow("hidden by a later mount")
        << QStringLiteral("/boot/efi/") << false << QString() << false;
    QTest::newRow("not mounted") << QStringLiteral("/media/op/NONE/") << false << QString()
                                 << false;
}

void TestCarrier::volumeDetails()
{
    QFETCH(QString, root);
    QFETCH(bool, usbFixedDisk);
    QFETCH(QString, fileSystem);
    QFETCH(bool, needsProbe);
    if (needsProbe && !LinuxVolumeService::canProbeSuperblocks())
        QSKIP("built without libblkid: superblocks are not probed");

    const LinuxVolumeService service = SystemTree(fullDir.path()).service();
    QCOMPARE(service.isUsbFixedDisk(root), usbFixedDisk);
    QCOMPARE(service.fileSystemName(root), fileSystem);
}

void TestCarrier::unreadableSourcesGiveNothing()
{
    const QString missing = fullDir.path() + QStringLiteral("/missing");
    const LinuxVolumeService noTable(missing, fullDir.path() + QStringLiteral("/sys"), missing,
                                     missing);
    QVERIFY(noTable.volumeRoots().isEmpty());
    QVERIFY(!noTable.isUsbFixedDisk(QStringLiteral("/media/op/MASTER/")));

    // Without sysfs no mount can be tied to a block device.
    const LinuxVolumeService noSysfs(fullDir.path() + QStringLiteral("/mountinfo"), missing,
                                     missing, missing);
    QVERIFY(noSysfs.volumeRoots().isEmpty());
}

void TestCarrier::rules_data()
{
    QTest::addColumn<QVector<Volume>>("volumes");
    QTest::addColumn<int>("failedRule");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("drives");

    auto volume = [](const char *root, bool usb, const char *fileSystem) {
        return Volume{QLatin1String(root), usb, QLatin1String(fileSystem)};
    };

    QTest::newRow("no disk") << QVector<Volume>{} << 1 << kNoDiskMessage << QStringList();
    QTest::newRow("flash stick only")
        << QVector<Volume>{volume("C:/", false, "NTFS"), volume("F:/", false, "FAT32")} << 1
        << kNoDiskMessage << QStringList();
    QTest::newRow("SATA and NVMe only")
        << QVector<Volume>{volume("C:/", false, "NTFS"), volume("D:/", false, "NTFS")} << 1
        << kNoDiskMessage << QStringList();
    QTest::newRow("one USB NTFS volume")
        << QVector<Volume>{volume("C:/", false, "NTFS"), volume("E:/", true, "NTFS"),
                           volume("F:/", false, "FAT32")}
        << 0 << QString() << QStringList{QStringLiteral("E:/")};
    QTest::newRow("two partitions NTFS and exFAT")
        << QVector<Volume>{volume("E:/", true, "NTFS"), volume("F:/", true, "exFAT")} << 3
        << kSeveralMessage << QStringList{QStringLiteral("E:/"), QStringLiteral("F:/")};
    QTest::newRow("NTFS on the second volume")
        << QVector<Volume>{volume("E:/", true, "FAT32"), volume("G:/", true, "NTFS")} << 3
        << kSeveralMessage << QStringList{QStringLiteral("E:/"), QStringLiteral("G:/")};
    QTest::newRow("exFAT only") << QVector<Volume>{volume("E:/", true, "exFAT")} << 2
                                << kNotNtfsMessage << QStringList{QStringLiteral("E:/")};
    QTest::newRow("file system unreadable")
        << QVector<Volume>{volume("E:/", true, "")} << 2 << kNotNtfsMessage
        << QStringList{QStringLiteral("E:/")};
    QTest::newRow("ntfs in lower case") << QVector<Volume>{volume("E:/", true, "ntfs")} << 0
                                        << QString() << QStringList{QStringLiteral("E:/")};
    QTest::newRow("ntfs in mixed case") << QVector<Volume>{volume("E:/", true, "nTfS")} << 0
                                        << QString() << QStringList{QStringLiteral("E:/")};
    QTest::newRow("name only starting with NTFS")
        << QVector<Volume>{volume("E:/", true, "NTFS5")} << 2 << kNotNtfsMessage
        << QStringList{QStringLiteral("E:/")};
}

void TestCarrier::rules()
{
    QFETCH(QVector<Volume>, volumes);
    QFETCH(int, failedRule);
    QFETCH(QString, message);
    QFETCH(QStringList, drives);

    const FakeVolumeService service(volumes);
    DcpInspector inspector;
    // A passing rule leaves the message alone.
    const QString untouched = QStringLiteral("untouched");
    QString actual = untouched;
    QCOMPARE(runCarrierRules(inspector, actual), failedRule);
    QCOMPARE(actual, failedRule == 0 ? untouched : message);
    QCOMPARE(QStringList(inspector.removableDrives.toList()), drives);
}

void TestCarrier::checkNtfsWithoutDrives()
{
    const FakeVolumeService service(FakeVolumeService::usbDisk(QStringLiteral("E:/")));
    DcpInspector inspector;
    QString message;
    QVERIFY(!inspector.checkNtfs(message));
    QCOMPARE(message, kNotNtfsMessage);
}

void TestCarrier::rulesOverLinuxLayer()
{
    DcpInspector inspector;
    {
        LinuxVolumeService service = SystemTree(singleDir.path()).service();
        const ServiceInstaller installed(&service);
        QString message;
        QCOMPARE(runCarrierRules(inspector, message), 0);
        QCOMPARE(inspector.removableDrives,
                 QVector<QString>{QStringLiteral("/media/op/DCP Disk/")});
    }
    {
        LinuxVolumeService service = SystemTree(fullDir.path()).service();
        const ServiceInstaller installed(&service);
        QString message;
        QCOMPARE(runCarrierRules(inspector, message), 3);
        QCOMPARE(message, kSeveralMessage);
        const QVector<QString> expected = {
            QStringLiteral("/media/op/BTRFS/"),          QStringLiteral("/media/op/DCP Disk/"),
            QStringLiteral("/media/op/EXTRA/"),          QStringLiteral("/media/op/FUSEX/"),
            QStringLiteral("/media/op/MASTER/"),         QStringLiteral("/media/op/PROBED/"),
            QStringLiteral("/media/op/Tab\tNew\nLine/"), QStringLiteral("/media/op/UNKNOWN/"),
            QStringLiteral("/media/op/VAULT/"),          QStringLiteral("/media/op/WHOLE/"),
            QStringLiteral("/media/op/片名 A\\B/"),
        };
        QCOMPARE(inspector.removableDrives, expected);
    }
}

// What the system layer sees on this machine, printed for whoever runs the test; the checks are
// the layer's promises, which hold on any machine.
void TestCarrier::systemLayer()
{
    const LinuxVolumeService service;
    const QStringList roots = service.volumeRoots();
    for (const QString &root : roots) {
        qInfo().noquote() << "volume" << root << "usb hard disk:" << service.isUsbFixedDisk(root)
                          << "file system:" << service.fileSystemName(root);
    }
    QStringList sorted = roots;
    sorted.sort();
    sorted.removeDuplicates();
    QCOMPARE(roots, sorted);
    for (const QString &root : roots) {
        QVERIFY2(root.endsWith(QLatin1Char('/')), qPrintable(root));
        QVERIFY2(QFileInfo(root).isDir(), qPrintable(root));
    }

    // The root file system counts when it sits on a block device.
    QFile table(QStringLiteral("/proc/self/mountinfo"));
    QVERIFY(table.open(QIODevice::ReadOnly));
    const QVector<LinuxVolumeService::Mount> mounts =
        LinuxVolumeService::parseMountInfo(table.readAll());
    for (const LinuxVolumeService::Mount &mount : mounts) {
        if (mount.mountPoint == QLatin1String("/") &&
            QFileInfo::exists(QStringLiteral("/sys/dev/block/") + mount.device))
            QVERIFY(roots.contains(QStringLiteral("/")));
    }
}

QTEST_GUILESS_MAIN(TestCarrier)
#include "test_carrier.moc"
