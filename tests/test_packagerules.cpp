#include "dcp/DcpInspector.h"
#include "dcp/RunEnvironment.h"
#include "support/FixtureBuilder.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <initializer_list>

namespace {

const QString kNameMessage = QStringLiteral("DCP命名不符合规范，请修改DCP命名后，再进行检测!");
const QString kPklAssetsMessage =
    QStringLiteral("Assetmap中的文件和Cpl中的文件列表未一一对应，请重新制作DCP后，再进行检测!");

QString pathMessage(const QString &path)
{
    return QStringLiteral("Assetmap中的") + path +
           QStringLiteral("文件与实际路径不一致，请重新制作DCP后，再进行检测!");
}

QStringList strings(std::initializer_list<const char *> items)
{
    QStringList list;
    for (const char *item : items)
        list.append(QString::fromUtf8(item));
    return list;
}

AssetInfo asset(const QString &id, const QString &path = QString())
{
    AssetInfo info;
    info.id = id;
    info.path = path;
    return info;
}

const QString kPklId = QStringLiteral("urn:uuid:d199d58b-5ef8-4d49-b270-07e590ccb280");
const QString kCplId = QStringLiteral("urn:uuid:6affb8ee-0020-4dff-a53c-17652f6358ab");
const QString kVideoId = QStringLiteral("urn:uuid:5407b210-4441-4e97-8b16-8bdc7c12da54");
const QString kAudioId = QStringLiteral("urn:uuid:97f0f352-5b77-48ee-a558-9df37717f4fa");

// The package rules in the order the run applies them, with the inline ones written as the run
// writes them; gives the first failing rule's name and message, or "pass".
QString firstFailure(DcpInspector &inspector, QString &message)
{
    if (!inspector.checkDcpName(message))
        return QStringLiteral("name");
    if (inspector.assetMapPaths.isEmpty())
        return QStringLiteral("A.3.1 a");
    if (!hasDcpNamespace(inspector.assetMap.namespaceUri))
        return QStringLiteral("A.3.1 b");
    if (!inspector.checkAssetPaths(message))
        return QStringLiteral("A.3.1 c");
    if (!inspector.pklListedInAssetMap())
        return QStringLiteral("A.3.2 a");
    if (!hasDcpNamespace(inspector.pkls[0].namespaceUri))
        return QStringLiteral("A.3.2 b");
    if (inspector.assetMap.annotationText != inspector.pkls[0].annotationText)
        return QStringLiteral("A.3.2 c");
    if (!inspector.checkPklAssets(message))
        return QStringLiteral("A.3.2 d");
    return QStringLiteral("pass");
}

} // namespace

class TestPackageRules : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void dcpName_data();
    void dcpName();
    void namespaces_data();
    void namespaces();
    void assetPaths_data();
    void assetPaths();
    void pklListed_data();
    void pklListed();
    void pklAssets_data();
    void pklAssets();
    void fixtureMasters_data();
    void fixtureMasters();
    void corpusMasters_data();
    void corpusMasters();
};

void TestPackageRules::cleanup()
{
    setCurrentLocalDateOverride(QDate());
}

void TestPackageRules::dcpName_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<bool>("passes");
    QTest::newRow("empty") << QString() << false;
    QTest::newRow("one character") << "A" << true;
    QTest::newRow("one blank") << " " << true; // only the length counts
    QTest::newRow("free text") << QString::fromUtf8("建国大业 no pattern") << true;
    QTest::newRow("naming convention")
        << "JianGuoDY_FTR_F-185_QMS_51_2K_ZY_20230101_SMPTE_OV" << true;
}

void TestPackageRules::dcpName()
{
    QFETCH(QString, title);
    QFETCH(bool, passes);
    DcpInspector inspector;
    CplInfo cpl;
    cpl.contentTitleText = title;
    inspector.cpls.append(cpl);
    QString message = QStringLiteral("untouched");
    QCOMPARE(inspector.checkDcpName(message), passes);
    QCOMPARE(message, passes ? QStringLiteral("untouched") : kNameMessage);
}

