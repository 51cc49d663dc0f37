#include "dcp/DcpXmlReader.h"
#include "dcp/XmlDocumentReaders.h"
#include "support/TestSupport.h"

#include <QtTest>

namespace {

enum Reader { AssetMap, Pkl, Cpl, Kdm, Classify, All };

// A record on one line, empty and zero fields left out, so that a row states the whole record.
template <typename... Values> QString line(const char *keys, const Values &...values)
{
    const QStringList names = QString::fromLatin1(keys).split(QLatin1Char(' '));
    const QStringList texts = {QStringLiteral("%1").arg(values)...};
    QStringList fields;
    for (int i = 0; i < texts.size(); ++i)
        if (!texts[i].isEmpty() && texts[i] != QLatin1String("0"))
            fields << names[i] + QLatin1Char('=') + texts[i];
    return fields.join(QLatin1Char(' '));
}

QString describe(const QVector<AssetInfo> &assets)
{
    QStringList parts;
    for (const AssetInfo &a : assets)
        parts << line("id path size sized type hash edit frame dur aspect lang key pic", a.id,
                      a.path, a.size, a.sizeGiven, a.type, a.hash, a.editRate, a.frameRate,
                      a.duration, a.aspectRatio, a.language, a.keyId, a.pictureSize);
    return parts.join(QLatin1String(" | "));
}
// A reel as "id{kind id duration/intrinsic/entry hash, ...}", -1 for what is not written.
QString describe(const QVector<CplReel> &reels)
{
    QStringList parts;
    for (const CplReel &reel : reels) {
        QStringList assets;
        for (const CplReelAsset &a : reel.assets)
            assets << QStringLiteral("%1 %2 %3/%4/%5 %6")
                          .arg(a.kind, a.id)
                          .arg(a.duration)
                          .arg(a.intrinsicDuration)
                          .arg(a.entryPoint)
                          .arg(a.hash)
                          .trimmed();
        parts << reel.id + QLatin1Char('{') + assets.join(QLatin1String(", ")) + QLatin1Char('}');
    }
    return parts.join(QLatin1Char(' '));
}
QString describe(const AssetMapInfo &r)
{
    return line("ns id ann assets", r.namespaceUri, r.id, r.annotationText, describe(r.assets));
}
QString describe(const PklInfo &r)
{
    return line("ns id ann issue group assets", r.namespaceUri, r.id, r.annotationText, r.issueDate,
                r.hasGroupId, describe(r.assets));
}
QString describe(const CplInfo &r)
{
    return line("ns id title 3d 3dns enc tracks reels", r.namespaceUri, r.id, r.contentTitleText,
                r.stereoscopic, r.stereoscopicNamespaceUri, r.encrypted, describe(r.assets),
                describe(r.reels));
}
QString describe(const KdmInfo &r)
{
    return line("ns msg cpl from to subjects recipient", r.namespaceUri, r.messageId,
                r.compositionPlaylistId, r.notValidBefore, r.notValidAfter,
                QStringList(r.subjectNames.toList()).join(QLatin1Char('|')),
                r.recipientSubjectName);
}

// What a reader makes of a file, by path or (chunkBytes > 0) fed to the parser that many bytes
// at a time; All gives every reader's result, each after a '|'.
QString read(int reader, const QString &path, qint64 chunkBytes = 0)
{
    const char *const kinds[] = {"Unknown", "Pkl", "Cpl", "Kdm"};
    QString all;
    for (int one = AssetMap; reader == All && one < All; ++one)
        all += QLatin1Char('|') + read(one, path, chunkBytes);
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    XmlReadLimits limits;
    limits.chunkBytes = chunkBytes;
    const auto pick = [&](auto fromDevice, auto fromPath) {
        return chunkBytes ? fromDevice(&file, limits) : (DcpXmlReader().*fromPath)(path, nullptr);
    };
    namespace X = XmlDocumentReaders;
    return reader == AssetMap ? describe(pick(X::readAssetMap, &DcpXmlReader::readAssetMap))
           : reader == Pkl    ? describe(pick(X::readPackingList, &DcpXmlReader::readPackingList))
           : reader == Cpl    ? describe(pick(X::readComposition, &DcpXmlReader::readComposition))
           : reader == Kdm    ? describe(pick(X::readKdm, &DcpXmlReader::readKdm))
           : reader == Classify
               ? QString::fromLatin1(kinds[pick(X::classifyXml, &DcpXmlReader::classifyXml)])
               : all;
}

// Rows hold a reader, a document (none for the corpus) and what the reader makes of it.
void row(const char *tag, int reader, const QByteArray &document, const char *expected)
{
    QTest::newRow(tag) << reader << document << QString::fromUtf8(expected);
}

} // namespace

