// Runs the real tavimor-check binary on fixture masters and reads what it prints and returns.

#include "run/CheckList.h"
#include "support/FixtureBuilder.h"

#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

namespace {
const QString kNotApplicable = QStringLiteral("———");
const QString kPass = QStringLiteral("符合");
const QString kFail = QStringLiteral("不符合");

struct CliResult
{
    int exitCode = -1;
    bool crashed = false;
    QString out;
    QString err;
    QJsonObject json;
};

CliResult runCli(const QStringList &arguments, const QString &workDir)
{
    QProcess process;
    process.setWorkingDirectory(workDir);
    process.start(QStringLiteral(TAVIMOR_CHECK_EXECUTABLE), arguments);
    CliResult result;
    if (!process.waitForFinished(300000)) {
        process.kill();
        process.waitForFinished();
    }
    result.crashed = process.exitStatus() != QProcess::NormalExit;
    result.exitCode = process.exitCode();
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    if (arguments.contains(QStringLiteral("--json")))
        result.json = QJsonDocument::fromJson(result.out.toUtf8()).object();
    return result;
}

void writeLabels(const QString &path, const QMap<QString, QString> &values)
{
    QByteArray text = "; the operator's confirmation\n[label]\n";
    for (auto it = values.constBegin(); it != values.constEnd(); ++it)
        text += it.key().toUtf8() + '=' + it.value().toUtf8() + '\n';
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
}

// What an operator types into the dialog's empty fields for a passing run.
QMap<QString, QString> passingLabels()
{
    return {{QStringLiteral("filmName"), QStringLiteral("建国大业")},
            {QStringLiteral("color"), QStringLiteral("XYZ")},
            {QStringLiteral("audio"), QStringLiteral("5.1")},
            {QStringLiteral("producer"), QStringLiteral("中国电影股份有限公司")},
            {QStringLiteral("diskInterface"), QStringLiteral("USB3.0")}};
}

QString rowResult(const QJsonObject &json, int row)
{
    return json.value(QStringLiteral("rows"))
        .toArray()
        .at(row)
        .toObject()
        .value(QStringLiteral("result"))
        .toString();
}

// Terminal columns of the texts the check list uses: CJK takes two, the rest one.
int columns(const QString &text)
{
    int width = 0;
    for (const QChar c : text)
        width += c.unicode() >= 0x2E80 ? 2 : 1;
    return width;
}

QString today()
{
    return QDate::currentDate().toString(QStringLiteral("yyyyMMdd"));
}

enum Variant {
    Plain,
    Encrypted,
    EncryptedNoDevice,
    WrongPklHash,
    MissingTrack,
    GroupId,
};
} // namespace
Q_DECLARE_METATYPE(Variant)

class TestCli : public QObject
{
    Q_OBJECT

private:
    // A master in <temp>/disk, settings in <temp>/set.ini; returns the disk root.
    QString makeMaster(const QTemporaryDir &dir, Variant variant, int hashCheck,
                       BuiltMaster *built = nullptr, MasterSpec spec = MasterSpec());

private slots:
    void exitStatus_data();
    void exitStatus();
    void usageErrors_data();
    void usageErrors();
    void jsonShape();
    void labelsTakenAsWritten();
    void defaultSettingsFromWorkingDirectory();
    void tableOutput();
    void warningInTable();
    void noProgressOnPipe();
    void report_data();
    void report();
    void reportWriteFailure();
    void interrupt();
    void helpAndVersion();
    void attachedDisk();
};

