#include "dcp/DcpXmlReader.h"
#include "dcp/XmlDocumentReaders.h"
#include "support/TestSupport.h"

#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QString operator""_q(const char *text, size_t size)
{
    return QString::fromUtf8(text, int(size));
}

// A record written on one line, every field that is not empty, so that a table row states the
// whole record and a field filled by mistake shows up too.
class Line
{
public:
    void add(const char *key, const QString &value)
    {
        if (!value.isEmpty())
            m_fields << QLatin1String(key) + QLatin1Char('=') + value;
    }
    void add(const char *key, qint64 value)
    {
        if (value != 0)
            add(key, QString::number(value));
    }
    void flag(const char *key, bool value)
    {
        if (value)
            m_fields << QLatin1String(key);
    }
    QString text() const { return m_fields.join(QLatin1Char(' ')); }

private:
    QStringList m_fields;
};

QString describe(const AssetInfo &asset)
{
    Line line;
    line.add("id", asset.id);
    line.add("path", asset.path);
    line.add("size", asset.size);
    line.add("type", asset.type);
    line.add("hash", asset.hash);
    line.add("edit", asset.editRate);
    line.add("frame", asset.frameRate);
    line.add("dur", asset.duration);
    line.add("aspect", asset.aspectRatio);
    line.add("lang", asset.language);
    line.add("key", asset.keyId);
    line.add("pic", asset.pictureSize);
    return line.text();
}

QString describe(const QVector<AssetInfo> &assets)
{
    QStringList parts;
    for (const AssetInfo &asset : assets)
        parts << describe(asset);
    return parts.isEmpty()
               ? QString()
               : QLatin1Char('[') + parts.join(QStringLiteral(" | ")) + QLatin1Char(']');
}

QString describe(const AssetMapInfo &record)
{
    Line line;
    line.add("ns", record.namespaceUri);
    line.add("id", record.id);
    line.add("ann", record.annotationText);
    line.add("assets", describe(record.assets));
    return line.text();
}

QString describe(const PklInfo &record)
{
    Line line;
    line.add("ns", record.namespaceUri);
    line.add("id", record.id);
    line.add("ann", record.annotationText);
    line.add("issue", record.issueDate);
    line.flag("group", record.hasGroupId);
    line.add("assets", describe(record.assets));
    return line.text();
}

QString describe(const CplInfo &record)
{
    Line line;
    line.add("ns", record.namespaceUri);
    line.add("id", record.id);
    line.add("title", record.contentTitleText);
    line.flag("3d", record.stereoscopic);
    line.add("3dns", record.stereoscopicNamespaceUri);
    line.flag("encrypted", record.encrypted);
    line.add("tracks", describe(record.assets));
    return line.text();
}

QString describe(const KdmInfo &record)
{
    Line line;
    line.add("ns", record.namespaceUri);
    line.add("msg", record.messageId);
    line.add("cpl", record.compositionPlaylistId);
    line.add("from", record.notValidBefore);
    line.add("to", record.notValidAfter);
    line.add("subjects",
             record.subjectNames.isEmpty()
                 ? QString()
                 : QLatin1Char('[') +
                       QStringList(record.subjectNames.toList()).join(QLatin1Char('|')) +
                       QLatin1Char(']'));
    return line.text();
}

QString kindName(DcpXmlReader::DocumentKind kind)
{
    switch (kind) {
    case DcpXmlReader::Pkl:
        return QStringLiteral("Pkl");
    case DcpXmlReader::Cpl:
        return QStringLiteral("Cpl");
    case DcpXmlReader::Kdm:
        return QStringLiteral("Kdm");
    case DcpXmlReader::Unknown:
        break;
    }
    return QStringLiteral("Unknown");
}

enum Reader { AssetMapReader, PklReader, CplReader, KdmReader, ClassifyReader };

// What a reader makes of a document held in memory, fed in chunks of the given size.
QString readInMemory(Reader reader, const QByteArray &document, const XmlReadLimits &limits)
{
    QBuffer buffer;
    buffer.setData(document);
    buffer.open(QIODevice::ReadOnly);
    switch (reader) {
    case AssetMapReader:
        return describe(XmlDocumentReaders::readAssetMap(&buffer, limits));
    case PklReader:
        return describe(XmlDocumentReaders::readPackingList(&buffer, limits));
    case CplReader:
        return describe(XmlDocumentReaders::readComposition(&buffer, limits));
    case KdmReader:
        return describe(XmlDocumentReaders::readKdm(&buffer, limits));
    case ClassifyReader:
        break;
    }
    return kindName(XmlDocumentReaders::classifyXml(&buffer, limits));
}

QString readInChunks(Reader reader, const QByteArray &document, qint64 chunkBytes)
{
    XmlReadLimits limits;
    limits.chunkBytes = chunkBytes;
    return readInMemory(reader, document, limits);
}

QString readFile(Reader reader, const QString &path)
{
    const DcpXmlReader xmlReader;
    switch (reader) {
    case AssetMapReader:
        return describe(xmlReader.readAssetMap(path));
    case PklReader:
        return describe(xmlReader.readPackingList(path));
    case CplReader:
        return describe(xmlReader.readComposition(path));
    case KdmReader:
        return describe(xmlReader.readKdm(path));
    case ClassifyReader:
        break;
    }
    return kindName(xmlReader.classifyXml(path));
}

const QByteArray kCplHead = "<CompositionPlaylist xmlns=\"urn:cpl\"><Id>C</Id>"
                            "<ContentTitleText>T</ContentTitleText><ReelList><Reel><Id>R</Id>"
                            "<AssetList><MainPicture><Id>P</Id><EditRate>24 1</EditRate>"
                            "<Duration>10</Duration></MainPicture>";
const QString kCplHeadRecord =
    QStringLiteral("ns=urn:cpl id=C title=T tracks=[id=P type=Picture edit=24 dur=10]");

} // namespace

class TestXmlReader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void classifyXml_data();
    void classifyXml();
    void readAssetMap_data();
    void readAssetMap();
    void readPackingList_data();
    void readPackingList();
    void readComposition_data();
    void readComposition();
    void readKdm_data();
    void readKdm();
    void unreadableFiles_data();
    void unreadableFiles();
    void normalizeRate_data();
    void normalizeRate();
    void normalizeAspectRatio_data();
    void normalizeAspectRatio();

    void encodings_data();
    void encodings();
    void limits_data();
    void limits();
    void hostileDocuments_data();
    void hostileDocuments();
    void largeDocumentReadWhole();

    void corpusClassification_data();
    void corpusClassification();
    void corpusKdms_data();
    void corpusKdms();
    void corpusDocuments_data();
    void corpusDocuments();
    void corpusAssetMapAnnotations_data();
    void corpusAssetMapAnnotations();
    void namespaceRule_data();
    void namespaceRule();
    void corpusNamespaces_data();
    void corpusNamespaces();
    void corpusChunking_data();
    void corpusChunking();

private:
    QString write(const QByteArray &content);
    void addReaderRows(Reader reader);
    void checkReaderRow(Reader reader);

    QTemporaryDir m_dir;
    int m_files = 0;
};

void TestXmlReader::initTestCase()
{
    QVERIFY(m_dir.isValid());
}

QString TestXmlReader::write(const QByteArray &content)
{
    const QString path = m_dir.filePath(QStringLiteral("doc%1.xml").arg(++m_files));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        return QString();
    return path;
}

// Reads the row's document from a file, and checks that feeding it to the parser a few bytes at
// a time gives the same record: a document split anywhere reads the same.
void TestXmlReader::checkReaderRow(Reader reader)
{
    QFETCH(QByteArray, document);
    QFETCH(QString, expected);
    const QString path = write(document);
    QVERIFY(!path.isEmpty());
    QCOMPARE(readFile(reader, path), expected);
    for (qint64 chunk : {1, 2, 3, 7})
        QCOMPARE(readInChunks(reader, document, chunk), expected);
}

