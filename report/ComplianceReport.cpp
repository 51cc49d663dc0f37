#include "report/ComplianceReport.h"

#include "dcp/DcpInspector.h"
#include "dcp/RunEnvironment.h"
#include "report/FontSetup.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QGuiApplication>
#include <QLine>
#include <QPainter>
#include <QPdfWriter>
#include <QPen>
#include <QRect>
#include <QSaveFile>

#include <iterator>

namespace {
QString reportTitle()
{
    return QStringLiteral("数字电影送审母版(DCP)符合性检测报告");
}

struct ReportFonts
{
    QFont f1{QStringLiteral("黑体"), 24, 50, false};
    QFont f2{QStringLiteral("宋体"), 12, 50, false};
    QFont f3{QStringLiteral("黑体"), 14, 50, false};
    QFont f4{QStringLiteral("宋体"), 9, 50, false};
    QFont f5{QStringLiteral("宋体"), 14, 50, false};
    QFont f6{QStringLiteral("黑体"), 10, 50, false};
    QFont f7{QStringLiteral("黑体"), 12, 50, false};
};

// The layout reaches x 2300 (the check grid) and y 3240 (the closing rule) in 300-dpi pixels.
// Margins of 60, 100, 100, 60 pt leave only 1813 x 2841 pixels, which cut the KDM column and the
// closing rule off the sheet; these leave 2313 x 3299, enough for the whole layout.
const QMarginsF kPageMargins(20, 30, 20, 20);

const Qt::Alignment kLeft = Qt::AlignLeft | Qt::AlignVCenter;
const Qt::Alignment kTopLeft = Qt::AlignLeft | Qt::AlignTop;

QPen reportPen()
{
    return QPen(QBrush(QColor(0, 0, 0, 255), Qt::SolidPattern), 5, Qt::SolidLine, Qt::SquareCap,
                Qt::BevelJoin);
}

void drawTextIn(QPainter &painter, const QFont &font, const QRect &box, Qt::Alignment alignment,
                const QString &text)
{
    painter.setFont(font);
    painter.drawText(box, int(alignment), text);
}

void drawLineAlone(QPainter &painter, const QLine &line)
{
    painter.drawLines(&line, 1);
}

void drawRectAlone(QPainter &painter, const QRect &rect)
{
    painter.drawRects(&rect, 1);
}

QString vetDateText(const QString &vetDate)
{
    return QDate::fromString(vetDate, QStringLiteral("yyyyMMdd"))
        .toString(QStringLiteral("yyyy-MM-dd"));
}

QString pklIssueDate(const DcpInspector &inspector)
{
    return inspector.pkls.isEmpty() ? QString() : inspector.pkls.first().issueDate;
}

// "4K"/"2K", then the picture kind, then the encryption, as on the carrier's sticker.
QString kindText(const DcpInspector &inspector)
{
    const bool stereoscopic = !inspector.cpls.isEmpty() && inspector.cpls.first().stereoscopic;
    const int width = inspector.resolution.left(4).toInt(nullptr, 10);
    return QString(width > 2048 ? QStringLiteral("4K") : QStringLiteral("2K")) %
           (stereoscopic ? QStringLiteral(" 3D") : QStringLiteral(" 2D")) %
           (inspector.encrypted ? QStringLiteral(" 加密DCP") : QStringLiteral(" 明文DCP"));
}

QString packagingText(const DcpInspector &inspector)
{
    const QString namespaceUri =
        inspector.cpls.isEmpty() ? QString() : inspector.cpls.first().namespaceUri;
    return namespaceUri.contains(kInteropNamespacePrefix, Qt::CaseSensitive)
               ? QStringLiteral("封装格式：INTEROP")
               : QStringLiteral("封装格式：SMPTE");
}

// The check grid's contents: each group header moves a cursor to its column, sub-groups and
// items follow it downwards.
void paintCheckListing(QPainter &painter, const ReportFonts &fonts, const QStringList &cellTexts)
{
    struct Group
    {
        const char *number;
        int x;
        int width;
        int cursorY;
    };
    static const Group groups[] = {
        {"A.2", 550, 550, 1110}, {"A.3", 1100, 750, 1090}, {"A.4", 1850, 500, 1110}};

    bool hasCursor = false;
    int x = 0;
    int y = 0;
    int width = 0;
    const int count = cellTexts.size() / 3;
    for (int g = 0; g < count; ++g) {
        const QString no = QString(cellTexts.at(3 * g)).remove(QLatin1Char('-'));
        const QString &item = cellTexts.at(3 * g + 1);
        const QString &result = cellTexts.at(3 * g + 2);

        const Group *group = nullptr;
        for (const Group &candidate : groups) {
            if (no == QLatin1String(candidate.number))
                group = &candidate;
        }
        if (group) {
            drawTextIn(painter, fonts.f7, QRect(group->x, 1090, group->width, 80), kLeft,
                       no % QLatin1Char(' ') % item);
            drawTextIn(painter, fonts.f7, QRect(group->x - 50, 2650, group->width, 200),
                       Qt::AlignCenter, result);
            x = group->x;
            width = group->width;
            y = group->cursorY;
            hasCursor = true;
            continue;
        }
        // Rows before the first group header have no column to go to.
        if (!hasCursor)
            continue;
        if (no == QLatin1String("A.3.1") || no == QLatin1String("A.3.2") ||
            no == QLatin1String("A.3.3") || no == QLatin1String("A.3.4")) {
            y += 80;
            drawTextIn(painter, fonts.f6, QRect(x, y, width, 80), kLeft,
                       no % QLatin1Char(' ') % item);
            continue;
        }
        y += 60;
        const QString mark =
            result == QStringLiteral("符合") ? QStringLiteral(" ★") : QStringLiteral(" ☆");
        drawTextIn(painter, fonts.f4, QRect(x, y, width, 60), kLeft, no % item % mark);
    }
}

void paintFirstPage(QPainter &painter, const ReportFonts &fonts, const QStringList &cellTexts,
                    const DcpInspector &inspector, int w)
{
    const int h = w / 2;
    drawTextIn(painter, fonts.f1, QRect(0, 200, w, 100), Qt::AlignCenter, reportTitle());

    painter.setPen(reportPen());
    drawLineAlone(painter, QLine(0, 340, w, 340));
    drawLineAlone(painter, QLine(0, 358, w, 358));

    struct LabelLine
    {
        QString caption;
        QString value;
    };
    QVector<LabelLine> labels;
    for (const LabelField &field : labelFields()) {
        if (!field.reportCaption)
            continue;
        const QString caption = QString::fromUtf8(field.reportCaption) + QStringLiteral("：");
        if (field.member == &DcpInspector::vetDate) {
            // The package's own date stands before the date it is submitted on.
            labels.append({QStringLiteral("制作日期："), pklIssueDate(inspector)});
            labels.append({caption, vetDateText(inspector.vetDate)});
        } else {
            labels.append({caption, inspector.*field.member});
        }
    }
    // Two columns, left one first, rows 90 apart.
    for (int i = 0; i < labels.size(); ++i) {
        const int rowY = 440 + (i / 2) * 90;
        const QRect box = i % 2 == 0 ? QRect(100, rowY, h, 70) : QRect(h + 50, rowY, h - 100, 70);
        drawTextIn(painter, fonts.f2, box, kLeft, labels[i].caption % labels[i].value);
    }

    static const int columnX[] = {100, 500, 1050, 1800};
    static const int columnWidth[] = {400, 550, 750, 500};
    for (int i = 0; i < 4; ++i)
        drawRectAlone(painter, QRect(columnX[i], 1040, columnWidth[i], 1610));
    for (int i = 0; i < 4; ++i)
        drawRectAlone(painter, QRect(columnX[i], 2650, columnWidth[i], 200));
    drawTextIn(painter, fonts.f3, QRect(100, 1040, 400, 1610), Qt::AlignCenter,
               QStringLiteral("检测项"));
    drawTextIn(painter, fonts.f3, QRect(100, 2650, 400, 200), Qt::AlignCenter,
               QStringLiteral("检测结果"));

    paintCheckListing(painter, fonts, cellTexts);

    drawTextIn(painter, fonts.f5, QRect(100, 3040, w, 80), kTopLeft,
               QStringLiteral("送审母版制作单位（盖章）："));
    drawTextIn(painter, fonts.f5, QRect(h + 50, 3040, h - 100, 70), kTopLeft,
               QStringLiteral("检测日期：") %
                   currentLocalDate().toString(QStringLiteral("yyyy年MM月dd日")));
    painter.setPen(reportPen());
    drawLineAlone(painter, QLine(0, 3240, w, 3240));
}

void paintSecondPage(QPainter &painter, const ReportFonts &fonts, const DcpInspector &inspector,
                     int w)
{
    const int h = w / 2;
    const int q = w / 4;
    drawTextIn(painter, fonts.f7, QRect(60, 200, w, 150), kLeft,
               QStringLiteral("以下部分可裁剪后贴在送审母版介质上："));
    drawRectAlone(painter, QRect(60, 400, h, 650));
    drawTextIn(painter, fonts.f6, QRect(100, 420, w, 70), kLeft,
               QStringLiteral("《") % inspector.filmName % QStringLiteral("》") %
                   kindText(inspector));
    drawTextIn(painter, fonts.f6, QRect(100, 490, w, 70), kLeft, inspector.producer);
    drawTextIn(painter, fonts.f4, QRect(100, 560, w, 70), kLeft, inspector.cplName);
    drawTextIn(painter, fonts.f6, QRect(100, 630, w, 70), kLeft,
               inspector.encrypted ? QStringLiteral("KDM有效期：") % inspector.kdmDate
                                   : QStringLiteral("KDM有效期：————"));
    drawTextIn(painter, fonts.f6, QRect(100, 730, q, 70), kLeft,
               QStringLiteral("片长：") % inspector.duration);
    drawTextIn(painter, fonts.f6, QRect(q + 25, 730, q, 70), kLeft, packagingText(inspector));
    drawTextIn(painter, fonts.f6, QRect(100, 800, q, 70), kLeft,
               QStringLiteral("帧速率：") % inspector.frame);
    drawTextIn(painter, fonts.f6, QRect(q + 25, 800, q, 70), kLeft,
               QStringLiteral("色域：") % inspector.color);
    drawTextIn(painter, fonts.f6, QRect(100, 870, q, 70), kLeft,
               QStringLiteral("图像分辨率：") % inspector.resolution);
    drawTextIn(painter, fonts.f6, QRect(q + 25, 870, q, 70), kLeft,
               QStringLiteral("图像宽高比：") % inspector.aspect);
    drawTextIn(painter, fonts.f6, QRect(100, 940, q, 70), kLeft,
               QStringLiteral("声音制式：") % inspector.audio);
    drawTextIn(painter, fonts.f6, QRect(q + 25, 940, q, 70), kLeft,
               QStringLiteral("送审日期：") % vetDateText(inspector.vetDate));
}

QString failure(const QString &path, const QString &reason)
{
    return QStringLiteral("无法写入检测报告文件：") % path % QStringLiteral("\n") % reason;
}

// The title as the PDF writer puts it into the document information: a text string of UTF-16
// with a byte-order mark, high byte first, each "(", ")" and "\\" byte escaped.
QByteArray pdfTextString(const QString &text)
{
    QByteArray bytes("(\xfe\xff");
    for (const QChar c : text) {
        for (const char part : {char(c.unicode() >> 8), char(c.unicode() & 0xff)}) {
            if (part == '(' || part == ')' || part == '\\')
                bytes += '\\';
            bytes += part;
        }
    }
    return bytes + ')';
}

Qt::CaseSensitivity pathCase()
{
#ifdef Q_OS_WIN
    return Qt::CaseInsensitive;
#else
    return Qt::CaseSensitive;
#endif
}

// The path as the file system resolves it, links and ".." included; an absent file through its
// folder. The folder is resolved as written, not cleaned first: after a link, ".." leads to the
// parent of the link's target. Empty when even the folder does not exist.
QString resolvedPath(const QString &path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    if (!canonical.isEmpty())
        return canonical;
    const QString written = QDir::fromNativeSeparators(path);
    const int slash = written.lastIndexOf(QLatin1Char('/'));
    const QString folder = slash < 0    ? QStringLiteral(".")
                           : slash == 0 ? QStringLiteral("/")
                                        : written.left(slash);
    const QString canonicalFolder = QFileInfo(folder).canonicalFilePath();
    if (canonicalFolder.isEmpty())
        return QString();
    const QString separator =
        canonicalFolder.endsWith(QLatin1Char('/')) ? QString() : QStringLiteral("/");
    return canonicalFolder + separator + written.mid(slash + 1);
}

bool isSameOrInside(const QString &path, const QString &folder)
{
    if (path.compare(folder, pathCase()) == 0)
        return true;
    const QString prefix = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    return path.startsWith(prefix, pathCase());
}

QString problemText(ReportPathProblem problem)
{
    switch (problem) {
    case ReportPathProblem::None:
        break;
    case ReportPathProblem::FolderMissing:
        return QStringLiteral("保存报告的文件夹不存在。");
    case ReportPathProblem::NotRegularFile:
        return QStringLiteral("该路径上是链接、文件夹或设备等，不是普通文件，报告不会覆盖它。");
    case ReportPathProblem::InsideMaster:
        return QStringLiteral("该路径位于被检测的送审母版内，报告不能写入送审母版。");
    case ReportPathProblem::InputFile:
        return QStringLiteral("该路径是本次检测的设置文件或标签文件，报告不会覆盖它。");
    case ReportPathProblem::NotAReport:
        return QStringLiteral("该路径上已有一个不是检测报告的文件，报告不会覆盖它。");
    }
    return QString();
}
} // namespace

