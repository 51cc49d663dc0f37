#include "dcp/DcpInspector.h"
#include "dcp/RunEnvironment.h"

#include <QtTest>

Q_DECLARE_METATYPE(AssetInfo)
Q_DECLARE_METATYPE(KdmInfo)

// The composition, KDM and label rules on inspectors set up by hand.
class TestRules : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void cplListedInAssetMap_data();
    void cplListedInAssetMap();
    void checkCplTrackHashes_data();
    void checkCplTrackHashes();
    void prefillDuration_data();
    void prefillDuration();
    void prefillPictureValues_data();
    void prefillPictureValues();
    void prefillKdmAndVetDate_data();
    void prefillKdmAndVetDate();
    void prefillLeavesOperatorFields();
    void checkLabelValues_data();
    void checkLabelValues();
    void checkLabelFields_data();
    void checkLabelFields();
    void kdmRules_data();
    void kdmRules();
};

namespace {
QStringList texts(std::initializer_list<const char *> items)
{
    QStringList list;
    for (const char *item : items)
        list << QString::fromUtf8(item);
    return list;
}

const QString kCplId = QStringLiteral("urn:uuid:11111111-2222-3333-4444-555555555555");
const QString kOtherId = QStringLiteral("urn:uuid:99999999-2222-3333-4444-555555555555");
const QString kSmpteKdm = QStringLiteral("http://www.smpte-ra.org/schemas/430-1/2006/KDM");

AssetInfo asset(const QString &id, const QString &hash = QString())
{
    AssetInfo info;
    info.id = id;
    info.hash = hash;
    return info;
}

AssetInfo track(const char *type, qint32 duration, const char *editRate, const char *frameRate = "",
                const char *aspectRatio = "", const char *pictureSize = "")
{
    AssetInfo info;
    info.type = QString::fromUtf8(type);
    info.duration = duration;
    info.editRate = QString::fromUtf8(editRate);
    info.frameRate = QString::fromUtf8(frameRate);
    info.aspectRatio = QString::fromUtf8(aspectRatio);
    info.pictureSize = QString::fromUtf8(pictureSize);
    return info;
}

KdmInfo kdmFor(const QString &cplId, const QString &namespaceUri)
{
    KdmInfo info;
    info.compositionPlaylistId = cplId;
    info.namespaceUri = namespaceUri;
    return info;
}

DcpInspector withComposition(const QVector<AssetInfo> &tracks, bool stereoscopic = false)
{
    DcpInspector inspector;
    CplInfo cpl;
    cpl.id = kCplId;
    cpl.contentTitleText = QStringLiteral("JianGuoDY_FTR_F-185_QMS_51_2K_ZY_20230101_SMPTE_OV");
    cpl.assets = tracks;
    cpl.stereoscopic = stereoscopic;
    inspector.cpls = {cpl};
    inspector.pkls = {PklInfo()};
    return inspector;
}

// Filled label fields that pass every test, for cases to spoil one at a time.
DcpInspector filledLabels()
{
    DcpInspector inspector;
    inspector.diskInterface = QStringLiteral("USB3.0");
    inspector.filmName = QStringLiteral("建国大业");
    inspector.kdmDate = QStringLiteral("20230101-20230301");
    inspector.duration = QStringLiteral("91分钟27秒");
    inspector.resolution = QStringLiteral("2048*1080");
    inspector.aspect = QStringLiteral("1.85:1");
    inspector.frame = QStringLiteral("24fps");
    inspector.color = QStringLiteral("XYZ");
    inspector.audio = QStringLiteral("5.1");
    inspector.vetDate = QStringLiteral("20230301");
    inspector.producer = QStringLiteral("中影");
    inspector.encrypted = true;
    return inspector;
}
} // namespace

void TestRules::cleanup()
{
    setCurrentLocalDateOverride(QDate());
}

void TestRules::cplListedInAssetMap_data()
{
    QTest::addColumn<QStringList>("assetMapIds");
    QTest::addColumn<bool>("listed");

    QTest::newRow("listed after other assets") << QStringList{kOtherId, kCplId} << true;
    QTest::newRow("empty asset map") << QStringList{} << false;
    QTest::newRow("other letter case") << QStringList{kCplId.toUpper()} << false;
    QTest::newRow("without the urn prefix") << QStringList{kCplId.mid(9)} << false;
}

