#include "dcp/DcpInspector.h"
#include "dcp/RunEnvironment.h"
#include "support/FixtureBuilder.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include <unistd.h>

namespace {

const QString kSeveralMasters =
    QStringLiteral("移动硬盘内有多个送审母版，请确认只有一个送审母版后，再进行检测!");
const QString kNoAssetMap =
    QStringLiteral("未检查到送审母版的AssetMap文件，请确认移动硬盘内存入送审母版后，再进行检测!");
const QString kFilesMissing =
    QStringLiteral("送审母版文件不全，请确认存入完整送审母版后，再进行检测!");
const QString kNoCpl = QStringLiteral("未检测到CPL文件，请确认存入完整送审母版后，再进行检测!");
const QString kSeveralCpls =
    QStringLiteral("检测到多个CPL文件，请确认送审母版只包含1个CPL文件后，再进行检测!");
const QString kNoPkl = QStringLiteral("未检测到PKL文件，请确认存入完整送审母版后，再进行检测!");
const QString kSeveralPkls =
    QStringLiteral("检测到多个PKL文件，请确认送审母版只包含1个PKL文件后，再进行检测!");
const QString kNoKdm = QStringLiteral("未检查到相符的授权密钥文件（KDM），请确保授权密钥时间和授权"
                                      "放映设备正确后，再进行检测!");
const QString kNoDisk =
    QStringLiteral("未检查到移动硬盘，请确认移动硬盘已经接入电脑后，再进行检测!");

const QString kServer = QStringLiteral("dnQualifier=abc\\+def=,CN=SM.TEST-SERVER,O=example.org");

enum Scenario {
    EmptyDisk,
    OnlyLowerCaseName,
    TwoMasters,
    TwoMastersAtDifferentDepths,
    ThreeMasters,
    TrackNotCopied,
    TrackPathIsFolder,
    UnreadableAssetMap,
    EmptyAssetMap,
    CplNotListed,
    TwoCpls,
    PklNotListed,
    TwoPkls,
    EncryptedWithoutKdm,
    EncryptedKdmUpperCaseSuffix,
    EncryptedKdmForOtherComposition,
    EncryptedKdmExpiresToday,
    EncryptedWithKdm,
    EncryptedWithKdmElsewhere,
    Clear,
    ClearInterop3D,
};

void writeText(const QString &path, const QByteArray &text)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
}

void makeLink(const QString &target, const QString &linkPath)
{
    QVERIFY2(QFile::link(target, linkPath), qPrintable(linkPath));
}

// Builds the disk of one scenario below root.
void buildScenario(Scenario scenario, const QString &root)
{
    FixtureBuilder builder(root);
    MasterSpec spec;
    KdmSpec kdm;
    bool withKdm = false;
    switch (scenario) {
    case EmptyDisk:
        QDir(root).mkpath(QStringLiteral("empty/folder"));
        return;
    case OnlyLowerCaseName:
        spec.assetMapFileName = QStringLiteral("assetmap");
        break;
    case TwoMasters:
        spec.folder = QStringLiteral("one");
        builder.writeMaster(spec);
        spec.folder = QStringLiteral("two");
        break;
    case TwoMastersAtDifferentDepths:
        spec.folder = QStringLiteral("a/b/c/d/DCP");
        builder.writeMaster(spec);
        spec.standard = MasterSpec::Interop;
        spec.folder = QStringLiteral("x/DCP");
        break;
    case ThreeMasters:
        builder.writeMaster(spec);
        spec.folder.clear(); // one at the root as well
        builder.writeMaster(spec);
        spec.folder = QStringLiteral("deeper/DCP");
        break;
    case TrackNotCopied:
        spec.omitFirstTrackFile = true;
        break;
    case TrackPathIsFolder:
        spec.trackPathIsFolder = true;
        break;
    case UnreadableAssetMap:
        QDir(root).mkpath(QStringLiteral("DCP"));
        writeText(root + QStringLiteral("/DCP/ASSETMAP.xml"), "not an asset map <<<");
        return;
    case EmptyAssetMap:
        QDir(root).mkpath(QStringLiteral("DCP"));
        writeText(root + QStringLiteral("/DCP/ASSETMAP"),
                  "<?xml version=\"1.0\"?>\n<AssetMap "
                  "xmlns=\"http://www.digicine.com/PROTO-ASDCP-AM-20040311#\"><Id>urn:uuid:"
                  "0b4c6d2e-1111-4222-8333-944455556666</Id><AssetList/></AssetMap>\n");
        return;
    case CplNotListed:
        spec.noCpl = true;
        break;
    case TwoCpls:
        spec.secondCpl = true;
        break;
    case PklNotListed:
        spec.noPkl = true;
        break;
    case TwoPkls:
        spec.secondPkl = true;
        break;
    case EncryptedWithoutKdm:
        spec.encrypted = true;
        break;
    case EncryptedKdmUpperCaseSuffix:
        spec.encrypted = true;
        withKdm = true;
        kdm.fileName = QStringLiteral("kdm.XML");
        break;
    case EncryptedKdmForOtherComposition:
        spec.encrypted = true;
        withKdm = true;
        kdm.compositionPlaylistId = FixtureBuilder::newUrnUuid();
        break;
    case EncryptedKdmExpiresToday:
        spec.encrypted = true;
        withKdm = true;
        kdm.notValidAfter = QStringLiteral("2023-02-01T23:59:59+08:00");
        break;
    case EncryptedWithKdm:
        spec.encrypted = true;
        withKdm = true;
        kdm.folder = QStringLiteral("DCP");
        break;
    case EncryptedWithKdmElsewhere:
        spec.encrypted = true;
        spec.stereoscopic = true;
        withKdm = true;
        kdm.folder = QStringLiteral("keys/for/cinema");
        break;
    case Clear:
        break;
    case ClearInterop3D:
        spec.standard = MasterSpec::Interop;
        spec.stereoscopic = true;
        break;
    }
    const BuiltMaster master = builder.writeMaster(spec);
    if (withKdm)
        builder.writeKdm(master, kdm);
}

} // namespace