QString TestCli::makeMaster(const QTemporaryDir &dir, Variant variant, int hashCheck,
                            BuiltMaster *built, MasterSpec spec)
{
    const QString disk = dir.filePath(QStringLiteral("disk"));
    QDir().mkpath(disk);
    spec.encrypted = variant == Encrypted || variant == EncryptedNoDevice;
    spec.wrongPklHash = variant == WrongPklHash;
    spec.omitFirstTrackFile = variant == MissingTrack;
    spec.pklGroupId = variant == GroupId;
    FixtureBuilder builder(disk);
    const BuiltMaster master = builder.writeMaster(spec);
    if (spec.encrypted)
        builder.writeKdm(master);
    if (built)
        *built = master;
    const QStringList certs = variant == Encrypted ? QStringList{QStringLiteral("SM.TEST-SERVER")}
                                                   : QStringList{QStringLiteral("NO.SUCH-DEVICE")};
    FixtureBuilder::writeSettings(dir.filePath(QStringLiteral("set.ini")), hashCheck, certs);
    return disk;
}

void TestCli::exitStatus_data()
{
    QTest::addColumn<Variant>("variant");
    QTest::addColumn<int>("hashCheck");
    QTest::addColumn<bool>("withLabels");
    QTest::addColumn<QString>("labelKey"); // a key set over the passing labels ("-x" removes x)
    QTest::addColumn<QString>("labelValue");
    QTest::addColumn<int>("expectedStatus");
    QTest::addColumn<int>("failedRow"); // -1: none
    QTest::addColumn<QString>("expectedWarning");

    const QString none;
    QTest::newRow("pass, hashing") << Plain << 1 << true << none << none << 0 << -1 << none;
    QTest::newRow("pass, hashing off") << Plain << 0 << true << none << none << 0 << -1 << none;
    QTest::newRow("pass, encrypted") << Encrypted << 1 << true << none << none << 0 << -1 << none;
    QTest::newRow("no labels") << Plain << 1 << false << none << none << 3 << -1 << none;
    QTest::newRow("no labels, encrypted")
        << Encrypted << 0 << false << none << none << 3 << -1 << none;
    QTest::newRow("hash mismatch")
        << WrongPklHash << 1 << true << none << none << 1 << int(CheckRow::Hash)
        << QStringLiteral("文件Hash值与PKL文件中的Hash值不一致，请重新制作DCP后，再进行检测!");
    // With hashing off the wrong digest is only seen as a mismatch with the composition's.
    QTest::newRow("hash mismatch, hashing off")
        << WrongPklHash << 0 << true << none << none << 1 << int(CheckRow::CplTrackHashes)
        << QStringLiteral(
               "Cpl文件中列出的MXF文件Hash值与计算所得Hash值不一致，请重新制作DCP后，再进行检测!");
    QTest::newRow("track file missing")
        << MissingTrack << 1 << false << none << none << 1 << int(CheckRow::DcpAndKdm)
        << QStringLiteral("送审母版文件不全，请确认存入完整送审母版后，再进行检测!");
    QTest::newRow("group id")
        << GroupId << 0 << true << none << none << 1 << int(CheckRow::GroupId)
        << QStringLiteral("PKL文件中有GroupId元素，DCP不完整，请重新制作DCP后，再进行检测!");
    QTest::newRow("no approved device")
        << EncryptedNoDevice << 0 << true << none << none << 1 << int(CheckRow::DcpAndKdm)
        << QStringLiteral("未检查到相符的授权密钥文件（KDM），请确保授权密钥时间和授权放映设备正确"
                          "后，再进行检测!");
    QTest::newRow("refused: no interface")
        << Plain << 0 << true << QStringLiteral("-diskInterface") << none << 1 << -1
        << QStringLiteral("请选择移动硬盘接口!");
    QTest::newRow("refused: empty film name") << Plain << 0 << true << QStringLiteral("filmName")
                                              << none << 1 << -1 << QStringLiteral("影片名称为空!");
    QTest::newRow("refused: empty duration") << Plain << 0 << true << QStringLiteral("duration")
                                             << none << 1 << -1 << QStringLiteral("片长为空!");
    QTest::newRow("refused: no producer")
        << Plain << 0 << true << QStringLiteral("-producer") << none << 1 << -1
        << QStringLiteral("电影第一出品单位为空!");
    QTest::newRow("film name not Chinese")
        << Plain << 0 << true << QStringLiteral("filmName") << QStringLiteral("JianGuo") << 1
        << int(CheckRow::Label) << QStringLiteral("影片名称未采用中文，请检查后再进行检测!");
    QTest::newRow("vetDate not a date")
        << Plain << 0 << true << QStringLiteral("vetDate") << QStringLiteral("20230230") << 1
        << int(CheckRow::Label) << QStringLiteral("送审日期格式输入不正确，请检查后再进行检测!");
    QTest::newRow("kdmDate malformed, encrypted")
        << Encrypted << 0 << true << QStringLiteral("kdmDate") << QStringLiteral("2023-01-01") << 1
        << int(CheckRow::Label) << QStringLiteral("KDM有效期格式输入不正确，请检查后再进行检测!");
    QTest::newRow("USB2.0") << Plain << 0 << true << QStringLiteral("diskInterface")
                            << QStringLiteral("USB2.0") << 1 << int(CheckRow::Interface)
                            << QStringLiteral(
                                   "移动硬盘数据接口必须是USB3.0以上，请替换后再进行检测！");
}