void TestPackageRules::namespaces_data()
{
    QTest::addColumn<QString>("uri");
    QTest::addColumn<bool>("passes");
    QTest::newRow("Interop asset map")
        << "http://www.digicine.com/PROTO-ASDCP-AM-20040311#" << true;
    QTest::newRow("SMPTE packing list") << "http://www.smpte-ra.org/schemas/429-8/2007/PKL" << true;
    QTest::newRow("SMPTE prefix in the middle")
        << "urn:other:http://www.smpte-ra.org/schemas/429-9/2007/AM" << true;
    QTest::newRow("prefix in capitals") << "HTTP://WWW.SMPTE-RA.ORG/schemas/429-9/2007/AM" << false;
    QTest::newRow("https") << "https://www.smpte-ra.org/schemas/429-9/2007/AM" << false;
    QTest::newRow("bad schema year keeps the prefix")
        << "http://www.smpte-ra.org/schemas/429-9/2700/AM" << true;
    QTest::newRow("no namespace") << QString() << false;
    QTest::newRow("other host") << "http://example.org/AM" << false;
}

void TestPackageRules::namespaces()
{
    QFETCH(QString, uri);
    QFETCH(bool, passes);
    QCOMPARE(hasDcpNamespace(uri), passes);
}

void TestPackageRules::assetPaths_data()
{
    QTest::addColumn<QStringList>("paths");
    QTest::addColumn<QString>("failing"); // empty: passes

    QTest::newRow("all present") << strings({"video.mxf", "audio.mxf", "sub/cpl.xml"}) << QString();
    QTest::newRow("no assets") << QStringList() << QString();
    QTest::newRow("file missing") << strings({"video.mxf", "lost.mxf", "audio.mxf"}) << "lost.mxf";
    QTest::newRow("first failure quoted") << strings({"gone1.mxf", "gone2.mxf"}) << "gone1.mxf";
    QTest::newRow("names a folder") << strings({"video.mxf", "sub"}) << "sub";
    QTest::newRow("empty path") << strings({""}) << "";
    QTest::newRow("link to a file") << strings({"linked.mxf"}) << QString();
    QTest::newRow("dangling link") << strings({"dangling.mxf"}) << "dangling.mxf";
    QTest::newRow("other letter case") << strings({"VIDEO.mxf"}) << "VIDEO.mxf";
}

