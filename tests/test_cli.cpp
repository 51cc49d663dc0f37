// Runs the real tavimor-check binary on fixture masters and reads what it prints and returns.

#include "dcp/DcpInspector.h"
#include "run/CheckList.h"
#include "support/FixtureBuilder.h"
#include "support/TestSupport.h"

#include <QtTest> // the module header: all of QtCore too

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/stat.h>
#endif

namespace {
QString u8(const char *text)
{
    return QString::fromUtf8(text);
}

struct Cli
{
    int status; // -1: crashed or hung
    QString out, err;
    QJsonObject json;
    QStringList results; // of the JSON rows
};

// "@" stands for the temporary folder, which is also the working directory. The leading
// arguments (a program for Wine to run) are passed as they are.
Cli run(const QTemporaryDir &dir, QString arguments,
        const QString &program = QStringLiteral(TAVIMOR_CHECK_EXECUTABLE),
        const QStringList &leading = {})
{
    QProcess process;
    process.setWorkingDirectory(dir.path());
    process.start(
        program, leading + arguments.replace(QLatin1Char('@'), dir.path()).split(QLatin1Char(' ')));
    const bool ended =
        process.waitForFinished(300000) && process.exitStatus() == QProcess::NormalExit;
    Cli cli{ended ? process.exitCode() : -1, QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError()), QJsonObject(), QStringList()};
    cli.json = QJsonDocument::fromJson(cli.out.toUtf8()).object();
    for (const QJsonValue row : cli.json.value(QStringLiteral("rows")).toArray())
        cli.results << row[QStringLiteral("result")].toString();
    return cli;
}

// What a run must leave as it found it: everything but the report.
QStringList entriesBesidesReport(const QTemporaryDir &dir)
{
    const QString report = dir.filePath(u8("r.pdf "));
    QStringList entries;
    for (const QString &entry : folderSnapshot(dir.path())) {
        if (!entry.startsWith(report))
            entries << entry;
    }
    return entries;
}

// <dir>/disk holds the master; set.ini says whether to hash; l.ini holds the operator's passing
// answers, then the setup's key=value words (the last of a key wins). Other words put files
// that are no settings file next to them.
BuiltMaster makeMaster(const QTemporaryDir &dir, const QString &setup, MasterLayout layout = {})
{
    const QStringList words = setup.split(QLatin1Char(' '));
    layout.wrongPklHash = words.contains(u8("wrong"));
    const BuiltMaster master = FixtureBuilder(dir.filePath(u8("disk"))).writeMaster(layout);
    FixtureBuilder::writeSettings(dir.filePath(u8("set.ini")), words.contains(u8("hash")));
    if (words.contains(u8("gbk"))) // as a Chinese editor saves it: "是否校验哈希值", "授权设备"
        writeFile(
            dir.filePath(u8("set.ini")),
            "; \xca\xc7\xb7\xf1\xd0\xa3\xd1\xe9\xb9\xfe\xcf\xa3\xd6\xb5\r\n[hash]\r\n"
            "check=1 ; \xd0\xa3\xd1\xe9\r\n[cert_num]\r\n; \xca\xda\xc8\xa8\xc9\xe8\xb1\xb8\r\n"
            "num=0\r\n");
    if (words.contains(u8("garbage")))
        writeFile(dir.filePath(u8("g.pdf")), "%PDF-1.4\n%\xe2\xe3\xcf\xd3\n\x00\x01\x02[hash]");
    if (words.contains(u8("utf16")))
        writeFile(dir.filePath(u8("u16.ini")),
                  QByteArray("\xff\xfe[\0h\0a\0s\0h\0]\0\n\0c\0h\0e\0c\0k\0=\0001\0\n\0", 32));
    if (words.contains(u8("bigIni"))) // the keys, then more comment than a settings file holds
        writeFile(dir.filePath(u8("big.ini")), "[hash]\ncheck=1\n;" + QByteArray(1 << 20, 'x'));
#ifdef Q_OS_UNIX
    if (words.contains(u8("fifo")) && mkfifo(QFile::encodeName(dir.filePath(u8("fifo"))), 0600))
        qFatal("cannot make a named pipe");
#endif
    writeFile(dir.filePath(u8("l.ini")),
              "[label]\nfilmName=建国大业, 续集\ncolor=XYZ\naudio=5.1\nproducer=中影\n"
              "diskInterface=USB3.0\n" +
                  words.filter(u8("=")).join(QLatin1Char('\n')).toUtf8());
    return master;
}
} // namespace

