#include "dcp/DcpInspector.h"
#include "run/Advisories.h"
#include "support/FixtureBuilder.h"
#include "support/TestSupport.h"

#include <QDir>
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
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text.toUtf8()) >= 0);
}

// Replaces the n-th match of the pattern ("-1" the last, "*" every one); "\1" and "\2" in the
// replacement stand for the match's groups.
void edit(const QString &path, const QString &n, const QString &pattern, const QString &with)
{
    QString text = readText(path);
    QVector<QRegularExpressionMatch> matches;
    const QRegularExpression re(pattern, QRegularExpression::DotMatchesEverythingOption);
    for (auto it = re.globalMatch(text); it.hasNext();)
        matches.prepend(it.next()); // the last first, so that earlier offsets stay valid
    QVERIFY2(!matches.isEmpty(), qPrintable(pattern));
    for (int i = 0; i < matches.size(); ++i) {
        const int index = matches.size() - 1 - i;
        if (n != QLatin1String("*") && index != (n.toInt() + matches.size()) % matches.size())
            continue;
        const QRegularExpressionMatch &m = matches[i];
        text.replace(m.capturedStart(), m.capturedLength(),
                     QString(with)
                         .replace(QLatin1String("\\1"), m.captured(1))
                         .replace(QLatin1String("\\2"), m.captured(2)));
    }
    writeText(path, text);
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
    void stoppedRun();
    void corpus_data();
    void corpus();
};

void TestAdvisories::faults_data()
{
    // Edits in threes: the document ("cpl", "pkl" or "map", "#n" the match), pattern, text.
    QTest::addColumn<QStringList>("edits");
    // "code path" per finding, '|' between; {pic} is the first track, {cpl}, {pkl}, {map} the
    // documents, all relative to the root.
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("message"); // a part of the first finding's message
    const auto row = [](const char *tag, std::initializer_list<const char *> edits,
                        const char *expected, const char *message = "") {
        QStringList list;
        for (const char *text : edits)
            list << QString::fromUtf8(text);
        QTest::newRow(tag) << list << QString::fromUtf8(expected) << QString::fromUtf8(message);
    };
#define AUX "<AuxData><Id>urn:uuid:a</Id><Duration>240</Duration></AuxData></AssetList>"
    row("clean", {}, "");
    row("clean Interop", {}, "");
    row("packing list size", {"pkl", "<Size>4096", "<Size>4000"}, "pkl-size {pic}",
        "PKL中的Size为 4000，文件实际大小为 4096");
    row("packing list without size", {"pkl", "<Size>4096</Size>", ""}, "pkl-size {pic}",
        "PKL中没有有效的Size，文件实际大小为 4096");
    row("asset map length", {"map", "<Length>4096", "<Length>4097"}, "assetmap-length {pic}",
        "AssetMap中的Length为 4097，文件实际大小为 4096");
    row("asset map without lengths", {"map#*", "<Length>[0-9]+</Length>", ""}, "");
    row("track grew", {}, "pkl-size {pic}|assetmap-length {pic}", "实际大小为 4100");
    row("unlisted files", {}, "unlisted-file DCP/extra.mxf|unlisted-file DCP/sub/notes.txt",
        "DCP/extra.mxf");
    row("track missing", {}, "cpl-asset-missing {cpl}", " 的文件 j2c_");
    // Markers live inside the composition: their id is in no packing list, rightly.
    row("auxiliary track not packed",
        {"cpl", "</AssetList>", "<MainMarkers><Id>urn:uuid:m</Id></MainMarkers>" AUX},
        "cpl-asset-missing {cpl}", "CPL中的AuxData资源 urn:uuid:a 未列入PKL");
    row("auxiliary track not mapped",
        {"cpl", "</AssetList>", AUX, "pkl", "</AssetList>",
         "<Asset><Id>urn:uuid:a</Id></Asset></AssetList>"},
        "cpl-asset-missing {cpl}", " 在AssetMap中没有对应文件");
    row("reel durations differ", {"cpl#-1", "<Duration>120", "<Duration>119"},
        "reel-duration {cpl}", "CPL第2卷（urn:uuid:");
    // The first reel's sound without Duration: 250 frames, of which 10 are skipped or not.
#define NO_DURATION                                                                                \
    "cpl#1", "<Duration>240</Duration>", "", "cpl#1", "<IntrinsicDuration>240",                    \
        "<IntrinsicDuration>250"
    row("duration after the entry point", {NO_DURATION, "cpl#1", "<EntryPoint>0", "<EntryPoint>10"},
        "");
    row("entry point ignored", {NO_DURATION}, "reel-duration {cpl}",
        "MainPicture 240，MainSound 250");
    row("asset map id twice", {"map", "(<Asset>.*?</Asset>)", "\\1\\1"}, "duplicate-id {map}",
        "AssetMap中的Id urn:uuid:");
    row("packing list id twice", {"pkl", "(<Asset>.*?</Asset>)", "\\1\\1"}, "duplicate-id {pkl}",
        "PKL中的Id urn:uuid:");
    row("reel id twice", {"cpl#*", "(<Reel>\\s*<Id>)[^<]*", "\\1urn:uuid:r"}, "duplicate-id {cpl}",
        "CPL的卷列表中的Id urn:uuid:r 出现了 2 次");
    row("track twice in one reel", {"cpl", "(<MainSound>.*?</MainSound>)", "\\1\\1"},
        "duplicate-id {cpl}", "CPL第1卷中的Id urn:uuid:");
    row("track in two reels",
        {"cpl", "(<MainPicture>\\s*<Id>([^<]*)</Id>.*?<MainPicture>\\s*<Id>)[^<]*", "\\1\\2"}, "");
}

