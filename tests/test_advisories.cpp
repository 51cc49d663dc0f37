#include "dcp/DcpInspector.h"
#include "run/Advisories.h"
#include "support/FixtureBuilder.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QString readText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

void writeText(const QString &path, const QString &text)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QVERIFY(file.write(text.toUtf8()) >= 0);
}

// Replaces the n-th match (0 = the first, -1 = the last) of the pattern in the file; \1 and
// \2 in the replacement stand for the match's groups.
void edit(const QString &path, const char *pattern, const QString &replacement, int n = 0)
{
    QString text = readText(path);
    QVector<QRegularExpressionMatch> matches;
    for (auto it = QRegularExpression(QString::fromUtf8(pattern),
                                      QRegularExpression::DotMatchesEverythingOption)
                       .globalMatch(text);
         it.hasNext();)
        matches.append(it.next());
    QVERIFY2(!matches.isEmpty(), pattern);
    const QRegularExpressionMatch match = n < 0 ? matches.last() : matches.value(n);
    QVERIFY2(match.hasMatch(), pattern);
    QString with = replacement;
    with.replace(QLatin1String("\\1"), match.captured(1))
        .replace(QLatin1String("\\2"), match.captured(2));
    text.replace(match.capturedStart(), match.capturedLength(), with);
    writeText(path, text);
}

// After a document was edited: its new size, where the packing list and the asset map give
// it, so that only the fault the edit made remains.
void restateSize(const QString &document, qint64 before, const QString &pkl, const QString &map)
{
    const qint64 after = QFileInfo(document).size();
    for (const auto &[list, tag] :
         {qMakePair(pkl, QStringLiteral("Size")), qMakePair(map, QStringLiteral("Length"))}) {
        const QString was = QStringLiteral("<%1>%2</%1>").arg(tag).arg(before);
        QString text = readText(list);
        const int at = text.indexOf(was);
        if (list == document || at < 0)
            continue;
        text.replace(at, was.size(), QStringLiteral("<%1>%2</%1>").arg(tag).arg(after));
        writeText(list, text);
    }
}

QString describe(const QVector<Advisory> &advisories)
{
    QStringList lines;
    for (const Advisory &advisory : advisories)
        lines << advisory.code + QLatin1Char(' ') + advisory.path;
    return lines.join(QLatin1Char('|'));
}

QVector<Advisory> advise(const QString &root)
{
    DcpInspector inspector;
    inspector.masterFolder = root;
    inspector.loadMaster(root);
    return findAdvisories(inspector);
}

} // namespace

class TestAdvisories : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { failOnQtWarnings(); }
    void faults_data();
    void faults();
    void partialRuns();
    void corpus_data();
    void corpus();
};

void TestAdvisories::faults_data()
{
    QTest::addColumn<QString>("fault");
    // "code path" per finding, '|' between; {pic} and {snd} are the first reel's tracks, {cpl},
    // {pkl} and {map} the documents, all relative to the root.
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("message"); // a part of the first finding's message
    const auto row = [](const char *fault, const char *expected, const char *message = "") {
        QTest::newRow(fault) << QString::fromLatin1(fault) << QString::fromLatin1(expected)
                             << QString::fromUtf8(message);
    };
    row("clean", "");
    row("clean Interop", "");
    row("packing list size", "pkl-size {pic}", "PKL中的Size为 4000，文件实际大小为 4096");
    row("packing list without size", "pkl-size {pic}", "PKL中没有有效的Size，文件实际大小为 4096");
    row("asset map length", "assetmap-length {pic}",
        "AssetMap中的Length为 4097，文件实际大小为 4096");
    row("asset map without lengths", "");
    row("track grew", "pkl-size {pic}|assetmap-length {pic}",
        "PKL中的Size为 4096，文件实际大小为 4100");
    row("unlisted files", "unlisted-file DCP/extra.mxf|unlisted-file DCP/sub/notes.txt",
        "DCP/extra.mxf");
    row("track missing", "cpl-asset-missing {cpl}", " 的文件 j2c_");
    row("auxiliary track not packed", "cpl-asset-missing {cpl}", "CPL中的AuxData资源 urn:uuid:");
    row("auxiliary track packed, not mapped", "cpl-asset-missing {cpl}",
        " 在AssetMap中没有对应文件");
    row("reel durations differ", "reel-duration {cpl}", "CPL第2卷（urn:uuid:");
    row("duration after the entry point", "");
    row("entry point ignored", "reel-duration {cpl}", "MainPicture 240，MainSound 250");
    row("asset map id twice", "duplicate-id {map}", "AssetMap中的Id urn:uuid:");
    row("packing list id twice", "duplicate-id {pkl}", "PKL中的Id urn:uuid:");
    row("reel id twice", "duplicate-id {cpl}", "CPL的卷列表中的Id urn:uuid:");
    row("track twice in one reel", "duplicate-id {cpl}", "CPL第1卷中的Id urn:uuid:");
    row("track in two reels", "");
}