void TestXmlReader::classifyXml_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QString>("expected");

    QTest::newRow("composition") << QByteArray("<?xml version=\"1.0\"?><CompositionPlaylist "
                                               "xmlns=\"urn:x\"><Id>A</Id></CompositionPlaylist>")
                                 << "Cpl";
    QTest::newRow("packing list") << QByteArray("<PackingList/>") << "Pkl";
    QTest::newRow("kdm") << QByteArray("<DCinemaSecurityMessage xmlns=\"urn:k\"/>") << "Kdm";
    QTest::newRow("prefixed root")
        << QByteArray("<p:PackingList xmlns:p=\"urn:p\"><p:Id>A</p:Id></p:PackingList>") << "Pkl";
    QTest::newRow("nested under unrelated root")
        << QByteArray("<Wrapper><Other/><Inner><PackingList/></Inner></Wrapper>") << "Pkl";
    QTest::newRow("first recognised in document order wins")
        << QByteArray("<Root><PackingList/><CompositionPlaylist/></Root>") << "Pkl";
    QTest::newRow("asset map marking its packing list")
        << QByteArray("<AssetMap><AssetList><Asset><Id>A</Id><PackingList>true</PackingList>"
                      "</Asset></AssetList></AssetMap>")
        << "Pkl";
    QTest::newRow("only a longer name") << QByteArray("<Root><CompositionPlaylistId>A</"
                                                      "CompositionPlaylistId></Root>")
                                        << "Unknown";
    QTest::newRow("case differs") << QByteArray("<packinglist/>") << "Unknown";
    QTest::newRow("recognised after a fault")
        << QByteArray("<Root><a></b><PackingList/></Root>") << "Unknown";
    QTest::newRow("truncated after the start tag")
        << QByteArray("<CompositionPlaylist xmlns=\"urn:x\"><Id>ur") << "Cpl";
    QTest::newRow("document type declaration ends reading")
        << QByteArray("<!DOCTYPE PackingList><PackingList/>") << "Unknown";
    QTest::newRow("interop subtitle")
        << QByteArray("<DCSubtitle Version=\"1.0\"><SubtitleID>a</SubtitleID><Font><Subtitle>"
                      "<Text>Hi</Text></Subtitle></Font></DCSubtitle>")
        << "Unknown";
    QTest::newRow("smpte subtitle")
        << QByteArray("<SubtitleReel xmlns=\"http://www.smpte-ra.org/schemas/428-7/2010/DCST\">"
                      "<Id>urn:uuid:1</Id><SubtitleList/></SubtitleReel>")
        << "Unknown";
    QTest::newRow("empty") << QByteArray() << "Unknown";
    QTest::newRow("plain text") << QByteArray("hello hello") << "Unknown";
    QTest::newRow("binary") << QByteArray("\x00\xff\x10<\x00PackingList>", 17) << "Unknown";
}

void TestXmlReader::classifyXml()
{
    checkReaderRow(ClassifyReader);
}

void TestXmlReader::readAssetMap_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QString>("expected");

    QTest::newRow("two assets") << QByteArray(R"(<?xml version="1.0" encoding="UTF-8"?>
<AssetMap xmlns="urn:am"><Id>M</Id><AnnotationText>Map</AnnotationText><AssetList>
<Asset><Id>a1</Id><PackingList>true</PackingList><ChunkList><Chunk><Path>pkl.xml</Path>
<VolumeIndex>1</VolumeIndex><Offset>0</Offset><Length>1200</Length></Chunk></ChunkList></Asset>
<Asset><Id>a2</Id><ChunkList><Chunk><Path>j2c.mxf</Path></Chunk></ChunkList></Asset>
</AssetList></AssetMap>)")
                                << "ns=urn:am id=M ann=Map assets=[id=a1 path=pkl.xml size=1200 | "
                                   "id=a2 path=j2c.mxf]";
    QTest::newRow("asset annotation wins, the last one")
        << QByteArray("<AssetMap><Id>M</Id><AnnotationText>Map</AnnotationText><AssetList>"
                      "<Asset><Id>a1</Id><AnnotationText>CPL: x</AnnotationText></Asset>"
                      "<Asset><Id>a2</Id><AnnotationText>PKL: x</AnnotationText></Asset>"
                      "</AssetList></AssetMap>")
        << "id=M ann=PKL: x assets=[id=a1 | id=a2]";
    QTest::newRow("an empty last annotation empties it")
        << QByteArray("<AssetMap><AnnotationText>Map</AnnotationText><Id>M</Id>"
                      "<AnnotationText/></AssetMap>")
        << "id=M";
    QTest::newRow("first id is the map's own, even inside an asset")
        << QByteArray("<AssetMap><AssetList><Asset><Id>a1</Id><ChunkList><Chunk><Path>p</Path>"
                      "</Chunk></ChunkList></Asset><Asset><Id>a2</Id></Asset></AssetList>"
                      "</AssetMap>")
        << "id=a1 assets=[path=p | id=a2]";
    QTest::newRow("ids outside assets ignored")
        << QByteArray("<AssetMap><Id>M</Id><Volume><Id>V</Id></Volume><AssetList><Asset>"
                      "<Id>a1</Id></Asset><Id>X</Id></AssetList></AssetMap>")
        << "id=M assets=[id=a1]";
    QTest::newRow("last chunk's path and length")
        << QByteArray("<AssetMap><Id>M</Id><Asset><Id>a</Id><ChunkList>"
                      "<Chunk><Path>part1</Path><Length>10</Length></Chunk>"
                      "<Chunk><Path>part2</Path><Length>20</Length></Chunk>"
                      "</ChunkList></Asset></AssetMap>")
        << "id=M assets=[id=a path=part2 size=20]";
    QTest::newRow("64-bit length, unreadable length")
        << QByteArray("<AssetMap><Id>M</Id><Asset><Id>a</Id><Length>330812592476</Length></Asset>"
                      "<Asset><Id>b</Id><Length>12 MB</Length></Asset></AssetMap>")
        << "id=M assets=[id=a size=330812592476 | id=b]";
    QTest::newRow("pending values reset by each asset")
        << QByteArray("<AssetMap><Id>M</Id><Asset><Id>a</Id><Path>p</Path><Length>5</Length>"
                      "</Asset><Asset></Asset></AssetMap>")
        << "id=M assets=[id=a path=p size=5 | ]";
    QTest::newRow("any prefix")
        << QByteArray("<am:AssetMap xmlns:am=\"urn:am\"><am:Id>M</am:Id><am:Asset><am:Id>a</am:Id>"
                      "<am:Path>p.mxf</am:Path></am:Asset></am:AssetMap>")
        << "ns=urn:am id=M assets=[id=a path=p.mxf]";
    QTest::newRow("texts kept exactly")
        << QByteArray("<AssetMap><Id> urn:uuid:A </Id><Asset><Id>a</Id><Path>sub dir/a&amp;b "
                      "<![CDATA[<c>]]>.mxf</Path><Length> 42 </Length></Asset></AssetMap>")
        << "id= urn:uuid:A  assets=[id=a path=sub dir/a&b <c>.mxf size=42]";
    QTest::newRow("truncated inside an asset")
        << QByteArray("<AssetMap><Id>M</Id><Asset><Id>a</Id></Asset><Asset><Id>b</Id><Path>p")
        << "id=M assets=[id=a]";
    QTest::newRow("mismatched tag inside an asset")
        << QByteArray("<AssetMap><Id>M</Id><Asset><Id>a</Id></Asset><Asset><Id>b</Id>"
                      "<ChunkList></Asset></AssetMap>")
        << "id=M assets=[id=a]";
    QTest::newRow("leaf with a child element")
        << QByteArray("<AssetMap><Id>M</Id><Asset><Id>a</Id><Path>p<b/>q</Path></Asset>"
                      "<Asset><Id>b</Id></Asset></AssetMap>")
        << "id=M";
    QTest::newRow("']]>' in text")
        << QByteArray("<AssetMap><Id>M</Id><Asset><Id>a</Id></Asset><Asset><Id>b]]>c</Id></Asset>"
                      "</AssetMap>")
        << "id=M assets=[id=a]";
    QTest::newRow("text cut off before its end tag")
        << QByteArray("<AssetMap><Id>M</Id><AnnotationText>half") << "id=M";
}