class TestCli : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        failOnQtWarnings();
        // As for root in CI, where the toolkit has something to say about it.
        qunsetenv("XDG_RUNTIME_DIR");
    }
    void exitStatus_data();
    void exitStatus();
    void outputs();
    void shelf();
    void shelfInterrupted();
    void sameOnWindows_data();
    void sameOnWindows();
};

void TestCli::exitStatus_data()
{
    QTest::addColumn<QString>("setup"); // makeMaster()'s
    QTest::addColumn<QString>("args");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("warning"); // in the JSON warning or on stderr
    QTest::addColumn<QString>("rows");    // resultLetters() of the JSON rows

    // In the arguments {json} runs one master, {go} with the labels, {each} the shelf.
    const auto row = [](const char *tag, const char *setup, const char *args, int status,
                        const char *warning, const char *rows = "") {
        QString line = u8(args);
        line.replace(u8("{go}"), u8("{json} --labels @/l.ini"))
            .replace(u8("{json}"), u8("--json --master @/disk"))
            .replace(u8("{pdf}"), u8("--report @/r.pdf"))
            .replace(u8("{each}"), u8("--json --each @"));
        QTest::newRow(tag) << u8(setup) << line << status << u8(warning) << u8(rows);
    };
    const char *open = "..-.--PPPPPPPPPPPP-PPPPPP-U--"; // nothing hashed
    const char *unhashed = "-P-P--PPPPPPPPPPPP-PPPPPP-U--";
    row("pass", "hash", "{go} {pdf}", 0, "", "-P-P--PPPPPPPPPPPPPPPPPPP-U--");
    row("hash mismatch", "hash wrong", "{go} {pdf}", 1, "PKL文件中的Hash值不一致",
        "..-.--PP.PPPP.PPPPF..........");
    // l.ini has no hash/check: the composition's digest is then the first to disagree.
    row("--settings", "hash wrong", "{go} --settings @/l.ini", 1,
        "MXF文件Hash值与计算所得Hash值不一致", "..-.--PP.PPPPPPPPP-P.PPPF....");
    row("refused", "filmName=", "{go}", 1, "影片名称为空!", open);
    row("USB2.0", "diskInterface=USB2.0", "{go}", 1, "接口必须是USB3.0以上",
        ".P-F--PPPPPPPPPPPP-PPPPPP-U--");
    row("no labels", "hash", "{json} {pdf}", 3, "--labels", "..-.--PPPPPPPPPPPPPPPPPPP-U--");
    row("unknown option", "", "--bogus", 2, "bogus");
    row("labels line without a key", "=USB3.0", "{go}", 2, "line 7: expected key=value");
    row("no master", "", "--master @/x", 2, "does not exist");
    row("no settings", "", "{go} --settings @/x", 2, "settings");
    // /proc takes no new files, not even from root: the run passes, then the writing fails.
    row("bad --report", "", "{go} --report /proc/r.pdf", 2, "r.pdf", unhashed);
    // Refused before the run: nothing is checked, nothing is changed.
    row("report in the master", "hash", "{go} --report @/disk/DCP/ASSETMAP.xml", 2,
        "inside the master");
    row("report over the settings", "hash", "{go} --report @/set.ini", 2, "settings or labels");
    row("report over the labels", "hash", "{go} --report @/l.ini", 2, "settings or labels");
    row("report over another file", "garbage", "{go} --report @/g.pdf", 2,
        "not a compliance report");
    row("report into a pipe", "fifo", "{go} --report @/fifo", 2, "pipe");
    row("labels from a device", "", "{json} --labels /dev/zero", 2, "not a regular file");
    row("settings from a pipe", "fifo", "{go} --settings @/fifo", 2, "not a regular file");
    row("settings too large", "bigIni", "{go} --settings @/big.ini", 2, "larger than");
    // Opens, then fails to read, even for root.
    row("settings unreadable", "", "{go} --settings /proc/self/mem", 2,
        "cannot read the settings file /proc/self/mem");
    // Files without a single settings key are named; the run goes on with hashing off.
    row("settings a PDF", "hash garbage", "{go} {pdf} --settings @/g.pdf", 0,
        "g.pdf holds none of the keys", unhashed);
    row("settings in UTF-16", "hash utf16", "{go} {pdf} --settings @/u16.ini", 0,
        "u16.ini holds none of the keys", unhashed);
    row("--each with --report", "", "{each} {pdf}", 2, "--report cannot");
    row("--each with --master", "", "{each} --master @/disk", 2, "--master cannot");
    row("--each of a file", "", "--each @/l.ini", 2, "not a folder");
    row("--each without subfolders", "", "--each @/disk/DCP", 2, "holds no folder");
    row("--jobs 0", "", "{each} --jobs 0", 2, "\"0\"");
    row("--jobs not a number", "", "{each} --jobs 2x", 2, "\"2x\"");
    row("--jobs without --each", "", "{go} --jobs 2", 2, "--each");
    row("settings in GBK", "hash wrong gbk", "{go} {pdf}", 1, "PKL文件中的Hash值不一致",
        "..-.--PP.PPPP.PPPPF..........");
}

