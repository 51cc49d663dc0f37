#include "dcp/DcpInspector.h"
#include "dcp/MasterFiles.h"
#include "run/CheckList.h"
#include "support/FixtureBuilder.h"
#include "support/TestSupport.h"

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

// The package rules that are member functions, in the order of the run: the row of the first
// failing rule, or -1 when all pass. The rules written into the run (namespaces, annotation) are
// tested through the run.
int firstFailure(DcpInspector &d, QString &message)
{
    return !d.checkDcpName(message)      ? int(CheckRow::DcpName)
           : !d.checkAssetPaths(message) ? int(CheckRow::AssetPaths)
           : !d.pklListedInAssetMap()    ? int(CheckRow::PklListed)
           : !d.checkPklAssets(message)  ? int(CheckRow::PklAssets)
                                         : -1;
}

} // namespace

Q_DECLARE_METATYPE(Edit)

class TestPackageRules : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { failOnQtWarnings(); }
    void rules_data();
    void rules();
    void assetFiles_data();
    void assetFiles();
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
    QTest::newRow("Path climbing above the asset map's folder") << Edit([](DcpInspector &d) {
        const QString folder = QFileInfo(d.assetMapPaths[0]).path() + QLatin1Char('/');
        QFile::copy(folder + d.assetMap.assets[2].path, folder + QStringLiteral("../up.mxf"));
        d.assetMap.assets[2].path = QStringLiteral("../up.mxf");
    }) << int(CheckRow::AssetPaths) << pathMessage("../up.mxf");
    QTest::newRow("track linked outside the disk") << Edit([](DcpInspector &d) {
        QFile::link(QCoreApplication::applicationFilePath(),
                    QFileInfo(d.assetMapPaths[0]).path() + QStringLiteral("/out.mxf"));
        d.assetMap.assets[3].path = QStringLiteral("out.mxf");
    }) << int(CheckRow::AssetPaths) << pathMessage("out.mxf");
    QTest::newRow("packing list id in capitals")
        << Edit([](DcpInspector &d) { d.pkls[0].id = d.pkls[0].id.toUpper(); })
        << int(CheckRow::PklListed) << QString();
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
    SKIP_ON_WINDOWS_IF(currentRowIn({QStringLiteral("track linked outside the disk")}),
                       POSIX_FIXTURE);
    QFETCH(Edit, edit);
    QFETCH(int, row);
    QFETCH(QString, message);
    QTemporaryDir disk;
    QVERIFY(disk.isValid());
    const BuiltMaster master = FixtureBuilder(disk.path()).writeMaster(MasterLayout());
    QVERIFY(QDir(master.folder).mkdir(QStringLiteral("sub")));
    DcpInspector inspector;
    inspector.resetRunData();
    inspector.removableDrives = {disk.path()};
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

void TestPackageRules::assetFiles_data()
{
    QTest::addColumn<QString>("path"); // "@" stands for the master folder, "$" for the track
    QTest::addColumn<bool>("found");
    QTest::newRow("plain") << "$" << true;
    QTest::newRow("down and up again") << "./sub/../$" << true;
    QTest::newRow("through a link inside the master") << "sub/in.mxf" << true;
    QTest::newRow("climbing to the disk root") << "../$" << false;
    QTest::newRow("climbing from a sub-folder") << "sub/../../$" << false;
    QTest::newRow("climbing, Windows separator") << "..\\$" << false;
    QTest::newRow("absolute") << "@/$" << false;
    QTest::newRow("file scheme") << "file://@/$" << false;
    QTest::newRow("drive letter") << "C:$" << false;
    QTest::newRow("through a link leaving the disk") << "sub/out.mxf" << false;
    QTest::newRow("a folder") << "sub" << false;
    QTest::newRow("empty") << "" << false;
}

// One helper says what an asset map's Path leads to, for discovery, the path rule and hashing.
void TestPackageRules::assetFiles()
{
    SKIP_ON_WINDOWS_IF(currentRowIn({QStringLiteral("through a link leaving the disk")}),
                       POSIX_FIXTURE);
    QFETCH(QString, path);
    QFETCH(bool, found);
    QTemporaryDir disk;
    QVERIFY(disk.isValid());
    const BuiltMaster master = FixtureBuilder(disk.path()).writeMaster(MasterLayout());
    const QString track = master.trackPaths.first();
    const QString name = QFileInfo(track).fileName();
    QVERIFY(QDir(master.folder).mkdir(QStringLiteral("sub")));
    QVERIFY(QFile::copy(track, disk.filePath(name)));
    QVERIFY(QFile::link(track, master.folder + QStringLiteral("/sub/in.mxf")));
    QVERIFY(QFile::link(QCoreApplication::applicationFilePath(),
                        master.folder + QStringLiteral("/sub/out.mxf")));
    path.replace(QLatin1Char('@'), master.folder).replace(QLatin1Char('$'), name);

    const QString file = assetFileInMaster(disk.path(), master.folder, path);
    QCOMPARE(file, found ? master.folder + QLatin1Char('/') + path : QString());
    DcpInspector inspector;
    inspector.removableDrives = {disk.path()};
    inspector.assetMapPaths = {master.assetMapPath};
    inspector.assetMap.assets = {AssetInfo()};
    inspector.assetMap.assets[0].path = path;
    QString message;
    QCOMPARE(inspector.checkAssetPaths(message), found);
}

QTEST_GUILESS_MAIN(TestPackageRules)
#include "test_packagerules.moc"