void TestXmlReader::readAssetMap()
{
    checkReaderRow(AssetMapReader);
}

void TestXmlReader::readPackingList_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QString>("expected");

    QTest::newRow("smpte list") << QByteArray(R"(<?xml version="1.0" encoding="UTF-8"?>
<PackingList xmlns="urn:pkl"><Id>L</Id><AnnotationText>Film</AnnotationText>
<IssueDate>2023-01-01T12:00:00+08:00</IssueDate><Issuer>i</Issuer><AssetList>
<Asset><Id>a1</Id><AnnotationText>cpl</AnnotationText><Hash>h1=</Hash><Size>1200</Size>
<Type>text/xml</Type><OriginalFileName>cpl.xml</OriginalFileName></Asset>
<Asset><Id>a2</Id><Hash>h2=</Hash><Size>9430180558</Size><Type>application/mxf</Type></Asset>
</AssetList></PackingList>)")
                                << "ns=urn:pkl id=L ann=Film issue=2023-01-01 assets=[id=a1 "
                                   "path=cpl.xml size=1200 type=text/xml hash=h1= | id=a2 "
                                   "size=9430180558 type=application/mxf hash=h2=]";
    QTest::newRow("empty own annotation, asset's taken")
        << QByteArray("<PackingList><Id>L</Id><AnnotationText></AnnotationText><Asset><Id>a</Id>"
                      "<AnnotationText>first</AnnotationText></Asset><Asset><Id>b</Id>"
                      "<AnnotationText>second</AnnotationText></Asset></PackingList>")
        << "id=L ann=first assets=[id=a | id=b]";
    QTest::newRow("own annotation wins")
        << QByteArray("<PackingList><AnnotationText>Own</AnnotationText><Id>L</Id><Asset>"
                      "<Id>a</Id><AnnotationText>asset</AnnotationText></Asset></PackingList>")
        << "id=L ann=Own assets=[id=a]";
    QTest::newRow("group id anywhere")
        << QByteArray("<PackingList><Id>L</Id><Asset><Id>a</Id></Asset><GroupId>urn:uuid:g"
                      "</GroupId></PackingList>")
        << "id=L group assets=[id=a]";
    QTest::newRow("short issue date, unreadable size")
        << QByteArray("<PackingList><Id>L</Id><IssueDate>2023</IssueDate><Asset><Id>a</Id>"
                      "<Size>-</Size></Asset></PackingList>")
        << "id=L issue=2023 assets=[id=a]";
    QTest::newRow("signer ids ignored")
        << QByteArray("<PackingList><Id>L</Id><Signer><Id>S</Id></Signer><Asset><Id>a</Id>"
                      "</Asset></PackingList>")
        << "id=L assets=[id=a]";
    QTest::newRow("truncated inside an asset")
        << QByteArray("<PackingList><Id>L</Id><Asset><Id>a</Id><Hash>h</Hash></Asset><Asset>"
                      "<Id>b</Id><Hash>")
        << "id=L assets=[id=a hash=h]";
}

void TestXmlReader::readPackingList()
{
    checkReaderRow(PklReader);
}

void TestXmlReader::readComposition_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QString>("expected");

    QTest::newRow("flat, two reels") << QByteArray(R"(<?xml version="1.0"?>
<CompositionPlaylist xmlns="urn:cpl"><Id>C</Id><ContentTitleText>Film_FTR</ContentTitleText>
<ReelList><Reel><Id>R1</Id><AssetList>
<MainPicture><Id>P1</Id><EditRate>24 1</EditRate><Duration>86400</Duration><Hash>hp=</Hash>
<FrameRate>24 1</FrameRate><ScreenAspectRatio>1998 1080</ScreenAspectRatio></MainPicture>
<MainSound><Id>S1</Id><EditRate>24 1</EditRate><Duration>86400</Duration>
<Language>zh</Language></MainSound></AssetList></Reel>
<Reel><Id>R2</Id><AssetList><MainPicture><Id>P2</Id><EditRate>24 1</EditRate>
<Duration>45300</Duration><ScreenAspectRatio>1.85</ScreenAspectRatio></MainPicture>
</AssetList></Reel></ReelList></CompositionPlaylist>)")
                                     << "ns=urn:cpl id=C title=Film_FTR tracks=[id=P1 "
                                        "type=Picture hash=hp= edit=24 frame=24 dur=86400 "
                                        "aspect=1.85:1 pic=1998*1080 | id=S1 type=Sound "
                                        "edit=24 dur=86400 lang=zh | id=P2 type=Picture "
                                        "edit=24 dur=45300 aspect=1.85:1]";
    QTest::newRow("marker values go with the next track")
        << QByteArray("<CompositionPlaylist><Id>C</Id><Reel><Id>R</Id><MainMarkers><Id>M</Id>"
                      "<EditRate>25 1</EditRate><Duration>99</Duration><Hash>hm</Hash>"
                      "</MainMarkers><MainPicture><Id>P</Id><Duration>10</Duration>"
                      "</MainPicture><MainSound><Id>S</Id></MainSound></Reel>"
                      "</CompositionPlaylist>")
        << "id=C tracks=[id=P type=Picture hash=hm edit=25 dur=10 | id=S type=Sound]";
    QTest::newRow("no inheritance after a commit")
        << QByteArray("<CompositionPlaylist><Id>C</Id><MainPicture><Id>P</Id><KeyId>k</KeyId>"
                      "<ScreenAspectRatio>2048 858</ScreenAspectRatio><FrameRate>24 1"
                      "</FrameRate></MainPicture><MainSound><Id>S</Id></MainSound>"
                      "</CompositionPlaylist>")
        << "id=C encrypted tracks=[id=P type=Picture frame=24 aspect=2.39:1 key=k pic=2048*858 "
           "| id=S type=Sound]";
    QTest::newRow("key id outside a track")
        << QByteArray("<CompositionPlaylist><Id>C</Id><Extra><KeyId>k</KeyId></Extra>"
                      "<MainSound><Id>S</Id></MainSound><MainSound><Id>T</Id></MainSound>"
                      "</CompositionPlaylist>")
        << "id=C encrypted tracks=[id=S type=Sound key=k | id=T type=Sound]";
    QTest::newRow("stereoscopic keeps the first namespace")
        << QByteArray("<CompositionPlaylist xmlns=\"urn:cpl\"><Id>C</Id>"
                      "<a:MainStereoscopicPicture xmlns:a=\"urn:3d/2007\"><Id>L</Id><EditRate>"
                      "48 1</EditRate><FrameRate>96 1</FrameRate></a:MainStereoscopicPicture>"
                      "<b:MainStereoscopicPicture xmlns:b=\"urn:3d/2008\"><Id>M</Id>"
                      "</b:MainStereoscopicPicture></CompositionPlaylist>")
        << "ns=urn:cpl id=C 3d 3dns=urn:3d/2007 tracks=[id=L type=Picture3D edit=48 frame=96 | "
           "id=M type=Picture3D]";
    QTest::newRow("subtitle track")
        << QByteArray("<CompositionPlaylist><Id>C</Id><MainSubtitle><Id>U</Id><Language>en"
                      "</Language></MainSubtitle></CompositionPlaylist>")
        << "id=C tracks=[id=U type=Subtitle lang=en]";
    QTest::newRow("rates")
        << QByteArray("<CompositionPlaylist><Id>C</Id><MainPicture><EditRate>30000 1001"
                      "</EditRate><FrameRate>120 1</FrameRate></MainPicture><MainPicture>"
                      "<EditRate>48000 1000</EditRate><FrameRate>96000 1000</FrameRate>"
                      "</MainPicture><MainPicture><EditRate>24 0</EditRate></MainPicture>"
                      "</CompositionPlaylist>")
        << "id=C tracks=[type=Picture edit=30 frame=120 | type=Picture edit=48 frame=96 | "
           "type=Picture]";
    QTest::newRow("later title overwrites, unreadable duration")
        << QByteArray("<CompositionPlaylist><Id>C</Id><ContentTitleText>one</ContentTitleText>"
                      "<ContentTitleText>two</ContentTitleText><MainSound><Duration>1e3"
                      "</Duration></MainSound></CompositionPlaylist>")
        << "id=C title=two tracks=[type=Sound]";
    QTest::newRow("ids of reels and non-track assets ignored")
        << QByteArray("<CompositionPlaylist><Id>C</Id><ContentVersion><Id>V</Id></ContentVersion>"
                      "<Reel><Id>R</Id><AuxData><Id>X</Id></AuxData><MainSound><Id>S</Id>"
                      "</MainSound></Reel></CompositionPlaylist>")
        << "id=C tracks=[id=S type=Sound]";
    QTest::newRow("key id cut off")
        << QByteArray("<CompositionPlaylist><Id>C</Id><MainPicture><Id>P</Id><KeyId>urn:")
        << "id=C encrypted";
    QTest::newRow("truncated inside a track")
        << QByteArray("<CompositionPlaylist><Id>C</Id><MainPicture><Id>P</Id></MainPicture>"
                      "<MainSound><Id>S</Id><KeyId>k</KeyId><Duration>5")
        << "id=C encrypted tracks=[id=P type=Picture]";
}

