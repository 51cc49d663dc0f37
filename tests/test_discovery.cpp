#include "dcp/DcpInspector.h"
#include "dcp/RunEnvironment.h"
#include "support/FixtureBuilder.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

// findMaster's messages by number; 0 is success.
const QStringList kMessages = {
    QString(),
    QStringLiteral("移动硬盘内有多个送审母版，请确认只有一个送审母版后，再进行检测!"),
    QStringLiteral("未检查到送审母版的AssetMap文件，请确认移动硬盘内存入送审母版后，再进行检测!"),
    QStringLiteral("送审母版文件不全，请确认存入完整送审母版后，再进行检测!"),
    QStringLiteral("未检测到CPL文件，请确认存入完整送审母版后，再进行检测!"),
    QStringLiteral("检测到多个CPL文件，请确认送审母版只包含1个CPL文件后，再进行检测!"),
    QStringLiteral("未检测到PKL文件，请确认存入完整送审母版后，再进行检测!"),
    QStringLiteral("检测到多个PKL文件，请确认送审母版只包含1个PKL文件后，再进行检测!"),
    QStringLiteral("未检查到相符的授权密钥文件（KDM），请确保授权密钥时间和授权放映设备正确后，"
                   "再进行检测!"),
    QStringLiteral("未检查到移动硬盘，请确认移动硬盘已经接入电脑后，再进行检测!")};

void writeText(const QString &path, const QByteArray &text)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
}

void appendText(const QString &path, const QByteArray &text)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::Append));
    file.write(text);
}

void link(const QString &target, const QString &linkPath)
{
    QVERIFY2(QFile::link(target, linkPath), qPrintable(linkPath));
}

// "set.ini" with the given entries, written unquoted as an operator would.
QByteArray certIni(const QByteArray &num, const QByteArray &cert0)
{
    return "[cert_num]\nnum=" + num + "\n[cert_list]\ncert0=" + cert0 + '\n';
}

KdmInfo kdmFor(const QString &cplId, const char *messageId, const char *notValidAfter)
{
    return {QString(), QLatin1String(messageId),     cplId,
            QString(), QLatin1String(notValidAfter), {KdmSpec().subjectNames.first()}};
}

} // namespace

class TestDiscovery : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void findMaster_data();
    void findMaster();
    void firstMatchingKdmWins();

private:
    QString disk() const { return m_work->filePath(QStringLiteral("disk")); }
    QString settings() const { return m_work->filePath(QStringLiteral("set.ini")); }
    void buildDisk(const QString &words);

    std::unique_ptr<QTemporaryDir> m_work;
};

void TestDiscovery::init()
{
    m_work = std::make_unique<QTemporaryDir>();
    QVERIFY(m_work->isValid() && QDir().mkpath(disk()));
    setSettingsFilePath(settings());
    setCurrentLocalDateOverride(QDate(2023, 2, 1));
}

