#include "dcp/DcpInspector.h"
#include "dcp/RunEnvironment.h"
#include "report/ComplianceReport.h"
#include "report/FontSetup.h"
#include "run/CheckList.h"

#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QFontInfo>
#include <QProcess>
#include <QRawFont>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#endif

// Qt 5.15's offscreen platform never frees the screen and cursor it creates with the application
// object. Full stacks let the suppression find the platform's creation among the frames.
extern "C" const char *__asan_default_options()
{
    return "fast_unwind_on_malloc=0";
}

extern "C" const char *__lsan_default_suppressions()
{
    return "leak:QGuiApplicationPrivate::createPlatformIntegration\n";
}

namespace {

// The report's margins in points and its 300-dpi device pixels, to place the boxes on the page.
constexpr double kLeftMargin = 20;
constexpr double kTopMargin = 30;
constexpr double kPointsPerPixel = 72.0 / 300.0;
// Half the page's printable width in device pixels, the layout's H, and a quarter, its Q.
constexpr int kHalf = 1156;
constexpr int kQuarter = 578;

enum class Align { Left, Centre, TopLeft };

struct Phrase
{
    int page = 0;
    QString text;
    QRectF box; // points
};

// The words pdftotext finds, grouped into lines: words whose tops lie within a point of each
// other, left to right.
QVector<QVector<Phrase>> groupLines(QVector<Phrase> words)
{
    std::sort(words.begin(), words.end(), [](const Phrase &a, const Phrase &b) {
        return a.page != b.page ? a.page < b.page : a.box.top() < b.box.top();
    });
    QVector<QVector<Phrase>> lines;
    for (int start = 0; start < words.size();) {
        int end = start + 1;
        while (end < words.size() && words.at(end).page == words.at(start).page &&
               words.at(end).box.top() - words.at(start).box.top() <= 1)
            ++end;
        QVector<Phrase> line(words.begin() + start, words.begin() + end);
        std::sort(line.begin(), line.end(),
                  [](const Phrase &a, const Phrase &b) { return a.box.left() < b.box.left(); });
        lines << line;
        start = end;
    }
    return lines;
}

struct PdfText
{
    QVector<QVector<Phrase>> lines;
    QVector<QSizeF> pageSizes;
    QString plain;                 // pdftotext's plain output
    QSet<QPair<int, int>> claimed; // (line, word) of every phrase found so far

    // Runs of neighbouring words on one line that spell text, each as one phrase.
    QVector<Phrase> find(int page, const QString &text)
    {
        const QStringList tokens = text.split(QLatin1Char(' '));
        QVector<Phrase> found;
        for (int l = 0; l < lines.size(); ++l) {
            const QVector<Phrase> &line = lines.at(l);
            for (int first = 0; first + tokens.size() <= line.size(); ++first) {
                if (line.at(first).page != page)
                    break;
                bool match = true;
                for (int t = 0; match && t < tokens.size(); ++t)
                    match = line.at(first + t).text == tokens.at(t);
                if (!match)
                    continue;
                Phrase phrase{page, text, line.at(first).box};
                for (int t = 0; t < tokens.size(); ++t) {
                    phrase.box = phrase.box.united(line.at(first + t).box);
                    claimed.insert({l, first + t});
                }
                found << phrase;
            }
        }
        return found;
    }