void TestCli::exitStatus()
{
    QFETCH(Variant, variant);
    QFETCH(int, hashCheck);
    QFETCH(bool, withLabels);
    QFETCH(QString, labelKey);
    QFETCH(QString, labelValue);
    QFETCH(int, expectedStatus);
    QFETCH(int, failedRow);
    QFETCH(QString, expectedWarning);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString disk = makeMaster(dir, variant, hashCheck);
    QStringList arguments = {QStringLiteral("--master"), disk, QStringLiteral("--settings"),
                             dir.filePath(QStringLiteral("set.ini")), QStringLiteral("--json")};
    if (withLabels) {
        QMap<QString, QString> labels = passingLabels();
        if (labelKey.startsWith(QLatin1Char('-')))
            labels.remove(labelKey.mid(1));
        else if (!labelKey.isEmpty())
            labels.insert(labelKey, labelValue);
        writeLabels(dir.filePath(QStringLiteral("labels.ini")), labels);
        arguments << QStringLiteral("--labels") << dir.filePath(QStringLiteral("labels.ini"));
    }

    const CliResult result = runCli(arguments, dir.path());
    QVERIFY2(!result.crashed, qPrintable(result.err));
    QCOMPARE(result.exitCode, expectedStatus);
    const QJsonObject &json = result.json;
    QCOMPARE(json.value(QStringLiteral("passed")).toBool(), expectedStatus == 0);
    if (expectedWarning.isEmpty())
        QVERIFY(json.value(QStringLiteral("warning")).isNull());
    else
        QCOMPARE(json.value(QStringLiteral("warning")).toString(), expectedWarning);

    // The carrier rows are not judged for a folder.
    for (const int row :
         {int(CheckRow::Physical), int(CheckRow::FileSystem), int(CheckRow::Partition)})
        QCOMPARE(rowResult(json, row), kNotApplicable);
    int failCells = 0;
    for (int row = 0; row < CheckRow::Count; ++row)
        failCells += rowResult(json, row) == kFail ? 1 : 0;
    QCOMPARE(failCells, failedRow >= 0 ? 1 : 0);
    if (failedRow >= 0)
        QCOMPARE(rowResult(json, failedRow), kFail);

    if (expectedStatus == 0) {
        QCOMPARE(rowResult(json, CheckRow::CarrierHeader), kNotApplicable);
        QCOMPARE(rowResult(json, CheckRow::Label), kPass);
        QCOMPARE(rowResult(json, CheckRow::Interface), kPass);
        QCOMPARE(rowResult(json, CheckRow::Hash), kPass);
        QCOMPARE(rowResult(json, CheckRow::KdmHeader),
                 variant == Encrypted ? kPass : QStringLiteral("符合(未加密DCP)"));
    }
    if (expectedStatus == 3 || failedRow < 0) {
        // Stopped at the confirmation, or the confirmation refused: the label rows stay open.
        if (expectedStatus != 0) {
            QCOMPARE(rowResult(json, CheckRow::CarrierHeader), QString());
            QCOMPARE(rowResult(json, CheckRow::Label), QString());
            QCOMPARE(rowResult(json, CheckRow::Interface), QString());
            QCOMPARE(rowResult(json, CheckRow::KdmNamespace),
                     variant == Encrypted ? kPass : kNotApplicable);
        }
    }
    if (expectedStatus == 3)
        QVERIFY2(result.err.contains(QStringLiteral("--labels")), qPrintable(result.err));
}