void TestXmlReader::readComposition()
{
    checkReaderRow(CplReader);
}

void TestXmlReader::readKdm_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QString>("expected");

    QTest::newRow("three subject names in order") << QByteArray(R"(<?xml version="1.0"?>
<DCinemaSecurityMessage xmlns="urn:etm" xmlns:ds="urn:ds"><AuthenticatedPublic>
<MessageId>urn:uuid:m</MessageId><RequiredExtensions><KDMRequiredExtensions>
<Recipient><X509IssuerSerial><ds:X509IssuerName>issuer</ds:X509IssuerName></X509IssuerSerial>
<X509SubjectName>dnQualifier=a\+b=,CN=LE.SERVER</X509SubjectName></Recipient>
<CompositionPlaylistId>urn:uuid:c</CompositionPlaylistId>
<ContentKeysNotValidBefore>2023-01-01T00:00:00+08:00</ContentKeysNotValidBefore>
<ContentKeysNotValidAfter>2023-03-01T23:59:59+08:00</ContentKeysNotValidAfter>
</KDMRequiredExtensions></RequiredExtensions></AuthenticatedPublic>
<ds:Signature><ds:KeyInfo><ds:X509Data><ds:X509SubjectName>CN=signer</ds:X509SubjectName>
</ds:X509Data><ds:X509Data><ds:X509SubjectName>CN=root</ds:X509SubjectName></ds:X509Data>
</ds:KeyInfo></ds:Signature></DCinemaSecurityMessage>)")
                                                  << "ns=urn:etm msg=urn:uuid:m cpl=urn:uuid:c "
                                                     "from=2023-01-01T00:00:00+08:00 "
                                                     "to=2023-03-01T23:59:59+08:00 "
                                                     "subjects=[dnQualifier=a\\+b=,CN=LE.SERVER|"
                                                     "CN=signer|CN=root]";
    QTest::newRow("later values overwrite")
        << QByteArray("<DCinemaSecurityMessage><MessageId>1</MessageId><MessageId>2</MessageId>"
                      "<CompositionPlaylistId>a</CompositionPlaylistId><CompositionPlaylistId>b"
                      "</CompositionPlaylistId></DCinemaSecurityMessage>")
        << "msg=2 cpl=b";
    QTest::newRow("truncated after two subject names")
        << QByteArray("<DCinemaSecurityMessage><X509SubjectName>one</X509SubjectName>"
                      "<X509SubjectName>two</X509SubjectName><X509SubjectName>thr")
        << "subjects=[one|two]";
}

void TestXmlReader::readKdm()
{
    checkReaderRow(KdmReader);
}

void TestXmlReader::unreadableFiles_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("missing file") << m_dir.filePath(QStringLiteral("missing.xml"));
    QTest::newRow("folder") << m_dir.path();
    QTest::newRow("empty file") << write(QByteArray());
    QTest::newRow("not xml") << write("PackingList CompositionPlaylist");
}

void TestXmlReader::unreadableFiles()
{
    QFETCH(QString, path);
    const DcpXmlReader reader;
    QCOMPARE(reader.classifyXml(path), DcpXmlReader::Unknown);
    QCOMPARE(describe(reader.readAssetMap(path)), QString());
    QCOMPARE(describe(reader.readPackingList(path)), QString());
    QCOMPARE(describe(reader.readComposition(path)), QString());
    QCOMPARE(describe(reader.readKdm(path)), QString());
}

void TestXmlReader::normalizeRate_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    const QList<QPair<const char *, const char *>> rows = {
        {"24 1", "24"},       {"25 1", "25"},   {"30000 1001", "30"}, {"24000 1001", "24"},
        {"48000 1000", "48"}, {"120 1", "120"}, {"96 1", "96"},       {"48 1", "48"},
        {"24", "24"},         {"23.976", "24"}, {"25 2", "13"},       {" 24  1 ", "24"},
        {"0 1", "0"},         {"24 0", ""},     {"24 -1", ""},        {"-24 1", ""},
        {"24 1 1", ""},       {"", ""},         {"abc", ""},          {"24 x", ""},
        {"1e3 1", ""},        {"nan 1", ""},    {"4294967296 1", ""}, {"1 4294967296", "0"}};
    for (const auto &row : rows)
        QTest::newRow(row.first) << QString::fromLatin1(row.first)
                                 << QString::fromLatin1(row.second);
}

void TestXmlReader::normalizeRate()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(DcpXmlReader::normalizeRate(text), expected);
}

void TestXmlReader::normalizeAspectRatio_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("pictureSize"); // starts as "old"

    QTest::newRow("single number") << "1.85"
                                   << "1.85:1"
                                   << "old";
    QTest::newRow("flat") << "1998 1080"
                          << "1.85:1"
                          << "1998*1080";
    QTest::newRow("scope") << "2048 858"
                           << "2.39:1"
                           << "2048*858";
    QTest::newRow("full container") << "4096 2160"
                                    << "1.90:1"
                                    << "4096*2160";
    QTest::newRow("zero height") << "1998 0"
                                 << ""
                                 << "1998*0";
    QTest::newRow("unreadable height") << "1998 x"
                                       << ""
                                       << "1998*x";
    QTest::newRow("no height") << "1998 "
                               << ""
                               << "1998*";
    QTest::newRow("unreadable width") << "x 1080"
                                      << "0.00:1"
                                      << "x*1080";
    QTest::newRow("three numbers") << "1998 1080 1"
                                   << ""
                                   << "1998*1080*1";
    QTest::newRow("empty") << ""
                           << ""
                           << "old";
}

void TestXmlReader::normalizeAspectRatio()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QFETCH(QString, pictureSize);
    QString size = QStringLiteral("old");
    QCOMPARE(DcpXmlReader::normalizeAspectRatio(text, size), expected);
    QCOMPARE(size, pictureSize);
}