class TestDiscovery : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void findMasterOutcomes_data();
    void findMasterOutcomes();
    void noRemovableDisk();
    void loadsTheMasterDocuments();
    void earlierDocumentsStayLoadedOnMissingFile();
    void assetMapAtDiskRoot();
    void assetMapNames_data();
    void assetMapNames();
    void compositionWithCapitalSuffixIsRead();
    void linkToMasterIsSecondCopy();
    void linkToFolderOutsideTheDisk();
    void linkCyclesEnd();
    void deepFolders();
    void unreadableEntriesArePassedOver();
    void kdmSearchScope();
    void selectKdm_data();
    void selectKdm();
    void firstMatchingKdmWins();
    void settingsAreReadAtEachUse();

    void corpusMasters_data();
    void corpusMasters();
    void corpusKdms_data();
    void corpusKdms();
    void corpusAsOneDisk();

private:
    QString settingsPath() const { return m_settings->filePath(QStringLiteral("set.ini")); }
    void writeIni(const QByteArray &text) { writeText(settingsPath(), text); }
    int load(DcpInspector &inspector, const QString &root)
    {
        inspector.resetRunData();
        return inspector.loadMaster(root);
    }

    std::unique_ptr<QTemporaryDir> m_disk;
    std::unique_ptr<QTemporaryDir> m_settings;
};

void TestDiscovery::init()
{
    // Each test and each row has a fresh disk and settings folder.
    m_disk = std::make_unique<QTemporaryDir>();
    m_settings = std::make_unique<QTemporaryDir>();
    QVERIFY(m_disk->isValid() && m_settings->isValid());
    setSettingsFilePath(settingsPath());
    FixtureBuilder::writeSettings(settingsPath(), 0, {kServer});
    setCurrentLocalDateOverride(QDate(2023, 2, 1));
}

void TestDiscovery::cleanup()
{
    setSettingsFilePath(QString());
    setCurrentLocalDateOverride(QDate());
}

void TestDiscovery::findMasterOutcomes_data()
{
    QTest::addColumn<int>("scenario");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message"); // empty: findMaster succeeds

    QTest::newRow("empty disk") << int(EmptyDisk) << -1 << kNoAssetMap;
    QTest::newRow("asset map named in small letters")
        << int(OnlyLowerCaseName) << -1 << kNoAssetMap;
    QTest::newRow("two masters") << int(TwoMasters) << 2 << kSeveralMasters;
    QTest::newRow("two masters, depths 5 and 2")
        << int(TwoMastersAtDifferentDepths) << 2 << kSeveralMasters;
    QTest::newRow("three masters, one at the root") << int(ThreeMasters) << 3 << kSeveralMasters;
    QTest::newRow("track file not copied") << int(TrackNotCopied) << -2 << kFilesMissing;
    QTest::newRow("track path names a folder") << int(TrackPathIsFolder) << -2 << kFilesMissing;
    QTest::newRow("asset map not XML") << int(UnreadableAssetMap) << -3 << kNoCpl;
    QTest::newRow("asset map without assets") << int(EmptyAssetMap) << -3 << kNoCpl;
    QTest::newRow("composition not in asset map") << int(CplNotListed) << -3 << kNoCpl;
    QTest::newRow("two compositions") << int(TwoCpls) << -4 << kSeveralCpls;
    QTest::newRow("packing list not in asset map") << int(PklNotListed) << -5 << kNoPkl;
    QTest::newRow("two packing lists") << int(TwoPkls) << -6 << kSeveralPkls;
    QTest::newRow("encrypted, no KDM") << int(EncryptedWithoutKdm) << -7 << kNoKdm;
    QTest::newRow("encrypted, KDM suffix in capitals")
        << int(EncryptedKdmUpperCaseSuffix) << -7 << kNoKdm;
    QTest::newRow("encrypted, KDM for another composition")
        << int(EncryptedKdmForOtherComposition) << -9 << kNoKdm;
    QTest::newRow("encrypted, KDM expires today") << int(EncryptedKdmExpiresToday) << -9 << kNoKdm;
    QTest::newRow("encrypted with KDM in the master") << int(EncryptedWithKdm) << 0 << QString();
    QTest::newRow("encrypted 3D with KDM elsewhere")
        << int(EncryptedWithKdmElsewhere) << 0 << QString();
    QTest::newRow("clear SMPTE") << int(Clear) << -8 << QString();
    QTest::newRow("clear Interop 3D") << int(ClearInterop3D) << -8 << QString();
}