void TestCli::usageErrors_data()
{
    QTest::addColumn<QStringList>("arguments"); // "@" stands for the temporary folder
    QTest::addColumn<QString>("expectedMessage");

    QTest::newRow("unknown option")
        << QStringList{QStringLiteral("--bogus")} << QStringLiteral("bogus");
    QTest::newRow("stray argument")
        << QStringList{QStringLiteral("extra")} << QStringLiteral("extra");
    QTest::newRow("master without folder")
        << QStringList{QStringLiteral("--master")} << QStringLiteral("master");
    QTest::newRow("master missing")
        << QStringList{QStringLiteral("--master"), QStringLiteral("@/nowhere")}
        << QStringLiteral("does not exist");
    QTest::newRow("master is a file")
        << QStringList{QStringLiteral("--master"), QStringLiteral("@/set.ini")}
        << QStringLiteral("not a folder");
    QTest::newRow("settings missing")
        << QStringList{QStringLiteral("--master"), QStringLiteral("@/disk"),
                       QStringLiteral("--settings"), QStringLiteral("@/none.ini")}
        << QStringLiteral("none.ini");
    QTest::newRow("settings is a folder")
        << QStringList{QStringLiteral("--master"), QStringLiteral("@/disk"),
                       QStringLiteral("--settings"), QStringLiteral("@/disk")}
        << QStringLiteral("settings");
    QTest::newRow("labels missing")
        << QStringList{QStringLiteral("--master"), QStringLiteral("@/disk"),
                       QStringLiteral("--labels"), QStringLiteral("@/none.ini")}
        << QStringLiteral("none.ini");
    QTest::newRow("labels not INI")
        << QStringList{QStringLiteral("--master"), QStringLiteral("@/disk"),
                       QStringLiteral("--labels"), QStringLiteral("@/garbage.ini")}
        << QStringLiteral("line 2");
    QTest::newRow("report folder missing")
        << QStringList{QStringLiteral("--master"), QStringLiteral("@/disk"),
                       QStringLiteral("--report"), QStringLiteral("@/no/such/report.pdf")}
        << QStringLiteral("does not exist");
    QTest::newRow("report is a folder")
        << QStringList{QStringLiteral("--master"), QStringLiteral("@/disk"),
                       QStringLiteral("--report"), QStringLiteral("@/disk")}
        << QStringLiteral("is a folder");
}

void TestCli::usageErrors()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, expectedMessage);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    makeMaster(dir, Plain, 0);
    QFile garbage(dir.filePath(QStringLiteral("garbage.ini")));
    QVERIFY(garbage.open(QIODevice::WriteOnly));
    garbage.write("[label]\nthis line is no setting\n");
    garbage.close();
    for (QString &argument : arguments)
        argument.replace(QLatin1Char('@'), dir.path());

    const CliResult result = runCli(arguments, dir.path());
    QVERIFY(!result.crashed);
    QCOMPARE(result.exitCode, 2);
    QVERIFY2(result.err.contains(expectedMessage), qPrintable(result.err));
    QVERIFY2(result.out.isEmpty(), qPrintable(result.out));
}

