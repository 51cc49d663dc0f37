// The Linux volume layer over a sysfs, udev and mount-table tree shaped like a real machine's.
#include "platform/linux/LinuxVolumeService.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

namespace {

// Appends, as the mount table and udev files gather a line for each partition.
void write(const QString &path, const QByteArray &content)
{
    writeFile(path, content, true);
}

// A block device below sys/devices, linked from sys/dev/block by its number as in /sys.
QString addBlock(const QString &base, const QString &path, const QString &number)
{
    const QString folder = base + QStringLiteral("/sys/devices/") + path;
    write(folder + QStringLiteral("/dev"), number.toLatin1() + '\n');
    const QString links = base + QStringLiteral("/sys/dev/block/");
    const QByteArray target = QFile::encodeName(QDir(links).relativeFilePath(folder));
    QDir().mkpath(links);
    const bool linked =
        ::symlink(target.constData(), QFile::encodeName(links + number).constData()) == 0;
    return linked ? folder : QString();
}

} // namespace

class TestLinuxVolumes : public QObject
{
    Q_OBJECT
    QTemporaryDir m_machine;

private slots:
    void initTestCase()
    {
        failOnQtWarnings();
        const QString base = m_machine.path();
        const char *const disks[] = {
            "0000:00:1d.0/0000:3d:00.0/nvme/nvme0/nvme0n1 259:0 0|nvme0n1p2 259:2 / ext4",
            "0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0/block/sda 8:0 0|sda2 8:2 /mnt/windows "
            "ntfs3",
            // USB hard disks over usb-storage, and over uas behind a hub with ntfs-3g that udev
            // confirms.
            "0000:00:14.0/usb2/2-1/2-1:1.0/host4/target4:0:0/4:0:0:0/block/sdb 8:16 0|"
            "sdb1 8:17 /media/op/DCP\\040Disk ntfs3",
            "0000:00:14.0/usb4/4-2/4-2.1/4-2.1:1.0/host6/target6:0:0/6:0:0:0/block/sdc 8:32 0|"
            "sdc1 8:33 /media/op/片名\\040A\\134B fuseblk ntfs",
            "0000:00:14.0/usb1/1-3/1-3:1.0/host5/target5:0:0/5:0:0:0/block/sdd 8:48 1|"
            "sdd1 8:49 /media/op/STICK vfat", // a flash stick
            "0000:00:14.0/usb2/2-2/2-2:1.0/host7/target7:0:0/7:0:0:0/block/sde 8:64 0|"
            "sde1 8:65 /media/op/MASTER ntfs3|sde2 8:66 /media/op/EXTRA exfat",
            "0000:00:14.0/usb2/2-3/2-3:1.0/host8/target8:0:0/8:0:0:0/block/sdf 8:80 0|"
            "sdf1 8:81 /media/op/Tab\\011New\\012Line exfat",
            "0000:00:14.0/usb3/3-1/3-1:1.0/host9/target9:0:0/9:0:0:0/block/sdg 8:96 0|"
            "sdg1 8:97 /media/op/FUSEX fuseblk exfat"};
        for (const char *disk : disks) {
            QStringList partitions = QString::fromUtf8(disk).split(QLatin1Char('|'));
            const QStringList d = partitions.takeFirst().split(QLatin1Char(' '));
            const QString path = QStringLiteral("pci0000:00/") + d[0];
            write(addBlock(base, path, d[1]) + QStringLiteral("/removable"),
                  d[2].toLatin1() + '\n');
            for (const QString &partition : qAsConst(partitions)) {
                const QStringList p = partition.split(QLatin1Char(' '));
                write(addBlock(base, path + QLatin1Char('/') + p[0], p[1]) +
                          QStringLiteral("/partition"),
                      "1\n");
                write(base + QStringLiteral("/mountinfo"),
                      QStringLiteral("21 1 %1 / %2 rw - %3 /dev/%4 rw\n")
                          .arg(p[1], p[2], p[3], p[0])
                          .toUtf8());
                if (p.size() > 4)
                    write(base + QStringLiteral("/udev/b") + p[1],
                          "E:ID_FS_TYPE=" + p[4].toLatin1() + '\n');
            }
        }
    }

    // The mount table's escapes decode wherever they stand, the end of a name included; a
    // backslash without three octal digits is taken as it is.
    void mountFieldEscapes()
    {
        const char *const cases[][2] = {{"/media/DCP\\040", "/media/DCP "},
                                        {"/media/A\\134", "/media/A\\"},
                                        {"\\011x\\012", "\tx\n"},
                                        {"/media/A\\04", "/media/A\\04"},
                                        {"/media/A\\08x", "/media/A\\08x"}};
        for (const auto &c : cases)
            QCOMPARE(LinuxVolumeService::decodeMountField(c[0]), QByteArray(c[1]));
    }

    void linuxVolumes_data()
    {
        QTest::addColumn<QString>("root");
        QTest::addColumn<bool>("usbFixedDisk");
        QTest::addColumn<QString>("fileSystem");
        QTest::newRow("NVMe system disk") << "/" << false << "ext4";
        QTest::newRow("SATA disk") << "/mnt/windows/" << false << "NTFS";
        QTest::newRow("USB disk, usb-storage") << "/media/op/DCP Disk/" << true << "NTFS";
        QTest::newRow("USB disk, uas, ntfs-3g") << "/media/op/片名 A\\B/" << true << "NTFS";
        QTest::newRow("flash stick") << "/media/op/STICK/" << false << "vfat";
        QTest::newRow("two partitions, first") << "/media/op/MASTER/" << true << "NTFS";
        QTest::newRow("two partitions, second") << "/media/op/EXTRA/" << true << "exfat";
        QTest::newRow("exFAT on USB") << "/media/op/Tab\tNew\nLine/" << true << "exfat";
        QTest::newRow("fuseblk, exFAT to udev") << "/media/op/FUSEX/" << true << "exfat";
        QTest::newRow("not mounted") << "/media/op/NONE/" << false << "";
    }

    void linuxVolumes()
    {
        QFETCH(QString, root);
        QFETCH(bool, usbFixedDisk);
        QFETCH(QString, fileSystem);
        const QString base = m_machine.path();
        const LinuxVolumeService layer(
            base + QStringLiteral("/mountinfo"), base + QStringLiteral("/sys"),
            base + QStringLiteral("/udev"), base + QStringLiteral("/dev"));
        QCOMPARE(layer.volumeRoots().contains(root), !fileSystem.isEmpty());
        QCOMPARE(layer.isUsbFixedDisk(root), usbFixedDisk);
        QCOMPARE(layer.fileSystemName(root), fileSystem);
    }
};

QTEST_GUILESS_MAIN(TestLinuxVolumes)
#include "test_volumes_linux.moc"