void TestDiscovery::findMasterOutcomes()
{
    QFETCH(int, scenario);
    QFETCH(int, code);
    QFETCH(QString, message);
    buildScenario(Scenario(scenario), m_disk->path());
    if (QTest::currentTestFailed())
        return;

    DcpInspector probe;
    QCOMPARE(load(probe, m_disk->path()), code);

    DcpInspector inspector;
    inspector.resetRunData();
    inspector.removableDrives = {m_disk->path()};
    QString text = QStringLiteral("untouched");
    const bool ok = inspector.findMaster(text);
    QCOMPARE(ok, message.isEmpty());
    QCOMPARE(text, ok ? QStringLiteral("untouched") : message);
    if (code == 0) {
        QVERIFY(inspector.encrypted);
        QCOMPARE(inspector.kdm.compositionPlaylistId, inspector.cpls.value(0).id);
        QCOMPARE(inspector.kdms.size(), 1);
    }
    if (code == -8) {
        QVERIFY(!inspector.encrypted);
        QVERIFY(inspector.kdms.isEmpty());
        QVERIFY(inspector.kdm.messageId.isEmpty());
    }
    if (code >= 2 || code == -1) {
        QCOMPARE(inspector.assetMapPaths.size(), qMax(code, 0));
        QVERIFY(inspector.cpls.isEmpty() && inspector.assetMap.assets.isEmpty());
    }
}

void TestDiscovery::noRemovableDisk()
{
    DcpInspector inspector;
    inspector.resetRunData();
    QString message;
    QVERIFY(!inspector.findMaster(message));
    QCOMPARE(message, kNoDisk);
}

void TestDiscovery::loadsTheMasterDocuments()
{
    FixtureBuilder builder(m_disk->path());
    MasterSpec spec;
    spec.encrypted = true;
    spec.subtitle = true;
    spec.reelDurations = {240, 480};
    const BuiltMaster master = builder.writeMaster(spec);
    builder.writeKdm(master);

    DcpInspector inspector;
    QCOMPARE(load(inspector, m_disk->path()), 0);
    QCOMPARE(inspector.assetMapPaths, QVector<QString>{master.assetMapPath});
    QCOMPARE(inspector.assetMap.id, master.assetMapId);
    QCOMPARE(inspector.assetMap.annotationText, spec.title);
    QCOMPARE(inspector.assetMap.assets.size(), 2 + master.trackPaths.size());
    QCOMPARE(inspector.cpls.size(), 1);
    QCOMPARE(inspector.cpls[0].id, master.cplId);
    QCOMPARE(inspector.cpls[0].assets.size(), 5); // the subtitle document is a track, not a CPL
    QCOMPARE(inspector.pkls.size(), 1);
    QCOMPARE(inspector.pkls[0].id, master.pklId);
    QCOMPARE(inspector.kdm.compositionPlaylistId, master.cplId);
    QCOMPARE(inspector.kdm.subjectNames, QVector<QString>{kServer});
}

void TestDiscovery::earlierDocumentsStayLoadedOnMissingFile()
{
    FixtureBuilder builder(m_disk->path());
    MasterSpec spec;
    spec.omitFirstTrackFile = true;
    builder.writeMaster(spec);
    DcpInspector inspector;
    QCOMPARE(load(inspector, m_disk->path()), -2);
    // The asset map lists the packing list and the composition before the tracks.
    QCOMPARE(inspector.pkls.size(), 1);
    QCOMPARE(inspector.cpls.size(), 1);
    QCOMPARE(inspector.assetMap.assets.size(), 4);
}

void TestDiscovery::assetMapAtDiskRoot()
{
    FixtureBuilder builder(m_disk->path());
    MasterSpec spec;
    spec.folder.clear();
    spec.standard = MasterSpec::Interop;
    const BuiltMaster master = builder.writeMaster(spec);
    QDir(m_disk->path()).mkpath(QStringLiteral("DCP/unrelated")); // a folder without a master

    DcpInspector inspector;
    QCOMPARE(load(inspector, m_disk->path()), -8);
    QCOMPARE(inspector.assetMapPaths.value(0), m_disk->path() + QStringLiteral("/ASSETMAP"));
    QCOMPARE(inspector.cpls.value(0).id, master.cplId);

    // With a trailing slash on the root, as a drive root is written.
    QCOMPARE(load(inspector, m_disk->path() + QLatin1Char('/')), -8);
    QCOMPARE(inspector.assetMapPaths.value(0), m_disk->path() + QStringLiteral("/ASSETMAP"));
}