void TestCli::exitStatus()
{
    SKIP_ON_WINDOWS_IF(
        currentRowIn(u8("bad --report|report into a pipe|labels from a device|settings from a pipe|"
                        "settings unreadable")
                         .split(QLatin1Char('|'))),
        POSIX_FIXTURE);
    QFETCH(QString, setup);
    QFETCH(QString, args);
    QFETCH(int, status);
    QFETCH(QString, warning);
    QFETCH(QString, rows);

    QTemporaryDir dir;
    makeMaster(dir, setup);
    const QStringList before = entriesBesidesReport(dir);
    const Cli cli = run(dir, args);
    QVERIFY2(cli.status == status, qPrintable(cli.err));
    // The report is the only file ever written.
    QCOMPARE(entriesBesidesReport(dir), before);
    QCOMPARE(resultLetters(cli.results), rows);
    QCOMPARE(cli.json.value(u8("passed")).toBool(),
             !rows.isEmpty() && !rows.contains(QRegularExpression(u8("[F.]"))));
    const QString said = cli.json.value(u8("warning")).toString() + cli.err;
    QVERIFY2(warning.isEmpty() ? cli.json.value(u8("warning")).isNull() : said.contains(warning),
             qPrintable(said));
    // Files that are no settings file are named; a GBK file with Chinese comments is one.
    QCOMPARE(cli.err.contains(u8("none of the keys")),
             args.contains(QRegularExpression(u8("--settings @/(l|g|u16)\\."))));
    // Whether the digests were checked is said, in both output modes.
    const bool hashOn =
        setup.split(QLatin1Char(' ')).contains(u8("hash")) && !args.contains(u8("--settings"));
    const QChar hashRow = rows.isEmpty() ? QLatin1Char('.') : rows.at(CheckRow::Hash);
    QCOMPARE(cli.json.value(u8("hashChecked")).toBool(), hashOn && hashRow == QLatin1Char('P'));
    QCOMPARE(cli.err.contains(u8("hash verification was off")),
             !hashOn && u8("P-").contains(hashRow));
    // stderr is a pipe here, so the hash progress stays off it; what it carries is ours.
    QVERIFY2(!cli.err.contains(QRegularExpression(u8("[\r%]"))), qPrintable(cli.err));
    // The toolkit's notes start with a class ("QStandardPaths: ...") or a category ("qt.qpa...").
    QVERIFY2(!cli.err.contains(QRegularExpression(u8("^(Q[A-Za-z]+:|qt\\.)"),
                                                  QRegularExpression::MultilineOption)),
             qPrintable(cli.err));

    // The report is written after a pass only, and has two pages.
    QCOMPARE(QFile::exists(dir.filePath(u8("r.pdf"))), status == 0);
    const QString pdfinfo = QStandardPaths::findExecutable(u8("pdfinfo"));
    if (status == 0 && pdfinfo.isEmpty())
        QSKIP("pdfinfo (poppler-utils) is not installed; the page count is not checked");
    if (status == 0)
        QVERIFY(run(dir, u8("@/r.pdf"), pdfinfo).out.simplified().contains(u8("Pages: 2 ")));
}