void TestCli::jsonShape()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    MasterSpec spec;
    spec.reelDurations = {1440, 1500}; // 2940 frames at 24 fps: 122.5 s
    BuiltMaster master;
    const QString disk = makeMaster(dir, Encrypted, 1, &master, spec);
    writeLabels(dir.filePath(QStringLiteral("labels.ini")), passingLabels());

    const QString before = today();
    const CliResult result =
        runCli({QStringLiteral("--json"), QStringLiteral("--master"), disk,
                QStringLiteral("--settings"), dir.filePath(QStringLiteral("set.ini")),
                QStringLiteral("--labels"), dir.filePath(QStringLiteral("labels.ini"))},
               dir.path());
    const QString after = today();
    QCOMPARE(result.exitCode, 0);
    const QJsonObject &json = result.json;

    QStringList keys = json.keys();
    keys.sort();
    QCOMPARE(keys, (QStringList{QStringLiteral("encrypted"), QStringLiteral("labels"),
                                QStringLiteral("passed"), QStringLiteral("rows"),
                                QStringLiteral("warning")}));
    QVERIFY(json.value(QStringLiteral("passed")).toBool());
    QVERIFY(json.value(QStringLiteral("encrypted")).toBool());

    const QJsonArray rows = json.value(QStringLiteral("rows")).toArray();
    QCOMPARE(rows.size(), int(CheckRow::Count));
    for (int row = 0; row < rows.size(); ++row) {
        const QJsonObject cell = rows.at(row).toObject();
        QCOMPARE(cell.value(QStringLiteral("row")).toInt(-1), row);
        QCOMPARE(cell.value(QStringLiteral("no")).toString(), checkListNumber(row));
        QCOMPARE(cell.value(QStringLiteral("item")).toString(), checkListItem(row));
        QVERIFY(cell.value(QStringLiteral("result")).isString());
        QVERIFY2(!cell.value(QStringLiteral("result")).toString().isEmpty(),
                 qPrintable(checkListItem(row)));
    }

    const QJsonObject labels = json.value(QStringLiteral("labels")).toObject();
    QCOMPARE(labels.size(), 12);
    QCOMPARE(labels.value(QStringLiteral("cplName")).toString(), master.title);
    QCOMPARE(labels.value(QStringLiteral("duration")).toString(), QStringLiteral("2分钟2秒"));
    QCOMPARE(labels.value(QStringLiteral("kdmDate")).toString(),
             QStringLiteral("20230101-20990301"));
    QCOMPARE(labels.value(QStringLiteral("resolution")).toString(), QStringLiteral("1998*1080"));
    QCOMPARE(labels.value(QStringLiteral("aspect")).toString(), QStringLiteral("1.85:1"));
    QCOMPARE(labels.value(QStringLiteral("frame")).toString(), QStringLiteral("24fps"));
    const QString vetDate = labels.value(QStringLiteral("vetDate")).toString();
    QVERIFY2(vetDate == before || vetDate == after, qPrintable(vetDate));
    const QMap<QString, QString> typed = passingLabels();
    for (auto it = typed.constBegin(); it != typed.constEnd(); ++it)
        QCOMPARE(labels.value(it.key()).toString(), it.value());
}

void TestCli::labelsTakenAsWritten()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString disk = makeMaster(dir, Plain, 0);
    QMap<QString, QString> labels = passingLabels();
    labels.insert(QStringLiteral("filmName"), QStringLiteral("建国大业, 续集;终章 #2"));
    labels.insert(QStringLiteral("producer"), QStringLiteral("\"  中影,北京  \""));
    labels.insert(QStringLiteral("duration"), QStringLiteral("95分钟0秒"));
    labels.insert(QStringLiteral("resolution"), QStringLiteral("4096*1716"));
    labels.insert(QStringLiteral("vetDate"), QStringLiteral("20300102"));
    labels.insert(QStringLiteral("unknownKey"), QStringLiteral("x"));
    writeLabels(dir.filePath(QStringLiteral("labels.ini")), labels);

    const CliResult result =
        runCli({QStringLiteral("--json"), QStringLiteral("--master"), disk,
                QStringLiteral("--settings"), dir.filePath(QStringLiteral("set.ini")),
                QStringLiteral("--labels"), dir.filePath(QStringLiteral("labels.ini"))},
               dir.path());
    QCOMPARE(result.exitCode, 0);
    const QJsonObject json = result.json.value(QStringLiteral("labels")).toObject();
    QCOMPARE(json.value(QStringLiteral("filmName")).toString(),
             QStringLiteral("建国大业, 续集;终章 #2"));
    QCOMPARE(json.value(QStringLiteral("producer")).toString(), QStringLiteral("  中影,北京  "));
    QCOMPARE(json.value(QStringLiteral("duration")).toString(), QStringLiteral("95分钟0秒"));
    QCOMPARE(json.value(QStringLiteral("resolution")).toString(), QStringLiteral("4096*1716"));
    QCOMPARE(json.value(QStringLiteral("vetDate")).toString(), QStringLiteral("20300102"));
    // Keys the file leaves out keep the pre-fill.
    QCOMPARE(json.value(QStringLiteral("aspect")).toString(), QStringLiteral("1.85:1"));
    QCOMPARE(json.value(QStringLiteral("kdmDate")).toString(), QStringLiteral("-"));
    QVERIFY2(result.err.contains(QStringLiteral("unknownKey")), qPrintable(result.err));
}