void TestXmlReader::encodings_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QString>("expected");

    const QByteArray head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><AssetMap><Id>M</Id>";
    const QByteArray tail = "</AssetMap>";
    // Enough text before the fault that the parser alone would reject it with the bad byte.
    const QByteArray padding =
        "<Asset><Id>a</Id><Note>" + QByteArray(9000, 'x') + "</Note></Asset>";
    QTest::newRow("chinese and an emoji")
        << head +
               "<Asset><Id>a</Id><Path>\xe5\xbd\xb1\xe7\x89\x87\xf0\x9f\x8e\xac.mxf</Path>"
               "</Asset>" +
               tail
        << QString::fromUtf8("id=M assets=[id=a path=影片🎬.mxf]");
    QTest::newRow("byte order mark")
        << "\xef\xbb\xbf" + head + "<Asset><Id>a</Id></Asset>" + tail << "id=M assets=[id=a]";
    QTest::newRow("latin-1 byte in a utf-8 document")
        << head + padding + "<Asset><Id>b</Id><Path>caf\xe9.mxf</Path></Asset>" + tail
        << "id=M assets=[id=a]";
    QTest::newRow("overlong slash") << head + padding +
                                           "<Asset><Id>b</Id><Path>..\xc0\xaf"
                                           "etc</Path></Asset>" +
                                           tail
                                    << "id=M assets=[id=a]";
    QTest::newRow("surrogate") << head + padding +
                                      "<Asset><Id>b</Id><Path>\xed\xa0\x80</Path></Asset>" + tail
                               << "id=M assets=[id=a]";
    QTest::newRow("beyond U+10FFFF")
        << head + padding + "<Asset><Id>b</Id><Path>\xf4\x90\x80\x80</Path></Asset>" + tail
        << "id=M assets=[id=a]";
    QTest::newRow("NUL after ']]'") << head + "<Asset><Id>a</Id></Asset><Asset><Id>]]" +
                                           QByteArray(1, '\0') + "</Id></Asset>" + tail
                                    << "id=M assets=[id=a]";
    QTest::newRow("cut inside a character") << head + padding + "<Asset><Id>b</Id><Path>\xe5\xbd"
                                            << "id=M assets=[id=a]";
    QTest::newRow("latin-1 declared")
        << QByteArray("<?xml version='1.0' encoding = 'ISO-8859-1'?><AssetMap><Id>M</Id><Asset>"
                      "<Path>caf\xe9.mxf</Path></Asset></AssetMap>")
        << QString::fromUtf8("id=M assets=[path=café.mxf]");
    const QString utf16 =
        QStringLiteral("<AssetMap><Id>M</Id><Asset><Id>\u5f71</Id></Asset></AssetMap>");
    QTest::newRow("utf-16 with byte order mark")
        << QByteArray("\xff\xfe", 2) +
               QByteArray(reinterpret_cast<const char *>(utf16.utf16()), 2 * utf16.size())
        << QString::fromUtf8("id=M assets=[id=影]");
}

// A document in UTF-8 is read up to the first byte that cannot stand there, wherever the file
// is split into chunks.
void TestXmlReader::encodings()
{
    checkReaderRow(AssetMapReader);
}

void TestXmlReader::limits_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<bool>("cut");

    // Each row is read with a limit of 32 bytes of markup, 16 bytes of text, 12 characters of
    // value, 3 attributes per tag, 4 attributes open and 4 elements deep.
    const QByteArray head = "<AssetMap><Id>M</Id>";
    QTest::newRow("within every limit")
        << head + "<Asset a=\"1\" b=\"2\" c=\"3\"><Id>0123456789ab</Id></Asset></AssetMap>"
        << "id=M assets=[id=0123456789ab]" << false;
    QTest::newRow("long start tag")
        << head + "<Asset><Id>a</Id></Asset><Asset><Id>b</Id></Asset><Asset x=\"01234567890123"
                  "4567890123\"><Id>c</Id></Asset></AssetMap>"
        << "id=M assets=[id=a | id=b]" << true;
    QTest::newRow("quoted '>' does not end a tag")
        << head + "<Asset><Id>a</Id></Asset><Asset x=\">>>>>>>>>>>>>>>>>>>>>>\">"
                  "</Asset></AssetMap>"
        << "id=M assets=[id=a]" << true;
    QTest::newRow("comment with a quote and '>'")
        << QByteArray("<!-- it's > --><AssetMap><?pi don't?><Id>M</Id><Asset><Id>a</Id></Asset>"
                      "<Asset><Id>b</Id><Path><![CDATA[\"<'>]]></Path></Asset></AssetMap>")
        << "id=M assets=[id=a | id=b path=\"<'>]" << false;
    QTest::newRow("too many attributes")
        << head + "<Asset><Id>a</Id></Asset><Asset a=\"\" b=\"\" c=\"\" d=\"\"></Asset>"
        << "id=M assets=[id=a]" << true;
    QTest::newRow("too many attributes open")
        << head + "<Asset a=\"\" b=\"\"><Id>a</Id><X c=\"\" d=\"\"><Y/></X><Z e=\"\"/></Asset>"
                  "<Asset c=\"\" d=\"\"><Id>b</Id><X e=\"\" f=\"\" g=\"\"/></Asset></AssetMap>"
        << "id=M assets=[id=a]" << true;
    QTest::newRow("too deep")
        << head + "<Asset><Id>a</Id><B><C><D/></C></B></Asset><Asset><Id>b</Id><B><C><D>"
                  "</D></C></B></Asset></AssetMap>"
        << "id=M assets=[id=a]" << true;
    QTest::newRow("long text run")
        << head + "<Asset><Id>a</Id><Note>0123456789abcdef</Note></Asset><Asset><Id>b</Id>"
                  "<Note>0123456789abcdefg</Note></Asset></AssetMap>"
        << "id=M assets=[id=a]" << true;
    QTest::newRow("long value across comments")
        << head + "<Asset><Id>0123<!---->4567<!---->89ab</Id></Asset><Asset><Id>0123<!---->"
                  "4567<!---->89abc</Id></Asset></AssetMap>"
        << "id=M assets=[id=0123456789ab]" << true;
    QTest::newRow("document type declaration")
        << QByteArray("<?xml version=\"1.0\"?><!DOCTYPE AssetMap><AssetMap><Id>M</Id></AssetMap>")
        << "" << true;
}

void TestXmlReader::limits()
{
    QFETCH(QByteArray, document);
    QFETCH(QString, expected);
    QFETCH(bool, cut);

    XmlReadLimits limits;
    limits.maxMarkupBytes = 32;
    limits.maxTextBytes = 16;
    limits.maxValueChars = 12;
    limits.maxAttributes = 3;
    limits.maxOpenAttributes = 4;
    limits.maxDepth = 4;
    for (qint64 chunk : {1, 5, 4096}) {
        limits.chunkBytes = chunk;
        QCOMPARE(readInMemory(AssetMapReader, document, limits), expected);
    }

    QBuffer buffer;
    buffer.setData(document);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    XmlBoundedStream xml(&buffer, limits);
    QString text;
    while (xml.readNext()) {
        if (xml.isStartElement() && xml.name() == QLatin1String("Id"))
            xml.readElementText(text);
    }
    QCOMPARE(xml.stoppedByLimit(), cut);
}