    QStringList unclaimedWords() const
    {
        QStringList words;
        for (int l = 0; l < lines.size(); ++l) {
            for (int w = 0; w < lines.at(l).size(); ++w) {
                if (!claimed.contains({l, w}))
                    words << lines.at(l).at(w).text;
            }
        }
        return words;
    }
};

QString runTool(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return QString();
    return QString::fromUtf8(process.readAllStandardOutput());
}

// Reads the report back the way a reader's search or copy does.
bool readPdf(const QString &pdfPath, PdfText &out, QString &problem)
{
    const QString bboxXml = runTool(QStringLiteral("pdftotext"),
                                    {QStringLiteral("-bbox"), pdfPath, QStringLiteral("-")});
    out.plain = runTool(QStringLiteral("pdftotext"), {pdfPath, QStringLiteral("-")});
    if (bboxXml.isEmpty() || out.plain.isEmpty()) {
        problem = QStringLiteral("pdftotext read nothing from ") + pdfPath;
        return false;
    }
    QVector<Phrase> words;
    QXmlStreamReader xml(bboxXml);
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QXmlStreamAttributes attributes = xml.attributes();
        const auto number = [&attributes](const char *name) {
            return attributes.value(QLatin1String(name)).toDouble();
        };
        if (xml.name() == QLatin1String("page")) {
            out.pageSizes << QSizeF(number("width"), number("height"));
        } else if (xml.name() == QLatin1String("word")) {
            Phrase word;
            word.page = out.pageSizes.size();
            word.box = QRectF(QPointF(number("xMin"), number("yMin")),
                              QPointF(number("xMax"), number("yMax")));
            word.text = xml.readElementText();
            words << word;
        }
    }
    if (xml.hasError()) {
        problem = QStringLiteral("pdftotext -bbox output unreadable: ") + xml.errorString();
        return false;
    }
    out.lines = groupLines(words);
    return true;
}

QRectF pointsOf(const QRect &deviceBox)
{
    return QRectF(kLeftMargin + deviceBox.x() * kPointsPerPixel,
                  kTopMargin + deviceBox.y() * kPointsPerPixel, deviceBox.width() * kPointsPerPixel,
                  deviceBox.height() * kPointsPerPixel);
}

// Where a phrase stands against the box its drawing step gives, or an empty text when it fits.
QString placementProblem(const Phrase &phrase, const QRect &deviceBox, Align align)
{
    const QRectF box = pointsOf(deviceBox);
    const double slack = 1.5;
    const QRectF &ink = phrase.box;
    QString problem;
    // A font's line box may be taller than a drawing box (the title's is); the painter clips to
    // the box, so only the width and the middle are held to it.
    if (ink.left() < box.left() - slack || ink.right() > box.right() + slack ||
        !box.contains(ink.center()))
        problem = QStringLiteral("outside its box");
    else if (align == Align::Left && qAbs(ink.left() - box.left()) > slack)
        problem = QStringLiteral("not left-aligned");
    else if (align == Align::TopLeft &&
             (qAbs(ink.left() - box.left()) > slack || ink.top() - box.top() > 4))
        problem = QStringLiteral("not at the top left");
    else if (align == Align::Centre && qAbs(ink.center().x() - box.center().x()) > slack)
        problem = QStringLiteral("not centred horizontally");
    else if (align != Align::TopLeft && qAbs(ink.center().y() - box.center().y()) > 2)
        problem = QStringLiteral("not centred vertically");
    if (problem.isEmpty())
        return problem;
    return QStringLiteral("\"%1\" at (%2, %3)-(%4, %5) pt is %6 (%7, %8)-(%9, %10) pt")
        .arg(phrase.text)
        .arg(ink.left(), 0, 'f', 1)
        .arg(ink.top(), 0, 'f', 1)
        .arg(ink.right(), 0, 'f', 1)
        .arg(ink.bottom(), 0, 'f', 1)
        .arg(problem)
        .arg(box.left(), 0, 'f', 1)
        .arg(box.top(), 0, 'f', 1)
        .arg(box.right(), 0, 'f', 1)
        .arg(box.bottom(), 0, 'f', 1);
}

// The check list of a run that passed: "符合" everywhere, "———" for a flat composition's
// stereoscopic row and for an unencrypted master's KDM items.
QStringList passedCellTexts(bool encrypted, bool stereoscopic)
{
    QStringList cells;
    for (int row = 0; row < CheckRow::Count; ++row) {
        QString result = QStringLiteral("符合");
        if (row == CheckRow::Stereoscopic && !stereoscopic)
            result = QStringLiteral("———");
        if (!encrypted && (row == CheckRow::KdmId || row == CheckRow::KdmNamespace))
            result = QStringLiteral("———");
        if (!encrypted && row == CheckRow::KdmHeader)
            result = QStringLiteral("符合(未加密DCP)");
        cells << checkListNumber(row) << checkListItem(row) << result;
    }
    return cells;
}

