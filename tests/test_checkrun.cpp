#include "dcp/DcpInspector.h"
#include "dcp/RunEnvironment.h"
#include "run/CheckRun.h"
#include "run/HashThread.h"
#include "support/FakeVolumeService.h"
#include "support/FixtureBuilder.h"
#include "support/RecordingFrontEnd.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <cstdio>
#include <memory>

namespace {
// The order in which a run writes its verdicts.
const int kRunOrder[] = {2,  4,  5,  6,  7,  10, 11, 12, 9,  14, 15, 16, 17, 18, 19,
                         13, 21, 22, 23, 24, 25, 20, 8,  27, 28, 26, 1,  3,  0};
const QString kCertificate = QStringLiteral("SM.TEST-SERVER");
const qint64 kHugeTrack = Q_INT64_C(16) * 1024 * 1024 * 1024;

struct Expectation
{
    bool stereoscopic = false;
    bool encrypted = false;
    bool folder = false;
    int failRow = -1;      // -1: the whole run passes
    bool declined = false; // the label dialog was closed
};

// One letter per row, as RecordingFrontEnd::summary writes it.
QString expectedSummary(const Expectation &e)
{
    QString letters(CheckRow::Count, QLatin1Char('.'));
    for (int row : kRunOrder) {
        if (e.declined && (row == 1 || row == 3 || row == 0))
            continue;
        if (row == e.failRow) {
            letters[row] = QLatin1Char('F');
            break;
        }
        QChar letter = QLatin1Char('P');
        if (row == 25 && !e.stereoscopic)
            letter = QLatin1Char('-');
        if ((row == 27 || row == 28) && !e.encrypted)
            letter = QLatin1Char('-');
        if (row == 26 && !e.encrypted)
            letter = QLatin1Char('U');
        if ((row == 2 || row == 4 || row == 5 || row == 0) && e.folder)
            letter = QLatin1Char('-');
        letters[row] = letter;
    }
    return letters;
}

bool makeHuge(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadWrite) && file.resize(kHugeTrack);
}

// The texts a worker sends for these files: one per changed percentage, as it reads them.
QStringList expectedProgress(const QStringList &paths)
{
    qint64 total = 0;
    for (const QString &path : paths)
        total += QFileInfo(path).size();
    QStringList texts;
    qint64 done = 0;
    for (const QString &path : paths) {
        for (qint64 remaining = QFileInfo(path).size(); remaining > 0;) {
            const qint64 n = qMin(remaining, HashThread::kChunkSize);
            remaining -= n;
            done += n;
            const QString text = QString::number(done * 100.0 / total, 'f', 2) + QLatin1Char('%');
            if (texts.isEmpty() || texts.last() != text)
                texts << text;
        }
    }
    return texts;
}
} // namespace

class TestCheckRun : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void failingRule_data();
    void failingRule();
    void fullPass_data();
    void fullPass();
    void hashSwitch_data();
    void hashSwitch();
    void folderCheck_data();
    void folderCheck();
    void verdictsAreExact();
    void declinedLabels();
    void secondRunStartsBlank();
    void staleWorkerIsStopped();
    void destroyingMidHashStopsWorker();
    void stopWorkerEndsHashingRun();
    void quittingWhileHashingExitsCleanly();

private:
    QString diskRoot() const { return m_disk->path(); }
    QString settingsPath() const { return m_work->filePath(QStringLiteral("set.ini")); }

    std::unique_ptr<QTemporaryDir> m_disk;
    std::unique_ptr<QTemporaryDir> m_work;
    std::unique_ptr<FakeVolumeService> m_volumes;
};

void TestCheckRun::init()
{
    m_disk = std::make_unique<QTemporaryDir>();
    m_work = std::make_unique<QTemporaryDir>();
    QVERIFY(m_disk->isValid() && m_work->isValid());
    m_volumes = std::make_unique<FakeVolumeService>(FakeVolumeService::usbDisk(diskRoot()));
    setSettingsFilePath(settingsPath());
    setCurrentLocalDateOverride(QDate(2023, 3, 1));
}