class TestXmlReader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { failOnQtWarnings(); }
    void documents_data();
    void documents();
    void values();
    void readErrors();
    void corpus_data();
    void corpus();
};

void TestXmlReader::documents_data()
{
    QTest::addColumn<int>("reader");
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QString>("expected");
    // Ids, digests and paths lose the XML white space around them (not a no-break space);
    // titles and annotations keep theirs.
    row("asset map", AssetMap,
        "<AssetMap xmlns=\"urn:am\"><Id>\r\n\t M </Id>"
        "<AnnotationText>Map</AnnotationText><Asset><Id>a\xc2\xa0</Id>"
        "<AnnotationText> PKL: x </AnnotationText><Path>\n a&amp;b<![CDATA[<c>]]>\t</Path>"
        "<Length>330812592476</Length></Asset><Asset><Id>b</Id><Length>12 MB</Length></Asset>"
        "<Asset><Id>c</Id><Path>p",
        "ns=urn:am id=M ann= PKL: x  assets=id=a\u00a0 path=a&b<c> size=330812592476 sized=1 | "
        "id=b");
    row("packing list, first annotation", Pkl, R"(<PackingList><Id>L</Id><AnnotationText/>
<Asset><Id>a</Id><AnnotationText>1</AnnotationText></Asset>
<Asset><Id>b</Id><AnnotationText>2</AnnotationText></Wrong></PackingList>)",
        "id=L ann=1 assets=id=a");
    row("packing list, own annotation", Pkl, R"(<PackingList xmlns="urn:p"><Id> L
</Id><AnnotationText>Own </AnnotationText><IssueDate>2023-01-01T12:00</IssueDate><Asset><Id>a</Id>
<AnnotationText>x</AnnotationText><Hash>
  h=
</Hash><Size>95</Size><Type>t</Type>
<OriginalFileName> c </OriginalFileName></Asset><GroupId>g</GroupId></PackingList>)",
        "ns=urn:p id=L ann=Own  issue=2023-01-01 group=1 assets=id=a path=c size=95 sized=1 type=t "
        "hash=h=");
    row("composition, pending values", Cpl, R"(<CompositionPlaylist><Id>C</Id><MainMarkers>
<Id>M</Id><EditRate>25 1</EditRate><Duration>99</Duration></MainMarkers><MainPicture><Id>P</Id>
<KeyId>	k </KeyId><Hash> d= </Hash><Duration>1e3</Duration><ScreenAspectRatio>2048 858</ScreenAspectRatio>
<FrameRate>30000 1001</FrameRate></MainPicture><MainSound><Id>S</Id></MainSound>)",
        "id=C enc=1 tracks=id=P type=Picture hash=d= edit=25 frame=30 aspect=2.39:1 key=k "
        "pic=2048*858 | "
        "id=S type=Sound");
    row("composition, stereoscopic", Cpl, R"(<CompositionPlaylist xmlns="urn:cpl"><Id>C</Id>
<a:MainStereoscopicPicture xmlns:a="urn:2007"><Id>L</Id><EditRate>48 1</EditRate>
<FrameRate>96 1</FrameRate></a:MainStereoscopicPicture>
<b:MainStereoscopicPicture xmlns:b="urn:2008"><Id>M</Id></b:MainStereoscopicPicture>
<Extra><KeyId>k</KeyId></Extra>)",
        "ns=urn:cpl id=C 3d=1 3dns=urn:2007 enc=1 tracks=id=L type=Picture3D edit=48 frame=96 | "
        "id=M type=Picture3D");
    // Every asset of every complete reel, whatever its kind; only an asset's own fields count,
    // not those of the elements nested in it.
    row("composition, reels", Cpl, R"(<CompositionPlaylist><Id>C</Id><ReelList><Reel>
<Id> R1 </Id><AnnotationText>r</AnnotationText><AssetList><MainPicture><Id>P</Id>
<IntrinsicDuration>250</IntrinsicDuration><EntryPoint>10</EntryPoint><Duration>240</Duration>
<Hash> h= </Hash></MainPicture><axd:AuxData xmlns:axd="urn:ad"><Id>A</Id>
<IntrinsicDuration>1489</IntrinsicDuration><axd:DataType>t</axd:DataType></axd:AuxData>
<CompositionMetadataAsset><Id>M</Id><Duration>24 frames</Duration><ExtensionMetadataList>
<ExtensionMetadata><Id>X</Id><Duration>7</Duration></ExtensionMetadata></ExtensionMetadataList>
</CompositionMetadataAsset></AssetList></Reel><Reel><Id>R2</Id><AssetList><MainSound><Id>S</Id>
<Duration>24</Duration></MainSound><MainSound><Id>S</Id></MainSound></AssetList></Reel>
<Reel><Id>R3</Id><AssetList><MainSound><Id>T</Id><Duration>24</Duration></MainSound>)",
        "id=C tracks=id=P type=Picture hash=h= dur=240 | id=S type=Sound dur=24 | "
        "id=S type=Sound | id=T type=Sound dur=24 reels=R1{MainPicture P 240/250/10 h=, "
        "AuxData A -1/1489/-1, CompositionMetadataAsset M -1/-1/-1} "
        "R2{MainSound S 24/-1/-1, MainSound S -1/-1/-1}");
    // Only the subject name in the recipient names the device the KDM is for.
    row("kdm", Kdm, R"(<DCinemaSecurityMessage xmlns="urn:etm" xmlns:ds="urn:ds">
<MessageId> m </MessageId><CompositionPlaylistId>
c</CompositionPlaylistId><Recipient><X509SubjectName>CN=x</X509SubjectName></Recipient>
<KDMRequiredExtensions><Recipient><ds:X509IssuerSerial/><X509SubjectName>CN=a\+b</X509SubjectName>
<X509SubjectName>CN=y</X509SubjectName></Recipient>
<ContentKeysNotValidBefore>1</ContentKeysNotValidBefore></KDMRequiredExtensions>
<ContentKeysNotValidAfter>2</ContentKeysNotValidAfter><ds:X509SubjectName>CN=s</ds:X509SubjectName>
<X509SubjectName>CN=)",
        "ns=urn:etm msg=m cpl=c from=1 to=2 subjects=CN=x|CN=a\\+b|CN=y|CN=s recipient=CN=a\\+b");
    row("prefixed root", Classify, "<p:PackingList xmlns:p=\"urn:p\"/>", "Pkl");
    row("first recognised", Classify, "<W><X/><Y><CompositionPlaylist/><PackingList/>", "Cpl");
    row("naming the packing list", Classify, "<AssetMap><PackingList>true</PackingList>", "Pkl");
    row("letter case", Classify, "<packinglist/>", "Unknown");
    row("truncated after the root", Classify, "<CompositionPlaylist><Id>ur", "Cpl");
    row("document type", All, "<!DOCTYPE PackingList><PackingList><Id>L</Id>", "|||||Unknown");
    row("empty", All, "", "|||||Unknown");
    row("not xml", All, "PackingList CompositionPlaylist", "|||||Unknown");
    row("binary", All, QByteArray("\x00\xff<\x00PackingList>", 15), "|||||Unknown");
    // Faults the fuzzers found: where reading stops must not depend on how the file is chunked.
    const QByteArray list = "<PackingList><Id>L</Id><Asset><Id>a</Id></Asset><Asset><Id>b";
    row("bad UTF-8 byte", Pkl, list + "\xff</Id></Asset>", "id=L assets=id=a");
    row("NUL byte", Pkl, list + QByteArray("]]\0</Id></Asset>", 9), "id=L assets=id=a");
    row("]]> in text", Pkl, list + "]]></Id></Asset>", "id=L assets=id=a");
    row("bad byte, UTF-8 declared in capitals", Pkl,
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>" + list + "\xff</Id></Asset>",
        "id=L assets=id=a");

    // Exactly at a limit a document is read whole; one step beyond, it is cut there.
    const QByteArray asset = "<Asset><Id>a</Id></Asset>";
    for (const int depth : {256, 257}) { // the packing list itself is the first level
        const int wrappers = depth - 1;
        row(depth == 256 ? "nested at the depth limit" : "nested beyond the depth limit", Pkl,
            "<PackingList><Id>L</Id>" + QByteArray("<x>").repeated(wrappers) +
                QByteArray("</x>").repeated(wrappers) + asset,
            depth == 256 ? "id=L assets=id=a" : "id=L");
    }
    for (const int size : {1 << 20, (1 << 20) + 1}) { // in two runs of text, each within its limit
        const QByteArray half(size / 2, 'v');
        const QByteArray value = half + "<![CDATA[" + half + (size % 2 ? "v" : "") + "]]>";
        QTest::newRow(size == 1 << 20 ? "value at the length limit"
                                      : "value beyond the length limit")
            << int(Pkl)
            << "<PackingList><Id>L</Id><AnnotationText>" + value + "</AnnotationText>" + asset
            << (size == 1 << 20
                    ? QStringLiteral("id=L ann=%1 assets=id=a").arg(QString(size, QLatin1Char('v')))
                    : QStringLiteral("id=L"));
    }

    const QByteArray head = "<CompositionPlaylist><Id>C</Id><MainPicture><Id>P</Id></MainPicture>";
    const char *record = "|id=C|id=C|id=C tracks=id=P type=Picture||Cpl";
    QByteArray attributes;
    attributes.reserve(3 << 20); // each append would otherwise reserve, and copy, the exact size
    for (int i = 0; i < 200000; ++i)
        attributes += " a" + QByteArray::number(i) + "=\"\"";
    row("entity used 50000 times", All,
        "<!DOCTYPE C [<!ENTITY e \"" + QByteArray(4000, 'x') + "\">]>" + head + "<Id>" +
            QByteArray("&e;").repeated(50000),
        "|||||Unknown");
    row("200000 attributes", All, head + "<MainSound" + attributes + "/>", record);
    row("8 MiB tag", All, head + "<MainSound x=\"" + QByteArray(8 << 20, '>') + "\"/>", record);
    row("8 MiB text", All, head + "<Id>" + QByteArray(8 << 20, 'T') + "</Id>", record);
}

