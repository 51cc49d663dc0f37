// The report read back the way a reader's search or copy does (poppler's pdftotext): its pages,
// its words and where they stand, and its plain text.
#include "dcp/DcpInspector.h"
#include "dcp/RunEnvironment.h"
#include "report/ComplianceReport.h"
#include "report/FontSetup.h"
#include "run/CheckList.h"
#include "support/TestSupport.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#endif

namespace {

struct Pdf
{
    QVector<QSizeF> pages;
    QVector<std::tuple<int, QString, QRectF>> words; // page from 1, text, box in points
    QString plain;
};

QByteArray pdftotext(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral("pdftotext"), arguments + QStringList{QStringLiteral("-")});
    const bool done = process.waitForFinished(60000) && process.exitCode() == 0;
    return done ? process.readAllStandardOutput() : QByteArray();
}

Pdf readPdf(const QString &path)
{
    Pdf pdf{{}, {}, QString::fromUtf8(pdftotext({path}))};
    QXmlStreamReader xml(pdftotext({QStringLiteral("-bbox"), path}));
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const auto at = [attributes = xml.attributes()](const char *name) {
            return attributes.value(QLatin1String(name)).toDouble();
        };
        if (xml.name() == QLatin1String("page"))
            pdf.pages << QSizeF(at("width"), at("height"));
        else if (xml.name() == QLatin1String("word"))
            pdf.words << std::make_tuple(
                int(pdf.pages.size()), xml.readElementText(),
                QRectF(QPointF(at("xMin"), at("yMin")), QPointF(at("xMax"), at("yMax"))));
    }
    return pdf;
}

// The words of a page whose middles lie in a box of the layout (300 dpi device pixels inside the
// 20 pt and 30 pt margins), in reading order; marked when they spill over the box's sides.
QString textIn(const Pdf &pdf, int page, const QRect &device)
{
    const double k = 72.0 / 300.0;
    const QRectF box(QPointF(20, 30) + QPointF(device.topLeft()) * k, QSizeF(device.size()) * k);
    QStringList texts;
    QRectF ink;
    for (const auto &[on, text, word] : pdf.words) {
        if (on == page && box.contains(word.center())) {
            texts << text;
            ink |= word;
        }
    }
    const bool fits = ink.left() >= box.left() - 1.5 && ink.right() <= box.right() + 1.5;
    return texts.join(QLatin1Char(' ')) + QLatin1String(fits ? "" : " (spills over its box)");
}

// The check list of a passed run: "———" for a flat composition's stereoscopic row and for an
// unencrypted master's key items.
QStringList passedCells(const DcpInspector &inspector)
{
    const bool encrypted = inspector.encrypted, stereoscopic = inspector.cpls[0].stereoscopic;
    QStringList cells;
    for (int row = 0; row < CheckRow::Count; ++row) {
        const bool clearKey = !encrypted && row >= CheckRow::KdmHeader;
        const char *result = row == CheckRow::KdmHeader && clearKey ? "符合(未加密DCP)"
                             : clearKey || (!stereoscopic && row == CheckRow::Stereoscopic)
                                 ? "———"
                                 : "符合";
        cells << checkListNumber(row) << checkListItem(row) << QString::fromUtf8(result);
    }
    return cells;
}

// Label fields chosen so that common ideographs that share a glyph with a Kangxi radical in
// some CJK fonts (文, 日, 月, 长, 生, 山, 水) would extract as radicals.
DcpInspector master(const char *resolution, bool encrypted, bool stereoscopic, bool interop)
{
    DcpInspector inspector;
    inspector.filmName = QStringLiteral("长生日月山水文");
    inspector.kdmDate = encrypted ? QStringLiteral("20240101-20241231") : QStringLiteral("-");
    inspector.duration = QStringLiteral("92分钟10秒");
    inspector.resolution = QLatin1String(resolution);
    inspector.aspect = QStringLiteral("1.90:1");
    inspector.frame = QStringLiteral("24");
    inspector.color = QStringLiteral("XYZ");
    inspector.audio = QStringLiteral("5.1");
    inspector.vetDate = QStringLiteral("20230101");
    inspector.producer = QStringLiteral("北京长生电影制片厂");
    inspector.cplName = QStringLiteral("ChangSheng_FTR_F_CMN-XX_CN_51_4K_20230101_SMPTE_OV");
    inspector.encrypted = encrypted;
    inspector.pkls << PklInfo();
    inspector.pkls[0].issueDate = QStringLiteral("2022-12-30");
    inspector.cpls << CplInfo();
    inspector.cpls[0].namespaceUri =
        interop ? QStringLiteral("http://www.digicine.com/PROTO-ASDCP-CPL-20040511#")
                : QStringLiteral("http://www.smpte-ra.org/schemas/429-7/2006/CPL");
    inspector.cpls[0].stereoscopic = stereoscopic;
    return inspector;
}

} // namespace

