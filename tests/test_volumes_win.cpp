// The Windows volume layer through the real Win32 calls. The drives to expect are given in
// TAVIMOR_TEST_DRIVES as "E:=fixed,NTFS D:=cdrom,CDFS …" (tools/test-windows.sh makes such drives
// in a Wine prefix); without it only the system drive is checked, as a fixed NTFS volume.
#include "dcp/DcpInspector.h"
#include "platform/VolumeService.h"
#include "platform/win/win32volumes.h"
#include "support/TestSupport.h"

#include <QtTest>

namespace {
struct Drive
{
    QString root; // "E:/"
    QString type; // fixed, removable, cdrom
    QString fileSystem;
};

QVector<Drive> expectedDrives()
{
    QVector<Drive> drives;
    const QString listed = qEnvironmentVariable("TAVIMOR_TEST_DRIVES");
    if (listed.isEmpty()) {
        const QString system = qEnvironmentVariable("SystemDrive", QStringLiteral("C:"));
        drives.append(
            {system.left(2) + QLatin1Char('/'), QStringLiteral("fixed"), QStringLiteral("NTFS")});
        return drives;
    }
    for (const QString &entry : listed.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QStringList values = entry.section(QLatin1Char('='), 1).split(QLatin1Char(','));
        drives.append({entry.left(2) + QLatin1Char('/'), values.value(0), values.value(1)});
    }
    return drives;
}

std::string utf8(const QString &text)
{
    return text.toStdString();
}
} // namespace

class TestWindowsVolumes : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { failOnQtWarnings(); }

    void drives_data()
    {
        QTest::addColumn<QString>("root");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("fileSystem");
        for (const Drive &drive : expectedDrives()) {
            // Every spelling of a drive root the callers use.
            const QString letter = drive.root.left(2);
            const QStringList spellings = {letter + QLatin1Char('/'), letter + QLatin1Char('\\'),
                                           letter, letter.toLower() + QLatin1Char('/')};
            for (const QString &root : spellings)
                QTest::newRow(qPrintable(root)) << root << drive.type << drive.fileSystem;
        }
    }

    void drives()
    {
        QFETCH(QString, root);
        QFETCH(QString, type);
        QFETCH(QString, fileSystem);
        QCOMPARE(win32volumes::isFixedDrive(utf8(root)), type == QLatin1String("fixed"));
        QCOMPARE(QString::fromStdString(win32volumes::fileSystemName(utf8(root))), fileSystem);
        // No drive of a Wine prefix, nor a system drive, sits on a USB bus.
        QVERIFY(!win32volumes::isUsbVolume(utf8(root)));

        const std::unique_ptr<VolumeService> service = createSystemVolumeService();
        QVERIFY(service->volumeRoots().contains(root.left(2).toUpper() + QLatin1Char('/')));
        QVERIFY(!service->isUsbFixedDisk(root));
        QCOMPARE(service->fileSystemName(root), fileSystem);
    }

    void notDrives_data()
    {
        QTest::addColumn<QString>("root");
        QTest::newRow("empty") << "";
        QTest::newRow("a letter alone") << "E";
        QTest::newRow("a digit") << "1:/";
        QTest::newRow("a share") << "\\\\server\\share\\";
        QTest::newRow("a Unix path") << "/media/disk/";
        QTest::newRow("an unused letter") << "?";
    }

    void notDrives()
    {
        QFETCH(QString, root);
        if (root == QLatin1String("?")) {
            const QStringList used = createSystemVolumeService()->volumeRoots();
            for (char letter = 'Y'; letter >= 'D' && root == QLatin1String("?"); --letter) {
                const QString candidate = QLatin1Char(letter) + QStringLiteral(":/");
                if (!used.contains(candidate))
                    root = candidate;
            }
        }
        QVERIFY(!win32volumes::isFixedDrive(utf8(root)));
        QVERIFY(!win32volumes::isUsbVolume(utf8(root)));
        QCOMPARE(win32volumes::fileSystemName(utf8(root)), std::string());
    }

    void textConversions()
    {
        const QString text = QStringLiteral("片名 A\\B 𠀀 é");
        const std::wstring wide = win32volumes::toUtf16(utf8(text));
        QCOMPARE(QString::fromStdWString(wide), text);
        QCOMPARE(QString::fromStdString(win32volumes::toUtf8(wide)), text);
        QVERIFY(win32volumes::toUtf16(std::string()).empty());
        QVERIFY(win32volumes::toUtf8(std::wstring()).empty());
    }

    // The carrier rules over the system's own layer: no drive here is a USB hard disk.
    void carrierRules()
    {
        DcpInspector inspector;
        QString message;
        QVERIFY(!inspector.findRemovableDrives(message));
        QCOMPARE(message,
                 QStringLiteral("未检查到移动硬盘，请确认移动硬盘已经接入电脑后，再进行检测!"));
        QVERIFY(inspector.removableDrives.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestWindowsVolumes)
#include "test_volumes_win.moc"