void TestAdvisories::faults()
{
    QFETCH(QStringList, edits);
    QFETCH(QString, expected);
    QFETCH(QString, message);
    const QString fault = QString::fromLatin1(QTest::currentDataTag());
    QTemporaryDir disk;
    FixtureBuilder builder(disk.path());
    MasterLayout layout;
    layout.reelDurations = {240, 120};
    if (fault == QLatin1String("clean Interop"))
        layout.standard = MasterLayout::Interop;
    layout.omitFirstTrackFile = fault == QLatin1String("track missing");
    const BuiltMaster master = builder.writeMaster(layout);
    const QString dcp = master.folder + QLatin1Char('/');
    QHash<QString, QString> file{{QStringLiteral("cpl"), master.pklAssetPaths.first()},
                                 {QStringLiteral("map"), master.assetMapPath},
                                 {QStringLiteral("pic"), master.trackPaths.first()}};
    file[QStringLiteral("pkl")] = dcp + QDir(dcp).entryList({QStringLiteral("pkl_*")}).value(0);
    const qint64 documentSizes[] = {QFileInfo(file[QStringLiteral("cpl")]).size(),
                                    QFileInfo(file[QStringLiteral("pkl")]).size()};

    for (int i = 0; i + 2 < edits.size(); i += 3)
        edit(file[edits[i].section(QLatin1Char('#'), 0, 0)], edits[i].section(QLatin1Char('#'), 1),
             edits[i + 1], edits[i + 2]);
    // The edited documents' new sizes, where the packing list and the asset map give them, so
    // that only the fault remains.
    for (const bool isPkl : {false, true}) {
        const QString name = QLatin1String(isPkl ? "pkl" : "cpl");
        const QString size = QString::number(QFileInfo(file[name]).size());
        const QString was = QString::number(documentSizes[isPkl]);
        if (!isPkl && size != was)
            edit(file[QStringLiteral("pkl")], {}, QLatin1String("<Size>") + was,
                 QLatin1String("<Size>") + size);
        const QString length = QLatin1String("<Length>") + was;
        if (size != was && readText(file[QStringLiteral("map")]).contains(length))
            edit(file[QStringLiteral("map")], {}, length, QLatin1String("<Length>") + size);
    }
    if (fault == QLatin1String("track grew")) {
        QFile track(file[QStringLiteral("pic")]);
        QVERIFY(track.open(QIODevice::Append) && track.write("more") == 4);
    } else if (fault == QLatin1String("unlisted files")) {
        // Below the asset map's folder; the disk's and the desktop's own files, the volume
        // index, a KDM and what lies beside the master's folder are left alone.
        for (const char *name : {"extra.mxf", "sub/notes.txt", "VOLINDEX.xml", ".DS_Store",
                                 "Thumbs.db", "System Volume Information/IndexerVolumeGuid",
                                 ".Trashes/501/old.mxf", "../beside.mxf"})
            writeText(dcp + QLatin1String(name), QStringLiteral("x"));
        KdmLayout kdm;
        kdm.folder = QStringLiteral("DCP");
        builder.writeKdm(master, kdm);
    }

    const QVector<Advisory> found = advise(disk.path());
    const QDir root(disk.path());
    for (const char *name : {"pic", "cpl", "pkl", "map"})
        expected.replace(QLatin1Char('{') + QLatin1String(name) + QLatin1Char('}'),
                         root.relativeFilePath(file[QLatin1String(name)]));
    QCOMPARE(describe(found), expected);
    if (!message.isEmpty())
        QVERIFY2(found.first().message.contains(message), qPrintable(found.first().message));
}