void TestDiscovery::assetMapNames_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<bool>("found");
    QTest::newRow("ASSETMAP") << "ASSETMAP" << true;
    QTest::newRow("ASSETMAP.xml") << "ASSETMAP.xml" << true;
    QTest::newRow("assetmap") << "assetmap" << false;
    QTest::newRow("assetmap.xml") << "assetmap.xml" << false;
    QTest::newRow("ASSETMAP.XML") << "ASSETMAP.XML" << false;
    QTest::newRow("AssetMap.xml") << "AssetMap.xml" << false;
    QTest::newRow("ASSETMAP.xml.bak") << "ASSETMAP.xml.bak" << false;
    QTest::newRow("ASSETMAP.xmI") << "ASSETMAP.xmI" << false;
}

void TestDiscovery::assetMapNames()
{
    QFETCH(QString, fileName);
    QFETCH(bool, found);
    FixtureBuilder builder(m_disk->path());
    MasterSpec spec;
    spec.assetMapFileName = fileName;
    builder.writeMaster(spec);
    DcpInspector inspector;
    QCOMPARE(load(inspector, m_disk->path()), found ? -8 : -1);
}

void TestDiscovery::compositionWithCapitalSuffixIsRead()
{
    FixtureBuilder builder(m_disk->path());
    MasterSpec spec;
    spec.cplFileName = QStringLiteral("CPL_FEATURE.XML");
    spec.pklFileName = QStringLiteral("PKL_FEATURE.Xml");
    const BuiltMaster master = builder.writeMaster(spec);
    DcpInspector inspector;
    QCOMPARE(load(inspector, m_disk->path()), -8);
    QCOMPARE(inspector.cpls.value(0).id, master.cplId);
    QCOMPARE(inspector.pkls.value(0).id, master.pklId);
}

void TestDiscovery::linkToMasterIsSecondCopy()
{
    FixtureBuilder builder(m_disk->path());
    builder.writeMaster(MasterSpec());
    makeLink(m_disk->path() + QStringLiteral("/DCP"), m_disk->path() + QStringLiteral("/copy"));
    DcpInspector inspector;
    QCOMPARE(load(inspector, m_disk->path()), 2);
    QVERIFY(
        inspector.assetMapPaths.contains(m_disk->path() + QStringLiteral("/copy/ASSETMAP.xml")));
}

void TestDiscovery::linkToFolderOutsideTheDisk()
{
    QTemporaryDir elsewhere;
    QVERIFY(elsewhere.isValid());
    FixtureBuilder builder(elsewhere.path());
    const BuiltMaster master = builder.writeMaster(MasterSpec());
    makeLink(elsewhere.path() + QStringLiteral("/DCP"), m_disk->path() + QStringLiteral("/linked"));
    DcpInspector inspector;
    QCOMPARE(load(inspector, m_disk->path()), -8);
    QCOMPARE(inspector.assetMapPaths.value(0),
             m_disk->path() + QStringLiteral("/linked/ASSETMAP.xml"));
    QCOMPARE(inspector.cpls.value(0).id, master.cplId);
}

void TestDiscovery::linkCyclesEnd()
{
    const QString root = m_disk->path();
    FixtureBuilder builder(root);
    MasterSpec spec;
    spec.folder = QStringLiteral("y/DCP");
    builder.writeMaster(spec);
    QDir(root).mkpath(QStringLiteral("x/deep/er"));
    makeLink(root, root + QStringLiteral("/y/DCP/to-root")); // to an ancestor
    makeLink(root + QStringLiteral("/x/deep/er"),
             root + QStringLiteral("/x/deep/er/self"));                            // itself
    makeLink(root + QStringLiteral("/x"), root + QStringLiteral("/x/deep/er/up")); // ancestor
    makeLink(root + QStringLiteral("/y"), root + QStringLiteral("/x/to-y"));       // sideways
    makeLink(root + QStringLiteral("/x"), root + QStringLiteral("/y/to-x"));       // and back
    makeLink(root + QStringLiteral("/missing"), root + QStringLiteral("/x/dangling"));

    DcpInspector inspector;
    QElapsedTimer timer;
    timer.start();
    // y/DCP, and x/to-y/DCP; y/to-x/to-y would lead back into y, which is on that descent.
    QCOMPARE(load(inspector, root), 2);
    QVERIFY(timer.elapsed() < 10000);
    QStringList found(inspector.assetMapPaths.begin(), inspector.assetMapPaths.end());
    found.sort();
    QCOMPARE(found, QStringList({root + QStringLiteral("/x/to-y/DCP/ASSETMAP.xml"),
                                 root + QStringLiteral("/y/DCP/ASSETMAP.xml")}));
}

void TestDiscovery::deepFolders()
{
    QString relative;
    for (int i = 0; i < 400; ++i)
        relative += QStringLiteral("d/");
    QVERIFY(QDir(m_disk->path()).mkpath(relative));
    FixtureBuilder builder(m_disk->path());
    MasterSpec spec;
    spec.folder = relative + QStringLiteral("DCP");
    builder.writeMaster(spec);
    DcpInspector inspector;
    QCOMPARE(load(inspector, m_disk->path()), -8);
}

