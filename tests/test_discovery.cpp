#include "dcp/DcpInspector.h"
#include "dcp/FileProblems.h"
#include "dcp/MasterFiles.h"
#include "dcp/RunEnvironment.h"
#include "support/FixtureBuilder.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QHash>
#include <QRegularExpression>
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

void link(const QString &target, const QString &linkPath)
{
    QVERIFY2(QFile::link(target, linkPath), qPrintable(linkPath));
}

// Moves a file away and leaves a link to its new place where it was.
void moveAndLink(const QString &from, const QString &to)
{
    QVERIFY(QDir().mkpath(QFileInfo(to).path()) && QFile::rename(from, to));
    link(to, from);
}

// A master is copied onto the disk: a link to a folder outside it would not be on the disk.
void copyTree(const QString &from, const QString &to)
{
    QVERIFY(QDir().mkpath(to));
    for (QDirIterator it(from, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot,
                         QDirIterator::Subdirectories);
         it.hasNext();) {
        const QString path = it.next();
        const QString target = to + path.mid(from.size());
        QVERIFY(it.fileInfo().isDir() ? QDir().mkpath(target) : QFile::copy(path, target));
    }
}

void rewrite(const QString &path, const QRegularExpression &pattern, const QString &replacement)
{
    writeFile(path, QString::fromUtf8(readFile(path)).replace(pattern, replacement).toUtf8());
}

// "set.ini" with the given entries, written unquoted as an operator would.
QByteArray certIni(const QByteArray &num, const QByteArray &cert0)
{
    return "[cert_num]\nnum=" + num + "\n[cert_list]\ncert0=" + cert0 + '\n';
}

KdmInfo kdmFor(const QString &cplId, const char *messageId, const char *notValidAfter)
{
    const QString recipient = KdmLayout().subjectNames.first();
    return {QString(),
            QLatin1String(messageId),
            cplId,
            QString(),
            QLatin1String(notValidAfter),
            {recipient},
            recipient,
            QString()};
}

} // namespace

class TestDiscovery : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { failOnQtWarnings(); }
    void init();
    void findMaster_data();
    void findMaster();
    void firstMatchingKdmWins();
    void linkTreeIsWalkedOnce();

private:
    QString disk() const { return m_work->filePath(QStringLiteral("disk")); }
    QString settings() const { return m_work->filePath(QStringLiteral("set.ini")); }
    void buildDisk(const QString &words);

    std::unique_ptr<QTemporaryDir> m_work;
    QString m_unreadable; // the file a row made unreadable
};