void TestRules::cplListedInAssetMap()
{
    QFETCH(QStringList, assetMapIds);
    QFETCH(bool, listed);

    DcpInspector inspector = withComposition({});
    for (const QString &id : qAsConst(assetMapIds))
        inspector.assetMap.assets << asset(id);
    QCOMPARE(inspector.cplListedInAssetMap(), listed);
}

void TestRules::checkCplTrackHashes_data()
{
    // Tracks and packing-list assets as "id:hash".
    QTest::addColumn<QStringList>("tracks");
    QTest::addColumn<QStringList>("pklAssets");
    QTest::addColumn<bool>("passes");

    QTest::newRow("no tracks") << QStringList{} << QStringList{} << true;
    QTest::newRow("all match") << texts({"a:h1", "b:h2"}) << texts({"b:h2", "a:h1"}) << true;
    QTest::newRow("same id listed twice, the second right")
        << texts({"a:h1"}) << texts({"a:other", "a:h1"}) << true;
    QTest::newRow("hash differs") << texts({"a:h1", "b:h2"}) << texts({"a:h1", "b:H2"}) << false;
    QTest::newRow("track missing from the packing list")
        << texts({"a:h1", "c:h3"}) << texts({"a:h1"}) << false;
    QTest::newRow("hash belongs to another id") << texts({"a:h1"}) << texts({"b:h1"}) << false;
}

void TestRules::checkCplTrackHashes()
{
    QFETCH(QStringList, tracks);
    QFETCH(QStringList, pklAssets);
    QFETCH(bool, passes);

    const auto parse = [](const QStringList &entries) {
        QVector<AssetInfo> assets;
        for (const QString &entry : entries)
            assets << asset(entry.section(QLatin1Char(':'), 0, 0),
                            entry.section(QLatin1Char(':'), 1));
        return assets;
    };
    DcpInspector inspector = withComposition(parse(tracks));
    inspector.pkls[0].assets = parse(pklAssets);
    QString message;
    QCOMPARE(inspector.checkCplTrackHashes(message), passes);
    QCOMPARE(message,
             passes ? QString()
                    : QStringLiteral("Cpl文件中列出的MXF文件Hash值与计算所得Hash值不一致，请重新制"
                                     "作DCP后，再进行检测!"));
}

void TestRules::prefillDuration_data()
{
    QTest::addColumn<QVector<AssetInfo>>("tracks");
    QTest::addColumn<bool>("stereoscopic");
    QTest::addColumn<QString>("duration");

    const char *p = "Picture";
    const char *s = "Sound";
    const char *p3 = "Picture3D";
    QTest::newRow("two reels at 24")
        << QVector<AssetInfo>{track(p, 86400, "24"), track(s, 86400, "24"), track(p, 45300, "24"),
                              track(s, 45300, "24")}
        << false << QStringLiteral("91分钟27秒");
    QTest::newRow("sound frames not counted")
        << QVector<AssetInfo>{track(s, 999999, "24"), track(p, 1440, "24")} << false
        << QStringLiteral("1分钟0秒");
    QTest::newRow("rate of the last track counts")
        << QVector<AssetInfo>{track(p, 2880, "24"), track(s, 2880, "48")} << false
        << QStringLiteral("1分钟0秒");
    QTest::newRow("rate of 120") << QVector<AssetInfo>{track(p, 7200 * 2 + 119, "120")} << false
                                 << QStringLiteral("2分钟0秒");
    QTest::newRow("stereoscopic counts Picture3D only")
        << QVector<AssetInfo>{track(p, 100000, "24"), track(p3, 1464, "24"), track(s, 1464, "24")}
        << true << QStringLiteral("1分钟1秒");
    QTest::newRow("sum beyond 32 bits")
        << QVector<AssetInfo>{track(p, 2000000000, "24"), track(p, 2000000000, "24")} << false
        << QStringLiteral("2777777分钟46秒");
    QTest::newRow("no tracks: rate 0") << QVector<AssetInfo>{} << false << QString();
    QTest::newRow("rate not a number")
        << QVector<AssetInfo>{track(p, 1440, "24"), track(s, 1440, "x")} << false << QString();
    QTest::newRow("rate empty") << QVector<AssetInfo>{track(p, 1440, "")} << false << QString();
}