// Every document is read quickly (parsed as they stand, the last four would take minutes), and
// reads the same when fed to the parser a few bytes at a time.
void TestXmlReader::documents()
{
    QFETCH(int, reader);
    QFETCH(QByteArray, document);
    QFETCH(QString, expected);
    QTemporaryFile file;
    QVERIFY(file.open() && file.write(document) == document.size() && file.flush());
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(read(reader, file.fileName()), expected);
    QVERIFY2(timer.elapsed() < 4000, qPrintable(QString::number(timer.elapsed())));
    const qint64 smallest = document.size() < (1 << 20) ? 1 : 4093;
    for (qint64 chunk : {smallest, smallest + 2})
        QCOMPARE(read(reader, file.fileName(), chunk), expected);
}

// Each case is "text=result"; an aspect ratio's result is "ratio|picture size", the size first "-".
void TestXmlReader::values()
{
    const auto cases = [](const char *list) {
        return QString::fromLatin1(list).split(QLatin1Char(','));
    };
    const QLatin1Char is('=');
    for (const QString &c : cases("24 1=24,30000 1001=30,48000 1000=48,96 1=96,120 1=120,24 0="))
        QCOMPARE(DcpXmlReader::normalizeRate(c.section(is, 0, 0)), c.section(is, 1));
    for (const QString &c :
         cases("1.85=1.85:1|-,1998 1080=1.85:1|1998*1080,2048 858=2.39:1|2048*858,"
               "1998 0=|1998*0,1998 x=|1998*x")) {
        QString size = QStringLiteral("-");
        const QString ratio = DcpXmlReader::normalizeAspectRatio(c.section(is, 0, 0), size);
        QCOMPARE(ratio + QLatin1Char('|') + size, c.section(is, 1));
    }
    for (const QString &c :
         cases("http://www.smpte-ra.org/schemas/429-7/2006/CPL=true,"
               "urn:x:http://www.digicine.com/=true,http://www.SMPTE-RA.org/=false,"
               "http://www.DigiCine.com/=false"))
        QCOMPARE(QVariant(hasDcpNamespace(c.section(is, 0, 0))).toString(), c.section(is, 1));
}