void TestCli::defaultSettingsFromWorkingDirectory()
{
    // The files are hashed only when the working directory's set.ini says so.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString disk = makeMaster(dir, WrongPklHash, 1);
    writeLabels(dir.filePath(QStringLiteral("labels.ini")), passingLabels());
    const QStringList arguments = {QStringLiteral("--json"), QStringLiteral("--master"), disk,
                                   QStringLiteral("--labels"),
                                   dir.filePath(QStringLiteral("labels.ini"))};

    CliResult result = runCli(arguments, dir.path());
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(rowResult(result.json, CheckRow::Hash), kFail);

    QVERIFY(QFile::remove(dir.filePath(QStringLiteral("set.ini"))));
    result = runCli(arguments, dir.path());
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(rowResult(result.json, CheckRow::Hash), kPass);
    QCOMPARE(rowResult(result.json, CheckRow::CplTrackHashes), kFail);
    QVERIFY2(result.err.contains(QStringLiteral("set.ini")), qPrintable(result.err));
}

void TestCli::tableOutput()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString disk = makeMaster(dir, Plain, 1);
    const CliResult result = runCli({QStringLiteral("--master"), disk, QStringLiteral("--settings"),
                                     dir.filePath(QStringLiteral("set.ini"))},
                                    dir.path());
    QCOMPARE(result.exitCode, 3);

    const QStringList lines = result.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2 + int(CheckRow::Count)); // header, rule, rows; no warning
    QVERIFY(lines.at(0).startsWith(QStringLiteral("序号")));
    int itemColumn = -1;
    int resultColumn = -1;
    for (int row = 0; row < CheckRow::Count; ++row) {
        const QString line = lines.at(row + 2);
        QVERIFY2(line.startsWith(checkListNumber(row) + QLatin1Char(' ')), qPrintable(line));
        const int item = line.indexOf(checkListItem(row), checkListNumber(row).size());
        QVERIFY2(item > 0, qPrintable(line));
        const int itemAt = columns(line.left(item));
        QVERIFY(itemColumn < 0 || itemColumn == itemAt);
        itemColumn = itemAt;
        const QString rest = line.mid(item + checkListItem(row).size());
        const QString cell = rest.trimmed();
        const bool open =
            row == CheckRow::CarrierHeader || row == CheckRow::Label || row == CheckRow::Interface;
        QCOMPARE(cell.isEmpty(), open);
        if (cell.isEmpty())
            continue;
        const int resultAt =
            itemAt + columns(checkListItem(row)) + columns(rest.left(rest.indexOf(cell)));
        QVERIFY2(resultColumn < 0 || resultColumn == resultAt, qPrintable(line));
        resultColumn = resultAt;
    }
    QCOMPARE(lines.at(2 + CheckRow::Physical).trimmed().right(3), kNotApplicable);
    QVERIFY(lines.at(2 + CheckRow::Hash).endsWith(kPass));
    QVERIFY(lines.at(2 + CheckRow::KdmHeader).endsWith(QStringLiteral("符合(未加密DCP)")));
    // The header's result title stands over the results.
    QCOMPARE(columns(lines.at(0).left(lines.at(0).indexOf(QStringLiteral("检测结果")))),
             resultColumn);
}