void TestRules::prefillDuration()
{
    QFETCH(QVector<AssetInfo>, tracks);
    QFETCH(bool, stereoscopic);
    QFETCH(QString, duration);

    DcpInspector inspector = withComposition(tracks, stereoscopic);
    inspector.duration = QStringLiteral("stale");
    inspector.prefillLabelFields();
    QCOMPARE(inspector.duration, duration);
    QCOMPARE(inspector.cplName, inspector.cpls[0].contentTitleText);
}

void TestRules::prefillPictureValues_data()
{
    QTest::addColumn<QVector<AssetInfo>>("tracks");
    QTest::addColumn<bool>("stereoscopic");
    QTest::addColumn<QStringList>("frameAspectResolution");

    const AssetInfo flat = track("Picture", 10, "24", "24", "1.85:1", "1998*1080");
    const AssetInfo sound = track("Sound", 10, "24", "48", "", "");
    const AssetInfo left3d = track("Picture3D", 10, "24", "48", "2.39:1", "2048*858");
    const AssetInfo later3d = track("Picture3D", 10, "24", "96", "1.33:1", "1440*1080");
    QTest::newRow("flat: first track")
        << QVector<AssetInfo>{flat, sound} << false << texts({"24fps", "1.85:1", "1998*1080"});
    QTest::newRow("flat: first track even when sound")
        << QVector<AssetInfo>{sound, flat} << false << texts({"48fps", "", ""});
    QTest::newRow("stereoscopic: first Picture3D")
        << QVector<AssetInfo>{flat, left3d, later3d} << true
        << texts({"48fps", "2.39:1", "2048*858"});
}

void TestRules::prefillPictureValues()
{
    QFETCH(QVector<AssetInfo>, tracks);
    QFETCH(bool, stereoscopic);
    QFETCH(QStringList, frameAspectResolution);

    DcpInspector inspector = withComposition(tracks, stereoscopic);
    inspector.prefillLabelFields();
    QCOMPARE((QStringList{inspector.frame, inspector.aspect, inspector.resolution}),
             frameAspectResolution);
}

void TestRules::prefillKdmAndVetDate_data()
{
    QTest::addColumn<QString>("notValidBefore");
    QTest::addColumn<QString>("notValidAfter");
    QTest::addColumn<QString>("kdmDate");

    QTest::newRow("selected KDM") << "2023-01-01T00:00:00+08:00"
                                  << "2023-03-01T23:59:59+08:00"
                                  << "20230101-20230301";
    QTest::newRow("clear master") << ""
                                  << ""
                                  << "-";
    QTest::newRow("dates shorter than ten characters") << "2023-1-1"
                                                       << "2023-3-1Z"
                                                       << "202311-202331Z";
}

void TestRules::prefillKdmAndVetDate()
{
    QFETCH(QString, notValidBefore);
    QFETCH(QString, notValidAfter);
    QFETCH(QString, kdmDate);

    setCurrentLocalDateOverride(QDate(2024, 2, 29));
    DcpInspector inspector = withComposition({track("Picture", 24, "24")});
    inspector.kdm.notValidBefore = notValidBefore;
    inspector.kdm.notValidAfter = notValidAfter;
    inspector.prefillLabelFields();
    QCOMPARE(inspector.kdmDate, kdmDate);
    QCOMPARE(inspector.vetDate, QStringLiteral("20240229"));
}

void TestRules::prefillLeavesOperatorFields()
{
    DcpInspector inspector = filledLabels();
    inspector.cpls = withComposition({track("Picture", 24, "24")}).cpls;
    inspector.prefillLabelFields();
    QCOMPARE(inspector.filmName, QStringLiteral("建国大业"));
    QCOMPARE(inspector.color, QStringLiteral("XYZ"));
    QCOMPARE(inspector.audio, QStringLiteral("5.1"));
    QCOMPARE(inspector.producer, QStringLiteral("中影"));
    QCOMPARE(inspector.diskInterface, QStringLiteral("USB3.0"));

    // Nothing to read from: nothing is touched.
    DcpInspector empty = filledLabels();
    empty.prefillLabelFields();
    QCOMPARE(empty.duration, QStringLiteral("91分钟27秒"));
    QCOMPARE(empty.cplName, QString());
}