void TestCheckRun::cleanup()
{
    m_volumes.reset();
    setSettingsFilePath(QString());
    setCurrentLocalDateOverride(QDate());
}

void TestCheckRun::failingRule_data()
{
    QTest::addColumn<QString>("knob");
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("message");

    const auto rule = [](const char *knob, int row, const char *message) {
        QTest::newRow(knob) << QString::fromUtf8(knob) << row << QString::fromUtf8(message);
    };
    rule("no disk", 2, "未检查到移动硬盘，请确认移动硬盘已经接入电脑后，再进行检测!");
    rule("flash drive", 2, "未检查到移动硬盘，请确认移动硬盘已经接入电脑后，再进行检测!");
    rule("exFAT", 4,
         "移动硬盘不是NTFS文件系统格式，请确保移动硬盘为NTFS文件系统格式后，再进行检测!");
    rule("two volumes", 5,
         "电脑上有多个移动硬盘或移动硬盘有多个分区，请确保电脑上只有一个移动硬盘且移动硬盘只有一个"
         "分区后，再进行检测!");
    rule("no master", 6,
         "未检查到送审母版的AssetMap文件，请确认移动硬盘内存入送审母版后，再进行检测!");
    rule("missing track", 6, "送审母版文件不全，请确认存入完整送审母版后，再进行检测!");
    rule("two compositions", 6, "检测到多个CPL文件，请确认送审母版只包含1个CPL文件后，再进行检测!");
    rule("no KDM", 6,
         "未检查到相符的授权密钥文件（KDM），请确保授权密钥时间和授权放映设备正确后，再进行检测!");
    rule("empty title", 7, "DCP命名不符合规范，请修改DCP命名后，再进行检测!");
    rule("asset map namespace", 11, "Assetmap文件中的命名空间不符合，请重新制作DCP后，再进行检测!");
    rule("packing list not in the asset map", 14,
         "PKL文件的UUID和ASSETMAP中PKL的UUID不一致，请重新制作DCP后，再进行检测!");
    rule("packing list namespace", 15, "PKL文件中的命名空间不符合，请重新制作DCP后，再进行检测!");
    rule("packing list annotation", 16,
         "PKL和Assetmap文件中的AnnotationText项内容不一致，请重新制作DCP后，再进行检测!");
    rule("unmapped packing list asset", 17,
         "Assetmap中的文件和Cpl中的文件列表未一一对应，请重新制作DCP后，再进行检测!");
    rule("wrong packing list hash", 18,
         "文件Hash值与PKL文件中的Hash值不一致，请重新制作DCP后，再进行检测!");
    rule("group id", 19, "PKL文件中有GroupId元素，DCP不完整，请重新制作DCP后，再进行检测!");
    rule("composition not in the asset map", 21,
         "CPL文件的UUID和ASSETMAP中CPL的UUID不一致，请重新制作DCP后，再进行检测!");
    rule("composition namespace", 22, "CPL文件中的命名空间不符合，请重新制作DCP后，再进行检测!");
    rule("title unlike the asset map's", 23,
         "CPL和Assetmap文件中的AnnotationText项内容不一致，请重新制作DCP后，再进行检测!");
    rule("wrong composition hash", 24,
         "Cpl文件中列出的MXF文件Hash值与计算所得Hash值不一致，请重新制作DCP后，再进行检测!");
    rule("stereoscopic namespace", 25,
         "Cpl文件中MainStereoscopicPicture命名空间不符合，请重新制作DCP后，再进行检测!");
    rule("KDM list lost", 27,
         "KDM文件中的CompositionPlaylistId值和CPL文件中的UUID值不一致，请重新制作DCP后，再进行检测"
         "!");
    rule("KDM namespace", 28, "KDM文件中的命名空间不符合，请重新制作DCP后，再进行检测!");
    rule("Latin film name", 1, "影片名称未采用中文，请检查后再进行检测!");
    rule("30 February in the KDM period", 1, "KDM有效期格式输入不正确，请检查后再进行检测!");
    rule("USB2.0", 3, "移动硬盘数据接口必须是USB3.0以上，请替换后再进行检测！");
}