void TestCli::outputs()
{
    // Refused for its interface after the label pre-fill: open rows and a warning to print.
    QTemporaryDir dir;
    MasterLayout layout;
    layout.reelDurations = {1440, 1500}; // 2940 frames at 24 fps: 122.5 s
    const BuiltMaster master = makeMaster(dir, u8("diskInterface=USB2.0"), layout);
    const Cli cli = run(dir, u8("--json --master @/disk --labels @/l.ini"));
    QCOMPARE(cli.json.keys().join(QLatin1Char(' ')),
             u8("advisories encrypted hashChecked labels passed rows warning"));
    QCOMPARE(cli.results.size(), int(CheckRow::Count));
    QJsonObject labels = cli.json.value(u8("labels")).toObject();
    // Today, or yesterday if midnight passed during the run.
    const QDate vetDate = QDate::fromString(labels.take(u8("vetDate")).toString(), u8("yyyyMMdd"));
    QVERIFY(vetDate == QDate::currentDate() || vetDate == QDate::currentDate().addDays(-1));
    QCOMPARE(
        QString::fromUtf8(QJsonDocument(labels).toJson(QJsonDocument::Compact)),
        u8(R"({"aspect":"1.85:1","audio":"5.1","color":"XYZ","cplName":"%1","diskInterface":"USB2.0","duration":"2分钟2秒","filmName":"建国大业, 续集","frame":"24fps","kdmDate":"-","producer":"中影","resolution":"1998*1080"})")
            .arg(master.title));

    // The table shows each JSON row in columns, then the warning.
    QStringList lines =
        run(dir, u8("--master @/disk --labels @/l.ini")).out.split(QLatin1Char('\n'));
    // What failed stands under the failed row, in the item column; JSON has it in the row.
    const QString detail = u8("硬盘接口：「USB2.0」\n应为：USB3.0或更高版本");
    const int detailLine = 3 + CheckRow::Interface;
    QCOMPARE(lines.mid(detailLine, 2).join(QLatin1Char('\n')),
             QString(detail).replace(u8("\n"), u8("\n        ")).prepend(u8("        ")));
    lines.erase(lines.begin() + detailLine, lines.begin() + detailLine + 2);
    QCOMPARE(lines.value(3 + CheckRow::Count),
             u8("提示：") + cli.json.value(u8("warning")).toString());
    // Terminal columns: CJK characters take two and three UTF-8 bytes, the others one and one.
    const auto columns = [](const QString &t) { return (t.toUtf8().size() + t.size()) / 2; };
    const int resultColumn = columns(lines.at(0).section(u8("检测结果"), 0, 0));
    for (int row = 0; row < CheckRow::Count; ++row) {
        const QString result = cli.results.at(row), line = lines.at(2 + row);
        QJsonObject want{{u8("row"), row},
                         {u8("no"), checkListNumber(row)},
                         {u8("item"), checkListItem(row)},
                         {u8("result"), result}};
        if (row == CheckRow::Interface)
            want.insert(u8("detail"), detail);
        QCOMPARE(cli.json.value(u8("rows"))[row].toObject(), want);
        QCOMPARE(line.simplified(),
                 u8("%1 %2 %3").arg(checkListNumber(row), checkListItem(row), result).trimmed());
        if (!result.isEmpty())
            QCOMPARE(columns(line.left(line.lastIndexOf(QLatin1Char(' ')) + 1)), resultColumn);
    }
#ifndef Q_OS_WIN
    // The toolkit's note on the missing XDG_RUNTIME_DIR is there to be kept off standard error.
    qputenv("TAVIMOR_DEBUG", "1");
    const QString debugErr = run(dir, u8("--json --master @/disk")).err;
    qunsetenv("TAVIMOR_DEBUG");
    QVERIFY2(debugErr.contains(u8("XDG_RUNTIME_DIR")), qPrintable(debugErr));
#endif
    // The help names every label key.
    const QString help = run(dir, u8("--help")).out;
    for (const LabelField &field : labelFields())
        QVERIFY2(help.contains(QLatin1String(field.key)), field.key);
    // The rule under the header is exactly as wide as the widest line.
    int widest = 0;
    for (int line = 0; line < 2 + CheckRow::Count; ++line)
        widest = std::max(widest, line == 1 ? 0 : columns(lines.at(line)));
    QCOMPARE(lines.at(1), QString(widest, QLatin1Char('-')));
}

