// The fixture builder is what every other suite trusts, so its masters are checked here with an
// independent reader: every digest, size and path it writes must be true of the files.
#include "support/FixtureBuilder.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QSettings>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

namespace {

using Fields = QHash<QString, QString>;

struct Document
{
    QString rootName;
    QString rootNamespace;
    QString ownId;
    QVector<Fields> entries; // one per element named entryName, its leaf texts by local name
    QStringList allIds;
    bool wellFormed = false;
};

Document readDocument(const QString &path, const QStringList &entryNames)
{
    Document doc;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return doc;
    QXmlStreamReader xml(&file);
    int entryDepth = -1;
    int depth = 0;
    QString lastText;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            ++depth;
            if (doc.rootName.isEmpty()) {
                doc.rootName = xml.name().toString();
                doc.rootNamespace = xml.namespaceUri().toString();
            }
            if (entryDepth < 0 && entryNames.contains(xml.name().toString())) {
                entryDepth = depth;
                doc.entries.append(Fields());
                doc.entries.last().insert(QStringLiteral("@kind"), xml.name().toString());
                doc.entries.last().insert(QStringLiteral("@ns"), xml.namespaceUri().toString());
            }
            lastText.clear();
        } else if (xml.isCharacters()) {
            lastText += xml.text();
        } else if (xml.isEndElement()) {
            const QString name = xml.name().toString();
            if (name == QLatin1String("Id") || name == QLatin1String("KeyId"))
                doc.allIds.append(lastText);
            if (name == QLatin1String("Id") && doc.ownId.isEmpty())
                doc.ownId = lastText;
            if (entryDepth >= 0 && depth > entryDepth && !doc.entries.last().contains(name))
                doc.entries.last().insert(name, lastText);
            if (depth == entryDepth)
                entryDepth = -1;
            --depth;
            lastText.clear();
        }
    }
    doc.wellFormed = !xml.hasError();
    return doc;
}

QString fileDigest(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QCryptographicHash sha(QCryptographicHash::Sha1);
    sha.addData(&file);
    return QString::fromLatin1(sha.result().toBase64());
}

} // namespace

class TestFixtureBuilder : public QObject
{
    Q_OBJECT

private slots:
    void masterIsConsistent_data();
    void masterIsConsistent();
    void failureKnobsBreakOnlyTheirRule();
    void kdmCarriesEveryField();
    void settingsReadBackAsWritten();
};

void TestFixtureBuilder::masterIsConsistent_data()
{
    QTest::addColumn<int>("standard");
    QTest::addColumn<bool>("stereoscopic");
    QTest::addColumn<bool>("encrypted");
    QTest::addColumn<bool>("subtitle");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("assetMapName");
    QTest::addColumn<QString>("cplNamespace");

    const QString interopCpl = QStringLiteral("http://www.digicine.com/PROTO-ASDCP-CPL-20040511#");
    const QString smpteCpl = QStringLiteral("http://www.smpte-ra.org/schemas/429-7/2006/CPL");
    QTest::newRow("interop flat clear")
        << int(MasterSpec::Interop) << false << false << false << "DCP"
        << "ASSETMAP" << interopCpl;
    QTest::newRow("interop 3D encrypted subtitle")
        << int(MasterSpec::Interop) << true << true << true << "a/b/DCP"
        << "ASSETMAP" << interopCpl;
    QTest::newRow("smpte flat encrypted") << int(MasterSpec::Smpte) << false << true << false << ""
                                          << "ASSETMAP.xml" << smpteCpl;
    QTest::newRow("smpte 3D clear subtitle")
        << int(MasterSpec::Smpte) << true << false << true << "DCP"
        << "ASSETMAP.xml" << smpteCpl;
}