// A master with label fields chosen so that many common ideographs share a glyph with a Kangxi
// radical in some CJK fonts (文, 日, 月, 长, 生, 山, 水 ...).
DcpInspector labelledMaster(bool encrypted, bool stereoscopic, bool interop)
{
    DcpInspector inspector;
    inspector.filmName = QStringLiteral("长生日月山水文");
    inspector.kdmDate = encrypted ? QStringLiteral("20240101-20241231") : QStringLiteral("-");
    inspector.duration = QStringLiteral("92分钟10秒");
    inspector.resolution = QStringLiteral("4096*2160");
    inspector.aspect = QStringLiteral("1.90:1");
    inspector.frame = QStringLiteral("24");
    inspector.color = QStringLiteral("XYZ");
    inspector.audio = QStringLiteral("5.1");
    inspector.vetDate = QStringLiteral("20230101");
    inspector.producer = QStringLiteral("北京长生电影制片厂");
    inspector.cplName = QStringLiteral("ChangSheng_FTR_F_CMN-XX_CN_51_4K_20230101_SMPTE_OV");
    inspector.encrypted = encrypted;
    PklInfo pkl;
    pkl.issueDate = QStringLiteral("2022-12-30");
    inspector.pkls << pkl;
    CplInfo cpl;
    cpl.namespaceUri = interop ? QStringLiteral("http://www.digicine.com/PROTO-ASDCP-CPL-20040511#")
                               : QStringLiteral("http://www.smpte-ra.org/schemas/429-7/2006/CPL");
    cpl.stereoscopic = stereoscopic;
    cpl.encrypted = encrypted;
    inspector.cpls << cpl;
    return inspector;
}

struct Expected
{
    int page;
    QString text;
    QRect box;
    Align align;
};

} // namespace

Q_DECLARE_METATYPE(DcpInspector)

class TestReport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void fontsGiveSearchableSimplifiedChinese_data();
    void fontsGiveSearchableSimplifiedChinese();
    void layoutOfPassedMaster();
    void printedValues_data();
    void printedValues();
    void extractedTextHasNoRadicals();
    void fontsAreEmbedded();
    void secondReportReplacesFirst();
    void unwritablePath_data();
    void unwritablePath();
#ifdef Q_OS_UNIX
    void fullDiskLeavesNoReport();
#endif

private:
    bool havePoppler() const;
    QString writeAndRead(const QString &name, const DcpInspector &inspector,
                         const QStringList &cells, PdfText &text);

    QTemporaryDir dir;
};

void TestReport::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(dir.isValid());
    installCjkFontSubstitutions();
}

void TestReport::cleanup()
{
    setCurrentLocalDateOverride(QDate());
}

bool TestReport::havePoppler() const
{
    return !QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty() &&
           !QStandardPaths::findExecutable(QStringLiteral("pdfinfo")).isEmpty();
}

// Writes the report and reads it back; returns a problem, or an empty text.
QString TestReport::writeAndRead(const QString &name, const DcpInspector &inspector,
                                 const QStringList &cells, PdfText &text)
{
    const QString path = dir.filePath(name);
    QString message;
    if (!writeComplianceReport(path, cells, inspector, &message))
        return QStringLiteral("report not written: ") + message;
    QString problem;
    if (!readPdf(path, text, problem))
        return problem;
    return QString();
}

void TestReport::fontsGiveSearchableSimplifiedChinese_data()
{
    QTest::addColumn<QString>("family");
    for (const char *family : {"黑体", "宋体", "幼圆", "Agency FB", "新宋体"})
        QTest::newRow(family) << QString::fromUtf8(family);
}