// A run that stopped before the documents were read tells what it can; one that found no
// asset map, nothing.
void TestAdvisories::stoppedRun()
{
    QCOMPARE(findAdvisories(DcpInspector()).size(), 0);
    QTemporaryDir disk;
    const BuiltMaster master = FixtureBuilder(disk.path()).writeMaster(MasterLayout());
    writeText(master.folder + QLatin1String("/extra.mxf"), QStringLiteral("x"));
    QFile::remove(master.pklAssetPaths.first());
    QCOMPARE(describe(advise(disk.path())), QStringLiteral("unlisted-file DCP/extra.mxf"));
}

void TestAdvisories::corpus_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("expected"); // as in faults(), relative to the master's folder
    const auto row = [](const char *folder, const QString &expected = QString()) {
        QTest::newRow(folder) << QString::fromLatin1(folder) << expected;
    };
    // Consistent masters, markers without Duration and metadata assets included.
    for (const char *folder : {"dcp_test1", "dcp_test2", "dcp_test3", "dcp_test7", "dcp_test8",
                               "encryption_test", "../write_interop_subtitle_test3"})
        row(qPrintable(QLatin1String("cth103__libdcp/test/ref/DCP/") + QLatin1String(folder)));
    // Their composition names an Atmos track of 1489 frames, beside 24 of picture and sound,
    // that is in neither the packing list nor the asset map.
    const QString atmos = QStringLiteral("cpl-asset-missing %1|reel-duration %1")
                              .arg(QLatin1String("cpl_6affb8ee-0020-4dff-a53c-17652f6358ab.xml"));
    row("cth103__libdcp/test/ref/DCP/dcp_test5", atmos);
    row("cth103__libdcp/test/data/DCP", atmos);
    // The asset map gives the empty extra file the length of another.
    row("cth103__libdcp/test/data/extra_assetmap",
        QStringLiteral("assetmap-length 1cab4236-9ad1-5b2f-bbac-1234567890ab.mxf"));
    // A version file: picture and sound of its three reels are in the original version only.
    row("Ymagis__ClairMeta_Data/DCP/ECL-SET/"
        "ECL08-SINGLE-CPL_TST_S_EN-EN_UK-U_51_2K_DI_20180125_ECL_SMPTE_VF",
        QVector<QString>(6, QStringLiteral("cpl-asset-missing CPL_ECL08-SINGLE-CPL_TST_S_EN-EN_UK-"
                                           "U_51_2K_DI_20180125_ECL_SMPTE_VF.xml"))
            .toList()
            .join(QLatin1Char('|')));
    // Empty placeholders for both tracks; the asset maps give no lengths.
    row("wolfgangw__digital_cinema_tools/encryption/"
        "TONEPLATES-SMPTE-PLAINTEXT_TST_F_XX-XX_ITL-TD_51-XX_2K_WOE_20111001_WOE_OV",
        QStringLiteral("pkl-size j2c_02090fb8-9559-4611-a366-c8f256d60714_.mxf|"
                       "pkl-size pcm_95734608-5d47-4d3f-bf5f-9e9186b66afa_.mxf"));
    row("wolfgangw__digital_cinema_tools/encryption/"
        "TONEPLATES-SMPTE-ENCRYPTED_TST_F_XX-XX_ITL-TD_51-XX_2K_WOE_20111001_WOE_OV",
        QStringLiteral("pkl-size j2c_6196fa54-cb27-45f0-a3a9-c0130b2f698e_.mxf|"
                       "pkl-size pcm_5c851c7b-79fd-411d-86ad-dd78e0e8f31a_.mxf"));
}

void TestAdvisories::corpus()
{
    if (corpusDir().isEmpty())
        QSKIP("the shared document corpus (../shared/dcp-corpus) is not present");
    QFETCH(QString, folder);
    QFETCH(QString, expected);
    QCOMPARE(describe(advise(QDir::cleanPath(corpusDir() + QLatin1Char('/') + folder))), expected);
}

QTEST_GUILESS_MAIN(TestAdvisories)
#include "test_advisories.moc"