// A shelf of three masters, named so that the order of the characters differs from the
// alphabet's, beside what is no master. The first hashes longest: with two jobs it ends last.
QStringList makeShelf(const QTemporaryDir &dir)
{
    makeMaster(dir, u8("hash"));
    MasterLayout big, wrong;
    big.trackBytes = 32 << 20;
    wrong.wrongPklHash = true;
    FixtureBuilder(dir.filePath(u8("shelf/Zeta"))).writeMaster(big);
    FixtureBuilder(dir.filePath(u8("shelf/alpha"))).writeMaster(wrong);
    FixtureBuilder(dir.filePath(u8("shelf/beta"))).writeMaster(MasterLayout());
    QDir().mkpath(dir.filePath(u8("shelf/.hidden")));
    writeFile(dir.filePath(u8("shelf/notes.txt")), "not a master");
    return {u8("Zeta"), u8("alpha"), u8("beta")};
}

void TestCli::shelf()
{
    QTemporaryDir dir;
    const QStringList names = makeShelf(dir);
    for (const QString &labels : {u8(" --labels @/l.ini"), QString()}) {
        // Each line is what the master's own check prints, and any number of jobs prints the
        // same lines in the same order.
        const QString args = u8("--json --each @/shelf") + labels;
        const Cli one = run(dir, args), two = run(dir, args + u8(" --jobs 2"));
        QVERIFY2(one.status == 1, qPrintable(one.err));
        QCOMPARE(two.status, one.status);
        QCOMPARE(two.out, one.out);
        const QStringList lines = one.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), names.size());
        for (int index = 0; index < names.size(); ++index) {
            QJsonObject line = QJsonDocument::fromJson(lines.at(index).toUtf8()).object();
            QCOMPARE(line.take(u8("master")).toString(), names.at(index));
            const Cli single = run(dir, u8("--json --master @/shelf/") + names.at(index) + labels);
            QCOMPARE(line.take(u8("status")).toInt(), single.status);
            QCOMPARE(single.status, index == 1 ? 1 : labels.isEmpty() ? 3 : 0);
            QCOMPARE(line, single.json);
        }
        QCOMPARE(one.err.contains(u8("give --labels")), labels.isEmpty());
    }

    // The tables under the masters' names, then one line for each.
    const QString args = u8("--each @/shelf --labels @/l.ini");
    const Cli text = run(dir, args);
    QCOMPARE(run(dir, args + u8(" --jobs 3")).out, text.out);
    QString tables;
    for (const QString &name : names)
        tables += name + u8("\n") +
                  run(dir, u8("--master @/shelf/%1 --labels @/l.ini").arg(name)).out + u8("\n");
    QVERIFY2(text.out.startsWith(tables), qPrintable(text.out));
    const QStringList summary =
        text.out.mid(tables.size()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    const QString hashRow =
        checkListNumber(CheckRow::Hash) + QLatin1Char(' ') + checkListItem(CheckRow::Hash);
    QCOMPARE(summary.size(), 2 + names.size());
    QCOMPARE(summary.at(2).simplified(), u8("Zeta passed"));
    QCOMPARE(summary.at(3).simplified(), u8("alpha failed ") + hashRow);
    QCOMPARE(summary.at(4).simplified(), u8("beta passed"));
}