void TestCheckRun::failingRule()
{
    QFETCH(QString, knob);
    QFETCH(int, row);
    QFETCH(QString, message);

    MasterSpec spec;
    KdmSpec kdm;
    int hashCheck = 0;
    QString tamper; // applied between the first stage and the continuation
    RecordingFrontEnd front;
    if (knob == QLatin1String("no disk")) {
        m_volumes->volumes.clear();
    } else if (knob == QLatin1String("flash drive")) {
        m_volumes->volumes[0].usbFixedDisk = false;
    } else if (knob == QLatin1String("exFAT")) {
        m_volumes->volumes[0].fileSystem = QStringLiteral("exFAT");
    } else if (knob == QLatin1String("two volumes")) {
        m_volumes->volumes += FakeVolumeService::usbDisk(m_work->path());
    } else if (knob == QLatin1String("missing track")) {
        spec.omitFirstTrackFile = true;
    } else if (knob == QLatin1String("two compositions")) {
        spec.secondCpl = true;
    } else if (knob == QLatin1String("no KDM")) {
        spec.encrypted = true;
    } else if (knob == QLatin1String("empty title")) {
        spec.emptyContentTitle = true;
    } else if (knob == QLatin1String("asset map namespace")) {
        spec.assetMapNamespace = QStringLiteral("http://www.SMPTE-RA.org/schemas/429-9/2007/AM");
    } else if (knob == QLatin1String("packing list not in the asset map")) {
        spec.assetMapPklId = FixtureBuilder::newUrnUuid();
    } else if (knob == QLatin1String("packing list namespace")) {
        spec.pklNamespace = QStringLiteral("http://example.org/schemas/429-8/2007/PKL");
    } else if (knob == QLatin1String("packing list annotation")) {
        spec.pklAnnotation = spec.title + QLatin1Char(' ');
    } else if (knob == QLatin1String("unmapped packing list asset")) {
        spec.pklListsUnmappedAsset = true;
    } else if (knob == QLatin1String("wrong packing list hash")) {
        spec.wrongPklHash = true;
        hashCheck = 1;
    } else if (knob == QLatin1String("group id")) {
        spec.pklGroupId = true;
    } else if (knob == QLatin1String("composition not in the asset map")) {
        tamper = knob;
    } else if (knob == QLatin1String("composition namespace")) {
        spec.cplNamespace = QStringLiteral("http://example.org/schemas/429-7/2006/CPL");
    } else if (knob == QLatin1String("title unlike the asset map's")) {
        spec.contentTitleText = spec.title + QStringLiteral("_2");
    } else if (knob == QLatin1String("wrong composition hash")) {
        spec.wrongCplHash = true;
    } else if (knob == QLatin1String("stereoscopic namespace")) {
        spec.stereoscopic = true;
        spec.stereoscopicNamespace = QStringLiteral("http://example.org/Main-Stereo-Picture-CPL");
    } else if (knob == QLatin1String("KDM list lost")) {
        spec.encrypted = true;
        tamper = knob;
    } else if (knob == QLatin1String("KDM namespace")) {
        spec.encrypted = true;
        kdm.namespaceUri = QStringLiteral("http://example.org/430-3/2006/ETM");
    } else if (knob == QLatin1String("Latin film name")) {
        front.onConfirm = [](DcpInspector &inspector) {
            RecordingFrontEnd::fillValidLabels(inspector, QStringLiteral("USB3.0"));
            inspector.filmName = QStringLiteral("JianGuoDaYe");
            return true;
        };
    } else if (knob == QLatin1String("30 February in the KDM period")) {
        spec.encrypted = true;
        front.onConfirm = [](DcpInspector &inspector) {
            RecordingFrontEnd::fillValidLabels(inspector, QStringLiteral("USB3.0"));
            inspector.kdmDate = QStringLiteral("20230230-20230301");
            return true;
        };
    } else if (knob == QLatin1String("USB2.0")) {
        front.onConfirm = [](DcpInspector &inspector) {
            RecordingFrontEnd::fillValidLabels(inspector, QStringLiteral("USB2.0"));
            return true;
        };
    }

    FixtureBuilder builder(diskRoot());
    FixtureBuilder::writeSettings(settingsPath(), hashCheck, {kCertificate});
    if (knob != QLatin1String("no master")) {
        const BuiltMaster master = builder.writeMaster(spec);
        if (spec.encrypted && knob != QLatin1String("no KDM"))
            builder.writeKdm(master, kdm);
    }

    DcpInspector inspector;
    CheckRun run(inspector, front);
    if (tamper.isEmpty()) {
        run.start();
    } else {
        QVERIFY(run.runCarrierAndPackingChecks());
        if (tamper == QLatin1String("KDM list lost"))
            inspector.kdms.clear();
        else
            inspector.assetMap.assets.removeAt(1); // the packing list's entry comes first
        run.OnMsgSignal(QStringLiteral("OK"));
    }
    QTRY_COMPARE(front.endings.size(), 1);

    Expectation expectation;
    expectation.stereoscopic = spec.stereoscopic;
    expectation.encrypted = spec.encrypted;
    expectation.failRow = row;
    QCOMPARE(front.summary(), expectedSummary(expectation));
    QCOMPARE(front.warnings, QStringList{message});
    // The operator reads the warning before the cell turns red.
    const int warningAt = front.log.indexOf(QStringLiteral("warning ") + message);
    QCOMPARE(front.log.value(warningAt + 1), QStringLiteral("cell %1 Fail 不符合").arg(row));
    QCOMPARE(front.endings, QVector<bool>{false});
    QCOMPARE(front.log.last(), QStringLiteral("ended 0"));
    QVERIFY(!front.reportEnabled);
    if (tamper.isEmpty())
        QVERIFY(!front.busy);
    QCOMPARE(front.cells[row].text, QStringLiteral("不符合"));
}