void TestDiscovery::unreadableEntriesArePassedOver()
{
    if (geteuid() == 0)
        QSKIP("running as root: permission bits do not stop root from reading");
    const QString root = m_disk->path();
    FixtureBuilder builder(root);
    MasterSpec spec;
    spec.folder = QStringLiteral("locked/DCP");
    builder.writeMaster(spec);
    spec.folder = QStringLiteral("open/DCP");
    const BuiltMaster master = builder.writeMaster(spec);
    const QString locked = root + QStringLiteral("/locked");
    QVERIFY(QFile::setPermissions(locked, QFileDevice::Permissions()));

    DcpInspector inspector;
    const int code = load(inspector, root);
    QFile::setPermissions(locked,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QCOMPARE(code, -8);
    QCOMPARE(inspector.assetMapPaths.value(0), master.assetMapPath);

    // An unreadable composition cannot be classified and counts as absent; an unreadable track
    // file still exists.
    QVERIFY(QFile::setPermissions(master.trackPaths[0], QFileDevice::Permissions()));
    QCOMPARE(load(inspector, root + QStringLiteral("/open")), -8);
    QVERIFY(QFile::setPermissions(master.cplPath, QFileDevice::Permissions()));
    QCOMPARE(load(inspector, root + QStringLiteral("/open")), -3);
}

void TestDiscovery::kdmSearchScope()
{
    const QString root = m_disk->path();
    FixtureBuilder builder(root);
    MasterSpec spec;
    spec.encrypted = true;
    const BuiltMaster master = builder.writeMaster(spec);
    KdmSpec kdm;
    kdm.folder = QStringLiteral("DCP");
    builder.writeKdm(master, kdm);
    kdm.folder = QStringLiteral("a/b/c/d");
    builder.writeKdm(master, kdm);
    kdm.folder = QStringLiteral("other");
    kdm.compositionPlaylistId = FixtureBuilder::newUrnUuid(); // held, though not chosen
    builder.writeKdm(master, kdm);
    kdm.compositionPlaylistId.clear();
    kdm.folder = QStringLiteral(".hidden");
    builder.writeKdm(master, kdm);
    kdm.folder = QStringLiteral("caps");
    kdm.fileName = QStringLiteral("KDM.XML");
    builder.writeKdm(master, kdm);
    QTemporaryDir outside;
    kdm.fileName = QStringLiteral("kdm.xml");
    FixtureBuilder(outside.path()).writeKdm(master, kdm);
    makeLink(outside.path(),
             root + QStringLiteral("/linked-keys")); // folder links are not followed

    DcpInspector inspector;
    QCOMPARE(load(inspector, root), 0);
    QCOMPARE(inspector.kdms.size(), 3);
    int forOther = 0;
    for (const KdmInfo &found : qAsConst(inspector.kdms))
        forOther += found.compositionPlaylistId != master.cplId;
    QCOMPARE(forOther, 1);
    QCOMPARE(inspector.kdm.compositionPlaylistId, master.cplId);
}

void TestDiscovery::selectKdm_data()
{
    QTest::addColumn<QByteArray>("ini"); // empty: no settings file at all
    QTest::addColumn<QDate>("today");
    QTest::addColumn<QString>("notValidBefore");
    QTest::addColumn<QString>("notValidAfter");
    QTest::addColumn<QStringList>("subjects");
    QTest::addColumn<bool>("otherComposition");
    QTest::addColumn<bool>("chosen");

    const QByteArray serverIni = "[cert_num]\nnum=1\n[cert_list]\ncert0=CN=SM.TEST-SERVER\n";
    const QDate today(2023, 2, 1);
    const QString before = QStringLiteral("2023-01-01T00:00:00+08:00");
    const QString after = QStringLiteral("2023-03-01T23:59:59+08:00");
    const QStringList subjects = {kServer};
    const QString dolphin =
        QStringLiteral("dnQualifier=dUsGkBgVHURva/kNS\\+EHaCrg87M=,CN=LE SPB MD FM "
                       "SM.IMB-227577.DC.DOLPHIN.DC2.SMPTE,OU=DC.DOREMILABS.COM,O=DC2.SMPTE."
                       "DOREMILABS.COM");

    QTest::newRow("valid") << serverIni << today << before << after << subjects << false << true;
    QTest::newRow("expires today")
        << serverIni << today << before << QStringLiteral("2023-02-01T23:59:59+08:00") << subjects
        << false << false;
    QTest::newRow("expires tomorrow")
        << serverIni << today << before << QStringLiteral("2023-02-02T00:00:00+08:00") << subjects
        << false << true;
    QTest::newRow("expired") << serverIni << QDate(2023, 3, 2) << before << after << subjects
                             << false << false;
    QTest::newRow("no expiry") << serverIni << today << before << QString() << subjects << false
                               << false;
    QTest::newRow("not yet valid is not looked at")
        << serverIni << today << QStringLiteral("2099-01-01T00:00:00+08:00") << after << subjects
        << false << true;
    QTest::newRow("for another composition")
        << serverIni << today << before << after << subjects << true << false;
    QTest::newRow("certificate of another device")
        << QByteArray("[cert_num]\nnum=1\n[cert_list]\ncert0=CN=OTHER-SERVER\n") << today << before
        << after << subjects << false << false;
    QTest::newRow("certificate in other letter case")
        << QByteArray("[cert_num]\nnum=1\n[cert_list]\ncert0=cn=sm.test-server\n") << today
        << before << after << subjects << false << false;
    QTest::newRow("signer's subject name matches")
        << QByteArray("[cert_num]\nnum=1\n[cert_list]\ncert0=CN=.fixture.INTERMEDIATE\n") << today
        << before << after
        << QStringList({kServer, QStringLiteral("dnQualifier=x=,CN=.fixture.INTERMEDIATE")})
        << false << true;
    QTest::newRow("second entry matches")
        << QByteArray("[cert_num]\nnum=2\n[cert_list]\ncert0=CN=OTHER\ncert1=SM.TEST-SERVER\n")
        << today << before << after << subjects << false << true;
    QTest::newRow("matching entry beyond num")
        << QByteArray("[cert_num]\nnum=1\n[cert_list]\ncert0=CN=OTHER\ncert1=SM.TEST-SERVER\n")
        << today << before << after << subjects << false << false;
    QTest::newRow("KDM without subject names")
        << serverIni << today << before << after << QStringList() << false << false;

    // Entries that are empty approve no device.
    QTest::newRow("num 2, only cert0 present and not matching")
        << QByteArray("[cert_num]\nnum=2\n[cert_list]\ncert0=CN=OTHER\n") << today << before
        << after << subjects << false << false;
    QTest::newRow("empty entry") << QByteArray("[cert_num]\nnum=1\n[cert_list]\ncert0=\n") << today
                                 << before << after << subjects << false << false;
    QTest::newRow("blank quoted entry")
        << QByteArray("[cert_num]\nnum=1\n[cert_list]\ncert0=\" \"\n") << today << before << after
        << QStringList({dolphin}) << false << false;
    QTest::newRow("num without cert_list") << QByteArray("[cert_num]\nnum=3\n") << today << before
                                           << after << subjects << false << false;
    QTest::newRow("num missing") << QByteArray("[cert_list]\ncert0=SM.TEST-SERVER\n") << today
                                 << before << after << subjects << false << false;
    QTest::newRow("num not a number")
        << QByteArray("[cert_num]\nnum=two\n[cert_list]\ncert0=SM.TEST-SERVER\n") << today << before
        << after << subjects << false << false;
    QTest::newRow("no settings file")
        << QByteArray() << today << before << after << subjects << false << false;
    QTest::newRow("huge num is bounded")
        << QByteArray("[cert_num]\nnum=2000000000\n[cert_list]\ncert0=SM.TEST-SERVER\n") << today
        << before << after << subjects << false << true;

    // Entries with commas are matched as the operator wrote them.
    QTest::newRow("whole subject, unquoted")
        << QByteArray("[cert_num]\nnum=1\n[cert_list]\ncert0=dnQualifier=abc\\+def=,CN=SM.TEST-"
                      "SERVER,O=example.org\n")
        << today << before << after << subjects << false << true;
    QTest::newRow("unquoted entry whose parts match but whole does not")
        << QByteArray("[cert_num]\nnum=1\n[cert_list]\ncert0=O=example.org,CN=SM.TEST-SERVER\n")
        << today << before << after << subjects << false << false;
    QTest::newRow("unquoted entry with a blank after the comma")
        << QByteArray("[cert_num]\nnum=1\n[cert_list]\ncert0=CN=SM.TEST-SERVER, O=example.org\n")
        << today << before << after << subjects << false << false;
    QTest::newRow("quoted whole subject")
        << QByteArray("[cert_num]\nnum=1\n[cert_list]\ncert0=\"dnQualifier=abc\\\\+def=,CN=SM."
                      "TEST-SERVER,O=example.org\"\n")
        << today << before << after << subjects << false << true;
    QTest::newRow("unquoted whole subject and a comment")
        << QByteArray("[cert_num]\nnum=1\n[cert_list]\ncert0=dnQualifier=abc\\+def=,CN=SM.TEST-"
                      "SERVER ; hall 1\n")
        << today << before << after << subjects << false << true;
    QTest::newRow("unquoted backslash kept")
        << QByteArray("[cert_num]\nnum=1\n[cert_list]\ncert0=abc\\+def=\n") << today << before
        << after << subjects << false << true;
    QTest::newRow("Dolphin subject copied from its KDM")
        << QByteArray("[cert_num]\nnum=1\n[cert_list]\ncert0=") + dolphin.toUtf8() + "\n"
        << today << before << after << QStringList({dolphin}) << false << true;
}

void TestDiscovery::selectKdm()
{
    QFETCH(QByteArray, ini);
    QFETCH(QDate, today);
    QFETCH(QString, notValidBefore);
    QFETCH(QString, notValidAfter);
    QFETCH(QStringList, subjects);
    QFETCH(bool, otherComposition);
    QFETCH(bool, chosen);

    QFile::remove(settingsPath());
    if (!ini.isEmpty())
        writeIni(ini);
    setCurrentLocalDateOverride(today);

    DcpInspector inspector;
    inspector.resetRunData();
    CplInfo cpl;
    cpl.id = QStringLiteral("urn:uuid:27f3b280-6b7b-4569-bd3c-c706b746027f");
    inspector.cpls.append(cpl);
    KdmInfo kdm;
    kdm.messageId = QStringLiteral("urn:uuid:c2b01941-a633-4ee1-9101-4645cca97be1");
    kdm.compositionPlaylistId =
        otherComposition ? QStringLiteral("urn:uuid:27F3B280-6B7B-4569-BD3C-C706B746027F") : cpl.id;
    kdm.notValidBefore = notValidBefore;
    kdm.notValidAfter = notValidAfter;
    kdm.subjectNames = QVector<QString>(subjects.begin(), subjects.end());
    inspector.kdms.append(kdm);

    QElapsedTimer timer;
    timer.start();
    QCOMPARE(inspector.selectKdm(), chosen);
    QVERIFY(timer.elapsed() < 5000);
    QCOMPARE(inspector.kdm.messageId, chosen ? kdm.messageId : QString());
}

void TestDiscovery::firstMatchingKdmWins()
{
    DcpInspector inspector;
    inspector.resetRunData();
    CplInfo cpl;
    cpl.id = FixtureBuilder::newUrnUuid();
    inspector.cpls.append(cpl);
    KdmInfo kdm;
    kdm.compositionPlaylistId = cpl.id;
    kdm.notValidAfter = QStringLiteral("2023-01-31T23:59:59+08:00"); // expired
    kdm.subjectNames = {kServer};
    kdm.messageId = QStringLiteral("expired");
    inspector.kdms.append(kdm);
    kdm.notValidAfter = QStringLiteral("2023-06-30T23:59:59+08:00");
    for (const char *id : {"first", "second"}) {
        kdm.messageId = QLatin1String(id);
        inspector.kdms.append(kdm);
    }
    QVERIFY(inspector.selectKdm());
    QCOMPARE(inspector.kdm.messageId, QStringLiteral("first"));
}

void TestDiscovery::settingsAreReadAtEachUse()
{
    DcpInspector inspector;
    inspector.resetRunData();
    CplInfo cpl;
    cpl.id = FixtureBuilder::newUrnUuid();
    inspector.cpls.append(cpl);
    KdmInfo kdm;
    kdm.compositionPlaylistId = cpl.id;
    kdm.notValidAfter = QStringLiteral("2023-06-30T23:59:59+08:00");
    kdm.subjectNames = {kServer};
    inspector.kdms.append(kdm);

    FixtureBuilder::writeSettings(settingsPath(), 0, {QStringLiteral("CN=OTHER")});
    QVERIFY(!inspector.selectKdm());
    const QString second = m_settings->filePath(QStringLiteral("second.ini"));
    FixtureBuilder::writeSettings(second, 0, {QStringLiteral("CN=OTHER"), kServer});
    setSettingsFilePath(second);
    QVERIFY(inspector.selectKdm());
}

void TestDiscovery::corpusMasters_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("cplId");

    QTest::newRow("libdcp dcp_test1 (SMPTE)") << "cth103__libdcp/test/ref/DCP/dcp_test1" << -8
                                              << "urn:uuid:6affb8ee-0020-4dff-a53c-17652f6358ab";
    QTest::newRow("libdcp dcp_test2 (SMPTE 3D)")
        << "cth103__libdcp/test/ref/DCP/dcp_test2" << -8 << QString();
    QTest::newRow("libdcp dcp_test3 (Interop)") << "cth103__libdcp/test/ref/DCP/dcp_test3" << -8
                                                << "urn:uuid:cbfd2bc0-21cf-4a8f-95d8-9cddcbe51296";
    QTest::newRow("libdcp extra_assetmap (0-byte mxf)")
        << "cth103__libdcp/test/data/extra_assetmap" << -8 << QString();
    QTest::newRow("libdcp encryption_test without KDM")
        << "cth103__libdcp/test/ref/DCP/encryption_test" << -7 << QString();
    QTest::newRow("ClairMeta ECL01 without its picture files")
        << "Ymagis__ClairMeta_Data/DCP/ECL-SET/"
           "ECL01-SINGLE-CPL_TST_S_EN-XX_UK-U_71_2K_DI_20171218_ECL_IOP_OV"
        << -2 << QString();
}