void TestDiscovery::init()
{
    m_work = std::make_unique<QTemporaryDir>();
    QVERIFY(m_work->isValid() && QDir().mkpath(disk()));
    m_unreadable.clear();
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
        writeFile(settings(),
                  certIni(value("num", "1").toUtf8(), value("cert", "SM.TEST-SERVER").toUtf8()));
    if (has("longComment")) // a 64 KiB line whose tail, read on its own, names the KDM's device
        writeFile(settings(), ';' + QByteArray(65534, 'x') + "cert0=SM.TEST-SERVER\n", true);
    if (has("certComment")) // blanks, then a comment after the entry
        writeFile(settings(), certIni("1", "SM.TEST-SERVER \t ; hall 1"));
    if (has("certElsewhere")) // the same key, later, in another section
        writeFile(settings(), "[old_list]\ncert0=CN=OTHER\n", true);
    if (has("hugeIni")) // a file beyond the settings limit approves nothing
        writeFile(settings(), QByteArray(2 << 20, '\n'), true);
    if (has("today"))
        setCurrentLocalDateOverride(QDate::fromString(value("today"), Qt::ISODate));
    if (has("corpus")) {
        const QString corpus = corpusDir() + QLatin1Char('/');
        copyTree(corpus + value("corpus"), disk() + QStringLiteral("/M"));
        if (has("corpusKdm"))
            QVERIFY(QFile::copy(corpus + value("corpusKdm"), disk() + QStringLiteral("/k.xml")));
    }
    if (has("none") || has("corpus"))
        return;
    FixtureBuilder builder(disk());
    MasterLayout master;
    master.folder = value("folder", "DCP");
    master.assetMapFileName = value("am");
    master.omitFirstTrackFile = has("noTrack");
    master.noCpl = has("noCpl");
    master.secondCpl = has("twoCpls");
    master.noPkl = has("noPkl");
    master.secondPkl = has("twoPkls");
    master.encrypted = has("encrypted") || has("kdm");
    if (has("masterOutside")) { // reached through a folder link on the disk
        master.folder = QStringLiteral("../outside");
        link(m_work->filePath(QStringLiteral("outside")), disk() + QStringLiteral("/DCP"));
    }
    const BuiltMaster built = builder.writeMaster(master);
    const QString track = built.trackPaths.first();
    const QString trackName = QFileInfo(track).fileName();
    if (has("up")) { // the Path climbs to a file beside the master's folder
        QVERIFY(QFile::rename(track, disk() + QLatin1Char('/') + trackName));
        rewrite(built.assetMapPath, QRegularExpression(QStringLiteral(">") + trackName),
                QStringLiteral(">../") + trackName);
    }
    if (has("trackOutside"))
        moveAndLink(track, m_work->filePath(trackName));
    if (has("trackElsewhere")) // elsewhere on the disk
        moveAndLink(track, disk() + QStringLiteral("/store/") + trackName);
    if (has("spaces")) // XML white space around every id and path of the asset map
        rewrite(built.assetMapPath, QRegularExpression(QStringLiteral("<(Id|Path)>([^<]*)<")),
                QStringLiteral("<\\1>\r\n\t \\2 \n\t<"));
    if (has("upperXml")) { // the composition and the packing list named *.XML
        for (const QFileInfo &document :
             QDir(built.folder)
                 .entryInfoList({QStringLiteral("cpl_*.xml"), QStringLiteral("pkl_*.xml")}))
            QVERIFY(QFile::rename(document.filePath(), document.path() + QLatin1Char('/') +
                                                           document.completeBaseName() +
                                                           QStringLiteral(".XML")));
        rewrite(built.assetMapPath, QRegularExpression(QStringLiteral("((cpl|pkl)_[^<]*)\\.xml<")),
                QStringLiteral("\\1.XML<"));
    }
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
    KdmLayout kdm{value("kdmFolder"), value("kdmName", "kdm.xml"),
                  has("otherCpl") ? FixtureBuilder::newUrnUuid() : QString(),
                  value("before", "2023-01-01T00:00:00+08:00"),
                  value("after", "2099-03-01T23:59:59+08:00")};
    if (has("recipient")) // the approved device's name stands only in the signer chain
        kdm.subjectNames.prepend(value("recipient"));
    if (has("kdmOutside"))
        kdm.folder = QStringLiteral("../keys");
    const QString kdmPath = has("kdm") ? builder.writeKdm(built, kdm) : QString();
    if (has("kdmOutside"))
        link(kdmPath, disk() + QStringLiteral("/kdm.xml"));

    const QString unreadable = value("unreadable");
    m_unreadable = unreadable == QLatin1String("am")    ? built.assetMapPath
                   : unreadable == QLatin1String("cpl") ? built.pklAssetPaths.first()
                   : unreadable == QLatin1String("kdm") ? kdmPath
                                                        : QString();
    if (unreadable == QLatin1String("pkl"))
        m_unreadable = QDir(built.folder)
                           .entryInfoList({QStringLiteral("pkl_*.xml")})
                           .value(0)
                           .absoluteFilePath();
}