void TestRules::checkLabelValues_data()
{
    QTest::addColumn<QString>("filmName");
    QTest::addColumn<bool>("encrypted");
    QTest::addColumn<QString>("kdmDate");
    QTest::addColumn<QString>("vetDate");
    QTest::addColumn<QString>("message");

    const QString noChinese = QStringLiteral("影片名称未采用中文，请检查后再进行检测!");
    const QString badKdm = QStringLiteral("KDM有效期格式输入不正确，请检查后再进行检测!");
    const QString badVet = QStringLiteral("送审日期格式输入不正确，请检查后再进行检测!");
    const QString ok;

    QTest::newRow("all good") << "建国大业" << true << "20230101-20230301"
                              << "20230301" << ok;
    QTest::newRow("Latin and one Chinese character") << "JianGuo国" << true << "20230101-20230301"
                                                     << "20230301" << ok;
    QTest::newRow("Latin only") << "JianGuoDY" << true << "20230101-20230301"
                                << "20230301" << noChinese;
    QTest::newRow("first of the range") << QString(QChar(0x4E00)) << true << "20230101-20230301"
                                        << "20230301" << ok;
    QTest::newRow("last of the range") << QString(QChar(0x9FA5)) << true << "20230101-20230301"
                                       << "20230301" << ok;
    QTest::newRow("just past the range") << QString(QChar(0x9FA6)) << true << "20230101-20230301"
                                         << "20230301" << noChinese;
    QTest::newRow("full-width punctuation only") << "《》" << true << "20230101-20230301"
                                                 << "20230301" << noChinese;
    QTest::newRow("film name checked first") << "" << true << "x"
                                             << "x" << noChinese;
    QTest::newRow("30 February") << "建国" << true << "20230230-20230301"
                                 << "20230301" << badKdm;
    QTest::newRow("other separator") << "建国" << true << "20230101~20230301"
                                     << "20230301" << ok;
    QTest::newRow("end date bad") << "建国" << true << "20230101-20231301"
                                  << "20230301" << badKdm;
    QTest::newRow("dash only when encrypted") << "建国" << true << "-"
                                              << "20230301" << badKdm;
    QTest::newRow("unencrypted, dash") << "建国" << false << "-"
                                       << "20230301" << ok;
    QTest::newRow("unencrypted, anything") << "建国" << false << "soon"
                                           << "20230301" << ok;
    QTest::newRow("bad vet date") << "建国" << true << "20230101-20230301"
                                  << "20230231" << badVet;
    QTest::newRow("vet date with dashes") << "建国" << false << "-"
                                          << "2023-03-01" << badVet;
    QTest::newRow("empty vet date") << "建国" << false << "-"
                                    << "" << badVet;
}

void TestRules::checkLabelValues()
{
    QFETCH(QString, filmName);
    QFETCH(bool, encrypted);
    QFETCH(QString, kdmDate);
    QFETCH(QString, vetDate);
    QFETCH(QString, message);

    DcpInspector inspector = filledLabels();
    inspector.filmName = filmName;
    inspector.encrypted = encrypted;
    inspector.kdmDate = kdmDate;
    inspector.vetDate = vetDate;
    QString actual;
    QCOMPARE(inspector.checkLabelValues(actual), message.isEmpty());
    QCOMPARE(actual, message);
}

void TestRules::checkLabelFields_data()
{
    // Fields emptied, by name; the message expected.
    QTest::addColumn<QStringList>("emptied");
    QTest::addColumn<QString>("message");

    QTest::newRow("all filled") << QStringList{} << QString();
    QTest::newRow("interface first, whatever else is empty")
        << texts({"producer", "filmName", "diskInterface", "vetDate"})
        << QStringLiteral("请选择移动硬盘接口!");
    QTest::newRow("then the film name")
        << texts({"producer", "kdmDate", "filmName"}) << QStringLiteral("影片名称为空!");
    QTest::newRow("kdmDate") << texts({"kdmDate", "color"}) << QStringLiteral("KDM有效期为空!");
    QTest::newRow("duration") << texts({"duration"}) << QStringLiteral("片长为空!");
    QTest::newRow("resolution") << texts({"resolution"}) << QStringLiteral("图像分辨率为空!");
    QTest::newRow("aspect") << texts({"aspect"}) << QStringLiteral("图像宽高比为空!");
    QTest::newRow("frame") << texts({"frame"}) << QStringLiteral("帧速率为空!");
    QTest::newRow("color") << texts({"color"}) << QStringLiteral("色域为空!");
    QTest::newRow("audio") << texts({"audio"}) << QStringLiteral("声音制式为空!");
    QTest::newRow("vetDate") << texts({"vetDate"}) << QStringLiteral("送审日期为空!");
    QTest::newRow("producer") << texts({"producer"}) << QStringLiteral("电影第一出品单位为空!");
    QTest::newRow("cplName is not asked for") << texts({"cplName"}) << QString();
}