void TestFixtureBuilder::masterIsConsistent()
{
    QFETCH(int, standard);
    QFETCH(bool, stereoscopic);
    QFETCH(bool, encrypted);
    QFETCH(bool, subtitle);
    QFETCH(QString, folder);
    QFETCH(QString, assetMapName);
    QFETCH(QString, cplNamespace);

    QTemporaryDir disk;
    QVERIFY(disk.isValid());
    FixtureBuilder builder(disk.path());
    MasterSpec spec;
    spec.standard = MasterSpec::Standard(standard);
    spec.stereoscopic = stereoscopic;
    spec.encrypted = encrypted;
    spec.subtitle = subtitle;
    spec.folder = folder;
    spec.reelDurations = {240, 120, 96};
    spec.trackBytes = 3000; // not a multiple of the generator's word size
    const BuiltMaster master = builder.writeMaster(spec);

    QCOMPARE(QFileInfo(master.assetMapPath).fileName(), assetMapName);
    QCOMPARE(master.trackPaths.size(), 6 + (subtitle ? 1 : 0));
    QCOMPARE(master.keyIds.size(), encrypted ? 6 : 0);

    // Every id is a lower-case URN.
    const QRegularExpression urn(
        QStringLiteral("^urn:uuid:[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$"));
    for (const QString &path : {master.assetMapPath, master.pklPath, master.cplPath}) {
        const Document doc = readDocument(path, {});
        QVERIFY2(doc.wellFormed, qPrintable(path));
        QVERIFY(!doc.allIds.isEmpty());
        for (const QString &id : doc.allIds)
            QVERIFY2(urn.match(id).hasMatch(), qPrintable(id));
    }

    // Asset map: every Path exists next to it with the stated Length.
    const Document map = readDocument(master.assetMapPath, {QStringLiteral("Asset")});
    QCOMPARE(map.ownId, master.assetMapId);
    QCOMPARE(map.entries.size(), 2 + master.trackPaths.size());
    QCOMPARE(map.entries[0].value(QStringLiteral("Id")), master.pklId);
    QCOMPARE(map.entries[0].value(QStringLiteral("PackingList")), QStringLiteral("true"));
    QHash<QString, QString> mapPathById;
    for (const Fields &asset : map.entries) {
        const QFileInfo file(master.folder + QLatin1Char('/') +
                             asset.value(QStringLiteral("Path")));
        QVERIFY2(file.isFile(), qPrintable(file.filePath()));
        QCOMPARE(asset.value(QStringLiteral("Length")).toLongLong(), file.size());
        mapPathById.insert(asset.value(QStringLiteral("Id")), asset.value(QStringLiteral("Path")));
    }

    // Packing list: real digests and sizes of the files, all listed in the asset map.
    const Document pkl = readDocument(master.pklPath, {QStringLiteral("Asset")});
    QCOMPARE(pkl.ownId, master.pklId);
    QCOMPARE(pkl.entries.size(), 1 + master.trackPaths.size());
    QCOMPARE(master.pklAssetPaths.size(), pkl.entries.size());
    QHash<QString, QString> pklHashById;
    QSet<QString> digests;
    for (int i = 0; i < pkl.entries.size(); ++i) {
        const Fields &asset = pkl.entries[i];
        const QString path =
            master.folder + QLatin1Char('/') + asset.value(QStringLiteral("OriginalFileName"));
        QCOMPARE(path, master.pklAssetPaths[i]);
        QCOMPARE(mapPathById.value(asset.value(QStringLiteral("Id"))),
                 asset.value(QStringLiteral("OriginalFileName")));
        QCOMPARE(asset.value(QStringLiteral("Hash")), fileDigest(path));
        QCOMPARE(asset.value(QStringLiteral("Hash")), master.pklHashes[i]);
        QCOMPARE(asset.value(QStringLiteral("Size")).toLongLong(), QFileInfo(path).size());
        digests.insert(asset.value(QStringLiteral("Hash")));
        pklHashById.insert(asset.value(QStringLiteral("Id")), asset.value(QStringLiteral("Hash")));
    }
    QCOMPARE(digests.size(), pkl.entries.size()); // no two files alike
    for (const QString &track : master.trackPaths)
        if (track.endsWith(QLatin1String(".mxf")))
            QCOMPARE(QFileInfo(track).size(), qint64(spec.trackBytes));

    // Composition: its tracks' digests are those of the packing list, with the track values.
    const Document cpl =
        readDocument(master.cplPath,
                     {QStringLiteral("MainPicture"), QStringLiteral("MainSound"),
                      QStringLiteral("MainStereoscopicPicture"), QStringLiteral("MainSubtitle")});
    QCOMPARE(cpl.rootNamespace, cplNamespace);
    QCOMPARE(cpl.ownId, master.cplId);
    QCOMPARE(cpl.entries.size(), master.trackPaths.size());
    QStringList keyIds;
    for (const Fields &track : cpl.entries) {
        QCOMPARE(track.value(QStringLiteral("Hash")),
                 pklHashById.value(track.value(QStringLiteral("Id"))));
        QVERIFY(!track.value(QStringLiteral("EditRate")).isEmpty());
        QCOMPARE(track.value(QStringLiteral("Duration")),
                 track.value(QStringLiteral("IntrinsicDuration")));
        const QString kind = track.value(QStringLiteral("@kind"));
        if (kind == QLatin1String("MainStereoscopicPicture")) {
            QVERIFY(stereoscopic);
            QVERIFY(track.value(QStringLiteral("@ns"))
                        .contains(QLatin1String("Main-Stereo-Picture-CPL")));
            QCOMPARE(track.value(QStringLiteral("FrameRate")), QStringLiteral("48 1"));
        }
        if (kind == QLatin1String("MainPicture"))
            QCOMPARE(track.value(QStringLiteral("FrameRate")), QStringLiteral("24 1"));
        if (kind.contains(QLatin1String("Picture")))
            QCOMPARE(track.value(QStringLiteral("ScreenAspectRatio")), QStringLiteral("1998 1080"));
        if (kind == QLatin1String("MainSound"))
            QVERIFY(!track.value(QStringLiteral("Language")).isEmpty());
        if (track.contains(QStringLiteral("KeyId")))
            keyIds.append(track.value(QStringLiteral("KeyId")));
    }
    QCOMPARE(keyIds, master.keyIds);
}