// The PDF writer names each glyph by the lowest code point the font maps to it. A font that maps
// the radical ⽂ (U+2F42) to the glyph of 文 (U+6587) makes every 文 of the report extract as ⽂.
void TestReport::fontsGiveSearchableSimplifiedChinese()
{
    QFETCH(QString, family);
    const QFont font(family, 12);
    const QRawFont raw = QRawFont::fromFont(font, QFontDatabase::SimplifiedChinese);
    QVERIFY2(raw.isValid(), qPrintable(family));
    // The family itself resolves to a Chinese font, so Chinese text does not depend on the
    // locale's choice of fallback.
    const QString primary = QFontInfo(font).family();
    QVERIFY2(QFontDatabase().writingSystems(primary).contains(QFontDatabase::SimplifiedChinese),
             qPrintable(family + QStringLiteral(" resolves to ") + primary));
    const QString resolved = raw.familyName();
    const QString ideographs = QStringLiteral("文日月长生片一");
    const QString radicals = QString::fromUtf8("\u2F42\u2F47\u2F49\u2ED3\u2F63\u2F5A\u2F00");
    const QVector<quint32> ideographGlyphs = raw.glyphIndexesForString(ideographs);
    const QVector<quint32> radicalGlyphs = raw.glyphIndexesForString(radicals);
    QCOMPARE(ideographGlyphs.size(), ideographs.size());
    for (int i = 0; i < ideographs.size(); ++i) {
        QVERIFY2(ideographGlyphs.at(i) != 0,
                 qPrintable(resolved + QStringLiteral(" lacks ") + ideographs.at(i)));
        QVERIFY2(
            ideographGlyphs.at(i) != radicalGlyphs.value(i),
            qPrintable(
                resolved + QStringLiteral(" draws ") + ideographs.at(i) +
                QStringLiteral(
                    " with a radical's glyph; install fonts-wqy-zenhei and fonts-arphic-uming")));
    }
    // A second call adds nothing.
    const QStringList before = QFont::substitutes(family);
    installCjkFontSubstitutions();
    QCOMPARE(QFont::substitutes(family), before);
}