void TestCheckRun::fullPass_data()
{
    QTest::addColumn<bool>("interop");
    QTest::addColumn<bool>("encrypted");
    QTest::addColumn<bool>("stereoscopic");
    QTest::addColumn<int>("hashCheck");

    QTest::newRow("SMPTE, clear, flat, hashing off") << false << false << false << 0;
    QTest::newRow("SMPTE, clear, flat, hashing on") << false << false << false << 1;
    QTest::newRow("Interop, encrypted, stereoscopic, hashing on") << true << true << true << 1;
    QTest::newRow("SMPTE, encrypted, flat, hashing off") << false << true << false << 0;
}

void TestCheckRun::fullPass()
{
    QFETCH(bool, interop);
    QFETCH(bool, encrypted);
    QFETCH(bool, stereoscopic);
    QFETCH(int, hashCheck);

    MasterSpec spec;
    spec.standard = interop ? MasterSpec::Interop : MasterSpec::Smpte;
    spec.encrypted = encrypted;
    spec.stereoscopic = stereoscopic;
    spec.reelDurations = {86400, 45300};
    FixtureBuilder builder(diskRoot());
    const BuiltMaster master = builder.writeMaster(spec);
    KdmSpec kdm;
    kdm.notValidBefore = QStringLiteral("2023-01-01T00:00:00+08:00");
    kdm.notValidAfter = QStringLiteral("2023-03-01T23:59:59+08:00");
    if (encrypted)
        builder.writeKdm(master, kdm);
    FixtureBuilder::writeSettings(settingsPath(), hashCheck, {kCertificate});
    setCurrentLocalDateOverride(QDate(2023, 2, 28));

    DcpInspector inspector;
    RecordingFrontEnd front;
    CheckRun run(inspector, front);
    run.start();
    QCOMPARE(run.worker() != nullptr, hashCheck != 0);
    QTRY_COMPARE(front.endings.size(), 1);

    Expectation expectation;
    expectation.stereoscopic = stereoscopic;
    expectation.encrypted = encrypted;
    QCOMPARE(front.summary(), expectedSummary(expectation));
    QCOMPARE(front.endings, QVector<bool>{true});
    QVERIFY(front.warnings.isEmpty());
    QVERIFY(front.reportEnabled);
    QVERIFY(!front.busy);
    QCOMPARE(front.log.first(), QStringLiteral("busy 1"));
    QCOMPARE(front.log.mid(front.log.size() - 3),
             (QStringList{QStringLiteral("report 1"), QStringLiteral("busy 0"),
                          QStringLiteral("ended 1")}));
    QCOMPARE(front.text(26),
             encrypted ? QStringLiteral("符合") : QStringLiteral("符合(未加密DCP)"));
    QCOMPARE(front.text(25), stereoscopic ? QStringLiteral("符合") : QStringLiteral("———"));

    if (hashCheck != 0) {
        QVERIFY(front.progressTexts.size() >= 2);
        QCOMPARE(front.progressTexts.first(), QStringLiteral("检测中......"));
        QCOMPARE(front.progressTexts.mid(1), expectedProgress(master.pklAssetPaths));
        // The first percentage already brings the arrow back.
        const int first =
            front.log.indexOf(QStringLiteral("cell 18 Progress ") + front.progressTexts.at(1));
        QCOMPARE(front.log.value(first + 1), QStringLiteral("busy 0"));
    } else {
        QVERIFY(front.progressTexts.isEmpty());
    }

    // What the dialog was offered.
    QCOMPARE(front.confirmCalls, 1);
    const DcpInspector &offered = front.offeredLabels;
    QCOMPARE(offered.cplName, master.title);
    QCOMPARE(offered.duration, QStringLiteral("91分钟27秒"));
    QCOMPARE(offered.kdmDate,
             encrypted ? QStringLiteral("20230101-20230301") : QStringLiteral("-"));
    QCOMPARE(offered.vetDate, QStringLiteral("20230228"));
    QVERIFY(offered.filmName.isEmpty());
    QVERIFY(offered.diskInterface.isEmpty());
}

