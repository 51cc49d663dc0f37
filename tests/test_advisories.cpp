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
    return QString::fromUtf8(readFile(path));
}

// Replaces the n-th match of the pattern (0 the first), or every match for "*"; "\\1" and "\\2" in
// the replacement stand for the match's groups.
void edit(const QString &path, const QString &n, const QString &pattern, const QString &with)
{
    const QRegularExpression re(pattern, QRegularExpression::DotMatchesEverythingOption);
    QString text = readText(path);
    QVERIFY2(text.contains(re), qPrintable(pattern));
    if (n == QLatin1String("*")) {
        text.replace(re, with);
    } else {
        auto it = re.globalMatch(text);
        QRegularExpressionMatch m;
        for (int i = 0; i <= n.toInt() && it.hasNext(); ++i)
            m = it.next();
        text.replace(m.capturedStart(), m.capturedLength(), m.captured().replace(re, with));
    }
    writeFile(path, text.toUtf8());
}

QString describe(const QVector<Advisory> &advisories, bool paths = true)
{
    QStringList lines;
    for (const Advisory &advisory : advisories)
        lines << advisory.code + (paths ? QLatin1Char(' ') + advisory.path : QString());
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
    QTest::addColumn<QString>("message"); // parts of the messages, '|' between
    const auto row = [](const char *tag, std::initializer_list<const char *> edits,
                        const char *expected, const char *message = "") {
        QStringList list;
        for (const char *text : edits)
            list << QString::fromUtf8(text);
        QTest::newRow(tag) << list << QString::fromUtf8(expected) << QString::fromUtf8(message);
    };
    row("clean", {}, "");
    row("clean Interop", {}, "");
    row("track grew", {}, "pkl-size {pic}|assetmap-length {pic}",
        "PKL中的Size为 4096，文件实际大小为 4100|AssetMap中的Length为 4096，");
    // Asset maps often leave Length out; a packing list must give Size.
    row("sizes not written",
        {"pkl", "<Size>4096</Size>", "", "map#*", "<Length>[0-9]+</Length>", ""}, "pkl-size {pic}",
        "PKL中没有有效的Size，文件实际大小为 4096");
    row("unlisted files", {}, "unlisted-file DCP/extra.mxf|unlisted-file DCP/sub/notes.txt",
        "文件 DCP/extra.mxf 未列入AssetMap");
    row("track missing", {}, "cpl-asset-missing {cpl}", " 的文件 j2c_");
    // Markers live inside the composition: their id is in no packing list, rightly.
    row("composition assets not packed or not mapped",
        {"cpl", "</AssetList>",
         "<MainMarkers><Id>urn:uuid:m</Id></MainMarkers><AuxData><Id>urn:uuid:a</Id></AuxData>"
         "<AuxData><Id>urn:uuid:b</Id></AuxData></AssetList>",
         "pkl", "</AssetList>", "<Asset><Id>urn:uuid:b</Id></Asset></AssetList>"},
        "cpl-asset-missing {cpl}|cpl-asset-missing {cpl}",
        "CPL中的AuxData资源 urn:uuid:a 未列入PKL|urn:uuid:b 在AssetMap中没有对应文件");
    // Each reel's sound without Duration: 250 frames with the first 10 skipped, and 130.
    row("reel durations",
        {"cpl#1", "<Duration>240</Duration>", "", "cpl#1", "<IntrinsicDuration>240",
         "<IntrinsicDuration>250", "cpl#1", "<EntryPoint>0", "<EntryPoint>10", "cpl#1",
         "<Duration>120</Duration>", "", "cpl#1", "<IntrinsicDuration>120",
         "<IntrinsicDuration>130"},
        "reel-duration {cpl}",
        "CPL第2卷（urn:uuid:|）中各资源的时长不一致：MainPicture 120，MainSound 130");
    row("ids twice in the asset map and the packing list",
        {"map", "(<Asset>.*?</Asset>)", "\\1\\1", "pkl", "(<Asset>.*?</Asset>)", "\\1\\1"},
        "duplicate-id {map}|duplicate-id {pkl}", "AssetMap中的Id urn:uuid:|PKL中的Id urn:uuid:");
    row("ids twice in the composition",
        {"cpl#*", "(<Reel>\\s*<Id>)[^<]*", "\\1urn:uuid:r", "cpl", "(<MainSound>.*?</MainSound>)",
         "\\1\\1"},
        "duplicate-id {cpl}|duplicate-id {cpl}",
        "CPL的卷列表中的Id urn:uuid:r 出现了 2 次，应只出现 1 次|CPL第1卷中的Id urn:uuid:");
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
    const QStringList documents = {file[QStringLiteral("cpl")], file[QStringLiteral("pkl")]};
    const qint64 sizes[] = {QFileInfo(documents[0]).size(), QFileInfo(documents[1]).size()};
    for (int i = 0; i + 2 < edits.size(); i += 3)
        edit(file[edits[i].section(QLatin1Char('#'), 0, 0)], edits[i].section(QLatin1Char('#'), 1),
             edits[i + 1], edits[i + 2]);
    // The edited documents' sizes where the packing list and the asset map give them: only the
    // fault remains.
    for (int i = 0; i < 2; ++i) {
        const QRegularExpression was(QStringLiteral("<(Size|Length)>%1<").arg(sizes[i]));
        const QString now = QStringLiteral("<\\1>%1<").arg(QFileInfo(documents[i]).size());
        for (const QString &list : {file[QStringLiteral("pkl")], file[QStringLiteral("map")]})
            writeFile(list, readText(list).replace(was, now).toUtf8());
    }
    if (fault == QLatin1String("track grew")) {
        writeFile(file[QStringLiteral("pic")], "more", true);
    } else if (fault == QLatin1String("unlisted files")) {
        // Below the asset map's folder; the disk's and the desktop's own files, the volume
        // index, a KDM and what lies beside the master's folder are left alone.
        for (const char *name : {"extra.mxf", "sub/notes.txt", "VOLINDEX.xml", ".DS_Store",
                                 "Thumbs.db", "System Volume Information/IndexerVolumeGuid",
                                 ".Trashes/501/old.mxf", "../beside.mxf"})
            writeFile(dcp + QLatin1String(name), "x");
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
    QString messages;
    for (const Advisory &advisory : found)
        messages += advisory.message + QLatin1Char('|');
    for (const QString &part : message.split(QLatin1Char('|'), Qt::SkipEmptyParts))
        QVERIFY2(messages.contains(part), qPrintable(messages));
}

// A run that stopped before the documents were read tells what it can; one that found no
// asset map, nothing.
void TestAdvisories::stoppedRun()
{
    QCOMPARE(findAdvisories(DcpInspector()).size(), 0);
    QTemporaryDir disk;
    const BuiltMaster master = FixtureBuilder(disk.path()).writeMaster(MasterLayout());
    writeFile(master.folder + QLatin1String("/extra.mxf"), "x");
    QFile::remove(master.pklAssetPaths.first());
    QCOMPARE(describe(advise(disk.path())), QStringLiteral("unlisted-file DCP/extra.mxf"));
}

void TestAdvisories::corpus_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("codes"); // of the findings, '|' between
    // Consistent masters, markers without Duration and metadata assets included.
    for (const char *folder :
         {"ref/DCP/dcp_test1", "ref/DCP/dcp_test2", "ref/DCP/dcp_test3", "ref/DCP/dcp_test7",
          "ref/DCP/dcp_test8", "ref/DCP/encryption_test", "ref/write_interop_subtitle_test3"})
        QTest::newRow(folder) << QLatin1String("cth103__libdcp/test/") + QLatin1String(folder)
                              << QString();
    // The composition names an Atmos track of 1489 frames, beside 24 of picture and sound, that
    // is in neither the packing list nor the asset map.
    for (const char *folder : {"ref/DCP/dcp_test5", "data/DCP"})
        QTest::newRow(folder) << QLatin1String("cth103__libdcp/test/") + QLatin1String(folder)
                              << QStringLiteral("cpl-asset-missing|reel-duration");
    // The asset map gives an empty extra file the length of another.
    QTest::newRow("extra_assetmap") << QStringLiteral("cth103__libdcp/test/data/extra_assetmap")
                                    << QStringLiteral("assetmap-length");
    // A version file: picture and sound of its three reels are in the original version only.
    QTest::newRow("ECL08 VF") << QStringLiteral(
                                     "Ymagis__ClairMeta_Data/DCP/ECL-SET/ECL08-SINGLE-"
                                     "CPL_TST_S_EN-EN_UK-U_51_2K_DI_20180125_ECL_SMPTE_VF")
                              << QStringLiteral("cpl-asset-missing|").repeated(6).chopped(1);
    // Empty placeholders for both tracks; the asset maps give no lengths.
    for (const char *kind : {"ENCRYPTED", "PLAINTEXT"})
        QTest::newRow(kind) << QStringLiteral("wolfgangw__digital_cinema_tools/encryption/"
                                              "TONEPLATES-SMPTE-%1_TST_F_XX-XX_ITL-TD_51-XX_2K_WOE_"
                                              "20111001_WOE_OV")
                                   .arg(QLatin1String(kind))
                            << QStringLiteral("pkl-size|pkl-size");
}

void TestAdvisories::corpus()
{
    if (corpusDir().isEmpty())
        QSKIP("the shared document corpus (../shared/dcp-corpus) is not present");
    QFETCH(QString, folder);
    QFETCH(QString, codes);
    QCOMPARE(describe(advise(corpusDir() + QLatin1Char('/') + folder), false), codes);
}

QTEST_GUILESS_MAIN(TestAdvisories)
#include "test_advisories.moc"