void TestReport::layoutOfPassedMaster()
{
    if (!havePoppler())
        QSKIP("pdftotext and pdfinfo (poppler-utils) are needed to read the report back");
    setCurrentLocalDateOverride(QDate(2024, 3, 5));
    const DcpInspector inspector = labelledMaster(false, false, false);
    PdfText text;
    const QString problem =
        writeAndRead(QStringLiteral("layout.pdf"), inspector, passedCellTexts(false, false), text);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));

    const QString info =
        runTool(QStringLiteral("pdfinfo"), {dir.filePath(QStringLiteral("layout.pdf"))});
    QVERIFY2(info.contains(QRegularExpression(QStringLiteral("Pages:\\s+2\\n"))), qPrintable(info));
    QCOMPARE(text.pageSizes.size(), 2);
    for (const QSizeF &size : qAsConst(text.pageSizes)) {
        // The writer rounds the media box to whole points.
        QVERIFY2(
            qAbs(size.width() - 595.28) < 0.5 && qAbs(size.height() - 841.89) < 0.5,
            qPrintable(
                QStringLiteral("page %1 x %2 pt is not A4").arg(size.width()).arg(size.height())));
    }

    const int h = kHalf;
    const int q = kQuarter;
    const QVector<Expected> expected = {
        {1,
         QStringLiteral("数字电影送审母版(DCP)符合性检测报告"),
         {0, 200, 2 * h, 100},
         Align::Centre},
        {1, QStringLiteral("影片名称：长生日月山水文"), {100, 440, h, 70}, Align::Left},
        {1, QStringLiteral("KDM有效期：-"), {h + 50, 440, h - 100, 70}, Align::Left},
        {1, QStringLiteral("片长：92分钟10秒"), {100, 530, h, 70}, Align::Left},
        {1, QStringLiteral("图像分辨率：4096*2160"), {h + 50, 530, h - 100, 70}, Align::Left},
        {1, QStringLiteral("图像宽高比：1.90:1"), {100, 620, h, 70}, Align::Left},
        {1, QStringLiteral("帧速率：24"), {h + 50, 620, h - 100, 70}, Align::Left},
        {1, QStringLiteral("色域：XYZ"), {100, 710, h, 70}, Align::Left},
        {1, QStringLiteral("声音制式：5.1"), {h + 50, 710, h - 100, 70}, Align::Left},
        {1, QStringLiteral("制作日期：2022-12-30"), {100, 800, h, 70}, Align::Left},
        {1, QStringLiteral("送审日期：2023-01-01"), {h + 50, 800, h - 100, 70}, Align::Left},
        {1, QStringLiteral("出品单位：北京长生电影制片厂"), {100, 890, h, 70}, Align::Left},
        {1, QStringLiteral("检测项"), {100, 1040, 400, 1610}, Align::Centre},
        {1, QStringLiteral("检测结果"), {100, 2650, 400, 200}, Align::Centre},
        // The carrier group in the second grid column.
        {1, QStringLiteral("A.2 载体符合性检测"), {550, 1090, 550, 80}, Align::Left},
        {1, QStringLiteral("a)硬盘标签检测 ★"), {550, 1170, 550, 60}, Align::Left},
        {1, QStringLiteral("b)物理损坏检测 ★"), {550, 1230, 550, 60}, Align::Left},
        {1, QStringLiteral("c)硬盘接口检测 ★"), {550, 1290, 550, 60}, Align::Left},
        {1, QStringLiteral("d)文件系统检测 ★"), {550, 1350, 550, 60}, Align::Left},
        {1, QStringLiteral("e)硬盘分区检测 ★"), {550, 1410, 550, 60}, Align::Left},
        {1, QStringLiteral("f)DCP和KDM检测 ★"), {550, 1470, 550, 60}, Align::Left},
        {1, QStringLiteral("g)DCP命名规范检测 ★"), {550, 1530, 550, 60}, Align::Left},
        // The package group with its sub-groups in the third.
        {1, QStringLiteral("A.3 DCP符合性检测"), {1100, 1090, 750, 80}, Align::Left},
        {1, QStringLiteral("A.3.1 ASSETMAP检测"), {1100, 1170, 750, 80}, Align::Left},
        {1, QStringLiteral("a)ASSETMAP文件有无检测 ★"), {1100, 1230, 750, 60}, Align::Left},
        {1, QStringLiteral("b)命名空间检测 ★"), {1100, 1290, 750, 60}, Align::Left},
        {1, QStringLiteral("c)路径一致检测 ★"), {1100, 1350, 750, 60}, Align::Left},
        {1, QStringLiteral("A.3.2 PKL检测"), {1100, 1430, 750, 80}, Align::Left},
        {1, QStringLiteral("a)PKL文件UUID列出检测 ★"), {1100, 1490, 750, 60}, Align::Left},
        {1, QStringLiteral("b)命名空间检测 ★"), {1100, 1550, 750, 60}, Align::Left},
        {1, QStringLiteral("c)AnnotationText元素值检测 ★"), {1100, 1610, 750, 60}, Align::Left},
        {1, QStringLiteral("d)资产文件UUID一致性检测 ★"), {1100, 1670, 750, 60}, Align::Left},
        {1, QStringLiteral("e)HASH值一致性检测 ★"), {1100, 1730, 750, 60}, Align::Left},
        {1, QStringLiteral("f)GroupID元素检测 ★"), {1100, 1790, 750, 60}, Align::Left},
        {1, QStringLiteral("A.3.3 CPL检测"), {1100, 1870, 750, 80}, Align::Left},
        {1, QStringLiteral("a)CPL文件UUID列出检测 ★"), {1100, 1930, 750, 60}, Align::Left},
        {1, QStringLiteral("b)命名空间检测 ★"), {1100, 1990, 750, 60}, Align::Left},
        {1, QStringLiteral("c)ContentTitleText元素值检测 ★"), {1100, 2050, 750, 60}, Align::Left},
        {1, QStringLiteral("d)HASH值一致性检测 ★"), {1100, 2110, 750, 60}, Align::Left},
        {1,
         QStringLiteral("e)MainSterescopicPicture元素检测 ☆"),
         {1100, 2170, 750, 60},
         Align::Left},
        // The key group in the fourth: not applicable to a clear master.
        {1, QStringLiteral("A.4 KDM符合性检测"), {1850, 1090, 500, 80}, Align::Left},
        {1, QStringLiteral("a)UUID一致性检测 ☆"), {1850, 1170, 500, 60}, Align::Left},
        {1, QStringLiteral("b)命名空间检测 ☆"), {1850, 1230, 500, 60}, Align::Left},
        // Group results in the lower row.
        {1, QStringLiteral("符合"), {500, 2650, 550, 200}, Align::Centre},
        {1, QStringLiteral("符合"), {1050, 2650, 750, 200}, Align::Centre},
        {1, QStringLiteral("符合(未加密DCP)"), {1800, 2650, 500, 200}, Align::Centre},
        {1, QStringLiteral("送审母版制作单位（盖章）："), {100, 3040, 2 * h, 80}, Align::TopLeft},
        {1,
         QStringLiteral("检测日期：2024年03月05日"),
         {h + 50, 3040, h - 100, 70},
         Align::TopLeft},
        {2,
         QStringLiteral("以下部分可裁剪后贴在送审母版介质上："),
         {60, 200, 2 * h, 150},
         Align::Left},
        {2, QStringLiteral("《长生日月山水文》4K 2D 明文DCP"), {100, 420, 2 * h, 70}, Align::Left},
        {2, QStringLiteral("北京长生电影制片厂"), {100, 490, 2 * h, 70}, Align::Left},
        {2,
         QStringLiteral("ChangSheng_FTR_F_CMN-XX_CN_51_4K_20230101_SMPTE_OV"),
         {100, 560, 2 * h, 70},
         Align::Left},
        {2, QStringLiteral("KDM有效期：————"), {100, 630, 2 * h, 70}, Align::Left},
        {2, QStringLiteral("片长：92分钟10秒"), {100, 730, q, 70}, Align::Left},
        {2, QStringLiteral("封装格式：SMPTE"), {q + 25, 730, q, 70}, Align::Left},
        {2, QStringLiteral("帧速率：24"), {100, 800, q, 70}, Align::Left},
        {2, QStringLiteral("色域：XYZ"), {q + 25, 800, q, 70}, Align::Left},
        {2, QStringLiteral("图像分辨率：4096*2160"), {100, 870, q, 70}, Align::Left},
        {2, QStringLiteral("图像宽高比：1.90:1"), {q + 25, 870, q, 70}, Align::Left},
        {2, QStringLiteral("声音制式：5.1"), {100, 940, q, 70}, Align::Left},
        {2, QStringLiteral("送审日期：2023-01-01"), {q + 25, 940, q, 70}, Align::Left},
    };
    for (const Expected &item : expected) {
        const auto sameText = [&item](const Expected &other) {
            return other.page == item.page && other.text == item.text;
        };
        const int printed = int(std::count_if(expected.begin(), expected.end(), sameText));
        const QVector<Phrase> found = text.find(item.page, item.text);
        QVERIFY2(found.size() == printed,
                 qPrintable(QStringLiteral("page %1: \"%2\" found %3 times, not %4")
                                .arg(item.page)
                                .arg(item.text)
                                .arg(found.size())
                                .arg(printed)));
        QString problem;
        for (const Phrase &phrase : found) {
            problem = placementProblem(phrase, item.box, item.align);
            if (problem.isEmpty())
                break;
        }
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
    }
    // Nothing else is printed.
    QCOMPARE(text.unclaimedWords(), QStringList());

    // Every text stays left of the grid's right border, and the page's foot is on the sheet.
    const double gridRight = kLeftMargin + 2300 * kPointsPerPixel;
    for (const QVector<Phrase> &line : qAsConst(text.lines)) {
        for (const Phrase &word : line) {
            QVERIFY2(word.box.right() <= gridRight + 1 && word.box.bottom() < 841.89 - 10,
                     qPrintable(word.text + QStringLiteral(" runs off the grid or the page")));
        }
    }
}