// A file the disk fails to give is told apart from a document that says little: the readers
// give the system's reason, and nothing for a file that reads to its end.
void TestXmlReader::readErrors()
{
    QTemporaryDir dir;
    const QString good = dir.filePath(QStringLiteral("pkl.xml"));
    const QString denied = dir.filePath(QStringLiteral("denied.xml"));
    for (const QString &path : {good, denied}) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("<PackingList><Id>L</Id>") > 0);
    }
    const DcpXmlReader reader;
    QString error = QStringLiteral("stale");
    QCOMPARE(reader.classifyXml(good, &error), DcpXmlReader::Pkl);
    QCOMPARE(error, QString());
    QCOMPARE(reader.readPackingList(dir.filePath(QStringLiteral("gone.xml")), &error).id,
             QString());
    QCOMPARE(error, missingReason());
    {
        const Unreadable unreadable(denied);
        if (QFile(denied).open(QIODevice::ReadOnly))
            QSKIP("this process reads files whatever their permissions");
        QCOMPARE(reader.readAssetMap(denied, &error).id, QString());
    }
    QCOMPARE(error, unreadableReason());
    // The file opens, but reading fails: the first page of the process's memory is not mapped.
    // (Under Wine the path reaches the Linux file, which a Windows program reads otherwise.)
    const QString memory = QStringLiteral("/proc/self/mem");
    if (QFileInfo::exists(memory) && !runningUnderWine()) {
        for (int kind = AssetMap; kind <= Classify; ++kind) {
            error.clear();
            kind == AssetMap ? void(reader.readAssetMap(memory, &error))
            : kind == Pkl    ? void(reader.readPackingList(memory, &error))
            : kind == Cpl    ? void(reader.readComposition(memory, &error))
            : kind == Kdm    ? void(reader.readKdm(memory, &error))
                             : void(reader.classifyXml(memory, &error));
            QCOMPARE(error, QStringLiteral("Input/output error"));
        }
    }
}