void TestFixtureBuilder::failureKnobsBreakOnlyTheirRule()
{
    QTemporaryDir disk;
    QVERIFY(disk.isValid());
    FixtureBuilder builder(disk.path());

    MasterSpec spec;
    spec.folder = QStringLiteral("one");
    spec.wrongPklHash = true;
    BuiltMaster master = builder.writeMaster(spec);
    QVERIFY(master.pklHashes[1] != fileDigest(master.pklAssetPaths[1]));
    QCOMPARE(master.pklHashes[2], fileDigest(master.pklAssetPaths[2]));
    const Document cpl = readDocument(master.cplPath, {QStringLiteral("MainPicture")});
    QCOMPARE(cpl.entries[0].value(QStringLiteral("Hash")), fileDigest(master.trackPaths[0]));

    spec = MasterSpec();
    spec.folder = QStringLiteral("two");
    spec.omitFirstTrackFile = true;
    master = builder.writeMaster(spec);
    QVERIFY(!QFileInfo::exists(master.trackPaths[0]));
    QVERIFY(QFileInfo(master.trackPaths[1]).isFile());

    spec.folder = QStringLiteral("three");
    spec.omitFirstTrackFile = false;
    spec.trackPathIsFolder = true;
    master = builder.writeMaster(spec);
    QVERIFY(QFileInfo(master.trackPaths[0]).isDir());

    spec = MasterSpec();
    spec.folder = QStringLiteral("four");
    spec.noCpl = true;
    spec.pklOriginalFileNamesDiffer = true;
    master = builder.writeMaster(spec);
    QVERIFY(QFileInfo(master.cplPath).isFile()); // on the disk, but not in the asset map
    const Document map = readDocument(master.assetMapPath, {QStringLiteral("Asset")});
    for (const Fields &asset : map.entries)
        QVERIFY(asset.value(QStringLiteral("Id")) != master.cplId);
    const Document pkl = readDocument(master.pklPath, {QStringLiteral("Asset")});
    QVERIFY(pkl.entries[0]
                .value(QStringLiteral("OriginalFileName"))
                .startsWith(QLatin1String("ORIGINAL_")));
}

void TestFixtureBuilder::kdmCarriesEveryField()
{
    QTemporaryDir disk;
    QVERIFY(disk.isValid());
    FixtureBuilder builder(disk.path());
    MasterSpec spec;
    spec.encrypted = true;
    const BuiltMaster master = builder.writeMaster(spec);
    KdmSpec kdm;
    kdm.folder = QStringLiteral("KDM");
    kdm.subjectNames << QStringLiteral("dnQualifier=signer=,CN=.fixture.INTERMEDIATE");
    const QString path = builder.writeKdm(master, kdm);
    QCOMPARE(path, disk.path() + QStringLiteral("/KDM/kdm.xml"));

    const Document doc = readDocument(path, {QStringLiteral("KDMRequiredExtensions")});
    QVERIFY(doc.wellFormed);
    QCOMPARE(doc.rootName, QStringLiteral("DCinemaSecurityMessage"));
    QCOMPARE(doc.rootNamespace, kdm.namespaceUri);
    const Fields ext = doc.entries.value(0);
    QCOMPARE(ext.value(QStringLiteral("CompositionPlaylistId")), master.cplId);
    QCOMPARE(ext.value(QStringLiteral("ContentKeysNotValidBefore")), kdm.notValidBefore);
    QCOMPARE(ext.value(QStringLiteral("ContentKeysNotValidAfter")), kdm.notValidAfter);
    QCOMPARE(ext.value(QStringLiteral("X509SubjectName")), kdm.subjectNames[0]);

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    QCOMPARE(text.count(QStringLiteral("X509SubjectName>")), 4); // recipient and one signer
    QVERIFY(text.contains(QStringLiteral("<MessageId>urn:uuid:")));
    for (const QString &keyId : master.keyIds)
        QVERIFY(text.contains(keyId));
}

void TestFixtureBuilder::settingsReadBackAsWritten()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("set.ini"));
    const QStringList certs = {
        QStringLiteral("dnQualifier=abc\\+def=,CN=SM.TEST-SERVER,O=example.org"),
        QStringLiteral("plain"), QString::fromUtf8("放映机 \"A\"; 2"), QStringLiteral(" lead")};
    FixtureBuilder::writeSettings(path, 1, certs);

    QSettings settings(path, QSettings::IniFormat);
    QCOMPARE(settings.value(QStringLiteral("hash/check")).toInt(), 1);
    QCOMPARE(settings.value(QStringLiteral("cert_num/num")).toInt(), certs.size());
    for (int i = 0; i < certs.size(); ++i) {
        const QVariant value = settings.value(QStringLiteral("cert_list/cert%1").arg(i));
        QCOMPARE(value.type(), QVariant::String);
        QCOMPARE(value.toString(), certs[i]);
    }
}

QTEST_GUILESS_MAIN(TestFixtureBuilder)
#include "test_fixturebuilder.moc"