void TestReport::printedValues_data()
{
    QTest::addColumn<DcpInspector>("inspector");
    QTest::addColumn<QStringList>("cells");
    QTest::addColumn<QStringList>("page1");
    QTest::addColumn<QStringList>("page2");

    DcpInspector encrypted3d = labelledMaster(true, true, true);
    QTest::newRow("encrypted 3D 4K Interop")
        << encrypted3d << passedCellTexts(true, true)
        << QStringList{QStringLiteral("KDM有效期：20240101-20241231"), QStringLiteral("符合"),
                       QStringLiteral("a)UUID一致性检测 ★"), QStringLiteral("b)命名空间检测 ★"),
                       QStringLiteral("e)MainSterescopicPicture元素检测 ★")}
        << QStringList{QStringLiteral("《长生日月山水文》4K 3D 加密DCP"),
                       QStringLiteral("KDM有效期：20240101-20241231"),
                       QStringLiteral("封装格式：INTEROP")};

    DcpInspector clear2k = labelledMaster(false, false, false);
    clear2k.resolution = QStringLiteral("2048*1080");
    QTest::newRow("clear 2D 2048 SMPTE")
        << clear2k << passedCellTexts(false, false)
        << QStringList{QStringLiteral("KDM有效期：-"), QStringLiteral("符合(未加密DCP)"),
                       QStringLiteral("a)UUID一致性检测 ☆")}
        << QStringList{QStringLiteral("《长生日月山水文》2K 2D 明文DCP"),
                       QStringLiteral("KDM有效期：————"), QStringLiteral("封装格式：SMPTE")};

    DcpInspector wide = labelledMaster(true, false, false);
    wide.resolution = QStringLiteral("2049*858");
    QTest::newRow("just above 2048 is 4K")
        << wide << passedCellTexts(true, false) << QStringList{}
        << QStringList{QStringLiteral("《长生日月山水文》4K 2D 加密DCP")};

    DcpInspector unnamed = labelledMaster(false, true, false);
    unnamed.resolution.clear();
    unnamed.cpls[0].namespaceUri = QStringLiteral("urn:example:neither");
    QTest::newRow("empty resolution, unknown namespace")
        << unnamed << passedCellTexts(false, true) << QStringList{QStringLiteral("图像分辨率：")}
        << QStringList{QStringLiteral("《长生日月山水文》2K 3D 明文DCP"),
                       QStringLiteral("封装格式：SMPTE")};

    // A run that loaded no documents: nothing to read from the packing list or composition.
    DcpInspector noDocuments = labelledMaster(false, false, true);
    noDocuments.pkls.clear();
    noDocuments.cpls.clear();
    noDocuments.vetDate = QStringLiteral("2023-1-1");
    QTest::newRow("no documents, malformed submission date")
        << noDocuments << passedCellTexts(false, false)
        << QStringList{QStringLiteral("制作日期："), QStringLiteral("送审日期：")}
        << QStringList{QStringLiteral("《长生日月山水文》4K 2D 明文DCP"),
                       QStringLiteral("封装格式：SMPTE"), QStringLiteral("送审日期：")};

    // A shorter snapshot than the check list (no KDM group) leaves its column empty.
    QStringList shortCells = passedCellTexts(true, true).mid(0, 3 * CheckRow::KdmHeader);
    shortCells << QStringLiteral("stray");
    QTest::newRow("snapshot without the KDM group")
        << labelledMaster(true, true, false) << shortCells
        << QStringList{QStringLiteral("A.3 DCP符合性检测")}
        << QStringList{QStringLiteral("封装格式：SMPTE")};
}