void TestXmlReader::corpus_data()
{
    QTest::addColumn<int>("reader");
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QString>("expected");
    row("KDM_ECL29.*xml$", Kdm, {},
        "cpl=urn:uuid:27f3b280-6b7b-4569-bd3c-c706b746027f from=2018-01-07T00:00:00+01:00 "
        "to=2022-01-18T23:59:59+01:00;CN=CS.smpte-430-2.LEAF.");
    row("(?i)kdm.*xml$", Classify, {}, "Kdm$");
    row("(?i)/cpl[^/]*xml$", Classify, {}, "Cpl$");
    row("(?i)/pkl[^/]*xml$", Classify, {}, "Pkl$");
    row("test/data/subs1.xml", Classify, {}, "Unknown$");
    row("dcp_test2/cpl_", Cpl, {},
        "3d=1 3dns=http://www.smpte-ra.org/schemas/429-10/2008/;type=Picture3D ;edit=24 frame=48 ");
    row("ECL01.*/ASSETMAP$", AssetMap, {}, "ns=http://www.digicine.com/PROTO-ASDCP-AM-20040311#");
    row("ECL30-.*/PKL_", Pkl, {}, "ns=http://www.smpte-ra.org/schemas/429-8/2007/PKL ");
    row("ECL31-.*/ASSETMAP$", AssetMap, {}, " ann=PKL: ECL31 assets=");
    row("XML/(ASSETVOID|PLAINTEXT)$", All, {}, "|||||Unknown");
    row("XML/ASSETMAP_BAD_XML", AssetMap, {},
        "id=urn:uuid:e8bd7ecd-8cf3-41e3-bbf6-3fad803c58f6 "
        "ann=ECL02-SINGLE-CPL_TST_S_EN-XX_UK-U_71_2K_DI_20171218_ECL_IOP_VF$");
    row("XML/ASSETMAP_SMPTE_NSPREFIX", AssetMap, {},
        "ns=http://www.smpte-ra.org/schemas/429-9/2007/AM ;path=j2c.mxf size=330812592476 ");
    row("dcp_test5/cpl_", Cpl, {},
        "AuxData urn:uuid:b68febcc-5ddf-489a-84a7-924f29fa2afd 1489/1489/0 ");
    row("XML/CPL_SMPTE_FRAMERATE_RATIONAL", Cpl, {},
        "type=Sound ;edit=48 dur=816 | ;type=Picture3D ;edit=48 frame=96 ");
}

// The row's reader, on every corpus file whose path matches the row's tag, gives a record holding
// each of the row's fragments (between ';', a '$' marks the record's end); every reader reads the
// file the same in small chunks.
void TestXmlReader::corpus()
{
    if (corpusDir().isEmpty())
        QSKIP("the shared document corpus (../shared/dcp-corpus) is not present");
    QFETCH(int, reader);
    QFETCH(QString, expected);
    const QRegularExpression pattern(QString::fromLatin1(QTest::currentDataTag()));
    int files = 0;
    for (QDirIterator it(corpusDir(), QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
        const QString path = it.next();
        if (!pattern.match(path.mid(corpusDir().size())).hasMatch())
            continue;
        const QString record = read(reader, path) + QLatin1Char('$');
        for (const QString &fragment : expected.split(QLatin1Char(';')))
            QVERIFY2(record.contains(fragment), qPrintable(path + QLatin1String(": ") + record));
        QVERIFY2(read(All, path, 5) == read(All, path), qPrintable(path));
        ++files;
    }
    QVERIFY(files > 0);
}

QTEST_GUILESS_MAIN(TestXmlReader)
#include "test_xmlreader.moc"