void TestDiscovery::findMaster_data()
{
    QTest::addColumn<QString>("words");
    QTest::addColumn<int>("code");    // loadMaster's
    QTest::addColumn<int>("message"); // findMaster's

    QTest::newRow("no removable disk") << "noDisk none" << -1 << 9;
    QTest::newRow("empty disk") << "none" << -1 << 2;
    QTest::newRow("asset map named assetmap.xml") << "am=assetmap.xml" << -1 << 2;
    QTest::newRow("two copies") << "copy=other" << 2 << 1;
    QTest::newRow("a copy at depth 6") << "copy=a/b/c/d/e/DCP" << 2 << 1;
    QTest::newRow("a link to the master's folder") << "link" << -8 << 0;
    QTest::newRow("link cycles") << "cycle" << -8 << 0;
    QTest::newRow("track file missing") << "noTrack" << -2 << 3;
    QTest::newRow("Path climbing above the master") << "up" << -2 << 3;
    QTest::newRow("track linked outside the disk") << "trackOutside" << -2 << 3;
    QTest::newRow("track linked elsewhere on the disk") << "trackElsewhere" << -8 << 0;
    QTest::newRow("master linked from outside the disk") << "masterOutside" << -1 << 2;
    QTest::newRow("white space around ids and paths") << "spaces" << -8 << 0;
    QTest::newRow("asset map unreadable") << "unreadable=am" << -10 << 10;
    QTest::newRow("composition unreadable") << "unreadable=cpl" << -10 << 10;
    QTest::newRow("packing list unreadable") << "unreadable=pkl" << -10 << 10;
    QTest::newRow("KDM unreadable") << "kdm unreadable=kdm" << -10 << 10;
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
    QTest::newRow("KDM in a hidden folder") << "kdm kdmFolder=.keys" << -7 << 8;
    QTest::newRow("master in a hidden folder") << "folder=.trash/DCP" << -1 << 2;
    QTest::newRow("certificate of another device") << "kdm cert=CN=OTHER" << -9 << 8;
    QTest::newRow("certificate in other letter case") << "kdm cert=sm.test-server" << -9 << 8;
    QTest::newRow("certificate, blanks and a comment after it") << "kdm certComment" << 0 << 0;
    QTest::newRow("same key in another section") << "kdm certElsewhere" << 0 << 0;
    QTest::newRow("approved name only in the signer chain")
        << "kdm recipient=CN=SM.OTHER-SERVER" << -9 << 8;
    QTest::newRow("KDM linked from outside the disk") << "kdm kdmOutside" << -7 << 8;
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
    QTest::newRow("composition and packing list named *.XML") << "upperXml" << -8 << 0;
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
    // Corpus folders and the links of these rows are made with QFile::link.
    SKIP_ON_WINDOWS_IF(
        words.contains(QRegularExpression(QStringLiteral("\\b(corpus|link|cycle)\\b"))) ||
            currentRowIn({QStringLiteral("track linked outside the disk")}),
        POSIX_FIXTURE);
    buildDisk(words);
    if (QTest::currentTestFailed())
        return;
    DcpInspector probe;
    DcpInspector inspector;
    inspector.resetRunData();
    probe.settings = inspector.settings = readRunSettings(settings());
    if (!words.contains(QLatin1String("noDisk")))
        inspector.removableDrives = {disk()};
    QString text = QStringLiteral("untouched");
    {
        std::unique_ptr<Unreadable> denied;
        if (!m_unreadable.isEmpty()) {
            denied = std::make_unique<Unreadable>(m_unreadable);
            if (QFile(m_unreadable).open(QIODevice::ReadOnly))
                QSKIP("this process reads files whatever their permissions");
        }
        QCOMPARE(probe.loadMaster(disk()), code);
        QCOMPARE(inspector.findMaster(text), message == 0);
    }
    const QString expected = message == 0 ? QStringLiteral("untouched")
                             : message == 10
                                 ? unreadableFileMessage(m_unreadable, unreadableReason())
                                 : kMessages[message];
    QCOMPARE(text, expected);
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
    writeFile(settings(), certIni("1", "CN=OTHER"));
    DcpInspector inspector;
    inspector.resetRunData();
    inspector.cpls = {CplInfo()};
    const QString id = inspector.cpls[0].id = FixtureBuilder::newUrnUuid();
    inspector.kdms = {kdmFor(id, "expired", "2023-01-31T23:59:59+08:00"),
                      kdmFor(id, "first", "2023-02-02T00:00:00+08:00"),
                      kdmFor(id, "second", "2099-01-01T00:00:00+08:00")};
    inspector.settings = readRunSettings(settings());
    QVERIFY(!inspector.selectKdm());
    writeFile(settings(), certIni("1", "SM.TEST-SERVER"));
    inspector.settings = readRunSettings(settings());
    QVERIFY(inspector.selectKdm());
    QCOMPARE(inspector.kdm.messageId, QStringLiteral("first"));
}

// Folders x0 ... x30, each holding two links to the next: followed blindly, 2^31 paths. Each real
// folder is walked once, and the stop check, asked as the walk goes, ends it wherever it fires.
void TestDiscovery::linkTreeIsWalkedOnce()
{
    for (int i = 0; i <= 30; ++i) {
        const QString folder = disk() + QStringLiteral("/x%1").arg(i);
        QVERIFY(QDir().mkpath(folder));
        for (const char *name : {"/a", "/b"})
            if (i < 30)
                link(disk() + QStringLiteral("/x%1").arg(i + 1), folder + QLatin1String(name));
    }
    MasterWalk walk(disk(), MasterWalk::FollowFolderLinks);
    QVERIFY(walk.run([](const QFileInfo &) { return true; }));
    QCOMPARE(walk.foldersWalked(), 32);

    // An encrypted master with its KDM on the same disk: both walks run.
    buildDisk(QStringLiteral("kdm"));
    int polls = 0;
    DcpInspector inspector;
    inspector.settings = readRunSettings(settings());
    inspector.stopRequested = [&polls] { return ++polls < 0; };
    QCOMPARE(inspector.loadMaster(disk()), int(DcpInspector::MasterOk));
    const int allPolls = polls;
    QVERIFY2(allPolls >= 2 * 33 && allPolls < 100, qPrintable(QString::number(allPolls)));
    for (int stopAt = 1; stopAt <= allPolls; ++stopAt) {
        polls = 0;
        inspector.resetRunData();
        inspector.stopRequested = [&polls, stopAt] { return ++polls >= stopAt; };
        QCOMPARE(inspector.loadMaster(disk()), int(DcpInspector::Interrupted));
        QCOMPARE(polls, stopAt);
    }
    inspector.resetRunData();
    inspector.removableDrives = {disk()};
    QString message = QStringLiteral("untouched");
    QVERIFY(!inspector.findMaster(message));
    QVERIFY(message.isEmpty());
}

QTEST_GUILESS_MAIN(TestDiscovery)
#include "test_discovery.moc"