void TestReport::printedValues()
{
    QFETCH(DcpInspector, inspector);
    QFETCH(QStringList, cells);
    QFETCH(QStringList, page1);
    QFETCH(QStringList, page2);
    if (!havePoppler())
        QSKIP("pdftotext and pdfinfo (poppler-utils) are needed to read the report back");
    setCurrentLocalDateOverride(QDate(2023, 12, 31));
    PdfText text;
    const QString problem = writeAndRead(QStringLiteral("values.pdf"), inspector, cells, text);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    for (const QString &line : page1)
        QVERIFY2(!text.find(1, line).isEmpty(), qPrintable(QStringLiteral("page 1 lacks ") + line));
    for (const QString &line : page2)
        QVERIFY2(!text.find(2, line).isEmpty(), qPrintable(QStringLiteral("page 2 lacks ") + line));
    QVERIFY(!text.find(1, QStringLiteral("检测日期：2023年12月31日")).isEmpty());
    if (cells.size() < 3 * CheckRow::Count)
        QVERIFY(text.find(1, QStringLiteral("A.4 KDM符合性检测")).isEmpty());
}

void TestReport::extractedTextHasNoRadicals()
{
    if (!havePoppler())
        QSKIP("pdftotext and pdfinfo (poppler-utils) are needed to read the report back");
    PdfText text;
    const QString problem =
        writeAndRead(QStringLiteral("radicals.pdf"), labelledMaster(true, true, false),
                     passedCellTexts(true, true), text);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QString radicals;
    for (const QChar c : qAsConst(text.plain)) {
        if (c.unicode() >= 0x2E80 && c.unicode() <= 0x2FDF)
            radicals += c;
    }
    QVERIFY2(radicals.isEmpty(), qPrintable(QStringLiteral("radicals in the text: ") + radicals));
    for (const char *words : {"文件系统检测", "影片名称", "日期", "长生日月山水文", "片长"})
        QVERIFY2(text.plain.contains(QString::fromUtf8(words)), words);
}