void TestAdvisories::faults()
{
    QFETCH(QString, fault);
    QFETCH(QString, expected);
    QFETCH(QString, message);
    QTemporaryDir disk;
    FixtureBuilder builder(disk.path());
    MasterLayout layout;
    layout.reelDurations = {240, 120};
    layout.standard =
        fault == QLatin1String("clean Interop") ? MasterLayout::Interop : MasterLayout::Smpte;
    layout.omitFirstTrackFile = fault == QLatin1String("track missing");
    const BuiltMaster master = builder.writeMaster(layout);
    const QString cpl = master.pklAssetPaths.first();
    const QString pkl = QDir(master.folder)
                            .entryInfoList({QStringLiteral("pkl_*.xml")})
                            .value(0)
                            .absoluteFilePath();
    const QString &map = master.assetMapPath;
    const QString pic = master.trackPaths[0];
    const QString snd = master.trackPaths[1];
    const QString dcp = master.folder + QLatin1Char('/');
    const qint64 cplSize = QFileInfo(cpl).size();
    const qint64 pklSize = QFileInfo(pkl).size();

    if (fault == QLatin1String("packing list size")) {
        edit(pkl, "<Size>4096</Size>", QStringLiteral("<Size>4000</Size>"));
    } else if (fault == QLatin1String("packing list without size")) {
        edit(pkl, "<Size>4096</Size>", QString());
    } else if (fault == QLatin1String("asset map length")) {
        edit(map, "<Length>4096</Length>", QStringLiteral("<Length>4097</Length>"));
    } else if (fault == QLatin1String("asset map without lengths")) {
        for (int i = 0; i < 6; ++i)
            edit(map, "<Length>[0-9]+</Length>", QString());
    } else if (fault == QLatin1String("track grew")) {
        QFile track(pic);
        QVERIFY(track.open(QIODevice::Append) && track.write("more") == 4);
    } else if (fault == QLatin1String("unlisted files")) {
        // Found below the asset map's folder; the disk's and the desktop's own files, the
        // volume index, a KDM and what lies beside the master's folder are left alone.
        writeText(dcp + QLatin1String("extra.mxf"), QStringLiteral("x"));
        writeText(dcp + QLatin1String("sub/notes.txt"), QStringLiteral("x"));
        writeText(dcp + QLatin1String("VOLINDEX.xml"), QStringLiteral("<VolumeIndex/>"));
        writeText(dcp + QLatin1String(".DS_Store"), QStringLiteral("x"));
        writeText(dcp + QLatin1String("Thumbs.db"), QStringLiteral("x"));
        writeText(dcp + QLatin1String("System Volume Information/IndexerVolumeGuid"),
                  QStringLiteral("x"));
        writeText(dcp + QLatin1String(".Trashes/501/old.mxf"), QStringLiteral("x"));
        writeText(disk.filePath(QStringLiteral("beside.mxf")), QStringLiteral("x"));
        KdmLayout kdm;
        kdm.folder = QStringLiteral("DCP");
        builder.writeKdm(master, kdm);
    } else if (fault == QLatin1String("auxiliary track not packed")) {
        // Markers live inside the composition: their id is in no packing list, rightly.
        edit(cpl, "</AssetList>",
             QStringLiteral("<AuxData><Id>%1</Id><Duration>240</Duration></AuxData>"
                            "<MainMarkers><Id>%2</Id><Duration>240</Duration></MainMarkers>"
                            "</AssetList>")
                 .arg(FixtureBuilder::newUrnUuid(), FixtureBuilder::newUrnUuid()));
    } else if (fault == QLatin1String("auxiliary track packed, not mapped")) {
        const QString id = FixtureBuilder::newUrnUuid();
        edit(cpl, "</AssetList>",
             QStringLiteral("<AuxData><Id>%1</Id><Duration>240</Duration></AuxData></AssetList>")
                 .arg(id));
        edit(pkl, "</AssetList>", QStringLiteral("<Asset><Id>%1</Id></Asset></AssetList>").arg(id));
    } else if (fault == QLatin1String("reel durations differ")) {
        edit(cpl, "<Duration>120</Duration>", QStringLiteral("<Duration>119</Duration>"), -1);
    } else if (fault == QLatin1String("duration after the entry point") ||
               fault == QLatin1String("entry point ignored")) {
        // The first reel's sound without Duration: 250 frames, of which 10 are skipped.
        edit(cpl, "<Duration>240</Duration>", QString(), 1);
        edit(cpl, "<IntrinsicDuration>240</IntrinsicDuration>",
             QStringLiteral("<IntrinsicDuration>250</IntrinsicDuration>"), 1);
        if (fault == QLatin1String("duration after the entry point"))
            edit(cpl, "<EntryPoint>0</EntryPoint>", QStringLiteral("<EntryPoint>10</EntryPoint>"),
                 1);
    } else if (fault == QLatin1String("asset map id twice")) {
        edit(map, "(<Asset>.*?</Asset>)", QStringLiteral("\\1\\1"));
    } else if (fault == QLatin1String("packing list id twice")) {
        edit(pkl, "(<Asset>.*?</Asset>)", QStringLiteral("\\1\\1"));
    } else if (fault == QLatin1String("reel id twice")) {
        const QRegularExpressionMatch first =
            QRegularExpression(QStringLiteral("<Reel>\\s*<Id>([^<]*)</Id>")).match(readText(cpl));
        edit(cpl, "(<Reel>\\s*<Id>)[^<]*", QStringLiteral("\\1") + first.captured(1), 1);
    } else if (fault == QLatin1String("track twice in one reel")) {
        edit(cpl, "(<MainSound>.*?</MainSound>)", QStringLiteral("\\1\\1"));
    } else if (fault == QLatin1String("track in two reels")) {
        const QString picId = QStringLiteral("urn:uuid:") +
                              QFileInfo(pic).completeBaseName().mid(int(qstrlen("j2c_")));
        edit(cpl, "(<MainPicture>\\s*<Id>)[^<]*", QStringLiteral("\\1") + picId, 1);
        edit(cpl, "<Duration>120</Duration>", QStringLiteral("<Duration>240</Duration>"), 0);
        edit(cpl, "<Duration>120</Duration>", QStringLiteral("<Duration>240</Duration>"), 0);
    }

    restateSize(cpl, cplSize, pkl, map);
    restateSize(pkl, pklSize, pkl, map);
    const QVector<Advisory> found = advise(disk.path());
    const QDir root(disk.path());
    expected.replace(QLatin1String("{pic}"), root.relativeFilePath(pic))
        .replace(QLatin1String("{snd}"), root.relativeFilePath(snd))
        .replace(QLatin1String("{cpl}"), root.relativeFilePath(cpl))
        .replace(QLatin1String("{pkl}"), root.relativeFilePath(pkl))
        .replace(QLatin1String("{map}"), root.relativeFilePath(map));
    QCOMPARE(describe(found), expected);
    if (!message.isEmpty())
        QVERIFY2(found.first().message.contains(message), qPrintable(found.first().message));
}