void TestCli::warningInTable()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString disk = makeMaster(dir, WrongPklHash, 1);
    const CliResult result = runCli({QStringLiteral("--master"), disk, QStringLiteral("--settings"),
                                     dir.filePath(QStringLiteral("set.ini"))},
                                    dir.path());
    QCOMPARE(result.exitCode, 1);
    const QStringList lines = result.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QVERIFY(lines.at(2 + CheckRow::Hash).endsWith(kFail));
    QCOMPARE(
        lines.constLast(),
        QStringLiteral("提示：文件Hash值与PKL文件中的Hash值不一致，请重新制作DCP后，再进行检测!"));
}

void TestCli::noProgressOnPipe()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    MasterSpec spec;
    spec.trackBytes = 4 * 1024 * 1024; // hundreds of chunks, so the worker reports progress
    const QString disk = makeMaster(dir, Plain, 1, nullptr, spec);
    writeLabels(dir.filePath(QStringLiteral("labels.ini")), passingLabels());
    const CliResult result =
        runCli({QStringLiteral("--master"), disk, QStringLiteral("--settings"),
                dir.filePath(QStringLiteral("set.ini")), QStringLiteral("--labels"),
                dir.filePath(QStringLiteral("labels.ini"))},
               dir.path());
    QCOMPARE(result.exitCode, 0);
    QVERIFY2(!result.err.contains(QLatin1Char('\r')), qPrintable(result.err));
    QVERIFY2(!result.err.contains(QLatin1Char('%')), qPrintable(result.err));
    QVERIFY2(!result.out.contains(QLatin1Char('%')), qPrintable(result.out));
}

void TestCli::report_data()
{
    QTest::addColumn<Variant>("variant");
    QTest::addColumn<bool>("withLabels");
    QTest::addColumn<int>("expectedStatus");

    QTest::newRow("passed") << Plain << true << 0;
    QTest::newRow("passed, encrypted") << Encrypted << true << 0;
    QTest::newRow("failed") << WrongPklHash << true << 1;
    QTest::newRow("not confirmed") << Plain << false << 3;
}

void TestCli::report()
{
    QFETCH(Variant, variant);
    QFETCH(bool, withLabels);
    QFETCH(int, expectedStatus);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString disk = makeMaster(dir, variant, 1);
    const QString reportPath = dir.filePath(QStringLiteral("报告.pdf"));
    QStringList arguments = {QStringLiteral("--master"),   disk,
                             QStringLiteral("--settings"), dir.filePath(QStringLiteral("set.ini")),
                             QStringLiteral("--report"),   reportPath};
    if (withLabels) {
        writeLabels(dir.filePath(QStringLiteral("labels.ini")), passingLabels());
        arguments << QStringLiteral("--labels") << dir.filePath(QStringLiteral("labels.ini"));
    }
    const CliResult result = runCli(arguments, dir.path());
    QVERIFY2(!result.crashed, qPrintable(result.err));
    QCOMPARE(result.exitCode, expectedStatus);
    if (expectedStatus != 0) {
        QVERIFY(!QFile::exists(reportPath));
        QVERIFY2(result.err.contains(QStringLiteral("not written")), qPrintable(result.err));
        return;
    }
    QVERIFY(QFileInfo(reportPath).size() > 0);
    const QString pdfinfo = QStandardPaths::findExecutable(QStringLiteral("pdfinfo"));
    if (pdfinfo.isEmpty())
        QSKIP("pdfinfo (poppler-utils) is not installed; the page count is not checked");
    QProcess info;
    info.start(pdfinfo, {reportPath});
    QVERIFY(info.waitForFinished());
    const QString text = QString::fromUtf8(info.readAllStandardOutput());
    QVERIFY2(text.contains(QRegularExpression(QStringLiteral("Pages:\\s+2\\n"))), qPrintable(text));
}