void TestReport::fontsAreEmbedded()
{
    if (QStandardPaths::findExecutable(QStringLiteral("pdffonts")).isEmpty())
        QSKIP("pdffonts (poppler-utils) is needed to list the report's fonts");
    const QString path = dir.filePath(QStringLiteral("fonts.pdf"));
    QVERIFY(writeComplianceReport(path, passedCellTexts(false, false),
                                  labelledMaster(false, false, false)));
    const QStringList lines =
        runTool(QStringLiteral("pdffonts"), {path}).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QVERIFY2(lines.size() > 2, qPrintable(lines.join(QLatin1Char('\n'))));
    // name, type, encoding, then "emb sub uni": the first of the yes/no columns is "emb".
    for (const QString &line : lines.mid(2)) {
        const QStringList columns = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        const int emb = columns.indexOf(QRegularExpression(QStringLiteral("^(yes|no)$")));
        QVERIFY2(emb > 0 && columns.at(emb) == QLatin1String("yes") &&
                     columns.value(emb + 2) == QLatin1String("yes"),
                 qPrintable(QStringLiteral("not embedded or without Unicode map: ") + line));
    }
}

void TestReport::secondReportReplacesFirst()
{
    const QString path = dir.filePath(QStringLiteral("VetMasterReport.pdf"));
    {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(200000, 'x'));
    }
    const DcpInspector inspector = labelledMaster(true, false, false);
    QString message;
    QVERIFY2(writeComplianceReport(path, passedCellTexts(true, false), inspector, &message),
             qPrintable(message));
    QFile first(path);
    QVERIFY(first.open(QIODevice::ReadOnly));
    const QByteArray firstBytes = first.readAll();
    first.close();
    QVERIFY(firstBytes.startsWith("%PDF-"));
    QVERIFY(firstBytes.trimmed().endsWith("%%EOF"));
    QVERIFY(!firstBytes.contains(QByteArray(100, 'x')));

    const QString firstText = runTool(QStringLiteral("pdftotext"), {path, QStringLiteral("-")});

    QVERIFY2(writeComplianceReport(path, passedCellTexts(true, false), inspector, &message),
             qPrintable(message));
    QVERIFY(QFileInfo(path).size() > 0);
    if (!havePoppler())
        return;
    // The same report both times.
    QVERIFY(!firstText.isEmpty());
    QCOMPARE(runTool(QStringLiteral("pdftotext"), {path, QStringLiteral("-")}), firstText);
}

void TestReport::unwritablePath_data()
{
    QTest::addColumn<QString>("relativePath");
    QTest::addColumn<bool>("makeFolder");
    QTest::newRow("missing folder")
        << QStringLiteral("no/such/folder/VetMasterReport.pdf") << false;
    QTest::newRow("path is a folder") << QStringLiteral("folder.pdf") << true;
}

void TestReport::unwritablePath()
{
    QFETCH(QString, relativePath);
    QFETCH(bool, makeFolder);
    const QString path = dir.filePath(relativePath);
    if (makeFolder)
        QVERIFY(QDir().mkpath(path));
    QString message;
    QVERIFY(!writeComplianceReport(path, passedCellTexts(false, false),
                                   labelledMaster(false, false, false), &message));
    QVERIFY2(message.startsWith(QStringLiteral("无法写入检测报告文件：") + path),
             qPrintable(message));
    QCOMPARE(QFileInfo(path).isFile(), false);
}

#ifdef Q_OS_UNIX
// A disk that fills up while the report is written: the write fails with EFBIG past the limit.
void TestReport::fullDiskLeavesNoReport()
{
    const QString path = dir.filePath(QStringLiteral("full.pdf"));
    rlimit saved{};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = 4096;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);
    QString message;
    const bool written = writeComplianceReport(path, passedCellTexts(false, false),
                                               labelledMaster(false, false, false), &message);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    QVERIFY(!written);
    QVERIFY2(message.startsWith(QStringLiteral("无法写入检测报告文件：") + path),
             qPrintable(message));
    QVERIFY(!QFile::exists(path));
}
#endif

QTEST_MAIN(TestReport)
#include "test_report.moc"