// Corpus folders are reached through a link from a temporary disk: they are never copied.
void TestDiscovery::corpusMasters()
{
    QFETCH(QString, folder);
    QFETCH(int, code);
    QFETCH(QString, cplId);
    const QString corpus = corpusDir();
    if (corpus.isEmpty())
        QSKIP("the DCP corpus is not available");
    makeLink(corpus + QLatin1Char('/') + folder, m_disk->path() + QStringLiteral("/master"));
    DcpInspector inspector;
    QCOMPARE(load(inspector, m_disk->path()), code);
    if (!cplId.isEmpty())
        QCOMPARE(inspector.cpls.value(0).id, cplId);
    if (folder.endsWith(QLatin1String("dcp_test2")))
        QVERIFY(inspector.cpls.value(0).stereoscopic);
}

void TestDiscovery::corpusKdms_data()
{
    QTest::addColumn<QStringList>("kdmFiles");
    QTest::addColumn<QDate>("today");
    QTest::addColumn<QString>("cert");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("messageId");

    const QString libdcpKdm = QStringLiteral(
        "cth103__libdcp/test/data/"
        "kdm_TONEPLATES-SMPTE-ENC_.smpte-430-2.ROOT.NOT_FOR_PRODUCTION_20130706_20230702_CAR_OV_t1_"
        "8971c838.xml");
    const QString juliuss = QStringLiteral(
        "wolfgangw__digital_cinema_tools/encryption/kdm/juliuss/"
        "k_TONEPLATES-SMPTE-ENC_IMB-227577.DC.DOLPHIN.DC2.SMPTE_20120115_20120212_WOL_OV_da_"
        "49022615.xml");
    const QString libdcpLeaf = QStringLiteral(
        "dnQualifier=MekIXGBkYdh28siMnnF/Zs2JeK8=,CN=CS.smpte-430-2.LEAF.NOT_FOR_PRODUCTION,"
        "OU=example.org,O=example.org");
    const QString dolphin = QStringLiteral(
        "dnQualifier=dUsGkBgVHURva/kNS\\+EHaCrg87M=,CN=LE SPB MD FM "
        "SM.IMB-227577.DC.DOLPHIN.DC2.SMPTE,OU=DC.DOREMILABS.COM,O=DC2.SMPTE.DOREMILABS.COM");

    QTest::newRow("libdcp KDM before expiry")
        << QStringList{libdcpKdm} << QDate(2023, 1, 18) << libdcpLeaf << 0
        << "urn:uuid:51389295-3fed-41a5-9cdf-7de42d7e32c7";
    QTest::newRow("libdcp KDM on its expiry day")
        << QStringList{libdcpKdm} << QDate(2023, 1, 19) << libdcpLeaf << -9 << QString();
    QTest::newRow("libdcp KDM, another device")
        << QStringList{libdcpKdm} << QDate(2023, 1, 18) << dolphin << -9 << QString();
    QTest::newRow("Dolphin KDM, its whole subject name unquoted")
        << QStringList{libdcpKdm, juliuss} << QDate(2012, 2, 1) << dolphin << 0
        << "urn:uuid:49022615-06d0-4e53-8194-a9b861528d72";
    QTest::newRow("Dolphin KDM, after expiry")
        << QStringList{juliuss} << QDate(2012, 2, 12) << dolphin << -9 << QString();
}