void TestCheckRun::hashSwitch_data()
{
    QTest::addColumn<QByteArray>("settings"); // "<none>": no file
    QTest::addColumn<bool>("hashing");

    QTest::newRow("no file") << QByteArray("<none>") << false;
    QTest::newRow("no key") << QByteArray("[hash]\nother=1\n") << false;
    QTest::newRow("zero") << QByteArray("[hash]\ncheck=0\n") << false;
    QTest::newRow("not a number") << QByteArray("[hash]\ncheck=yes\n") << false;
    QTest::newRow("a list") << QByteArray("[hash]\ncheck=1,2\n") << false;
    QTest::newRow("one") << QByteArray("[hash]\ncheck=1\n") << true;
    QTest::newRow("any other integer") << QByteArray("[hash]\ncheck=-7\n") << true;
}

void TestCheckRun::hashSwitch()
{
    QFETCH(QByteArray, settings);
    QFETCH(bool, hashing);

    FixtureBuilder(diskRoot()).writeMaster(MasterSpec());
    if (settings != "<none>") {
        QFile file(settingsPath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(settings);
    }
    DcpInspector inspector;
    RecordingFrontEnd front;
    CheckRun run(inspector, front);
    run.start();
    if (hashing) {
        // Handed over: the worker has the rest, the arrow waits for its first message.
        QCOMPARE(front.endings.size(), 0);
        QCOMPARE(front.text(18), QStringLiteral("检测中......"));
        QCOMPARE(front.kind(18), CellKind::Progress);
        QVERIFY(front.busy);
        QVERIFY(run.worker());
    } else {
        // The continuation ran inside the click.
        QCOMPARE(front.endings, QVector<bool>{true});
        QVERIFY(front.progressTexts.isEmpty());
        QVERIFY(!run.worker());
    }
    QTRY_COMPARE(front.endings, QVector<bool>{true});
    QCOMPARE(front.kind(18), CellKind::Pass);
}

void TestCheckRun::folderCheck_data()
{
    QTest::addColumn<QString>("folder"); // relative to the disk root
    QTest::addColumn<bool>("encrypted");

    QTest::newRow("the disk's top folder") << "" << false;
    QTest::newRow("the master's own folder") << "DCP" << false;
    QTest::newRow("with a trailing slash, encrypted") << "DCP/" << true;
    QTest::newRow("with a dot segment") << "DCP/../DCP" << false;
}

void TestCheckRun::folderCheck()
{
    QFETCH(QString, folder);
    QFETCH(bool, encrypted);

    // No disk attached at all: a folder check never asks for one.
    m_volumes->volumes.clear();
    MasterSpec spec;
    spec.encrypted = encrypted;
    FixtureBuilder builder(diskRoot());
    const BuiltMaster master = builder.writeMaster(spec);
    KdmSpec kdm;
    kdm.folder = QStringLiteral("DCP");
    if (encrypted)
        builder.writeKdm(master, kdm);
    FixtureBuilder::writeSettings(settingsPath(), 1, {kCertificate});

    DcpInspector inspector;
    RecordingFrontEnd front;
    CheckRun run(inspector, front);
    run.setMasterFolder(diskRoot() + QLatin1Char('/') + folder);
    run.start();
    QTRY_COMPARE(front.endings.size(), 1);

    Expectation expectation;
    expectation.folder = true;
    expectation.encrypted = encrypted;
    QCOMPARE(front.summary(), expectedSummary(expectation));
    QCOMPARE(front.text(0), QStringLiteral("———"));
    QCOMPARE(front.endings, QVector<bool>{true});
    QVERIFY(front.reportEnabled);
    QCOMPARE(inspector.removableDrives.size(), 1);
    QVERIFY(inspector.removableDrives[0].endsWith(QLatin1Char('/')));
    QVERIFY(!inspector.removableDrives[0].endsWith(QLatin1String("//")));
    QCOMPARE(inspector.assetMapPaths, QVector<QString>{master.assetMapPath});
}

void TestCheckRun::verdictsAreExact()
{
    FixtureBuilder(diskRoot()).writeMaster(MasterSpec());
    DcpInspector inspector;
    RecordingFrontEnd front;
    CheckRun run(inspector, front);
    front.setBusy(true);
    QVERIFY(run.runCarrierAndPackingChecks());

    // Only "OK" and "ERR" in exactly this case end the hashing; anything else is shown as sent.
    for (const QString &text : {QStringLiteral("ok"), QStringLiteral("Err"), QStringLiteral(" OK"),
                                QStringLiteral("12.5%")}) {
        front.setBusy(true);
        run.OnMsgSignal(text);
        QCOMPARE(front.kind(18), CellKind::Progress);
        QCOMPARE(front.text(18), text);
        QVERIFY(!front.busy);
    }
    QVERIFY(front.endings.isEmpty());
    QVERIFY(front.warnings.isEmpty());

    run.OnMsgSignal(QStringLiteral("ERR"));
    QCOMPARE(front.warnings,
             QStringList{QStringLiteral(
                 "文件Hash值与PKL文件中的Hash值不一致，请重新制作DCP后，再进行检测!")});
    QCOMPARE(front.kind(18), CellKind::Fail);
    QCOMPARE(front.endings, QVector<bool>{false});
    QCOMPARE(front.log.mid(front.log.size() - 2),
             (QStringList{QStringLiteral("busy 0"), QStringLiteral("ended 0")}));
}

void TestCheckRun::declinedLabels()
{
    FixtureBuilder(diskRoot()).writeMaster(MasterSpec());
    FixtureBuilder::writeSettings(settingsPath(), 0);
    DcpInspector inspector;
    RecordingFrontEnd front;
    front.onConfirm = [](DcpInspector &labels) {
        RecordingFrontEnd::fillValidLabels(labels, QStringLiteral("USB3.0"));
        return false;
    };
    CheckRun run(inspector, front);
    run.start();

    Expectation expectation;
    expectation.declined = true;
    QCOMPARE(front.summary(), expectedSummary(expectation));
    QVERIFY(!front.cells[0].written || front.kind(0) == CellKind::Blank);
    QVERIFY(front.warnings.isEmpty());
    QVERIFY(!front.reportEnabled);
    QCOMPARE(front.endings, QVector<bool>{false});
    QVERIFY(!front.busy);
}

void TestCheckRun::secondRunStartsBlank()
{
    MasterSpec spec;
    spec.wrongCplHash = true;
    FixtureBuilder(diskRoot()).writeMaster(spec);
    FixtureBuilder::writeSettings(settingsPath(), 0);
    DcpInspector inspector;
    RecordingFrontEnd front;
    CheckRun run(inspector, front);
    run.start();
    Expectation first;
    first.failRow = 24;
    QCOMPARE(front.summary(), expectedSummary(first));

    m_volumes->volumes.clear();
    front.log.clear();
    front.warnings.clear();
    run.start();
    Expectation second;
    second.failRow = 2;
    QCOMPARE(front.summary(), expectedSummary(second));
    for (int row = 0; row < CheckRow::Count; ++row)
        QCOMPARE(front.log.value(row + 1), QStringLiteral("cell %1 Blank ").arg(row));
    QCOMPARE(front.log.value(CheckRow::Count + 1), QStringLiteral("report 0"));
    QCOMPARE(front.endings, (QVector<bool>{false, false}));
    // The reset reached the inspector: nothing of the first master is left.
    QVERIFY(inspector.cpls.isEmpty());
    QVERIFY(inspector.assetMapPaths.isEmpty());
}

void TestCheckRun::staleWorkerIsStopped()
{
    // Disk A: a master whose track takes far longer to hash than the test runs.
    QTemporaryDir diskA;
    QVERIFY(diskA.isValid());
    const BuiltMaster huge = FixtureBuilder(diskA.path()).writeMaster(MasterSpec());
    QVERIFY(makeHuge(huge.trackPaths.first()));
    MasterSpec spec;
    spec.trackBytes = 300000;
    const BuiltMaster second = FixtureBuilder(diskRoot()).writeMaster(spec);
    FixtureBuilder::writeSettings(settingsPath(), 1);

    m_volumes->volumes = FakeVolumeService::usbDisk(diskA.path());
    DcpInspector inspector;
    RecordingFrontEnd front;
    CheckRun run(inspector, front);
    run.start();
    QTRY_VERIFY(front.progressTexts.size() >= 2);
    QPointer<HashThread> staleWorker = run.worker();
    QVERIFY(staleWorker && staleWorker->isRunning());

    // Let the stale worker queue a few more messages that nobody has received yet.
    std::atomic<int> sent{0};
    connect(
        staleWorker, &HashThread::MsgSignal, this, [&sent](const QString &) { ++sent; },
        Qt::DirectConnection);
    QElapsedTimer patience;
    patience.start();
    while (sent < 3 && patience.elapsed() < 10000)
        QThread::yieldCurrentThread();
    QVERIFY(sent >= 3);

    m_volumes->volumes = FakeVolumeService::usbDisk(diskRoot());
    const int secondStart = front.log.size();
    run.start();
    QVERIFY(staleWorker.isNull());
    QTRY_COMPARE(front.endings.size(), 2);

    // The first run ended before anything of the second was written.
    QCOMPARE(front.log.mid(secondStart, 2),
             (QStringList{QStringLiteral("ended 0"), QStringLiteral("busy 1")}));
    QCOMPARE(front.endings, (QVector<bool>{false, true}));
    QCOMPARE(front.summary(), expectedSummary(Expectation()));

    // Every progress text after the second start is the second worker's.
    QStringList secondProgress;
    for (const QString &entry : front.log.mid(secondStart)) {
        if (entry.startsWith(QLatin1String("cell 18 Progress ")))
            secondProgress << entry.mid(17);
    }
    QCOMPARE(secondProgress.value(0), QStringLiteral("检测中......"));
    QCOMPARE(secondProgress.mid(1), expectedProgress(second.pklAssetPaths));

    const int settled = front.log.size();
    QCoreApplication::processEvents();
    QCOMPARE(front.log.size(), settled);
}

void TestCheckRun::destroyingMidHashStopsWorker()
{
    const BuiltMaster huge = FixtureBuilder(diskRoot()).writeMaster(MasterSpec());
    QVERIFY(makeHuge(huge.trackPaths.first()));
    FixtureBuilder::writeSettings(settingsPath(), 1);

    DcpInspector inspector;
    RecordingFrontEnd front;
    auto run = std::make_unique<CheckRun>(inspector, front);
    run->start();
    QTRY_VERIFY(front.progressTexts.size() >= 2);
    QPointer<HashThread> worker = run->worker();
    QVERIFY(worker && worker->isRunning());

    const int logged = front.log.size();
    QElapsedTimer timer;
    timer.start();
    run.reset();
    // Hashing the whole track would take many seconds; the worker stops at its next chunk.
    QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(worker.isNull());
    QCoreApplication::processEvents();
    QCOMPARE(front.log.size(), logged);
    QVERIFY(front.endings.isEmpty());
}

void TestCheckRun::stopWorkerEndsHashingRun()
{
    const BuiltMaster huge = FixtureBuilder(diskRoot()).writeMaster(MasterSpec());
    QVERIFY(makeHuge(huge.trackPaths.first()));
    FixtureBuilder::writeSettings(settingsPath(), 1);

    DcpInspector inspector;
    RecordingFrontEnd front;
    CheckRun run(inspector, front);
    run.start();
    QVERIFY(run.isHashing());
    run.stopWorker();
    QVERIFY(!run.isHashing());
    QVERIFY(!run.worker());
    QCOMPARE(front.endings, QVector<bool>{false});
    QVERIFY(!front.busy);
    QCOMPARE(front.kind(18), CellKind::Progress);

    // Stopping again, or with nothing running, changes nothing.
    run.stopWorker();
    QCoreApplication::processEvents();
    QCOMPARE(front.endings, QVector<bool>{false});
}

// The child process of quittingWhileHashingExitsCleanly: the application quits while the worker
// is hashing, and main returns with the run still owned by the application object.
static int quitWhileHashing(int argc, char *argv[])
{
    class QuittingFrontEnd : public RecordingFrontEnd
    {
    public:
        void writeResult(int row, CellKind kind, const QString &text) override
        {
            RecordingFrontEnd::writeResult(row, kind, text);
            if (kind == CellKind::Progress && text.endsWith(QLatin1Char('%')) && !quitting) {
                quitting = true;
                std::printf("hashing\n");
                std::fflush(stdout);
                QCoreApplication::quit();
            }
        }
        bool quitting = false;
    };

    QuittingFrontEnd front;
    DcpInspector inspector;
    auto app = std::make_unique<QCoreApplication>(argc, argv);
    FakeVolumeService volumes(FakeVolumeService::usbDisk(QString::fromLocal8Bit(argv[2])));
    setSettingsFilePath(QString::fromLocal8Bit(argv[3]));
    auto *run = new CheckRun(inspector, front, app.get());
    QTimer::singleShot(0, run, &CheckRun::start);
    const int code = app->exec();
    QPointer<HashThread> worker = run->worker();
    if (worker.isNull() || !worker->isRunning())
        return 2; // the run should still be hashing when the application quits
    app.reset();
    std::printf(worker.isNull() ? "stopped\n" : "still running\n");
    std::fflush(stdout);
    return code;
}

void TestCheckRun::quittingWhileHashingExitsCleanly()
{
    const BuiltMaster huge = FixtureBuilder(diskRoot()).writeMaster(MasterSpec());
    QVERIFY(makeHuge(huge.trackPaths.first()));
    FixtureBuilder::writeSettings(settingsPath(), 1);

    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--quit-while-hashing"), diskRoot(), settingsPath()});
    QVERIFY(child.waitForFinished(60000));
    QCOMPARE(child.readAllStandardOutput(), QByteArray("hashing\nstopped\n"));
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 0);
}

int main(int argc, char *argv[])
{
    if (argc == 4 && qstrcmp(argv[1], "--quit-while-hashing") == 0)
        return quitWhileHashing(argc, argv);
    QCoreApplication app(argc, argv);
    TestCheckRun test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "test_checkrun.moc"