class TestReport : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

    // Writes the report of a passed run and reads it back; no pages when either step failed.
    Pdf writeAndRead(const DcpInspector &inspector)
    {
        const QString path = m_dir.filePath(QStringLiteral("report.pdf"));
        QString message;
        if (writeComplianceReport(path, passedCells(inspector), inspector, &message))
            return readPdf(path);
        qWarning("%s", qPrintable(message));
        return Pdf();
    }

private slots:
    void initTestCase()
    {
        failOnQtWarnings();
        installCjkFontSubstitutions();
    }

    void layoutOfClearMaster()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
            QSKIP("pdftotext (poppler-utils) is needed to read the report back");
        setCurrentLocalDateOverride(QDate(2024, 3, 5));
        const Pdf pdf = writeAndRead(master("4096*2160", false, false, false));
        QCOMPARE(pdf.pages.size(), 2);
        for (const QSizeF &size : qAsConst(pdf.pages)) // A4, the media box in whole points
            QVERIFY(qAbs(size.width() - 595.28) < 0.5 && qAbs(size.height() - 841.89) < 0.5);

        // Each text in the box it is drawn in, as "text|box;" with the box in device pixels (300
        // dpi) from the margins; page 1, then page 2. Of the check items, drawn in a loop, each
        // block's first and last stand for those between.
        const char *const pages[] = {
            "数字电影送审母版(DCP)符合性检测报告|0 200 2312 100;"
            "影片名称：长生日月山水文|100 440 1156 70;KDM有效期：-|1206 440 1056 70;"
            "片长：92分钟10秒|100 530 1156 70;图像分辨率：4096*2160|1206 530 1056 70;"
            "图像宽高比：1.90:1|100 620 1156 70;帧速率：24|1206 620 1056 70;"
            "色域：XYZ|100 710 1156 70;声音制式：5.1|1206 710 1056 70;"
            "制作日期：2022-12-30|100 800 1156 70;送审日期：2023-01-01|1206 800 1056 70;"
            "出品单位：北京长生电影制片厂|100 890 1156 70;检测项|100 1040 400 1610;"
            "A.2 载体符合性检测|550 1090 550 80;a)硬盘标签检测 ★|550 1170 550 60;"
            "g)DCP命名规范检测 ★|550 1530 550 60;A.3 DCP符合性检测|1100 1090 750 80;"
            "A.3.1 ASSETMAP检测|1100 1170 750 80;a)ASSETMAP文件有无检测 ★|1100 1230 750 60;"
            "c)AnnotationText元素值检测 ★|1100 1610 750 60;A.3.3 CPL检测|1100 1870 750 80;"
            "e)MainSterescopicPicture元素检测 ☆|1100 2170 750 60;"
            "A.4 KDM符合性检测|1850 1090 500 80;b)命名空间检测 ☆|1850 1230 500 60;"
            "检测结果|100 2650 400 200;符合|500 2650 550 200;符合|1050 2650 750 200;"
            "符合(未加密DCP)|1800 2650 500 200;送审母版制作单位（盖章）：|100 3040 1156 80;"
            "检测日期：2024年03月05日|1206 3040 1056 70;",
            "以下部分可裁剪后贴在送审母版介质上：|60 200 2312 150;"
            "《长生日月山水文》4K 2D 明文DCP|100 420 2312 70;北京长生电影制片厂|100 490 2312 70;"
            "ChangSheng_FTR_F_CMN-XX_CN_51_4K_20230101_SMPTE_OV|100 560 2312 70;"
            "KDM有效期：————|100 630 2312 70;片长：92分钟10秒|100 730 578 70;"
            "封装格式：SMPTE|603 730 578 70;帧速率：24|100 800 578 70;色域：XYZ|603 800 578 70;"
            "图像分辨率：4096*2160|100 870 578 70;图像宽高比：1.90:1|603 870 578 70;"
            "声音制式：5.1|100 940 578 70;送审日期：2023-01-01|603 940 578 70;"};
        for (int page = 1; page <= 2; ++page) {
            for (const QString &entry :
                 QString::fromUtf8(pages[page - 1]).split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
                const QStringList box = entry.section(QLatin1Char('|'), 1).split(QLatin1Char(' '));
                const QRect device(box[0].toInt(), box[1].toInt(), box[2].toInt(), box[3].toInt());
                QCOMPARE(textIn(pdf, page, device), entry.section(QLatin1Char('|'), 0, 0));
            }
        }
    }

    void printedValues()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
            QSKIP("pdftotext (poppler-utils) is needed to read the report back");
        const std::pair<DcpInspector, const char *> masters[] = {
            {master("4096*2160", true, true, true),
             "《长生日月山水文》4K 3D 加密DCP|KDM有效期：20240101-20241231|封装格式：INTEROP|"
             "e)MainSterescopicPicture元素检测 ★|a)UUID一致性检测 ★|符合"},
            {master("2048*1080", false, false, false), "《长生日月山水文》2K 2D 明文DCP"},
            {master("2049*858", true, false, false), "《长生日月山水文》4K 2D 加密DCP"},
            {master("", false, true, false), "《长生日月山水文》2K 3D 明文DCP"}};
        for (const auto &[inspector, texts] : masters) {
            const Pdf pdf = writeAndRead(inspector);
            for (const QString &text : QString::fromUtf8(texts).split(QLatin1Char('|')))
                QVERIFY2(pdf.plain.contains(text), qPrintable(text));
            // The extracted text is the printed one: no Kangxi radicals in place of ideographs.
            QVERIFY2(
                !pdf.plain.contains(QRegularExpression(QStringLiteral("[\\x{2E80}-\\x{2FDF}]"))),
                qPrintable(pdf.plain));
        }
    }

    // The report replaces an earlier report or fills an empty place, and nothing else; what it
    // refuses stays as it was, and no temporary file is left behind.
    void reportPath_data()
    {
        QTest::addColumn<QString>("what");    // what lies at the path, or where the path leads
        QTest::addColumn<QString>("refusal"); // in the message; empty: written
        const QString notFile = QStringLiteral("不是普通文件"),
                      notReport = QStringLiteral("不是检测报告"),
                      master = QStringLiteral("送审母版内");
        QTest::newRow("nothing") << "nothing" << QString();
        QTest::newRow("earlier report") << "report" << QString();
        QTest::newRow("another PDF") << "pdf" << notReport;
        QTest::newRow("link to a report") << "link" << notFile;
        QTest::newRow("dangling link") << "dangling" << notFile;
        QTest::newRow("folder") << "folder" << notFile;
        QTest::newRow("pipe") << "pipe" << notFile;
        QTest::newRow("no folder") << "noFolder" << QStringLiteral("文件夹不存在");
        QTest::newRow("on the checked disk") << "disk" << master;
        QTest::newRow("asset map on the checked disk") << "assetMap" << master;
        QTest::newRow("through a link onto the checked disk") << "viaLink" << master;
        QTest::newRow("settings file") << "settings" << QStringLiteral("设置文件或标签文件");
    }

    void reportPath()
    {
        SKIP_ON_WINDOWS_IF(
            currentRowIn(QStringLiteral("link to a report|dangling link|through a link onto the "
                                        "checked disk")
                             .split(QLatin1Char('|'))),
            POSIX_FIXTURE);
        QFETCH(QString, what);
        QFETCH(QString, refusal);
        QTemporaryDir dir;
        const auto at = [&dir](const char *name) { return dir.filePath(QLatin1String(name)); };
        writeFile(at("disk/DCP/ASSETMAP.xml"), "<?xml version=\"1.0\"?><AssetMap/>");
        DcpInspector inspector = master("", false, false, false);
        QString path = at("report.pdf");
        if (what == QLatin1String("report") || what == QLatin1String("link")) {
            QVERIFY(writeComplianceReport(at("earlier.pdf"), passedCells(inspector), inspector));
            QVERIFY(what == QLatin1String("link") ? QFile::link(at("earlier.pdf"), path)
                                                  : QFile::rename(at("earlier.pdf"), path));
        } else if (what == QLatin1String("pdf")) {
            writeFile(path, "%PDF-1.4\n1 0 obj\n<< /Title (Quarterly figures) >>\nendobj\n");
        } else if (what == QLatin1String("dangling")) {
            QVERIFY(QFile::link(at("gone.pdf"), path));
        } else if (what == QLatin1String("folder")) {
            QVERIFY(QDir().mkpath(path));
        } else if (what == QLatin1String("pipe")) {
#ifdef Q_OS_UNIX
            QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
#else
            QSKIP("no named pipes here");
#endif
        } else if (what == QLatin1String("noFolder")) {
            path = at("none/report.pdf");
        } else if (what == QLatin1String("disk")) {
            inspector.removableDrives = {at("disk") + QLatin1Char('/')};
            path = at("disk/report.pdf");
        } else if (what == QLatin1String("assetMap")) {
            inspector.removableDrives = {at("disk") + QLatin1Char('/')};
            path = at("disk/DCP/ASSETMAP.xml");
        } else if (what == QLatin1String("viaLink")) {
            inspector.removableDrives = {at("disk") + QLatin1Char('/')};
            QVERIFY(QFile::link(at("disk/DCP"), at("dcp")));
            path = at("dcp/../report.pdf"); // the disk's root, not the work folder
        } else if (what == QLatin1String("settings")) {
            writeFile(at("set.ini"), "[hash]\ncheck=1\n");
            inspector.settings.path = at("set.ini");
            path = at("./set.ini");
        }

        const QStringList before = folderSnapshot(dir.path());
        QString message;
        const bool written =
            writeComplianceReport(path, passedCells(inspector), inspector, &message);
        QVERIFY2(written == refusal.isEmpty(), qPrintable(message));
        if (written) {
            QVERIFY(isComplianceReport(path));
            QCOMPARE(folderSnapshot(dir.path()).filter(QStringLiteral("report.pdf")).size(), 1);
        } else {
            QVERIFY2(message.startsWith(QStringLiteral("无法写入检测报告文件：") + path) &&
                         message.contains(refusal),
                     qPrintable(message));
            QCOMPARE(folderSnapshot(dir.path()), before);
        }
    }

#ifdef Q_OS_UNIX
    // A write that fails half-way (here: the file size limit) keeps the earlier report.
    void failedWriteKeepsEarlierReport()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("report.pdf"));
        const DcpInspector inspector = master("", false, false, false);
        QVERIFY(writeComplianceReport(path, passedCells(inspector), inspector));
        const QByteArray bytes = readFile(path);

        rlimit limit{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &limit), 0);
        const rlimit small{4096, limit.rlim_max};
        const auto oldHandler = signal(SIGXFSZ, SIG_IGN);
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        QString message;
        const bool written =
            writeComplianceReport(path, passedCells(inspector), inspector, &message);
        setrlimit(RLIMIT_FSIZE, &limit);
        signal(SIGXFSZ, oldHandler);

        QVERIFY(!written);
        QVERIFY2(message.startsWith(QStringLiteral("无法写入检测报告文件：") + path),
                 qPrintable(message));
        QVERIFY(readFile(path) == bytes);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files),
                 QStringList(QStringLiteral("report.pdf")));
    }
#endif
};

QTEST_MAIN(TestReport)
#include "test_report.moc"
