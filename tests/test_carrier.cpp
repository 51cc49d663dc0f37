// The carrier rules over the fake volume layer. The volume layers of each system have suites of
// their own (test_volumes_*.cpp).
#include "dcp/DcpInspector.h"
#include "support/FakeVolumeService.h"
#include "support/TestSupport.h"

#include <QtTest>

namespace {

const QString kNoDisk =
    QStringLiteral("未检查到移动硬盘，请确认移动硬盘已经接入电脑后，再进行检测!");
const QString kNotNtfs =
    QStringLiteral("移动硬盘不是NTFS文件系统格式，请确保移动硬盘为NTFS文件系统格式后，再进行检测!");
const QString kSeveral =
    QStringLiteral("电脑上有多个移动硬盘或移动硬盘有多个分区，请确保电脑上只有一个移动硬盘且移动"
                   "硬盘只有一个分区后，再进行检测!");

} // namespace

class TestCarrier : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { failOnQtWarnings(); }

    void rules_data()
    {
        QTest::addColumn<QString>("volumes"); // drive letter, "u" for a USB hard disk, file system
        QTest::addColumn<int>("failedRule");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("drives");
        QTest::newRow("no disk") << "" << 1 << kNoDisk << "";
        QTest::newRow("flash stick only") << "C-NTFS F-FAT32" << 1 << kNoDisk << "";
        QTest::newRow("one USB NTFS volume") << "C-NTFS Eu-NTFS F-FAT32" << 0 << ""
                                             << "E:/";
        QTest::newRow("NTFS and exFAT partitions")
            << "Eu-NTFS Fu-exFAT" << 3 << kSeveral << "E:/ F:/";
        QTest::newRow("exFAT only") << "Eu-exFAT" << 2 << kNotNtfs << "E:/";
        QTest::newRow("ntfs in lower case") << "Eu-ntfs" << 0 << ""
                                            << "E:/";
        QTest::newRow("a name starting with NTFS") << "Eu-NTFS5" << 2 << kNotNtfs << "E:/";
    }

    void rules()
    {
        QFETCH(QString, volumes);
        QFETCH(int, failedRule);
        QFETCH(QString, message);
        QFETCH(QString, drives);
        FakeVolumeService layer;
        for (const QString &volume : volumes.split(QLatin1Char(' '), Qt::SkipEmptyParts))
            layer.volumes << FakeVolumeService::Volume{volume.left(1) + QStringLiteral(":/"),
                                                       volume.at(1) == QLatin1Char('u'),
                                                       volume.section(QLatin1Char('-'), 1)};
        DcpInspector inspector;
        QString actual = QStringLiteral("untouched"); // by a passing rule
        // The three rules in run order, as far as they pass.
        const int failed = !inspector.findRemovableDrives(actual) ? 1
                           : !inspector.checkNtfs(actual)         ? 2
                           : !inspector.checkSingleDrive(actual)  ? 3
                                                                  : 0;
        QCOMPARE(failed, failedRule);
        QCOMPARE(actual, failedRule ? message : QStringLiteral("untouched"));
        QCOMPARE(QStringList(inspector.removableDrives.toList()).join(QLatin1Char(' ')), drives);
    }
};

QTEST_GUILESS_MAIN(TestCarrier)
#include "test_carrier.moc"