// Writes the disk and the settings a row describes in words, "name" or "name=value".
void TestDiscovery::buildDisk(const QString &words)
{
    QHash<QString, QString> knob;
    for (const QString &word : words.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        knob.insert(word.section(QLatin1Char('='), 0, 0), word.section(QLatin1Char('='), 1));
    const auto has = [&](const char *name) { return knob.contains(QLatin1String(name)); };
    const auto value = [&](const char *name, const char *usual = "") {
        return knob.value(QLatin1String(name), QLatin1String(usual));
    };
    if (!has("noIni"))
        writeText(settings(),
                  certIni(value("num", "1").toUtf8(), value("cert", "SM.TEST-SERVER").toUtf8()));
    if (has("longComment")) // a 64 KiB line whose tail, read on its own, names the KDM's device
        appendText(settings(), ';' + QByteArray(65534, 'x') + "cert0=SM.TEST-SERVER\n");
    if (has("hugeIni")) // a file beyond the settings limit approves nothing
        appendText(settings(), QByteArray(2 << 20, '\n'));
    if (has("today"))
        setCurrentLocalDateOverride(QDate::fromString(value("today"), Qt::ISODate));
    if (has("corpus")) { // corpus folders are reached through links, never copied
        const QString corpus = corpusDir() + QLatin1Char('/');
        link(corpus + value("corpus"), disk() + QStringLiteral("/M"));
        if (has("corpusKdm"))
            link(corpus + value("corpusKdm"), disk() + QStringLiteral("/k.xml"));
    }
    if (has("none") || has("corpus"))
        return;
    FixtureBuilder builder(disk());
    MasterSpec master;
    master.folder = value("folder", "DCP");
    master.assetMapFileName = value("am");
    master.omitFirstTrackFile = has("noTrack");
    master.noCpl = has("noCpl");
    master.secondCpl = has("twoCpls");
    master.noPkl = has("noPkl");
    master.secondPkl = has("twoPkls");
    master.encrypted = has("encrypted") || has("kdm");
    const BuiltMaster built = builder.writeMaster(master);
    if (has("copy")) {
        master.folder = value("copy");
        builder.writeMaster(master);
    }
    if (has("link"))
        link(built.folder, disk() + QStringLiteral("/copy"));
    if (has("cycle")) { // a link to an ancestor and one to itself
        link(disk(), built.folder + QStringLiteral("/up"));
        QDir(disk()).mkpath(QStringLiteral("loop"));
        link(disk() + QStringLiteral("/loop"), disk() + QStringLiteral("/loop/self"));
    }
    const KdmSpec kdm{value("kdmFolder"), value("kdmName", "kdm.xml"),
                      has("otherCpl") ? FixtureBuilder::newUrnUuid() : QString(),
                      value("before", "2023-01-01T00:00:00+08:00"),
                      value("after", "2099-03-01T23:59:59+08:00")};
    if (has("kdm"))
        builder.writeKdm(built, kdm);
}

void TestDiscovery::findMaster_data()
{
    QTest::addColumn<QString>("words");
    QTest::addColumn<int>("code");    // loadMaster's
    QTest::addColumn<int>("message"); // findMaster's

    QTest::newRow("no removable disk") << "noDisk none" << -1 << 9;
    QTest::newRow("empty disk") << "none" << -1 << 2;
    QTest::newRow("asset map named assetmap.xml") << "am=assetmap.xml" << -1 << 2;
    QTest::newRow("asset map named ASSETMAP.XML") << "am=ASSETMAP.XML" << -1 << 2;
    QTest::newRow("two copies") << "copy=other" << 2 << 1;
    QTest::newRow("a copy at depth 6") << "copy=a/b/c/d/e/DCP" << 2 << 1;
    QTest::newRow("a copy through a folder link") << "link" << 2 << 1;
    QTest::newRow("link cycles") << "cycle" << -8 << 0;
    QTest::newRow("track file missing") << "noTrack" << -2 << 3;
    QTest::newRow("no composition") << "noCpl" << -3 << 4;
    QTest::newRow("two compositions") << "twoCpls" << -4 << 5;
    QTest::newRow("no packing list") << "noPkl" << -5 << 6;
    QTest::newRow("two packing lists") << "twoPkls" << -6 << 7;
    QTest::newRow("encrypted, no KDM") << "encrypted" << -7 << 8;
    QTest::newRow("KDM named kdm.XML") << "kdm kdmName=kdm.XML" << -7 << 8;
    QTest::newRow("KDM for another composition") << "kdm otherCpl" << -9 << 8;
    QTest::newRow("KDM expires today") << "kdm after=2023-02-01T23:59:59+08:00" << -9 << 8;
    QTest::newRow("KDM expires tomorrow, not yet valid")
        << "kdm after=2023-02-02T00:00:00+08:00 before=2099-01-01T00:00:00+08:00" << 0 << 0;
    QTest::newRow("KDM outside the master") << "kdm kdmFolder=keys/hall1" << 0 << 0;
    QTest::newRow("certificate of another device") << "kdm cert=CN=OTHER" << -9 << 8;
    QTest::newRow("second certificate entry missing") << "kdm num=2 cert=CN=OTHER" << -9 << 8;
    QTest::newRow("empty certificate entry") << "kdm cert=" << -9 << 8;
    QTest::newRow("no settings file") << "kdm noIni" << -9 << 8;
    QTest::newRow("whole subject name, unquoted")
        << "kdm cert=dnQualifier=abc\\+def=,CN=SM.TEST-SERVER,O=example.org" << 0 << 0;
    QTest::newRow("subject name parts reordered, unquoted")
        << "kdm cert=O=example.org,CN=SM.TEST-SERVER" << -9 << 8;
    QTest::newRow("entry in a long comment") << "kdm cert=CN=OTHER longComment" << -9 << 8;
    QTest::newRow("settings file too large") << "kdm hugeIni" << -9 << 8;
    QTest::newRow("not encrypted") << "" << -8 << 0;
    QTest::newRow("asset map at the disk root") << "folder=" << -8 << 0;
    QTest::newRow("corpus SMPTE") << "corpus=cth103__libdcp/test/ref/DCP/dcp_test1" << -8 << 0;
    QTest::newRow("corpus SMPTE 3D") << "corpus=cth103__libdcp/test/ref/DCP/dcp_test2" << -8 << 0;
    QTest::newRow("corpus Interop") << "corpus=cth103__libdcp/test/ref/DCP/dcp_test3" << -8 << 0;
    QTest::newRow("corpus asset map with an extra file")
        << "corpus=cth103__libdcp/test/data/extra_assetmap" << -8 << 0;
    QTest::newRow("corpus encrypted, with its real KDM")
        << "corpus=wolfgangw__digital_cinema_tools/encryption/TONEPLATES-SMPTE-ENCRYPTED_TST_F_"
           "XX-XX_ITL-TD_51-XX_2K_WOE_20111001_WOE_OV corpusKdm=cth103__libdcp/test/data/"
           "kdm_TONEPLATES-SMPTE-ENC_.smpte-430-2.ROOT.NOT_FOR_PRODUCTION_20130706_20230702_CAR_"
           "OV_t1_8971c838.xml today=2023-01-18 cert=dnQualifier=MekIXGBkYdh28siMnnF/Zs2JeK8=,"
           "CN=CS.smpte-430-2.LEAF.NOT_FOR_PRODUCTION,OU=example.org,O=example.org"
        << 0 << 0;
}

void TestDiscovery::findMaster()
{
    QFETCH(QString, words);
    QFETCH(int, code);
    QFETCH(int, message);
    if (words.contains(QLatin1String("corpus=")) && corpusDir().isEmpty())
        QSKIP("the DCP corpus is not available");
    buildDisk(words);
    DcpInspector probe;
    QCOMPARE(probe.loadMaster(disk()), code);

    DcpInspector inspector;
    inspector.resetRunData();
    if (!words.contains(QLatin1String("noDisk")))
        inspector.removableDrives = {disk()};
    QString text = QStringLiteral("untouched");
    QCOMPARE(inspector.findMaster(text), message == 0);
    QCOMPARE(text, message == 0 ? QStringLiteral("untouched") : kMessages[message]);
    if (message == 0) {
        QCOMPARE(inspector.encrypted, code == 0);
        QCOMPARE(inspector.kdms.size(), code == 0 ? 1 : 0);
        QCOMPARE(inspector.kdm.compositionPlaylistId, code == 0 ? inspector.cpls[0].id : QString());
        // The asset map's paths lead to every file, as the package rules then find.
        QVERIFY(inspector.checkAssetPaths(text) && inspector.checkPklAssets(text));
    }
}

void TestDiscovery::firstMatchingKdmWins()
{
    writeText(settings(), certIni("1", "CN=OTHER"));
    DcpInspector inspector;
    inspector.resetRunData();
    inspector.cpls = {CplInfo()};
    const QString id = inspector.cpls[0].id = FixtureBuilder::newUrnUuid();
    inspector.kdms = {kdmFor(id, "expired", "2023-01-31T23:59:59+08:00"),
                      kdmFor(id, "first", "2023-02-02T00:00:00+08:00"),
                      kdmFor(id, "second", "2099-01-01T00:00:00+08:00")};
    QVERIFY(!inspector.selectKdm());
    // The settings file is read afresh at each use.
    writeText(settings(), certIni("1", "SM.TEST-SERVER"));
    QVERIFY(inspector.selectKdm());
    QCOMPARE(inspector.kdm.messageId, QStringLiteral("first"));
}

QTEST_GUILESS_MAIN(TestDiscovery)
#include "test_discovery.moc"