void TestDiscovery::corpusKdms()
{
    QFETCH(QStringList, kdmFiles);
    QFETCH(QDate, today);
    QFETCH(QString, cert);
    QFETCH(int, code);
    QFETCH(QString, messageId);
    const QString corpus = corpusDir();
    if (corpus.isEmpty())
        QSKIP("the DCP corpus is not available");
    makeLink(corpus + QStringLiteral("/wolfgangw__digital_cinema_tools/encryption/"
                                     "TONEPLATES-SMPTE-ENCRYPTED_TST_F_XX-XX_ITL-TD_51-XX_2K_WOE_"
                                     "20111001_WOE_OV"),
             m_disk->path() + QStringLiteral("/TONEPLATES"));
    QDir(m_disk->path()).mkpath(QStringLiteral("KDM"));
    for (int i = 0; i < kdmFiles.size(); ++i)
        makeLink(corpus + QLatin1Char('/') + kdmFiles[i],
                 m_disk->path() + QStringLiteral("/KDM/k%1.xml").arg(i));
    // Written as an operator would: the subject name pasted without quotes.
    writeIni("[cert_num]\nnum=1\n[cert_list]\ncert0=" + cert.toUtf8() + "\n");
    setCurrentLocalDateOverride(today);

    DcpInspector inspector;
    QCOMPARE(load(inspector, m_disk->path()), code);
    QCOMPARE(inspector.kdms.size(), kdmFiles.size());
    QCOMPARE(inspector.kdm.messageId, messageId);
}

void TestDiscovery::corpusAsOneDisk()
{
    const QString corpus = corpusDir();
    if (corpus.isEmpty())
        QSKIP("the DCP corpus is not available");
    int expected = 0;
    QDirIterator it(corpus, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        expected += it.fileName() == QLatin1String("ASSETMAP") ||
                    it.fileName() == QLatin1String("ASSETMAP.xml");
    }
    QVERIFY(expected >= 2);
    DcpInspector inspector;
    QCOMPARE(load(inspector, corpus), expected);
}

QTEST_GUILESS_MAIN(TestDiscovery)
#include "test_discovery.moc"