void TestXmlReader::hostileDocuments_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QString>("expected");

    // Appending a built string reserves the exact size each time: reserve ahead, or the copies
    // grow with the square of the size.
    QByteArray attributes;
    attributes.reserve(2 << 20);
    for (int i = 0; i < 200000; ++i)
        attributes += " a" + QByteArray::number(i) + "=\"\"";
    QTest::newRow("200000 attributes on one element")
        << kCplHead + "<MainSound" + attributes + "><Id>S</Id></MainSound></AssetList></Reel>"
        << kCplHeadRecord;
    QTest::newRow("200000 quoted '>' in one element")
        << kCplHead + "<MainSound" + QByteArray(" x=\">\"").repeated(200000) + "/>"
        << kCplHeadRecord;
    QTest::newRow("entity referenced 50000 times")
        << "<?xml version=\"1.0\"?><!DOCTYPE CompositionPlaylist [<!ENTITY e \"" +
               QByteArray(4000, 'x') + "\">]>" + kCplHead + "<MainSound><Id>" +
               QByteArray("&e;").repeated(50000) + "</Id></MainSound>"
        << QString();
    QTest::newRow("nested entities")
        << QByteArray(
               "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b "
               "\"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">"
               "<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">]><CompositionPlaylist><Id>&d;&d;&d;"
               "</Id></CompositionPlaylist>")
        << QString();
    QTest::newRow("undeclared entity")
        << kCplHead + "<MainSound><Id>&e;</Id></MainSound>" << kCplHeadRecord;
    QTest::newRow("8 MiB title") << kCplHead + "<ContentTitleText>" + QByteArray(8 << 20, 'T') +
                                        "</ContentTitleText>"
                                 << kCplHeadRecord;
    QTest::newRow("8 MiB of comments in a title")
        << kCplHead + "<ContentTitleText>" +
               QByteArray("0123456789abcdef<!-- -->").repeated(1 << 19) + "</ContentTitleText>"
        << kCplHeadRecord;
    QTest::newRow("100000 levels deep")
        << kCplHead + QByteArray("<MainSound>").repeated(100000) << kCplHeadRecord;
    QByteArray levels;
    levels.reserve(2 << 20);
    for (int level = 0; level < 250; ++level) {
        levels += "<q";
        for (int i = 0; i < 200; ++i)
            levels +=
                " xmlns:n" + QByteArray::number(i) + "=\"urn:" + QByteArray::number(level) + "\"";
        levels += ">";
    }
    QByteArray prefixedAttributes;
    for (int i = 0; i < 200; ++i)
        prefixedAttributes += " p:a" + QByteArray::number(i) + "=\"\"";
    QTest::newRow("250 levels of 200 namespaces")
        << kCplHead + "<x xmlns:p=\"urn:p\">" + levels +
               QByteArray("<p:MainSound" + prefixedAttributes + "/>").repeated(2000)
        << kCplHeadRecord;
    QTest::newRow("30 MiB of binary") << QByteArray(30 << 20, '\xa7') << QString();
}

// Parsed as they stand, these take seconds to minutes, or memory many times their size; read
// within the limits each takes a fraction of a second and keeps what came before the fault.
void TestXmlReader::hostileDocuments()
{
    QFETCH(QByteArray, document);
    QFETCH(QString, expected);
    const QString path = write(document);
    QVERIFY(!path.isEmpty());
    document.clear();

    const DcpXmlReader reader;
    QElapsedTimer timer;
    timer.start();
    const QString record = describe(reader.readComposition(path));
    const qint64 readMs = timer.restart();
    const DcpXmlReader::DocumentKind kind = reader.classifyXml(path);
    const qint64 classifyMs = timer.elapsed();
    qInfo("%s: read %lld ms, classified %lld ms", QTest::currentDataTag(), readMs, classifyMs);

    QCOMPARE(record, expected);
    QCOMPARE(kind, expected.isEmpty() ? DcpXmlReader::Unknown : DcpXmlReader::Cpl);
    QVERIFY2(readMs < 1000, qPrintable(QStringLiteral("read took %1 ms").arg(readMs)));
    QVERIFY2(classifyMs < 1000, qPrintable(QStringLiteral("classify took %1 ms").arg(classifyMs)));
}

// The limits must never bite on a large but ordinary document: every asset is read, and an
// unrecognised one is scanned to its end in time proportional to its size.
void TestXmlReader::largeDocumentReadWhole()
{
    const int count = 50000;
    QByteArray document = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<AssetMap xmlns=\"urn:am\">"
                          "<Id>M</Id>\n<AssetList>\n";
    document.reserve(10 << 20);
    for (int i = 0; i < count; ++i)
        document += "<Asset><Id>urn:uuid:" + QByteArray::number(i) +
                    "</Id><ChunkList><Chunk><Path>reel_" + QByteArray::number(i) +
                    ".mxf</Path><VolumeIndex>1</VolumeIndex><Offset>0</Offset><Length>" +
                    QByteArray::number(i) + "</Length></Chunk></ChunkList></Asset>\n";
    document += "</AssetList></AssetMap>\n";
    const QString path = write(document);
    QVERIFY(!path.isEmpty());

    const DcpXmlReader reader;
    QElapsedTimer timer;
    timer.start();
    const AssetMapInfo map = reader.readAssetMap(path);
    const qint64 readMs = timer.restart();
    QCOMPARE(reader.classifyXml(path), DcpXmlReader::Unknown);
    qInfo("%d assets, %d bytes: read %lld ms, classified %lld ms", count, int(document.size()),
          readMs, timer.elapsed());

    QCOMPARE(map.assets.size(), count);
    QCOMPARE(map.assets.last().id, QStringLiteral("urn:uuid:%1").arg(count - 1));
    QCOMPARE(map.assets.last().path, QStringLiteral("reel_%1.mxf").arg(count - 1));
    QCOMPARE(map.assets.last().size, qint64(count - 1));
}

// Corpus rows: relative path below the corpus, or one empty row when there is no corpus.
static void addCorpusFiles(const std::function<void(const QString &relative)> &addRow)
{
    const QString root = corpusDir();
    if (root.isEmpty()) {
        QTest::newRow("no corpus") << QString() << QString();
        return;
    }
    QStringList files;
    QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(root).relativeFilePath(it.next());
    files.sort();
    for (const QString &file : qAsConst(files))
        addRow(file);
}

static QString corpusPath(const QString &relative)
{
    return corpusDir() + QLatin1Char('/') + relative;
}

#define SKIP_WITHOUT_CORPUS()                                                                      \
    if (corpusDir().isEmpty())                                                                     \
    QSKIP("the shared document corpus (../shared/dcp-corpus) is not present")

void TestXmlReader::corpusClassification_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("expected");
    addCorpusFiles([](const QString &file) {
        const QString name = file.section(QLatin1Char('/'), -1).toLower();
        const QString lower = file.toLower();
        QString expected;
        if (lower.contains(QLatin1String("kdm")))
            expected = QStringLiteral("Kdm");
        else if (!name.endsWith(QLatin1String(".xml")) ||
                 name.startsWith(QLatin1String("assetmap")))
            return; // track files; asset maps name their packing list and are never classified
        else if (name.startsWith(QLatin1String("cpl")))
            expected = QStringLiteral("Cpl");
        else if (name.startsWith(QLatin1String("pkl")))
            expected = QStringLiteral("Pkl");
        else if (name.startsWith(QLatin1String("volindex")) ||
                 name.startsWith(QLatin1String("sub")) || name.startsWith(QLatin1String("reel")) ||
                 name.startsWith(QLatin1String("ruby")) ||
                 name.startsWith(QLatin1String("verify_incorrect_closed_caption")) ||
                 name.startsWith(QLatin1String("empty_")))
            expected = QStringLiteral("Unknown");
        else
            return;
        QTest::newRow(qPrintable(file)) << file << expected;
    });
}

void TestXmlReader::corpusClassification()
{
    SKIP_WITHOUT_CORPUS();
    QFETCH(QString, file);
    QFETCH(QString, expected);
    QCOMPARE(kindName(DcpXmlReader().classifyXml(corpusPath(file))), expected);
}

void TestXmlReader::corpusKdms_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("unused");
    addCorpusFiles([](const QString &file) {
        if (file.toLower().contains(QLatin1String("kdm")) && file.endsWith(QLatin1String(".xml")))
            QTest::newRow(qPrintable(file)) << file << QString();
    });
}