void TestCli::reportWriteFailure()
{
    // /proc takes no new files, not even from root: the run passes and the writing fails.
    if (!QFileInfo(QStringLiteral("/proc/self")).exists())
        QSKIP("needs /proc");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString disk = makeMaster(dir, Plain, 0);
    writeLabels(dir.filePath(QStringLiteral("labels.ini")), passingLabels());
    const CliResult result =
        runCli({QStringLiteral("--master"), disk, QStringLiteral("--settings"),
                dir.filePath(QStringLiteral("set.ini")), QStringLiteral("--labels"),
                dir.filePath(QStringLiteral("labels.ini")), QStringLiteral("--report"),
                QStringLiteral("/proc/tavimor-report.pdf")},
               dir.path());
    QCOMPARE(result.exitCode, 2);
    QVERIFY2(result.err.contains(QStringLiteral("tavimor-report.pdf")), qPrintable(result.err));
}

void TestCli::interrupt()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    BuiltMaster master;
    const QString disk = makeMaster(dir, Plain, 1, &master);
    // A sparse giant costs no disk space but takes the worker far longer to hash than the test
    // waits before it interrupts.
    QFile track(master.trackPaths.constFirst());
    QVERIFY(track.resize(qint64(64) * 1024 * 1024 * 1024));
    writeLabels(dir.filePath(QStringLiteral("labels.ini")), passingLabels());

    QProcess process;
    process.setWorkingDirectory(dir.path());
    process.start(QStringLiteral(TAVIMOR_CHECK_EXECUTABLE),
                  {QStringLiteral("--master"), disk, QStringLiteral("--settings"),
                   dir.filePath(QStringLiteral("set.ini")), QStringLiteral("--labels"),
                   dir.filePath(QStringLiteral("labels.ini"))});
    QVERIFY(process.waitForStarted());
    QVERIFY(!process.waitForFinished(1500));
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(::kill(static_cast<pid_t>(process.processId()), SIGINT), 0);
    QVERIFY(process.waitForFinished(30000));
    QVERIFY2(timer.elapsed() < 10000, "the worker was not stopped promptly");
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 130);
    QVERIFY(process.readAllStandardOutput().isEmpty());
    QVERIFY(
        QString::fromUtf8(process.readAllStandardError()).contains(QStringLiteral("interrupted")));
}

void TestCli::helpAndVersion()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    CliResult result = runCli({QStringLiteral("--help")}, dir.path());
    QCOMPARE(result.exitCode, 0);
    for (const char *option : {"--master", "--settings", "--labels", "--json", "--report"})
        QVERIFY2(result.out.contains(QLatin1String(option)), option);
    result = runCli({QStringLiteral("--version")}, dir.path());
    QCOMPARE(result.exitCode, 0);
    QVERIFY(result.out.contains(QStringLiteral("tavimor-check")));
}

void TestCli::attachedDisk()
{
    // Without --master the carrier rules judge the machine's own drives.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    FixtureBuilder::writeSettings(dir.filePath(QStringLiteral("set.ini")), 0);
    const CliResult result = runCli({QStringLiteral("--json")}, dir.path());
    QVERIFY2(!result.crashed, qPrintable(result.err));
    if (rowResult(result.json, CheckRow::Physical) != kFail)
        QSKIP("a USB hard disk is attached to this machine");
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(result.json.value(QStringLiteral("warning")).toString(),
             QStringLiteral("未检查到移动硬盘，请确认移动硬盘已经接入电脑后，再进行检测!"));
    for (int row = 0; row < CheckRow::Count; ++row) {
        if (row != CheckRow::Physical)
            QCOMPARE(rowResult(result.json, row), QString());
    }
}

QTEST_GUILESS_MAIN(TestCli)
#include "test_cli.moc"