// A run that stopped before the documents were read, or never found the asset map, tells what
// it can and nothing it cannot know.
void TestAdvisories::partialRuns()
{
    QCOMPARE(findAdvisories(DcpInspector()).size(), 0);
    QTemporaryDir disk;
    FixtureBuilder builder(disk.path());
    const BuiltMaster master = builder.writeMaster(MasterLayout());
    writeText(master.folder + QLatin1String("/extra.mxf"), QStringLiteral("x"));
    QFile::remove(master.pklAssetPaths.first()); // discovery stops before reading the documents

    DcpInspector inspector;
    inspector.masterFolder = disk.path();
    QCOMPARE(inspector.loadMaster(disk.path()), int(DcpInspector::FilesMissing));
    QCOMPARE(describe(findAdvisories(inspector)), QStringLiteral("unlisted-file DCP/extra.mxf"));

    // Two asset maps: the run read neither.
    MasterLayout second;
    second.folder = QStringLiteral("DCP2");
    builder.writeMaster(second);
    DcpInspector two;
    two.masterFolder = disk.path();
    QCOMPARE(two.loadMaster(disk.path()), 2);
    QCOMPARE(findAdvisories(two).size(), 0);
}

void TestAdvisories::corpus_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("expected"); // as in faults(), relative to the master's folder
    const auto row = [](const char *folder, const char *expected = "") {
        QTest::newRow(folder) << QString::fromLatin1(folder) << QString::fromLatin1(expected);
    };
    // Consistent masters, markers without a Duration and metadata assets included.
    row("cth103__libdcp/test/ref/DCP/dcp_test1");
    row("cth103__libdcp/test/ref/DCP/dcp_test2");
    row("cth103__libdcp/test/ref/DCP/dcp_test3");
    row("cth103__libdcp/test/ref/DCP/dcp_test7");
    row("cth103__libdcp/test/ref/DCP/dcp_test8");
    row("cth103__libdcp/test/ref/DCP/encryption_test");
    row("cth103__libdcp/test/ref/write_interop_subtitle_test3");
    // Their composition names an Atmos track of 1489 frames, beside 24 of picture and sound,
    // that is in neither the packing list nor the asset map.
    const char *atmos = "cpl-asset-missing cpl_6affb8ee-0020-4dff-a53c-17652f6358ab.xml|"
                        "reel-duration cpl_6affb8ee-0020-4dff-a53c-17652f6358ab.xml";
    row("cth103__libdcp/test/ref/DCP/dcp_test5", atmos);
    row("cth103__libdcp/test/data/DCP", atmos);
    // The asset map gives the empty extra file the length of another.
    row("cth103__libdcp/test/data/extra_assetmap",
        "assetmap-length 1cab4236-9ad1-5b2f-bbac-1234567890ab.mxf");
    // A version file: picture and sound of its three reels are in the original version only.
    const QString cpl =
        QStringLiteral("cpl-asset-missing "
                       "CPL_ECL08-SINGLE-CPL_TST_S_EN-EN_UK-U_51_2K_DI_20180125_ECL_SMPTE_VF.xml");
    QTest::newRow("ECL08 VF")
        << QStringLiteral("Ymagis__ClairMeta_Data/DCP/ECL-SET/"
                          "ECL08-SINGLE-CPL_TST_S_EN-EN_UK-U_51_2K_DI_20180125_ECL_SMPTE_VF")
        << QVector<QString>(6, cpl).toList().join(QLatin1Char('|'));
    // Empty placeholders for both tracks; the asset map gives no lengths.
    row("wolfgangw__digital_cinema_tools/encryption/"
        "TONEPLATES-SMPTE-PLAINTEXT_TST_F_XX-XX_ITL-TD_51-XX_2K_WOE_20111001_WOE_OV",
        "pkl-size j2c_02090fb8-9559-4611-a366-c8f256d60714_.mxf|"
        "pkl-size pcm_95734608-5d47-4d3f-bf5f-9e9186b66afa_.mxf");
    row("wolfgangw__digital_cinema_tools/encryption/"
        "TONEPLATES-SMPTE-ENCRYPTED_TST_F_XX-XX_ITL-TD_51-XX_2K_WOE_20111001_WOE_OV",
        "pkl-size j2c_6196fa54-cb27-45f0-a3a9-c0130b2f698e_.mxf|"
        "pkl-size pcm_5c851c7b-79fd-411d-86ad-dd78e0e8f31a_.mxf");
}

void TestAdvisories::corpus()
{
    if (corpusDir().isEmpty())
        QSKIP("the shared document corpus (../shared/dcp-corpus) is not present");
    QFETCH(QString, folder);
    QFETCH(QString, expected);
    const QString root = corpusDir() + QLatin1Char('/') + folder;
    QCOMPARE(describe(advise(root)), expected);
}

QTEST_GUILESS_MAIN(TestAdvisories)
#include "test_advisories.moc"