// Every KDM of the corpus carries one X509SubjectName, for its recipient.
void TestXmlReader::corpusKdms()
{
    SKIP_WITHOUT_CORPUS();
    QFETCH(QString, file);
    const KdmInfo kdm = DcpXmlReader().readKdm(corpusPath(file));
    QVERIFY(kdm.namespaceUri.startsWith(kSmpteNamespacePrefix));
    QVERIFY(kdm.messageId.startsWith(QLatin1String("urn:uuid:")));
    QVERIFY(kdm.compositionPlaylistId.startsWith(QLatin1String("urn:uuid:")));
    QCOMPARE(kdm.notValidBefore.size(), 25);
    QCOMPARE(kdm.notValidAfter.size(), 25);
    QVERIFY(kdm.notValidBefore < kdm.notValidAfter);
    QCOMPARE(kdm.subjectNames.size(), 1);
    QVERIFY(kdm.subjectNames.first().contains(QLatin1String("dnQualifier=")));
}

// Track digests are long and say nothing about reading; rows leave them out.
static QString withoutHashes(QString text)
{
    static const QRegularExpression hash(QStringLiteral(" hash=\\S+"));
    return text.remove(hash);
}

void TestXmlReader::corpusDocuments_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("reader");
    QTest::addColumn<QString>("expected");

    const QString ecl = QStringLiteral("Ymagis__ClairMeta_Data/DCP/ECL-SET/");
    const QString xml = QStringLiteral("Ymagis__ClairMeta_Data/XML/");
    const QString leaf = QStringLiteral("subjects=[dnQualifier=mk0hJHARgli0RglcUQ7lDCIIcAU=,"
                                        "CN=CS.smpte-430-2.LEAF.NOT_FOR_PRODUCTION,"
                                        "OU=example.org,O=example.org]");
    QTest::newRow("ECL29 KDM")
        << ecl + "KDM_ECL29_FR-Y-LABO_Leaf_c2b01941-a633-4ee1-9101-4645cca97be1.xml"_q
        << int(KdmReader)
        << "ns=http://www.smpte-ra.org/schemas/430-3/2006/ETM "
           "msg=urn:uuid:c2b01941-a633-4ee1-9101-4645cca97be1 "
           "cpl=urn:uuid:27f3b280-6b7b-4569-bd3c-c706b746027f from=2018-01-07T00:00:00+01:00 "
           "to=2022-01-18T23:59:59+01:00 "_q +
               leaf;
    QTest::newRow("ECL30 KDM")
        << ecl + "KDM_ECL30_180125_FR-Y-LABO_Leaf_57e32d37-050c-4d43-a15d-7943e673cc25.xml"_q
        << int(KdmReader)
        << "ns=http://www.smpte-ra.org/schemas/430-3/2006/ETM "
           "msg=urn:uuid:57e32d37-050c-4d43-a15d-7943e673cc25 "
           "cpl=urn:uuid:5c392194-bdaa-49df-96a3-87ba47639665 from=2018-01-07T00:00:00+01:00 "
           "to=2022-02-26T23:59:59+01:00 "_q +
               leaf;
    QTest::newRow("libdcp 3D composition")
        << "cth103__libdcp/test/ref/DCP/dcp_test2/cpl_6affb8ee-0020-4dff-a53c-17652f6358ab.xml"
        << int(CplReader)
        << "ns=http://www.smpte-ra.org/schemas/429-7/2006/CPL "
           "id=urn:uuid:6affb8ee-0020-4dff-a53c-17652f6358ab title=A Test DCP 3d "
           "3dns=http://www.smpte-ra.org/schemas/429-10/2008/Main-Stereo-Picture-CPL "
           "tracks=[id=urn:uuid:fc843acc-1ad9-4808-b9ed-33f5319e047d type=Sound edit=24 dur=24 | "
           "id=urn:uuid:5407b210-4441-4e97-8b16-8bdc7c12da54 type=Picture3D edit=24 frame=48 "
           "dur=24 aspect=1.85:1 pic=1998*1080]";
    const QString tomiHead =
        QStringLiteral("ns=http://www.smpte-ra.org/schemas/429-7/2006/CPL "
                       "id=urn:uuid:4230d597-e339-4444-a678-f0992b52eba2 "
                       "title=ECL-SINGLE-CPL_TST-3D-48_S_EN-XX_UK-U_71-ATMOS_2K_DI_20160614_ECL_"
                       "SMPTE-TYPE-B-3D_OV 3d 3dns=http://www.smpte-ra.org/schemas/429-10/2007/"
                       "Main-Stereo-Picture-CPL ");
    QTest::newRow("rational rates")
        << xml + "CPL_SMPTE_FRAMERATE_RATIONAL.xml"_q << int(CplReader)
        << tomiHead + "tracks=[id=urn:uuid:5a85ca73-f672-49b7-9c9c-"
                      "17b32485a961 type=Sound edit=48 dur=816 | "
                      "id=urn:uuid:0ce47c35-beb9-45db-9b2a-8689bcc9e32d "
                      "type=Picture3D edit=48 frame=96 dur=816 "
                      "aspect=2.39:1 pic=2048*858]"_q;
    // The sound track lacks its Duration; the Duration of the auxiliary data between the tracks
    // stays pending and the picture sets its own.
    QTest::newRow("missing fields")
        << xml + "CPL_SMPTE_MISSING_FIELDS.xml"_q << int(CplReader)
        << tomiHead + "tracks=[id=urn:uuid:5a85ca73-f672-49b7-9c9c-"
                      "17b32485a961 type=Sound edit=48 | "
                      "id=urn:uuid:0ce47c35-beb9-45db-9b2a-8689bcc9e32d "
                      "type=Picture3D edit=48 frame=96 dur=816]"_q;
    QTest::newRow("attribute on a value element")
        << xml + "CPL_IOP_QUBEMASTER.xml"_q << int(CplReader)
        << "ns=http://www.digicine.com/PROTO-ASDCP-CPL-20040511# "
           "id=urn:uuid:3413599d-fed7-4d89-87a2-7c5e0929da5f "
           "title=ECL01-SINGLE-CPL_TST_S_EN-XX_UK-U_71_2K_DI_20171218_ECL_IOP_OV "
           "tracks=[id=urn:uuid:dbeb8634-07b5-401a-acbf-a225fd33034f type=Picture edit=24 "
           "frame=24 dur=24 aspect=2.39:1 | id=urn:uuid:9d9955ae-2e96-4e59-bf4a-1ecc3f1b3032 "
           "type=Sound edit=24 dur=24 lang=en]";
    QTest::newRow("asset map, not well-formed")
        << xml + "ASSETMAP_BAD_XML.xml"_q << int(AssetMapReader)
        << "ns=http://www.digicine.com/PROTO-ASDCP-AM-20040311# "
           "id=urn:uuid:e8bd7ecd-8cf3-41e3-bbf6-3fad803c58f6 "
           "ann=ECL02-SINGLE-CPL_TST_S_EN-XX_UK-U_71_2K_DI_20171218_ECL_IOP_VF";
    const QString prefixedId = QStringLiteral("urn:uuid:9f5c4181-01ff-4cfa-ac16-9233fb9a367d");
    QTest::newRow("asset map, prefixed")
        << xml + "ASSETMAP_SMPTE_NSPREFIX.xml"_q << int(AssetMapReader)
        << "ns=http://www.smpte-ra.org/schemas/429-9/2007/AM id="_q + prefixedId +
               " assets=[id="_q + prefixedId + " path=pcm.mxf size=9430180558 | id="_q +
               prefixedId + " path=j2c.mxf size=330812592476 | id="_q + prefixedId +
               " path=cpl.xml size=11022 | id="_q + prefixedId + " path=pkl.xml size=10742]"_q;
    for (const char *name : {"ASSETVOID", "PLAINTEXT"}) {
        for (int reader = AssetMapReader; reader <= ClassifyReader; ++reader)
            QTest::addRow("%s, reader %d", name, reader)
                << xml + QLatin1String(name) << reader
                << (reader == ClassifyReader ? QStringLiteral("Unknown") : QString());
    }
}