ReportPathProblem reportPathProblem(const QString &path, const ReportGuard &guard)
{
    const QFileInfo info(path);
    // A link is refused even when it leads to a report: the rename would replace the link, not
    // the file it names.
    if (info.isSymLink() || (info.exists() && !info.isFile()))
        return ReportPathProblem::NotRegularFile;
    const QString resolved = resolvedPath(path);
    if (resolved.isEmpty())
        return ReportPathProblem::FolderMissing;
    for (const QString &root : guard.masterRoots) {
        const QString canonicalRoot = QFileInfo(root).canonicalFilePath();
        if (!canonicalRoot.isEmpty() && isSameOrInside(resolved, canonicalRoot))
            return ReportPathProblem::InsideMaster;
    }
    for (const QString &file : guard.inputFiles) {
        if (!file.isEmpty() && resolvedPath(file).compare(resolved, pathCase()) == 0)
            return ReportPathProblem::InputFile;
    }
    if (info.exists() && !isComplianceReport(path))
        return ReportPathProblem::NotAReport;
    return ReportPathProblem::None;
}

bool isComplianceReport(const QString &path)
{
    if (!QFileInfo(path).isFile())
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // The writer puts the document information right after the header.
    const QByteArray head = file.read(16 * 1024);
    return head.startsWith("%PDF-") && head.contains(pdfTextString(reportTitle()));
}