void TestRules::checkLabelFields()
{
    QFETCH(QStringList, emptied);
    QFETCH(QString, message);

    DcpInspector inspector = filledLabels();
    inspector.cplName = QStringLiteral("title");
    const QStringList names =
        texts({"diskInterface", "filmName", "kdmDate", "duration", "resolution", "aspect", "frame",
               "color", "audio", "vetDate", "producer", "cplName"});
    QString *const members[] = {
        &inspector.diskInterface, &inspector.filmName, &inspector.kdmDate,  &inspector.duration,
        &inspector.resolution,    &inspector.aspect,   &inspector.frame,    &inspector.color,
        &inspector.audio,         &inspector.vetDate,  &inspector.producer, &inspector.cplName};
    QHash<QString, QString *> fields;
    for (int i = 0; i < names.size(); ++i)
        fields.insert(names[i], members[i]);
    // Blanks count as filled: only an empty text is missing.
    for (QString *field : qAsConst(fields))
        *field = QStringLiteral(" ");
    for (const QString &name : qAsConst(emptied)) {
        QVERIFY2(fields.contains(name), qPrintable(name));
        fields[name]->clear();
    }
    QString actual = QStringLiteral("untouched");
    QCOMPARE(inspector.checkLabelFields(actual), message.isEmpty());
    QCOMPARE(actual, message.isEmpty() ? QStringLiteral("untouched") : message);
}

void TestRules::kdmRules_data()
{
    QTest::addColumn<QVector<KdmInfo>>("kdms");
    QTest::addColumn<bool>("idPasses");
    QTest::addColumn<bool>("namespacePasses");

    const QString interop = QStringLiteral("http://www.digicine.com/PROTO-ASDCP-KDM-20040311#");
    const QString neither = QStringLiteral("http://example.org/kdm");
    QTest::newRow("one KDM for this composition")
        << QVector<KdmInfo>{kdmFor(kCplId, kSmpteKdm)} << true << true;
    QTest::newRow("first for another composition, later one for this")
        << QVector<KdmInfo>{kdmFor(kOtherId, kSmpteKdm), kdmFor(kCplId, kSmpteKdm)} << true << true;
    QTest::newRow("namespace neither, then SMPTE")
        << QVector<KdmInfo>{kdmFor(kCplId, neither), kdmFor(kCplId, kSmpteKdm)} << true << true;
    QTest::newRow("Interop namespace") << QVector<KdmInfo>{kdmFor(kCplId, interop)} << true << true;
    QTest::newRow("prefix in the middle")
        << QVector<KdmInfo>{kdmFor(kCplId, QStringLiteral("x-") + kSmpteKdm)} << true << true;
    QTest::newRow("prefix in other letter case")
        << QVector<KdmInfo>{kdmFor(kCplId, kSmpteKdm.toUpper())} << true << false;
    QTest::newRow("right namespace only on another composition's KDM")
        << QVector<KdmInfo>{kdmFor(kCplId, neither), kdmFor(kOtherId, kSmpteKdm)} << true << false;
    QTest::newRow("only KDMs for other compositions")
        << QVector<KdmInfo>{kdmFor(kOtherId, kSmpteKdm), kdmFor(kCplId.toUpper(), kSmpteKdm)}
        << false << false;
    QTest::newRow("no KDM") << QVector<KdmInfo>{} << false << false;
}

void TestRules::kdmRules()
{
    QFETCH(QVector<KdmInfo>, kdms);
    QFETCH(bool, idPasses);
    QFETCH(bool, namespacePasses);

    DcpInspector inspector = withComposition({});
    inspector.kdms = kdms;
    QString message;
    QCOMPARE(inspector.checkKdmCompositionId(message), idPasses);
    QCOMPARE(message, idPasses ? QString()
                               : QStringLiteral("KDM文件中的CompositionPlaylistId值和CPL文件中的"
                                                "UUID值不一致，请重新制作DCP后，再进行检测!"));
    QCOMPARE(inspector.checkKdmNamespace(message), namespacePasses);
    QCOMPARE(message,
             namespacePasses
                 ? QString()
                 : QStringLiteral("KDM文件中的命名空间不符合，请重新制作DCP后，再进行检测!"));
}

QTEST_GUILESS_MAIN(TestRules)
#include "test_rules.moc"