// Ctrl-C while a later master hashes: the masters judged before it are printed, nothing after.
void TestCli::shelfInterrupted()
{
#ifdef Q_OS_UNIX
    QTemporaryDir dir;
    makeMaster(dir, u8("hash"));
    FixtureBuilder(dir.filePath(u8("shelf/a"))).writeMaster(MasterLayout());
    const BuiltMaster big = FixtureBuilder(dir.filePath(u8("shelf/b"))).writeMaster(MasterLayout());
    // Sparse: minutes of hashing that take no room.
    QVERIFY(QFile::resize(big.trackPaths.constFirst(), qint64(256) << 30));

    QProcess process;
    process.setWorkingDirectory(dir.path());
    process.start(QStringLiteral(TAVIMOR_CHECK_EXECUTABLE),
                  {u8("--json"), u8("--each"), dir.filePath(u8("shelf")), u8("--labels"),
                   dir.filePath(u8("l.ini"))});
    // The first line is out once the first master is judged; the second is started next.
    while (!process.canReadLine())
        QVERIFY(process.waitForReadyRead(60000));
    const QByteArray first = process.readLine();
    QCOMPARE(QJsonDocument::fromJson(first).object().value(u8("master")).toString(), u8("a"));
    QCOMPARE(::kill(pid_t(process.processId()), SIGINT), 0);
    QVERIFY(process.waitForFinished(60000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 130);
    QCOMPARE(process.readAllStandardOutput(), QByteArray());
    QVERIFY(process.readAllStandardError().contains("interrupted"));
#else
    QSKIP("Ctrl-C is sent as a POSIX signal here");
#endif
}

void TestCli::sameOnWindows_data()
{
    QTest::addColumn<QString>("setup"); // makeMaster()'s, and "kdm" for an encrypted master
    QTest::addColumn<QString>("args");
    QTest::addColumn<QString>("layout"); // Interop, root (the master at the disk root),
                                         // folder (a Chinese folder name), reels, and flaws
    const QString json = u8("--json --master @/disk"), go = json + u8(" --labels @/l.ini");
    QTest::newRow("pass, hashed, report") << u8("hash") << go + u8(" --report @/r.pdf") << u8("");
    QTest::newRow("hash mismatch") << u8("hash wrong") << go << u8("");
    QTest::newRow("refused label") << u8("filmName=") << go << u8("");
    QTest::newRow("USB2.0") << u8("diskInterface=USB2.0") << go << u8("");
    QTest::newRow("no labels") << u8("hash") << json << u8("");
    QTest::newRow("encrypted, KDM found") << u8("hash kdm") << go << u8("reels");
    QTest::newRow("encrypted, no KDM") << u8("hash") << go << u8("encrypted");
    QTest::newRow("Interop in a Chinese folder") << u8("hash") << go << u8("Interop folder");
    QTest::newRow("at the disk root, settings given")
        << u8("hash") << go + u8(" --settings @/set.ini") << u8("root");
    QTest::newRow("missing track file") << u8("hash") << go << u8("omit");
    QTest::newRow("two compositions") << u8("hash") << go << u8("secondCpl");
}

// The same masters through this system's checker and the Windows one under Wine give the same
// JSON: verdict, rows, warning and labels. tools/test-windows.sh names the Windows program.
void TestCli::sameOnWindows()
{
    QFETCH(QString, setup);
    QFETCH(QString, args);
    QFETCH(QString, layout);
    const QString windowsProgram = qEnvironmentVariable("TAVIMOR_WINDOWS_CHECK");
    const QString wine = QStandardPaths::findExecutable(u8("wine"));
    if (windowsProgram.isEmpty() || wine.isEmpty())
        QSKIP("TAVIMOR_WINDOWS_CHECK (a tavimor-check.exe) and wine are needed");

    QTemporaryDir dir;
    const QStringList words = layout.split(QLatin1Char(' '));
    MasterLayout shape;
    shape.standard = words.contains(u8("Interop")) ? MasterLayout::Interop : MasterLayout::Smpte;
    if (words.contains(u8("root")))
        shape.folder.clear();
    if (words.contains(u8("folder")))
        shape.folder = u8("建国大业 DCP");
    if (words.contains(u8("reels")))
        shape.reelDurations = {240, 480};
    shape.encrypted = setup.contains(u8("kdm")) || words.contains(u8("encrypted"));
    shape.omitFirstTrackFile = words.contains(u8("omit"));
    shape.secondCpl = words.contains(u8("secondCpl"));
    const BuiltMaster master = makeMaster(dir, setup, shape);
    if (setup.contains(u8("kdm"))) {
        FixtureBuilder(dir.filePath(u8("disk"))).writeKdm(master);
        FixtureBuilder::writeSettings(dir.filePath(u8("set.ini")), 1, {u8("SM.TEST-SERVER")});
    }

    const Cli here = run(dir, args);
    // The Windows program is given Windows paths: the temporary folder through Wine's Z: drive.
    const QString windowsDir = u8("Z:") + dir.path(); // "/" separated, as Wine takes it too
    QString windowsArgs = args;
    windowsArgs.replace(u8("r.pdf"), u8("w.pdf")).replace(u8("@/"), windowsDir + QLatin1Char('\\'));
    const Cli windows = run(dir, windowsArgs, wine, {windowsProgram});

    QVERIFY2(here.status >= 0 && !here.json.isEmpty(), qPrintable(here.err));
    QVERIFY2(windows.status == here.status, qPrintable(windows.err));
    // A path in a warning or a detail is told in the system's own spelling.
    const auto spelledHere = [&](QJsonObject object, const QString &key) {
        QString text = object.value(key).toString().replace(QLatin1Char('\\'), QLatin1Char('/'));
        if (text.contains(windowsDir))
            object[key] = text.replace(windowsDir, dir.path());
        return object;
    };
    QJsonObject fromWindows = spelledHere(windows.json, u8("warning"));
    QJsonArray rows = fromWindows.value(u8("rows")).toArray();
    for (int row = 0; row < rows.size(); ++row)
        rows[row] = spelledHere(rows.at(row).toObject(), u8("detail"));
    fromWindows[u8("rows")] = rows;
    // As text, so that a difference shows where it is.
    const auto text = [](const QJsonObject &object) {
        return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
    };
    QCOMPARE(text(fromWindows), text(here.json));

    // Both reports hold the same text in the same order, the Chinese title included: the fonts
    // found on each system have every character, and text can be extracted from them.
    if (!args.contains(u8("--report")))
        return;
    const QString pdftotext = QStandardPaths::findExecutable(u8("pdftotext"));
    const QString pdffonts = QStandardPaths::findExecutable(u8("pdffonts"));
    if (pdftotext.isEmpty() || pdffonts.isEmpty())
        QSKIP("pdftotext and pdffonts (poppler-utils) are needed to read the reports back");
    const QString linuxText = run(dir, u8("-raw @/r.pdf -"), pdftotext).out;
    const QString windowsText = run(dir, u8("-raw @/w.pdf -"), pdftotext).out;
    QVERIFY2(windowsText.contains(u8("数字电影送审母版(DCP)符合性检测报告")),
             qPrintable(windowsText));
    QCOMPARE(windowsText.simplified(), linuxText.simplified());
    // Every font embedded: the emb column of each font line below the two header lines.
    const QStringList fonts = run(dir, u8("@/w.pdf"), pdffonts).out.split(QLatin1Char('\n'));
    const int emb = fonts.constFirst().indexOf(u8(" emb ")) + 1;
    QVERIFY2(emb > 0 && fonts.size() > 3, qPrintable(fonts.join(QLatin1Char('\n'))));
    for (const QString &line : fonts.mid(2, fonts.size() - 3))
        QVERIFY2(line.mid(emb, 3) == u8("yes"), qPrintable(line));
}

QTEST_GUILESS_MAIN(TestCli)
#include "test_cli.moc"