void TestPackageRules::assetPaths()
{
    QFETCH(QStringList, paths);
    QFETCH(QString, failing);
    QTemporaryDir disk;
    QVERIFY(disk.isValid());
    const QString root = disk.path();
    QDir(root).mkpath(QStringLiteral("sub"));
    for (const char *name : {"video.mxf", "audio.mxf", "sub/cpl.xml", "ASSETMAP"}) {
        QFile file(root + QLatin1Char('/') + QLatin1String(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QVERIFY(QFile::link(root + QStringLiteral("/video.mxf"), root + QStringLiteral("/linked.mxf")));
    QVERIFY(QFile::link(root + QStringLiteral("/nowhere"), root + QStringLiteral("/dangling.mxf")));

    DcpInspector inspector;
    inspector.assetMapPaths = {root + QStringLiteral("/ASSETMAP")};
    for (const QString &path : paths)
        inspector.assetMap.assets.append(asset(FixtureBuilder::newUrnUuid(), path));
    QString message = QStringLiteral("untouched");
    const bool passes = failing.isNull();
    QCOMPARE(inspector.checkAssetPaths(message), passes);
    QCOMPARE(message, passes ? QStringLiteral("untouched") : pathMessage(failing));
}

void TestPackageRules::pklListed_data()
{
    QTest::addColumn<QStringList>("mapIds");
    QTest::addColumn<QString>("pklId");
    QTest::addColumn<bool>("passes");
    QTest::newRow("listed first") << QStringList{kPklId, kCplId} << kPklId << true;
    QTest::newRow("listed last") << QStringList{kCplId, kVideoId, kPklId} << kPklId << true;
    QTest::newRow("not listed") << QStringList{kCplId, kVideoId} << kPklId << false;
    QTest::newRow("empty asset map") << QStringList() << kPklId << false;
    QTest::newRow("upper-case id in the packing list")
        << QStringList{kPklId, kCplId} << kPklId.toUpper() << false;
    QTest::newRow("id without URN prefix") << QStringList{kPklId} << kPklId.mid(9) << false;
}

void TestPackageRules::pklListed()
{
    QFETCH(QStringList, mapIds);
    QFETCH(QString, pklId);
    QFETCH(bool, passes);
    DcpInspector inspector;
    for (const QString &id : mapIds)
        inspector.assetMap.assets.append(asset(id));
    PklInfo pkl;
    pkl.id = pklId;
    inspector.pkls.append(pkl);
    QCOMPARE(inspector.pklListedInAssetMap(), passes);
}

void TestPackageRules::pklAssets_data()
{
    // Asset map entries are "id=path"; packing-list entries "id=OriginalFileName".
    QTest::addColumn<QStringList>("mapEntries");
    QTest::addColumn<QStringList>("pklEntries");
    QTest::addColumn<bool>("passes");
    QTest::addColumn<QStringList>("pathsAfter");

    const QString pkl = kPklId + QStringLiteral("=pkl.xml");
    const QString cpl = kCplId + QStringLiteral("=cpl.xml");
    const QString video = kVideoId + QStringLiteral("=video.mxf");
    const QString audio = kAudioId + QStringLiteral("=audio.mxf");

    QTest::newRow("one to one") << QStringList{pkl, cpl, video, audio}
                                << QStringList{cpl, video, audio} << true
                                << strings({"cpl.xml", "video.mxf", "audio.mxf"});
    QTest::newRow("asset map path replaces OriginalFileName")
        << QStringList{cpl, kVideoId + QStringLiteral("=reel1/j2c.mxf")}
        << QStringList{cpl, kVideoId + QStringLiteral("=ORIGINAL_video.mxf")} << true
        << strings({"cpl.xml", "reel1/j2c.mxf"});
    QTest::newRow("packing list without OriginalFileName")
        << QStringList{video} << QStringList{kVideoId + QStringLiteral("=")} << true
        << strings({"video.mxf"});
    QTest::newRow("duplicate id in the asset map: first path")
        << QStringList{kVideoId + QStringLiteral("=first.mxf"),
                       kVideoId + QStringLiteral("=second.mxf")}
        << QStringList{kVideoId + QStringLiteral("=x.mxf")} << true << strings({"first.mxf"});
    QTest::newRow("empty packing list")
        << QStringList{pkl} << QStringList() << true << QStringList();
    QTest::newRow("asset missing from the asset map: earlier ones updated")
        << QStringList{cpl, audio}
        << QStringList{cpl, kVideoId + QStringLiteral("=video.mxf"), audio} << false
        << strings({"cpl.xml", "video.mxf", "audio.mxf"});
    QTest::newRow("upper-case id") << QStringList{cpl, video}
                                   << QStringList{kCplId.toUpper() + QStringLiteral("=CPL.XML"),
                                                  kVideoId + QStringLiteral("=video.mxf")}
                                   << false << strings({"CPL.XML", "video.mxf"});
}

void TestPackageRules::pklAssets()
{
    QFETCH(QStringList, mapEntries);
    QFETCH(QStringList, pklEntries);
    QFETCH(bool, passes);
    QFETCH(QStringList, pathsAfter);
    DcpInspector inspector;
    for (const QString &entry : mapEntries)
        inspector.assetMap.assets.append(
            asset(entry.section(QLatin1Char('='), 0, 0), entry.section(QLatin1Char('='), 1)));
    PklInfo pkl;
    for (const QString &entry : pklEntries)
        pkl.assets.append(
            asset(entry.section(QLatin1Char('='), 0, 0), entry.section(QLatin1Char('='), 1)));
    inspector.pkls.append(pkl);

    QString message = QStringLiteral("untouched");
    QCOMPARE(inspector.checkPklAssets(message), passes);
    QCOMPARE(message, passes ? QStringLiteral("untouched") : kPklAssetsMessage);
    QStringList paths;
    for (const AssetInfo &info : qAsConst(inspector.pkls[0].assets))
        paths.append(info.path);
    QCOMPARE(paths, pathsAfter);
}

void TestPackageRules::fixtureMasters_data()
{
    QTest::addColumn<int>("knob");
    QTest::addColumn<QString>("failure");
    QTest::addColumn<QString>("message");

    QTest::newRow("clean SMPTE") << 0 << "pass" << QString();
    QTest::newRow("clean Interop 3D") << 1 << "pass" << QString();
    QTest::newRow("empty ContentTitleText") << 2 << "name" << kNameMessage;
    QTest::newRow("asset map in another namespace") << 3 << "A.3.1 b" << QString();
    QTest::newRow("track removed after discovery") << 4 << "A.3.1 c" << QString();
    QTest::newRow("asset map gives the packing list another id") << 5 << "A.3.2 a" << QString();
    QTest::newRow("packing list in another namespace") << 6 << "A.3.2 b" << QString();
    QTest::newRow("annotation with a trailing blank") << 7 << "A.3.2 c" << QString();
    QTest::newRow("packing list names an unmapped asset") << 8 << "A.3.2 d" << kPklAssetsMessage;
    QTest::newRow("OriginalFileName unlike the Path") << 9 << "pass" << QString();
}

// Masters written by the fixture builder, loaded by discovery, then judged by the rules.
void TestPackageRules::fixtureMasters()
{
    QFETCH(int, knob);
    QFETCH(QString, failure);
    QFETCH(QString, message);
    QTemporaryDir disk;
    QVERIFY(disk.isValid());
    FixtureBuilder builder(disk.path());
    MasterSpec spec;
    switch (knob) {
    case 1:
        spec.standard = MasterSpec::Interop;
        spec.stereoscopic = true;
        spec.reelDurations = {240, 240, 120};
        break;
    case 2:
        spec.emptyContentTitle = true;
        break;
    case 3:
        spec.assetMapNamespace = QStringLiteral("http://www.example.org/schemas/429-9/2007/AM");
        break;
    case 5:
        spec.assetMapPklId = FixtureBuilder::newUrnUuid();
        break;
    case 6:
        spec.pklNamespace = QStringLiteral("HTTP://WWW.SMPTE-RA.ORG/schemas/429-8/2007/PKL");
        break;
    case 7:
        spec.pklAnnotation = spec.title + QLatin1Char(' ');
        break;
    case 8:
        spec.pklListsUnmappedAsset = true;
        break;
    case 9:
        spec.pklOriginalFileNamesDiffer = true;
        break;
    default:
        break;
    }
    const BuiltMaster master = builder.writeMaster(spec);
    DcpInspector inspector;
    inspector.resetRunData();
    QCOMPARE(inspector.loadMaster(disk.path()), int(DcpInspector::NotEncrypted));
    if (knob == 4)
        QVERIFY(QFile::remove(master.trackPaths.last()));

    QString text;
    QCOMPARE(firstFailure(inspector, text), failure);
    if (!message.isEmpty())
        QCOMPARE(text, message);
    if (knob == 4)
        QCOMPARE(text, pathMessage(QFileInfo(master.trackPaths.last()).fileName()));
    if (failure == QLatin1String("pass")) {
        // The files hashing will read are exactly the packing list's files on the disk.
        const QString base = master.folder + QLatin1Char('/');
        QStringList hashed;
        for (const AssetInfo &info : qAsConst(inspector.pkls[0].assets))
            hashed.append(base + info.path);
        QCOMPARE(hashed, master.pklAssetPaths);
    }
}

void TestPackageRules::corpusMasters_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("failure");
    QTest::addColumn<int>("pklAssets");
    QTest::newRow("libdcp dcp_test1") << "cth103__libdcp/test/ref/DCP/dcp_test1"
                                      << "pass" << 3;
    // Its asset map is annotated with the tool's name, its packing list with the title.
    QTest::newRow("libdcp dcp_test3") << "cth103__libdcp/test/ref/DCP/dcp_test3"
                                      << "A.3.2 c" << 3;
    QTest::newRow("libdcp extra_assetmap, unlisted 0-byte mxf")
        << "cth103__libdcp/test/data/extra_assetmap"
        << "pass" << 3;
    QTest::newRow("libdcp dcp_test2, 3D") << "cth103__libdcp/test/ref/DCP/dcp_test2"
                                          << "pass" << 3;
}

// Real masters judged by the rules; the packing-list assets then carry the asset map's paths.
void TestPackageRules::corpusMasters()
{
    QFETCH(QString, folder);
    QFETCH(QString, failure);
    QFETCH(int, pklAssets);
    const QString corpus = corpusDir();
    if (corpus.isEmpty())
        QSKIP("the DCP corpus is not available");
    QTemporaryDir disk;
    QVERIFY(disk.isValid());
    QVERIFY(QFile::link(corpus + QLatin1Char('/') + folder, disk.path() + QStringLiteral("/M")));
    DcpInspector inspector;
    inspector.resetRunData();
    QCOMPARE(inspector.loadMaster(disk.path()), int(DcpInspector::NotEncrypted));
    QString message;
    QCOMPARE(firstFailure(inspector, message), failure);
    QCOMPARE(inspector.pkls[0].assets.size(), pklAssets);
    QVERIFY(inspector.checkPklAssets(message));
    for (const AssetInfo &info : qAsConst(inspector.pkls[0].assets))
        QVERIFY2(QFileInfo(disk.path() + QStringLiteral("/M/") + info.path).isFile(),
                 qPrintable(info.path));
}

QTEST_GUILESS_MAIN(TestPackageRules)
#include "test_packagerules.moc"
