#include "dcp/DcpInspector.h"
#include "run/CheckList.h"
#include "support/FixtureBuilder.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString kNameMessage = QStringLiteral("DCP命名不符合规范，请修改DCP命名后，再进行检测!");
const QString kPklAssetsMessage =
    QStringLiteral("Assetmap中的文件和Cpl中的文件列表未一一对应，请重新制作DCP后，再进行检测!");

QString pathMessage(const char *path)
{
    return QStringLiteral("Assetmap中的") + QLatin1String(path) +
           QStringLiteral("文件与实际路径不一致，请重新制作DCP后，再进行检测!");
}

// A change made to a loaded master before the rules judge it.
using Edit = void (*)(DcpInspector &);

// The package rules in the order of the run, the inline one written as the run writes it: the row
// of the first failing rule, or -1 when all pass. (The namespace rule has its own tests.)
int firstFailure(DcpInspector &d, QString &message)
{
    return !d.checkDcpName(message)                                ? int(CheckRow::DcpName)
           : !d.checkAssetPaths(message)                           ? int(CheckRow::AssetPaths)
           : !d.pklListedInAssetMap()                              ? int(CheckRow::PklListed)
           : d.assetMap.annotationText != d.pkls[0].annotationText ? int(CheckRow::PklAnnotation)
           : !d.checkPklAssets(message)                            ? int(CheckRow::PklAssets)
                                                                   : -1;
}

} // namespace

Q_DECLARE_METATYPE(Edit)

class TestPackageRules : public QObject
{
    Q_OBJECT

private slots:
    void rules_data();
    void rules();
};

void TestPackageRules::rules_data()
{
    QTest::addColumn<Edit>("edit");
    QTest::addColumn<int>("row"); // of the first failing rule; -1: all pass
    QTest::addColumn<QString>("message");

    // The asset map lists the packing list, the composition, the picture and the sound.
    QTest::newRow("empty title") << Edit([](DcpInspector &d) {
        d.cpls[0].contentTitleText.clear();
    }) << int(CheckRow::DcpName) << kNameMessage;
    QTest::newRow("one-character title")
        << Edit([](DcpInspector &d) { d.cpls[0].contentTitleText = QStringLiteral("A"); }) << -1
        << QString();
    QTest::newRow("asset path names a folder")
        << Edit([](DcpInspector &d) { d.assetMap.assets[2].path = QStringLiteral("sub"); })
        << int(CheckRow::AssetPaths) << pathMessage("sub");
    QTest::newRow("asset path names a missing file")
        << Edit([](DcpInspector &d) { d.assetMap.assets[3].path = QStringLiteral("lost.mxf"); })
        << int(CheckRow::AssetPaths) << pathMessage("lost.mxf");
    QTest::newRow("packing list id in capitals")
        << Edit([](DcpInspector &d) { d.pkls[0].id = d.pkls[0].id.toUpper(); })
        << int(CheckRow::PklListed) << QString();
    QTest::newRow("annotation with a trailing blank")
        << Edit([](DcpInspector &d) { d.pkls[0].annotationText += QLatin1Char(' '); })
        << int(CheckRow::PklAnnotation) << QString();
    QTest::newRow("packing-list asset missing from the asset map")
        << Edit([](DcpInspector &d) { d.assetMap.assets.removeLast(); }) << int(CheckRow::PklAssets)
        << kPklAssetsMessage;
    QTest::newRow("OriginalFileName unlike the Path") << Edit([](DcpInspector &d) {
        for (AssetInfo &asset : d.pkls[0].assets)
            asset.path.prepend(QStringLiteral("ORIGINAL_"));
    }) << -1 << QString();
    QTest::newRow("duplicate id: the first path counts") << Edit([](DcpInspector &d) {
        d.assetMap.assets.append(d.assetMap.assets[2]);
        d.assetMap.assets.last().path = d.assetMap.assets[0].path;
    }) << -1 << QString();
}

// A master written and loaded as discovery loads it, edited, then judged.
void TestPackageRules::rules()
{
    QFETCH(Edit, edit);
    QFETCH(int, row);
    QFETCH(QString, message);
    QTemporaryDir disk;
    QVERIFY(disk.isValid());
    const BuiltMaster master = FixtureBuilder(disk.path()).writeMaster(MasterSpec());
    QVERIFY(QDir(master.folder).mkdir(QStringLiteral("sub")));
    DcpInspector inspector;
    inspector.resetRunData();
    QCOMPARE(inspector.loadMaster(disk.path()), int(DcpInspector::NotEncrypted));
    edit(inspector);

    QString text;
    QCOMPARE(firstFailure(inspector, text), row);
    QCOMPARE(text, message);
    if (row < 0) { // hashing reads exactly the packing list's files, found through the asset map
        QStringList hashed;
        for (const AssetInfo &asset : qAsConst(inspector.pkls[0].assets))
            hashed.append(master.folder + QLatin1Char('/') + asset.path);
        QCOMPARE(hashed, master.pklAssetPaths);
    }
}

QTEST_GUILESS_MAIN(TestPackageRules)
#include "test_packagerules.moc"