bool writeComplianceReport(const QString &path, const QStringList &cellTexts,
                           const DcpInspector &inspector, QString *errorMessage,
                           const ReportGuard &guard)
{
    QString ignored;
    QString &message = errorMessage ? *errorMessage : ignored;
    message.clear();

    // Text cannot be laid out without the GUI application's font database.
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        message =
            failure(path, QStringLiteral("没有可用的字体数据库（程序未创建 QGuiApplication）。"));
        return false;
    }

    ReportGuard fullGuard = guard;
    for (const QString &root : inspector.removableDrives)
        fullGuard.masterRoots << root;
    if (!inspector.masterFolder.isEmpty())
        fullGuard.masterRoots << inspector.masterFolder;
    fullGuard.inputFiles << inspector.settings.path;
    const ReportPathProblem problem = reportPathProblem(path, fullGuard);
    if (problem != ReportPathProblem::None) {
        message = failure(path, problemText(problem));
        return false;
    }
    installCjkFontSubstitutions();

    // Written where it was judged to go.
    QSaveFile file(resolvedPath(path));
    if (!file.open(QIODevice::WriteOnly)) {
        message = failure(path, file.errorString());
        return false;
    }

    bool painted = false;
    {
        QPdfWriter writer(&file);
        writer.setTitle(reportTitle());
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setResolution(300);
        writer.setPageMargins(kPageMargins);

        QPainter painter;
        if (painter.begin(&writer)) {
            const ReportFonts fonts;
            const int w = painter.viewport().width();
            paintFirstPage(painter, fonts, cellTexts, inspector, w);
            writer.newPage();
            paintSecondPage(painter, fonts, inspector, w);
            painted = painter.end();
        }
    }

    // The temporary file goes away unless everything reached it; the target is untouched then.
    if (!painted) {
        file.cancelWriting();
        message = failure(path, QStringLiteral("报告未能完整写入。"));
        return false;
    }
    if (!file.commit()) {
        message = failure(path, file.errorString());
        return false;
    }
    return true;
}