void TestXmlReader::corpusDocuments()
{
    SKIP_WITHOUT_CORPUS();
    QFETCH(QString, file);
    QFETCH(int, reader);
    QFETCH(QString, expected);
    QCOMPARE(withoutHashes(readFile(Reader(reader), corpusPath(file))), expected);
}

// These asset maps have no AnnotationText of their own; each of the last two assets has one.
void TestXmlReader::corpusAssetMapAnnotations_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("annotation");
    QTest::addColumn<int>("assets");
    QTest::newRow("ECL31 interop") << "Ymagis__ClairMeta_Data/DCP/ECL-SET/ECL31-SINGLE-CPL-"
                                      "NCCRYPT_TST_S_EN-XX_UK-U_51_2K_DI_20180103_ECL_IOP_OV/"
                                      "ASSETMAP"
                                   << "PKL: ECL31" << 8;
    QTest::newRow("ECL32 smpte") << "Ymagis__ClairMeta_Data/DCP/ECL-SET/ECL32-SINGLE-CPL-"
                                    "NCCRYPT_TST_S_EN-XX_UK-U_51_2K_DI_20180103_ECL_SMPTE_OV/"
                                    "ASSETMAP.xml"
                                 << "PKL: ECL32" << 7;
}

void TestXmlReader::corpusAssetMapAnnotations()
{
    SKIP_WITHOUT_CORPUS();
    QFETCH(QString, file);
    QFETCH(QString, annotation);
    QFETCH(int, assets);
    const AssetMapInfo map = DcpXmlReader().readAssetMap(corpusPath(file));
    QCOMPARE(map.annotationText, annotation);
    QCOMPARE(map.assets.size(), assets);
    for (const AssetInfo &asset : map.assets) {
        QVERIFY(asset.id.startsWith(QLatin1String("urn:uuid:")));
        QVERIFY(!asset.path.isEmpty());
    }
}

void TestXmlReader::namespaceRule_data()
{
    QTest::addColumn<QString>("uri");
    QTest::addColumn<bool>("passes");
    QTest::newRow("interop") << "http://www.digicine.com/PROTO-ASDCP-CPL-20040511#" << true;
    QTest::newRow("smpte") << "http://www.smpte-ra.org/schemas/429-7/2006/CPL" << true;
    QTest::newRow("smpte, unknown schema")
        << "http://www.smpte-ra.org/schemas/429-9/2700/AM" << true;
    QTest::newRow("prefix inside") << "urn:x:http://www.digicine.com/" << true;
    QTest::newRow("letter case") << "http://www.SMPTE-RA.org/schemas/429-7/2006/CPL" << false;
    QTest::newRow("https") << "https://www.smpte-ra.org/schemas/429-7/2006/CPL" << false;
    QTest::newRow("host only") << "http://www.smpte-ra.or" << false;
    QTest::newRow("none") << "" << false;
}

void TestXmlReader::namespaceRule()
{
    QFETCH(QString, uri);
    QFETCH(bool, passes);
    QCOMPARE(kInteropNamespacePrefix.size(), 23);
    QCOMPARE(kSmpteNamespacePrefix.size(), 23);
    QCOMPARE(hasDcpNamespace(uri), passes);
}

void TestXmlReader::corpusNamespaces_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("reader");
    QTest::addColumn<QString>("prefix"); // empty: no namespace rule passes

    const QString ecl01 = QStringLiteral("Ymagis__ClairMeta_Data/DCP/ECL-SET/ECL01-SINGLE-CPL_TST_"
                                         "S_EN-XX_UK-U_71_2K_DI_20171218_ECL_IOP_OV/");
    const QString ecl30 = QStringLiteral("Ymagis__ClairMeta_Data/DCP/ECL-SET/ECL30-SINGLE-CPL-"
                                         "CRYPT_TST_S_EN-EN_UK-U_51_2K_DI_20180125_ECL_SMPTE_OV/");
    const QString test3 = QStringLiteral("cth103__libdcp/test/ref/DCP/dcp_test3/");
    QTest::newRow("interop asset map")
        << ecl01 + "ASSETMAP"_q << int(AssetMapReader) << kInteropNamespacePrefix;
    QTest::newRow("interop packing list")
        << ecl01 + "PKL_9376cda5-cc7e-49ee-b903-6cbbfa2d2ca0.xml"_q << int(PklReader)
        << kInteropNamespacePrefix;
    QTest::newRow("interop composition")
        << ecl01 + "CPL_ECL01-SINGLE-CPL_TST_S_EN-XX_UK-U_71_2K_DI_20171218_ECL_IOP_OV.xml"_q
        << int(CplReader) << kInteropNamespacePrefix;
    QTest::newRow("libdcp interop composition")
        << test3 + "cpl_cbfd2bc0-21cf-4a8f-95d8-9cddcbe51296.xml"_q << int(CplReader)
        << kInteropNamespacePrefix;
    QTest::newRow("smpte asset map")
        << ecl30 + "ASSETMAP.xml"_q << int(AssetMapReader) << kSmpteNamespacePrefix;
    QTest::newRow("smpte packing list") << ecl30 + "PKL_45c48cb6-7f4e-46ab-bc30-a6821af473c2.xml"_q
                                        << int(PklReader) << kSmpteNamespacePrefix;
    QTest::newRow("smpte composition")
        << ecl30 +
               "CPL_ECL30-SINGLE-CPL-CRYPT_TST_S_EN-EN_UK-U_51_2K_DI_20180125_ECL_SMPTE_OV.xml"_q
        << int(CplReader) << kSmpteNamespacePrefix;
    QTest::newRow("asset map without namespace")
        << "SummittDweller__dcp_manager-PHP/ASSETMAP" << int(AssetMapReader) << QString();
}

void TestXmlReader::corpusNamespaces()
{
    SKIP_WITHOUT_CORPUS();
    QFETCH(QString, file);
    QFETCH(int, reader);
    QFETCH(QString, prefix);
    const DcpXmlReader xmlReader;
    const QString path = corpusPath(file);
    QString uri;
    if (reader == AssetMapReader)
        uri = xmlReader.readAssetMap(path).namespaceUri;
    else if (reader == PklReader)
        uri = xmlReader.readPackingList(path).namespaceUri;
    else
        uri = xmlReader.readComposition(path).namespaceUri;
    QCOMPARE(hasDcpNamespace(uri), !prefix.isEmpty());
    if (!prefix.isEmpty())
        QVERIFY2(uri.startsWith(prefix), qPrintable(uri));
}

void TestXmlReader::corpusChunking_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("unused");
    addCorpusFiles([](const QString &file) {
        const QString name = file.section(QLatin1Char('/'), -1);
        if (name.endsWith(QLatin1String(".xml"), Qt::CaseInsensitive) ||
            !name.contains(QLatin1Char('.')))
            QTest::newRow(qPrintable(file)) << file << QString();
    });
}

// Every corpus document reads the same whether the parser gets it whole or a few bytes at a time.
void TestXmlReader::corpusChunking()
{
    SKIP_WITHOUT_CORPUS();
    QFETCH(QString, file);
    QFile input(corpusPath(file));
    QVERIFY(input.open(QIODevice::ReadOnly));
    const QByteArray document = input.readAll();
    for (int reader = AssetMapReader; reader <= ClassifyReader; ++reader) {
        const QString whole = readFile(Reader(reader), input.fileName());
        QCOMPARE(readInChunks(Reader(reader), document, 5), whole);
    }
}

QTEST_GUILESS_MAIN(TestXmlReader)
#include "test_xmlreader.moc"
