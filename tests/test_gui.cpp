// The windows driven as the operator drives them: buttons are clicked, warning boxes and the
// label dialog are answered from the test, and the check list is read back with its colours.
#include "app/MainWindow.h"
#include "dcp/DcpInspector.h"
#include "dcp/RunEnvironment.h"
#include "report/FontSetup.h"
#include "run/CheckList.h"
#include "run/HashThread.h"
#include "support/FakeVolumeService.h"
#include "support/FixtureBuilder.h"
#include "support/GuiTestHelpers.h"
#include "ui/DlgCheckLable.h"
#include "ui/FormUdiskCheck.h"

#include <QtTest>
#include <QtWidgets>

#include <algorithm>
#include <memory>

// Qt 5.15's offscreen platform never frees the screen it creates with the application object.
// Full stacks let the suppression find the platform's creation among the frames.
extern "C" const char *__asan_default_options()
{
    return "fast_unwind_on_malloc=0";
}

extern "C" const char *__lsan_default_suppressions()
{
    return "leak:QGuiApplicationPrivate::createPlatformIntegration\n";
}

namespace {

const QColor kGreen(0, 255, 0, 255);
const QColor kRed(255, 0, 0, 255);
const QColor kBlue(0, 0, 255, 255);
const int kResultColumn = 2;
const int kRows = 29;
const int kRunTimeoutMs = 60000;
const QString kCertificate = QStringLiteral("SM.TEST-SERVER");

QString passText()
{
    return QStringLiteral("符合");
}

QString failText()
{
    return QStringLiteral("不符合");
}

QString notApplicableText()
{
    return QStringLiteral("———");
}

QStringList gQtWarnings;
QtMessageHandler gPreviousHandler = nullptr;

void recordQtMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    // Without a window manager (offscreen, or the bare X server of the screenshots) size hints
    // and focus requests go nowhere; nothing to mend in the windows.
    const bool noWindowManager = message.contains(QLatin1String("propagateSizeHints")) ||
                                 message.startsWith(QLatin1String("QXcbConnection: XCB error"));
    if ((type == QtWarningMsg || type == QtCriticalMsg) && !noWindowManager)
        gQtWarnings << message;
    if (gPreviousHandler)
        gPreviousHandler(type, context, message);
}

template <typename T> T *child(QWidget *parent, const char *name)
{
    T *widget = parent->findChild<T *>(QString::fromLatin1(name));
    if (!widget)
        qWarning("no child %s", name);
    return widget;
}

void click(QWidget *parent, const char *name)
{
    auto *button = child<QAbstractButton>(parent, name);
    if (button)
        QTest::mouseClick(button, Qt::LeftButton);
}

// Processes events until condition holds, looking after every short slice: the tests that
// act during hashing must not let the worker's verdict through while they wait.
template <typename Condition> bool processUntil(Condition condition, int timeoutMs = kRunTimeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// Types text into a focused editor the way an input method commits it (Chinese included).
void typeText(QWidget *editor, const QString &text)
{
    editor->setFocus();
    QInputMethodEvent event;
    event.setCommitString(text);
    QApplication::sendEvent(editor, &event);
}

// Shows and paints a window at once, so that the first paint (fonts loaded and all) does not
// hold up the event loop later, while a worker hashes.
void paintNow(QWidget *window)
{
    window->show();
    if (!QTest::qWaitForWindowExposed(window))
        qWarning("window not exposed");
    window->repaint();
    QCoreApplication::processEvents();
}

QString resultText(FormUdiskCheck &form, int row)
{
    return form.checkListModel()->index(row, kResultColumn).data().toString();
}

struct LabelAnswers
{
    QString filmName = QStringLiteral("建国大业");
    QString color = QStringLiteral("XYZ");
    QString audio = QStringLiteral("5.1");
    QString producer = QStringLiteral("北京电影制片厂");
    QString diskInterface = QStringLiteral("USB3.0");
};

void fillLabelDialog(QWidget *dialog, const LabelAnswers &answers)
{
    child<QLineEdit>(dialog, "editFilmName")->setText(answers.filmName);
    child<QComboBox>(dialog, "cbColor")->setCurrentText(answers.color);
    child<QComboBox>(dialog, "cbAudio")->setCurrentText(answers.audio);
    child<QLineEdit>(dialog, "editProducer")->setText(answers.producer);
    child<QComboBox>(dialog, "cbUsb")->setCurrentText(answers.diskInterface);
}

// The expected result column: every listed row passes, the failed row (if any) fails, the rest
// is blank. The stereoscopic row of a flat composition and the carrier header are special.
QStringList expectedResults(const QList<int> &passRows, int failRow = -1, bool encrypted = true)
{
    QStringList texts;
    for (int row = 0; row < kRows; ++row)
        texts << QString();
    for (int row : passRows)
        texts[row] = row == CheckRow::Stereoscopic ? notApplicableText() : passText();
    if (!encrypted && passRows.contains(CheckRow::KdmHeader)) {
        texts[CheckRow::KdmHeader] = QStringLiteral("符合(未加密DCP)");
        texts[CheckRow::KdmId] = notApplicableText();
        texts[CheckRow::KdmNamespace] = notApplicableText();
    }
    if (failRow >= 0)
        texts[failRow] = failText();
    return texts;
}

QList<int> rowsUpTo(int lastRow, const QList<int> &except = {})
{
    // Rows in the order in which a run judges them.
    const QList<int> order = {2,  4,  5,  6,  7,  10, 11, 12, 9,  14, 15, 16, 17, 18, 19,
                              13, 21, 22, 23, 24, 25, 20, 8,  27, 28, 26, 1,  3,  0};
    QList<int> rows;
    for (int row : order) {
        if (!except.contains(row))
            rows << row;
        if (row == lastRow)
            break;
    }
    return rows;
}

void verifyResults(FormUdiskCheck &form, const QStringList &expected)
{
    QStandardItemModel *model = form.checkListModel();
    for (int row = 0; row < kRows; ++row) {
        const QString text = resultText(form, row);
        QVERIFY2(text == expected.at(row), qPrintable(QStringLiteral("row %1: '%2', expected '%3'")
                                                          .arg(row)
                                                          .arg(text, expected.at(row))));
        const QColor color = cellColor(model, row, kResultColumn);
        if (text.isEmpty()) {
            QVERIFY2(!color.isValid(), qPrintable(QStringLiteral("row %1 has a colour").arg(row)));
            continue;
        }
        QCOMPARE(color, text == failText() ? kRed : kGreen);
        QStandardItem *item = model->item(row, kResultColumn);
        QCOMPARE(int(item->textAlignment()), int(Qt::AlignCenter));
        QCOMPARE(item->foreground().style(), Qt::SolidPattern);
    }
}

enum class Flaw {
    NoDisk,
    NotNtfs,
    TwoVolumes,
    NoAssetMap,
    AssetMapNamespace,
    HashMismatch,
    CplTrackHash,
    KdmNamespace,
    FilmNameNotChinese,
    Usb2
};

} // namespace

Q_DECLARE_METATYPE(Flaw)

class TestGui : public QObject
{
    Q_OBJECT

public slots:
    // Stands in for the desktop's PDF viewer.
    void recordOpenedUrl(const QUrl &url) { m_openedUrls << url; }

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void startWindowForm_data();
    void startWindowForm();
    void startWindowStacking();
    void startButtonOpensCheckWindow();
    void exitButtonEndsApplication();

    void checkWindowInitialState();
    void windowsCannotGrow_data();
    void windowsCannotGrow();
    void labelsShowTheirWholeText_data();
    void labelsShowTheirWholeText();
    void cellsAreNotEditableAndClicksSelectRows();

    void dialogForm();
    void dialogPrefill();
    void dialogValidationOrder_data();
    void dialogValidationOrder();
    void dialogRefusalKeepsTypedValues();
    void dialogStoresTextsAsTyped();

    void fullPassWithHashing();
    void failingRun_data();
    void failingRun();
    void closingDialogEndsRunSilently();
    void secondRunStartsBlank();
    void newRunDuringHashingIgnoresOldWorker();
    void reportFailureIsToldAndNotOpened();
    void closingCheckWindowWhileHashingEndsCleanly();

    // Not a check: tools/screenshots.sh runs it on a real X server to picture the windows.
    void screenshots();

private:
    void writeSettings(int hashCheck);
    BuiltMaster writeMaster(Flaw flaw);
    BuiltMaster writeBigMaster();

    std::unique_ptr<QTemporaryDir> m_work;
    std::unique_ptr<FakeVolumeService> m_volumes;
    QString m_diskRoot;
    QList<QUrl> m_openedUrls;
};

void TestGui::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QLocale::setDefault(QLocale::c());
    installCjkFontSubstitutions();
    // The usual desktop size, not the offscreen platform's larger default.
    QFont font = QApplication::font();
    font.setPointSize(9);
    QApplication::setFont(font);
    gPreviousHandler = qInstallMessageHandler(recordQtMessage);
    QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "recordOpenedUrl");
    setCurrentLocalDateOverride(QDate(2024, 3, 5));
}

void TestGui::init()
{
    gQtWarnings.clear();
    m_openedUrls.clear();
    m_work = std::make_unique<QTemporaryDir>();
    QVERIFY(m_work->isValid());
    m_diskRoot = m_work->filePath(QStringLiteral("disk"));
    QVERIFY(QDir().mkpath(m_diskRoot));
    m_volumes = std::make_unique<FakeVolumeService>(FakeVolumeService::usbDisk(m_diskRoot));
    writeSettings(0);
}

void TestGui::cleanup()
{
    m_volumes.reset();
    m_work.reset();
    setSettingsFilePath(QString());
    QVERIFY2(QApplication::topLevelWidgets().isEmpty() ||
                 std::none_of(QApplication::topLevelWidgets().cbegin(),
                              QApplication::topLevelWidgets().cend(),
                              [](QWidget *w) { return w->isVisible(); }),
             "a window was left open");
    QVERIFY2(gQtWarnings.isEmpty(), qPrintable(gQtWarnings.join(QLatin1Char('\n'))));
}

void TestGui::cleanupTestCase()
{
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    qInstallMessageHandler(gPreviousHandler);
}

void TestGui::writeSettings(int hashCheck)
{
    const QString path = m_work->filePath(QStringLiteral("set.ini"));
    FixtureBuilder::writeSettings(path, hashCheck, {kCertificate});
    setSettingsFilePath(path);
}

BuiltMaster TestGui::writeMaster(Flaw flaw)
{
    MasterSpec spec;
    spec.encrypted = true;
    KdmSpec kdm;
    switch (flaw) {
    case Flaw::NoDisk:
        m_volumes->volumes.clear();
        break;
    case Flaw::NotNtfs:
        m_volumes->volumes[0].fileSystem = QStringLiteral("exFAT");
        break;
    case Flaw::TwoVolumes: {
        FakeVolumeService::Volume second = m_volumes->volumes[0];
        second.root = m_work->filePath(QStringLiteral("second/"));
        m_volumes->volumes << second;
        break;
    }
    case Flaw::NoAssetMap:
        return BuiltMaster();
    case Flaw::AssetMapNamespace:
        spec.assetMapNamespace = QStringLiteral("http://example.org/schemas/ASSETMAP");
        break;
    case Flaw::HashMismatch:
        spec.wrongPklHash = true;
        writeSettings(1);
        break;
    case Flaw::CplTrackHash:
        spec.wrongCplHash = true;
        break;
    case Flaw::KdmNamespace:
        kdm.namespaceUri = QStringLiteral("http://example.org/schemas/KDM");
        break;
    case Flaw::FilmNameNotChinese:
    case Flaw::Usb2:
        break;
    }
    FixtureBuilder builder(m_diskRoot);
    const BuiltMaster master = builder.writeMaster(spec);
    builder.writeKdm(master, kdm);
    return master;
}

BuiltMaster TestGui::writeBigMaster()
{
    // Large enough that hashing is still going on when the test acts on its first progress.
    MasterSpec spec;
    spec.reelDurations = {240, 240};
    spec.trackBytes = 48 * 1024 * 1024;
    FixtureBuilder builder(m_diskRoot);
    return builder.writeMaster(spec);
}

// ---- start window

void TestGui::startWindowForm_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<int>("pointSize");
    QTest::addColumn<int>("alignment");
    QTest::addColumn<QString>("text");

    const auto rich = [](const char *body) -> QString {
        return QStringLiteral("<html><head/><body><p>") + QString::fromUtf8(body) +
               QStringLiteral("</p></body></html>");
    };
    const int top = Qt::AlignLeft | Qt::AlignTop;
    const int middle = Qt::AlignLeft | Qt::AlignVCenter;
    QTest::newRow("btnStart") << "btnStart" << QRect(220, 490, 151, 31) << 0 << 0
                              << QStringLiteral("知道了，开始吧");
    QTest::newRow("btnExit") << "btnExit" << QRect(450, 490, 75, 31) << 0 << 0
                             << QStringLiteral("退出");
    QTest::newRow("label_2") << "label_2" << QRect(350, 60, 71, 41) << 14 << int(Qt::AlignCenter)
                             << QStringLiteral("声明");
    QTest::newRow("label_3") << "label_3" << QRect(130, 130, 581, 31) << 11 << top
                             << rich("《Tavimor》仅用于数字电影送审母版(DCP)及");
    QTest::newRow("label_4") << "label_4" << QRect(100, 150, 621, 41) << 11 << middle
                             << rich("其载体在送审之前的符合性检测，不用于其它用途。");
    QTest::newRow("label_5") << "label_5" << QRect(130, 210, 581, 31) << 11 << top
                             << rich("《Tavimor》对数字电影送审母版(DCP)及其载");
    QTest::newRow("label_6")
        << "label_6" << QRect(100, 230, 621, 41) << 11 << middle
        << rich("体的检测内容和检测方法依照《数字电影送审母版制作要求与流程规范》之规定。");
    QTest::newRow("label_7") << "label_7" << QRect(130, 290, 581, 31) << 11 << top
                             << rich("《Tavimor》的获得方式和使用权请严格按");
    QTest::newRow("label_8") << "label_8" << QRect(100, 310, 621, 41) << 11 << middle
                             << rich("照电影相关管理部门的管理要求。");
    QTest::newRow("label_9") << "label_9" << QRect(130, 370, 581, 31) << 11 << top
                             << rich("《Tavimor》由其开发团队编写与维护，检测结果仅供");
    QTest::newRow("label_10") << "label_10" << QRect(100, 390, 601, 41) << 11 << middle
                              << rich("送审前自查参考，最终结论以电影管理部门的审查为准。");
    QTest::newRow("plainTextEdit")
        << "plainTextEdit" << QRect(80, 50, 641, 401) << 0 << 0 << QString();
}

void TestGui::startWindowForm()
{
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    QFETCH(int, pointSize);
    QFETCH(int, alignment);
    QFETCH(QString, text);

    MainWindow window;
    QCOMPARE(window.objectName(), QStringLiteral("MainWindow"));
    QCOMPARE(window.windowTitle(), QStringLiteral("Tavimor(1.0)"));
    QCOMPARE(window.contextMenuPolicy(), Qt::NoContextMenu);
    QCOMPARE(window.toolButtonStyle(), Qt::ToolButtonTextOnly);
    QVERIFY(!window.isAnimated());

    QWidget *widget = window.findChild<QWidget *>(name);
    QVERIFY(widget);
    QCOMPARE(widget->parentWidget(), window.centralWidget());
    QCOMPARE(widget->geometry(), geometry);
    if (auto *label = qobject_cast<QLabel *>(widget)) {
        QCOMPARE(label->text(), text);
        QCOMPARE(int(label->alignment()), alignment);
        QCOMPARE(label->font().family(), QStringLiteral("幼圆"));
        QCOMPARE(label->font().pointSize(), pointSize);
        QVERIFY(label->font().bold());
    } else if (auto *button = qobject_cast<QPushButton *>(widget)) {
        QCOMPARE(button->text(), text);
    } else {
        auto *edit = qobject_cast<QPlainTextEdit *>(widget);
        QVERIFY(edit);
        QVERIFY(edit->toPlainText().isEmpty());
        QVERIFY(!edit->isReadOnly());
    }
}

void TestGui::startWindowStacking()
{
    MainWindow window;
    // Children are kept bottom to top: the empty text box frames the notice from beneath.
    QStringList names;
    for (QObject *object : window.centralWidget()->children()) {
        if (object->isWidgetType())
            names << object->objectName();
    }
    const QStringList expected = {
        QStringLiteral("plainTextEdit"), QStringLiteral("btnStart"), QStringLiteral("btnExit"),
        QStringLiteral("label_2"),       QStringLiteral("label_3"),  QStringLiteral("label_4"),
        QStringLiteral("label_5"),       QStringLiteral("label_6"),  QStringLiteral("label_7"),
        QStringLiteral("label_8"),       QStringLiteral("label_9"),  QStringLiteral("label_10")};
    QCOMPARE(names, expected);
    QVERIFY(window.menuBar());
    QCOMPARE(window.menuBar()->objectName(), QStringLiteral("menuBar"));
    QVERIFY(window.menuBar()->actions().isEmpty());
    QCOMPARE(window.statusBar()->objectName(), QStringLiteral("statusBar"));
}

void TestGui::startButtonOpensCheckWindow()
{
    MainWindow window;
    window.show();
    click(&window, "btnStart");

    FormUdiskCheck *form = nullptr;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *candidate = qobject_cast<FormUdiskCheck *>(widget))
            form = candidate;
    }
    QVERIFY(form);
    const std::unique_ptr<FormUdiskCheck> owner(form);
    QVERIFY(!form->parent());
    QVERIFY(form->isVisible());
    QVERIFY(!window.isVisible());
    QCOMPARE(form->checkListModel()->rowCount(), kRows);
    form->close();
    QVERIFY(!window.isVisible());
}

void TestGui::exitButtonEndsApplication()
{
    MainWindow window;
    window.show();
    QTimer::singleShot(0, &window, [&window] { click(&window, "btnExit"); });
    // The start window is the last visible window: closing it ends the event loop with 0.
    QCOMPARE(QApplication::exec(), 0);
    QVERIFY(!window.isVisible());
    for (QWidget *widget : QApplication::topLevelWidgets())
        QVERIFY(!qobject_cast<FormUdiskCheck *>(widget));
}

// ---- check window

void TestGui::checkWindowInitialState()
{
    FormUdiskCheck form;
    QCOMPARE(form.objectName(), QStringLiteral("FormUdiskCheck"));
    QCOMPARE(form.windowTitle(), QStringLiteral("Tavimor"));

    auto *label = child<QLabel>(&form, "label");
    QCOMPARE(label->geometry(), QRect(50, 20, 351, 51));
    QCOMPARE(label->text(),
             QStringLiteral("<html><head/><body><p>请确保<span style=\" font-weight:600; "
                            "text-decoration: underline;\">仅有</span>被检测移动硬盘接入电脑后，"
                            "点击《符合性检测》按钮<span style=\" "
                            "font-weight:600;\">。</span><br/></p></body></html>"));
    auto *run = child<QPushButton>(&form, "btnMasterCheck");
    auto *report = child<QPushButton>(&form, "btnReport");
    auto *exit = child<QPushButton>(&form, "btnExit");
    QCOMPARE(run->geometry(), QRect(570, 20, 171, 31));
    QCOMPARE(run->text(), QStringLiteral("符合性检测"));
    QCOMPARE(report->geometry(), QRect(280, 700, 151, 31));
    QCOMPARE(report->text(), QStringLiteral("生成符合性检测报告"));
    QCOMPARE(exit->geometry(), QRect(630, 700, 81, 31));
    QCOMPARE(exit->text(), QStringLiteral("退出"));
    QVERIFY(run->isEnabled());
    QVERIFY(!report->isEnabled());
    QVERIFY(exit->isEnabled());

    auto *view = child<QTableView>(&form, "tvCheckList");
    QCOMPARE(view->geometry(), QRect(50, 60, 691, 621));
    QCOMPARE(view->model(), form.checkListModel());
    QVERIFY(view->verticalHeader()->isHidden());
    QCOMPARE(view->horizontalHeader()->styleSheet(),
             QStringLiteral("QHeaderView::section{color:blue}"));
    QCOMPARE(view->columnWidth(0), 150);
    QCOMPARE(view->columnWidth(1), 300);
    QCOMPARE(view->columnWidth(2), 200);

    QStandardItemModel *model = form.checkListModel();
    QCOMPARE(model->columnCount(), 3);
    QCOMPARE(model->headerData(0, Qt::Horizontal).toString(), QStringLiteral("序号"));
    QCOMPARE(model->headerData(1, Qt::Horizontal).toString(), QStringLiteral("检测项"));
    QCOMPARE(model->headerData(2, Qt::Horizontal).toString(), QStringLiteral("检测结果"));

    const char *const rows[kRows][2] = {
        {"A.2", "载体符合性检测"},
        {"-a)", "硬盘标签检测"},
        {"-b)", "物理损坏检测"},
        {"-c)", "硬盘接口检测"},
        {"-d)", "文件系统检测"},
        {"-e)", "硬盘分区检测"},
        {"-f)", "DCP和KDM检测"},
        {"-g)", "DCP命名规范检测"},
        {"A.3", "DCP符合性检测"},
        {"-A.3.1", "ASSETMAP检测"},
        {"--a)", "ASSETMAP文件有无检测"},
        {"--b)", "命名空间检测"},
        {"--c)", "路径一致检测"},
        {"-A.3.2", "PKL检测"},
        {"--a)", "PKL文件UUID列出检测"},
        {"--b)", "命名空间检测"},
        {"--c)", "AnnotationText元素值检测"},
        {"--d)", "资产文件UUID一致性检测"},
        {"--e)", "HASH值一致性检测"},
        {"--f)", "GroupID元素检测"},
        {"-A.3.3", "CPL检测"},
        {"--a)", "CPL文件UUID列出检测"},
        {"--b)", "命名空间检测"},
        {"--c)", "ContentTitleText元素值检测"},
        {"--d)", "HASH值一致性检测"},
        {"--e)", "MainSterescopicPicture元素检测"},
        {"A.4", "KDM符合性检测"},
        {"-a)", "UUID一致性检测"},
        {"-b)", "命名空间检测"},
    };
    QCOMPARE(model->rowCount(), kRows);
    for (int row = 0; row < kRows; ++row) {
        QCOMPARE(model->item(row, 0)->text(), QString::fromUtf8(rows[row][0]));
        QCOMPARE(model->item(row, 1)->text(), QString::fromUtf8(rows[row][1]));
        // Catalogue cells carry nothing but their text.
        QVERIFY(!model->item(row, 1)->data(Qt::ForegroundRole).isValid());
        QVERIFY(!model->item(row, 1)->data(Qt::TextAlignmentRole).isValid());
        QVERIFY(!model->item(row, kResultColumn));
    }
}

void TestGui::windowsCannotGrow_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QSize>("size");
    QTest::newRow("start window") << "MainWindow" << QSize(800, 600);
    QTest::newRow("check window") << "FormUdiskCheck" << QSize(800, 750);
    QTest::newRow("label dialog") << "DlgCheckLable" << QSize(830, 670);
}

void TestGui::windowsCannotGrow()
{
    QFETCH(QString, window);
    QFETCH(QSize, size);

    std::unique_ptr<QWidget> widget;
    if (window == QLatin1String("MainWindow"))
        widget = std::make_unique<MainWindow>();
    else if (window == QLatin1String("FormUdiskCheck"))
        widget = std::make_unique<FormUdiskCheck>();
    else
        widget = std::make_unique<DlgCheckLable>();
    widget->show();
    QCOMPARE(widget->size(), size);
    QCOMPARE(widget->maximumSize(), size);
    widget->resize(size + QSize(300, 200));
    QCOMPARE(widget->size(), size);
    if (window != QLatin1String("DlgCheckLable")) {
        QCOMPARE(widget->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
        QCOMPARE(widget->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
    }
    widget->close();
}

void TestGui::labelsShowTheirWholeText_data()
{
    windowsCannotGrow_data();
}

void TestGui::labelsShowTheirWholeText()
{
    QFETCH(QString, window);

    std::unique_ptr<QWidget> widget;
    if (window == QLatin1String("MainWindow"))
        widget = std::make_unique<MainWindow>();
    else if (window == QLatin1String("FormUdiskCheck"))
        widget = std::make_unique<FormUdiskCheck>();
    else
        widget = std::make_unique<DlgCheckLable>();
    // The forms were measured with the Windows fonts; with wider ones no text may be cut off
    // (our own attribution lines on the start window included).
    const QList<QLabel *> labels = widget->findChildren<QLabel *>();
    QVERIFY(!labels.isEmpty());
    for (const QLabel *label : labels) {
        QVERIFY2(label->sizeHint().width() <= label->width(),
                 qPrintable(QStringLiteral("%1: %2 > %3")
                                .arg(label->objectName())
                                .arg(label->sizeHint().width())
                                .arg(label->width())));
    }
}

void TestGui::cellsAreNotEditableAndClicksSelectRows()
{
    FormUdiskCheck form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    auto *view = child<QTableView>(&form, "tvCheckList");
    QStandardItemModel *model = form.checkListModel();

    const QModelIndex cell = model->index(4, 1);
    const QPoint centre = view->visualRect(cell).center();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, centre);
    const QModelIndexList selected = view->selectionModel()->selectedIndexes();
    QCOMPARE(selected.size(), 3);
    for (const QModelIndex &index : selected)
        QCOMPARE(index.row(), 4);

    QTest::mouseDClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, centre);
    QTest::keyClicks(view, QStringLiteral("xyz"));
    QTest::keyClick(view, Qt::Key_F2);
    QTest::keyClick(view, Qt::Key_Return);
    QVERIFY(!view->findChild<QLineEdit *>());
    QCOMPARE(model->item(4, 1)->text(), QStringLiteral("文件系统检测"));
    QCOMPARE(int(view->editTriggers()), int(QAbstractItemView::NoEditTriggers));
    form.close();
}

// ---- label dialog

void TestGui::dialogForm()
{
    DlgCheckLable dialog;
    QCOMPARE(dialog.objectName(), QStringLiteral("DlgCheckLable"));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Dialog"));
    QVERIFY(dialog.windowIcon().isNull());

    auto *interfaceBox = child<QGroupBox>(&dialog, "groupBox_2");
    auto *frame = child<QGroupBox>(&dialog, "groupBox");
    QCOMPARE(interfaceBox->geometry(), QRect(30, 150, 761, 71));
    QCOMPARE(interfaceBox->title(), QStringLiteral("请选择移动硬盘的接口"));
    QCOMPARE(frame->geometry(), QRect(30, 240, 761, 361));
    QCOMPARE(frame->title(), QStringLiteral("请补充完整以下相应的检查信息："));
    QCOMPARE(frame->font().family(), QStringLiteral("Agency FB"));
    QVERIFY(frame->font().bold());
    // The frame lies beneath every other widget of the dialog.
    QCOMPARE(dialog.findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly).first(),
             static_cast<QWidget *>(frame));

    auto *usb = child<QComboBox>(&dialog, "cbUsb");
    QCOMPARE(usb->parentWidget(), static_cast<QWidget *>(interfaceBox));
    QCOMPARE(usb->geometry(), QRect(120, 40, 321, 22));
    QCOMPARE(usb->font().family(), QStringLiteral("新宋体"));
    QVERIFY(usb->isEditable());
    QCOMPARE(usb->count(), 3);
    QCOMPARE(usb->itemText(2), QStringLiteral("USB3.0"));
    auto *usbLabel = child<QLabel>(&dialog, "label_9");
    QCOMPARE(usbLabel->parentWidget(), static_cast<QWidget *>(interfaceBox));
    QCOMPARE(usbLabel->text(), QStringLiteral("数据接口："));
    QVERIFY(!usbLabel->font().bold());

    // Name labels: right to left, right-aligned; some end in a blank after the colon.
    const QList<QPair<const char *, const char *>> names = {
        {"label_22", "CPL名称："},          {"label_2", "影片名称："},
        {"label_4", "KDM有效期： "},        {"label_6", "片长： "},
        {"label_12", "帧速率："},           {"label_8", "图像分辨率："},
        {"label_11", "图像宽高比："},       {"label_14", "色域： "},
        {"label_16", "声音制式："},         {"label_19", "送审日期："},
        {"label_20", "电影第一出品单位："}, {"label_9", "数据接口："}};
    for (const auto &name : names) {
        auto *label = child<QLabel>(&dialog, name.first);
        QCOMPARE(label->text(), QString::fromUtf8(name.second));
        QCOMPARE(label->layoutDirection(), Qt::RightToLeft);
        QCOMPARE(int(label->alignment()), int(Qt::AlignRight | Qt::AlignVCenter));
    }
    QCOMPARE(child<QLabel>(&dialog, "label_3")->text(),
             QStringLiteral("<html><head/><body><p><span style=\" "
                            "color:#0000ff;\">（简体中文）</span></p></body></html>"));
    QCOMPARE(child<QDateEdit>(&dialog, "editVetDate")->displayFormat(),
             QStringLiteral("yyyy-MM-dd"));
    QCOMPARE(child<QDateEdit>(&dialog, "editVetDate")->geometry(), QRect(150, 520, 321, 22));
    QCOMPARE(child<QPushButton>(&dialog, "pushButton")->text(), QStringLiteral("继续检测"));
    QCOMPARE(child<QPushButton>(&dialog, "pushButton")->geometry(), QRect(380, 620, 81, 31));

    const QStringList aspects = {QString(),
                                 QStringLiteral("1.85:1"),
                                 QStringLiteral("2.35:1"),
                                 QStringLiteral("2.39:1"),
                                 QStringLiteral("1.78:1"),
                                 QStringLiteral("1.77:1"),
                                 QStringLiteral("1.33:1")};
    auto *aspect = child<QComboBox>(&dialog, "cbAspect");
    QStringList items;
    for (int i = 0; i < aspect->count(); ++i)
        items << aspect->itemText(i);
    QCOMPARE(items, aspects);
    QCOMPARE(child<QComboBox>(&dialog, "cbAudio")->itemText(4), QStringLiteral("沉浸声"));
}

void TestGui::dialogPrefill()
{
    DcpInspector inspector;
    inspector.cplName = QStringLiteral("JianGuoDY_FTR_F-185_QMS_51_2K_ZY_20230101_SMPTE_OV");
    inspector.kdmDate = QStringLiteral("20230101-20230301");
    inspector.duration = QStringLiteral("91分钟27秒");
    inspector.resolution = QStringLiteral("1998*1080");
    inspector.aspect = QStringLiteral("1.90:1");
    inspector.frame = QStringLiteral("24fps");
    inspector.vetDate = QStringLiteral("20230301");
    // Fields the operator has to supply are not shown, even when the inspector holds them.
    inspector.filmName = QStringLiteral("旧片名");
    inspector.color = QStringLiteral("XYZ");
    inspector.producer = QStringLiteral("旧单位");
    inspector.diskInterface = QStringLiteral("USB3.0");

    DlgCheckLable dialog(nullptr, inspector);
    QCOMPARE(child<QLineEdit>(&dialog, "editDcpName")->text(), inspector.cplName);
    QCOMPARE(child<QLineEdit>(&dialog, "editKdmDate")->text(), inspector.kdmDate);
    QCOMPARE(child<QLineEdit>(&dialog, "editDuration")->text(), inspector.duration);
    QCOMPARE(child<QLineEdit>(&dialog, "editFrame")->text(), inspector.frame);
    QCOMPARE(child<QComboBox>(&dialog, "cbResolution")->currentText(), inspector.resolution);
    QCOMPARE(child<QComboBox>(&dialog, "cbAspect")->currentText(), inspector.aspect);
    QCOMPARE(child<QDateEdit>(&dialog, "editVetDate")->date(), QDate(2023, 3, 1));
    QCOMPARE(child<QDateEdit>(&dialog, "editVetDate")->text(), QStringLiteral("2023-03-01"));
    QVERIFY(child<QLineEdit>(&dialog, "editFilmName")->text().isEmpty());
    QVERIFY(child<QLineEdit>(&dialog, "editProducer")->text().isEmpty());
    for (const char *name : {"cbColor", "cbAudio", "cbUsb"}) {
        QCOMPARE(child<QComboBox>(&dialog, name)->currentIndex(), 0);
        QVERIFY(child<QComboBox>(&dialog, name)->currentText().isEmpty());
    }

    // An unreadable date leaves the editor on its own default.
    inspector.vetDate = QStringLiteral("2023-03-01");
    DlgCheckLable other(nullptr, inspector);
    QCOMPARE(child<QDateEdit>(&other, "editVetDate")->date(), QDate(2000, 1, 1));
}

void TestGui::dialogValidationOrder_data()
{
    // Fields are filled in the order of the validation; the first one left empty is reported.
    QTest::addColumn<int>("filled");
    QTest::addColumn<QString>("message");
    const QStringList messages = {
        QStringLiteral("请选择移动硬盘接口!"), QStringLiteral("影片名称为空!"),
        QStringLiteral("KDM有效期为空!"),      QStringLiteral("片长为空!"),
        QStringLiteral("图像分辨率为空!"),     QStringLiteral("图像宽高比为空!"),
        QStringLiteral("帧速率为空!"),         QStringLiteral("色域为空!"),
        QStringLiteral("声音制式为空!"),       QStringLiteral("电影第一出品单位为空!")};
    for (int filled = 0; filled < messages.size(); ++filled)
        QTest::addRow("%d filled", filled) << filled << messages.at(filled);
    QTest::newRow("all filled") << int(messages.size()) << QString();
}

void TestGui::dialogValidationOrder()
{
    QFETCH(int, filled);
    QFETCH(QString, message);

    DcpInspector inspector;
    DlgCheckLable dialog(nullptr, inspector);
    dialog.show();
    // A blank is a value: the dialog only refuses fields of length 0.
    const QList<std::function<void()>> fill = {
        [&] { child<QComboBox>(&dialog, "cbUsb")->setCurrentIndex(1); },
        [&] { child<QLineEdit>(&dialog, "editFilmName")->setText(QStringLiteral(" ")); },
        [&] { child<QLineEdit>(&dialog, "editKdmDate")->setText(QStringLiteral("x")); },
        [&] { child<QLineEdit>(&dialog, "editDuration")->setText(QStringLiteral("x")); },
        [&] { child<QComboBox>(&dialog, "cbResolution")->setCurrentIndex(2); },
        [&] { child<QComboBox>(&dialog, "cbAspect")->setCurrentText(QStringLiteral(" ")); },
        [&] { child<QLineEdit>(&dialog, "editFrame")->setText(QStringLiteral("x")); },
        [&] { child<QComboBox>(&dialog, "cbColor")->setCurrentIndex(1); },
        [&] { child<QComboBox>(&dialog, "cbAudio")->setCurrentIndex(4); },
        [&] { child<QLineEdit>(&dialog, "editProducer")->setText(QStringLiteral("x")); },
    };
    for (int i = 0; i < filled; ++i)
        fill.at(i)();

    ModalScript script;
    if (!message.isEmpty())
        script.thenAcceptWarning();
    click(&dialog, "pushButton");
    QTRY_VERIFY(script.finished());
    QTRY_VERIFY(!QApplication::activeModalWidget());
    QVERIFY2(script.unexpected().isEmpty(),
             qPrintable(script.unexpected().join(QLatin1Char('\n'))));

    if (message.isEmpty()) {
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(!dialog.isVisible());
        QCOMPARE(inspector.filmName, QStringLiteral(" "));
        QCOMPARE(inspector.audio, QStringLiteral("沉浸声"));
        return;
    }
    QCOMPARE(script.warnings().size(), 1);
    QCOMPARE(script.warnings().first().title, QStringLiteral("提示"));
    QCOMPARE(script.warnings().first().text, message);
    QCOMPARE(script.warnings().first().parent, static_cast<QWidget *>(&dialog));
    QVERIFY(dialog.isVisible());
    dialog.close();
}

void TestGui::dialogRefusalKeepsTypedValues()
{
    DcpInspector inspector;
    inspector.kdmDate = QStringLiteral("20230101-20230301");
    DlgCheckLable dialog(nullptr, inspector);

    ModalScript script;
    script.thenAcceptWarning().then([](QWidget *modal) {
        // Back in the dialog after the warning: everything typed is still there.
        QCOMPARE(child<QLineEdit>(modal, "editFilmName")->text(), QStringLiteral("长津湖"));
        QCOMPARE(child<QLineEdit>(modal, "editProducer")->text(), QStringLiteral("八一厂"));
        child<QComboBox>(modal, "cbUsb")->setCurrentText(QStringLiteral("USB3.0"));
        click(modal, "pushButton");
    });
    script.thenAcceptWarning().then([](QWidget *modal) {
        QCOMPARE(child<QLineEdit>(modal, "editFilmName")->text(), QStringLiteral("长津湖"));
        qobject_cast<QDialog *>(modal)->reject();
    });
    QTimer::singleShot(0, &dialog, [&dialog] {
        typeText(child<QLineEdit>(&dialog, "editFilmName"), QStringLiteral("长津湖"));
        typeText(child<QLineEdit>(&dialog, "editProducer"), QStringLiteral("八一厂"));
        click(&dialog, "pushButton");
    });
    QCOMPARE(dialog.exec(), int(QDialog::Rejected));
    QVERIFY(script.finished());
    QVERIFY(script.unexpected().isEmpty());
    QCOMPARE(script.warnings().size(), 2);
    QCOMPARE(script.warnings().at(0).text, QStringLiteral("请选择移动硬盘接口!"));
    QCOMPARE(script.warnings().at(1).text, QStringLiteral("片长为空!"));
    // The values stored by the refused presses stay with the inspector.
    QCOMPARE(inspector.filmName, QStringLiteral("长津湖"));
    QCOMPARE(inspector.diskInterface, QStringLiteral("USB3.0"));
}

void TestGui::dialogStoresTextsAsTyped()
{
    DcpInspector inspector;
    inspector.cplName = QStringLiteral("TITLE_OV");
    inspector.kdmDate = QStringLiteral("-");
    inspector.duration = QStringLiteral("1分钟0秒");
    inspector.resolution = QStringLiteral("2048*1080");
    inspector.aspect = QStringLiteral("1.85:1");
    inspector.frame = QStringLiteral("24fps");
    inspector.vetDate = QStringLiteral("20230301");
    DlgCheckLable dialog(nullptr, inspector);
    dialog.show();

    auto *name = child<QLineEdit>(&dialog, "editDcpName");
    name->selectAll();
    QTest::keyClicks(name, QStringLiteral("EDITED"));
    auto *audio = child<QComboBox>(&dialog, "cbAudio");
    QTest::keyClicks(audio->lineEdit(), QStringLiteral("9.1 "));
    typeText(audio->lineEdit(), QStringLiteral("全景声"));
    auto *usb = child<QComboBox>(&dialog, "cbUsb");
    QTest::keyClicks(usb->lineEdit(), QStringLiteral("usb3.0 "));
    child<QLineEdit>(&dialog, "editFilmName")->setText(QStringLiteral(" 长津湖 "));
    child<QComboBox>(&dialog, "cbColor")->setCurrentIndex(2);
    child<QLineEdit>(&dialog, "editProducer")->setText(QStringLiteral("x"));
    click(&dialog, "pushButton");

    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(inspector.cplName, QStringLiteral("TITLE_OV"));
    QCOMPARE(inspector.audio, QStringLiteral("9.1 全景声"));
    QCOMPARE(inspector.diskInterface, QStringLiteral("usb3.0 "));
    QCOMPARE(inspector.filmName, QStringLiteral(" 长津湖 "));
    QCOMPARE(inspector.color, QStringLiteral("709"));
    QCOMPARE(inspector.vetDate, QStringLiteral("20230301"));
    QCOMPARE(inspector.kdmDate, QStringLiteral("-"));
}

// ---- check runs

void TestGui::fullPassWithHashing()
{
    writeSettings(1);
    MasterSpec spec;
    spec.encrypted = true;
    spec.trackBytes = 60000;
    FixtureBuilder builder(m_diskRoot);
    const BuiltMaster master = builder.writeMaster(spec);
    builder.writeKdm(master);

    FormUdiskCheck form;
    form.show();
    ColumnRecorder recorder(form.checkListModel(), kResultColumn);
    QSignalSpy ended(&form, &FormUdiskCheck::checkRunEnded);

    ModalScript script;
    script.then([&](QWidget *modal) {
        auto *dialog = qobject_cast<DlgCheckLable *>(modal);
        QVERIFY(dialog);
        QCOMPARE(dialog->parentWidget(), static_cast<QWidget *>(&form));
        QCOMPARE(dialog->windowTitle(), QStringLiteral("数字电影送审母版信息"));
        QCOMPARE(child<QLineEdit>(dialog, "editDcpName")->text(), master.title);
        QCOMPARE(child<QLineEdit>(dialog, "editKdmDate")->text(),
                 QStringLiteral("20230101-20990301"));
        QCOMPARE(child<QLineEdit>(dialog, "editDuration")->text(), QStringLiteral("0分钟10秒"));
        QCOMPARE(child<QLineEdit>(dialog, "editFrame")->text(), QStringLiteral("24fps"));
        QCOMPARE(child<QComboBox>(dialog, "cbResolution")->currentText(),
                 QStringLiteral("1998*1080"));
        QCOMPARE(child<QComboBox>(dialog, "cbAspect")->currentText(), QStringLiteral("1.85:1"));
        QCOMPARE(child<QDateEdit>(dialog, "editVetDate")->date(), QDate(2024, 3, 5));
        fillLabelDialog(dialog, LabelAnswers());
        click(dialog, "pushButton");
    });

    click(&form, "btnMasterCheck");
    // The worker reports later: until its first message the window shows it is busy.
    QCOMPARE(form.cursor().shape(), Qt::WaitCursor);
    QTRY_VERIFY_WITH_TIMEOUT(ended.count() == 1, kRunTimeoutMs);
    QVERIFY(script.finished());
    QVERIFY2(script.unexpected().isEmpty(),
             qPrintable(script.unexpected().join(QLatin1Char('\n'))));
    QVERIFY(script.warnings().isEmpty());
    QCOMPARE(ended.count(), 1);
    QCOMPARE(ended.first().first().toBool(), true);

    verifyResults(form, expectedResults(rowsUpTo(0)));
    QCOMPARE(form.cursor().shape(), Qt::ArrowCursor);
    QVERIFY(child<QPushButton>(&form, "btnReport")->isEnabled());
    QCOMPARE(gDcpInspector.filmName, QStringLiteral("建国大业"));
    QCOMPARE(gDcpInspector.vetDate, QStringLiteral("20240305"));

    // Row 18: the progress cell, the worker's percentages in blue, then the pass cell.
    const QVector<ColumnRecorder::Entry> hash = recorder.history(CheckRow::Hash);
    QVERIFY(hash.size() >= 4);
    QCOMPARE(hash.at(0).text, QString());
    QCOMPARE(hash.at(1).text, QStringLiteral("检测中......"));
    QCOMPARE(hash.at(1).color, kBlue);
    for (int i = 2; i < hash.size() - 1; ++i) {
        QVERIFY2(hash.at(i).text.endsWith(QLatin1Char('%')), qPrintable(hash.at(i).text));
        QCOMPARE(hash.at(i).color, kBlue);
    }
    QCOMPARE(hash.at(hash.size() - 2).text, QStringLiteral("100.00%"));
    QCOMPARE(hash.last().text, passText());

    // The report: a snapshot of all 87 cells, the PDF in the program's folder, then the viewer.
    const QString reportPath =
        QCoreApplication::applicationDirPath() + QStringLiteral("/VetMasterReport.pdf");
    QFile::remove(reportPath);
    click(&form, "btnReport");
    QCOMPARE(form.cellTexts.size(), 87);
    QCOMPARE(form.cellTexts.at(0), QStringLiteral("A.2"));
    QCOMPARE(form.cellTexts.at(3 * 25 + 1), QStringLiteral("MainSterescopicPicture元素检测"));
    QCOMPARE(form.cellTexts.at(3 * 18 + 2), passText());
    QCOMPARE(form.cellTexts.at(3 * 25 + 2), notApplicableText());
    QVERIFY2(script.unexpected().isEmpty(),
             qPrintable(script.unexpected().join(QLatin1Char('\n'))));
    QCOMPARE(m_openedUrls, QList<QUrl>{QUrl::fromLocalFile(reportPath)});
    QFile pdf(reportPath);
    QVERIFY(pdf.open(QIODevice::ReadOnly));
    QVERIFY(pdf.read(5).startsWith("%PDF"));
    pdf.close();
    QFile::remove(reportPath);
    form.close();
}

void TestGui::failingRun_data()
{
    QTest::addColumn<Flaw>("flaw");
    QTest::addColumn<int>("failRow");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("filmName");
    QTest::addColumn<QString>("diskInterface");

    const QString film = QStringLiteral("建国大业");
    const QString usb3 = QStringLiteral("USB3.0");
    // No dialog is expected when the film name column is empty.
    QTest::newRow("carrier: no USB disk")
        << Flaw::NoDisk << int(CheckRow::Physical)
        << QStringLiteral("未检查到移动硬盘，请确认移动硬盘已经接入电脑后，再进行检测!")
        << QString() << QString();
    QTest::newRow("carrier: not NTFS")
        << Flaw::NotNtfs << int(CheckRow::FileSystem)
        << QStringLiteral("移动硬盘不是NTFS文件系统格式，请确保移动硬盘为NTFS文件系统格式后，"
                          "再进行检测!")
        << QString() << QString();
    QTest::newRow("carrier: two volumes")
        << Flaw::TwoVolumes << int(CheckRow::Partition)
        << QStringLiteral("电脑上有多个移动硬盘或移动硬盘有多个分区，请确保电脑上只有一个移动硬盘"
                          "且移动硬盘只有一个分区后，再进行检测!")
        << QString() << QString();
    QTest::newRow("discovery: no asset map")
        << Flaw::NoAssetMap << int(CheckRow::DcpAndKdm)
        << QStringLiteral("未检查到送审母版的AssetMap文件，请确认移动硬盘内存入送审母版后，"
                          "再进行检测!")
        << QString() << QString();
    QTest::newRow("package: asset map namespace")
        << Flaw::AssetMapNamespace << int(CheckRow::AssetMapNamespace)
        << QStringLiteral("Assetmap文件中的命名空间不符合，请重新制作DCP后，再进行检测!")
        << QString() << QString();
    QTest::newRow("hash: ERR")
        << Flaw::HashMismatch << int(CheckRow::Hash)
        << QStringLiteral("文件Hash值与PKL文件中的Hash值不一致，请重新制作DCP后，再进行检测!")
        << QString() << QString();
    QTest::newRow("composition: track hash")
        << Flaw::CplTrackHash << int(CheckRow::CplTrackHashes)
        << QStringLiteral("Cpl文件中列出的MXF文件Hash值与计算所得Hash值不一致，请重新制作DCP后"
                          "，再进行检测!")
        << QString() << QString();
    QTest::newRow("KDM: namespace")
        << Flaw::KdmNamespace << int(CheckRow::KdmNamespace)
        << QStringLiteral("KDM文件中的命名空间不符合，请重新制作DCP后，再进行检测!") << QString()
        << QString();
    QTest::newRow("label: film name not Chinese")
        << Flaw::FilmNameNotChinese << int(CheckRow::Label)
        << QStringLiteral("影片名称未采用中文，请检查后再进行检测!") << QStringLiteral("JianGuo")
        << usb3;
    QTest::newRow("interface: USB2.0")
        << Flaw::Usb2 << int(CheckRow::Interface)
        << QStringLiteral("移动硬盘数据接口必须是USB3.0以上，请替换后再进行检测！") << film
        << QStringLiteral("USB2.0");
}

void TestGui::failingRun()
{
    QFETCH(Flaw, flaw);
    QFETCH(int, failRow);
    QFETCH(QString, message);
    QFETCH(QString, filmName);
    QFETCH(QString, diskInterface);

    writeMaster(flaw);
    FormUdiskCheck form;
    form.show();
    QSignalSpy ended(&form, &FormUdiskCheck::checkRunEnded);
    ModalScript script;
    if (!filmName.isEmpty()) {
        script.then([&](QWidget *modal) {
            LabelAnswers answers;
            answers.filmName = filmName;
            answers.diskInterface = diskInterface;
            fillLabelDialog(modal, answers);
            click(modal, "pushButton");
        });
    }
    script.thenAcceptWarning();

    click(&form, "btnMasterCheck");
    QTRY_VERIFY_WITH_TIMEOUT(ended.count() == 1, kRunTimeoutMs);
    QVERIFY(script.finished());
    QVERIFY2(script.unexpected().isEmpty(),
             qPrintable(script.unexpected().join(QLatin1Char('\n'))));
    QCOMPARE(ended.first().first().toBool(), false);
    QCOMPARE(script.warnings().size(), 1);
    const ModalScript::Warning warning = script.warnings().first();
    QCOMPARE(warning.title, QStringLiteral("提示"));
    QCOMPARE(warning.text, message);
    QCOMPARE(warning.parent, static_cast<QWidget *>(&form));
    QCOMPARE(warning.buttons, int(QMessageBox::Ok));

    // Rows passed up to the failed rule (the continuation marks the headers late), then blank.
    verifyResults(form, expectedResults(rowsUpTo(failRow, {failRow}), failRow));
    QVERIFY(!child<QPushButton>(&form, "btnReport")->isEnabled());
    QCOMPARE(form.cursor().shape(), Qt::ArrowCursor);
    form.close();
}

void TestGui::closingDialogEndsRunSilently()
{
    writeMaster(Flaw::Usb2);
    FormUdiskCheck form;
    form.show();
    QSignalSpy ended(&form, &FormUdiskCheck::checkRunEnded);
    ModalScript script;
    script.then([](QWidget *modal) {
        fillLabelDialog(modal, LabelAnswers());
        // Escape closes the dialog as its title-bar button would.
        QTest::keyClick(modal, Qt::Key_Escape);
    });

    click(&form, "btnMasterCheck");
    QTRY_COMPARE(ended.count(), 1);
    QVERIFY(script.finished());
    QVERIFY(script.unexpected().isEmpty());
    QVERIFY(script.warnings().isEmpty());
    verifyResults(form, expectedResults(rowsUpTo(CheckRow::KdmHeader)));
    QVERIFY(!child<QPushButton>(&form, "btnReport")->isEnabled());
    QCOMPARE(form.cursor().shape(), Qt::ArrowCursor);
    form.close();
}

void TestGui::secondRunStartsBlank()
{
    writeMaster(Flaw::NotNtfs);
    FormUdiskCheck form;
    form.show();
    QSignalSpy ended(&form, &FormUdiskCheck::checkRunEnded);
    {
        ModalScript script;
        script.thenAcceptWarning();
        click(&form, "btnMasterCheck");
        QTRY_COMPARE(ended.count(), 1);
        QVERIFY(script.unexpected().isEmpty());
    }
    QCOMPARE(resultText(form, CheckRow::FileSystem), failText());

    // The disk is mended; the next run must not show anything of the failed one.
    m_volumes->volumes[0].fileSystem = QStringLiteral("ntfs");
    ColumnRecorder recorder(form.checkListModel(), kResultColumn);
    ModalScript script;
    script.then([](QWidget *modal) {
        fillLabelDialog(modal, LabelAnswers());
        click(modal, "pushButton");
    });
    click(&form, "btnMasterCheck");
    QTRY_COMPARE(ended.count(), 2);
    QVERIFY(script.unexpected().isEmpty());
    QCOMPARE(ended.last().first().toBool(), true);

    QStringList blank;
    for (int row = 0; row < kRows; ++row)
        blank << QString();
    // Once the last row is blanked, nothing of the failed run is left.
    QCOMPARE(recorder.snapshotWhen(CheckRow::KdmNamespace, QString()), blank);
    QStringList firstPass = blank;
    firstPass[CheckRow::Physical] = passText();
    QCOMPARE(recorder.snapshotWhen(CheckRow::Physical, passText()), firstPass);
    verifyResults(form, expectedResults(rowsUpTo(0)));
    form.close();
}

void TestGui::newRunDuringHashingIgnoresOldWorker()
{
    writeSettings(1);
    writeBigMaster();
    FormUdiskCheck form;
    form.show();
    paintNow(&form);
    QSignalSpy ended(&form, &FormUdiskCheck::checkRunEnded);

    click(&form, "btnMasterCheck");
    QVERIFY(
        processUntil([&] { return resultText(form, CheckRow::Hash).endsWith(QLatin1Char('%')); }));
    const QPointer<HashThread> oldWorker = form.checkRun().worker();
    QVERIFY(oldWorker);
    QVERIFY(oldWorker->isRunning());
    QCOMPARE(form.cursor().shape(), Qt::ArrowCursor);

    // The second run skips hashing and passes within the click; the first worker is stopped.
    writeSettings(0);
    ColumnRecorder recorder(form.checkListModel(), kResultColumn);
    ModalScript script;
    script.then([](QWidget *modal) {
        fillLabelDialog(modal, LabelAnswers());
        click(modal, "pushButton");
    });
    click(&form, "btnMasterCheck");
    QVERIFY(script.finished());
    QVERIFY(oldWorker.isNull());
    QCOMPARE(ended.count(), 2);
    QCOMPARE(ended.at(0).first().toBool(), false);
    QCOMPARE(ended.at(1).first().toBool(), true);

    // Nothing of the old worker arrives later.
    QTest::qWait(300);
    QVERIFY(script.unexpected().isEmpty());
    const QVector<ColumnRecorder::Entry> hash = recorder.history(CheckRow::Hash);
    QCOMPARE(hash.size(), 2);
    QCOMPARE(hash.last().text, passText());
    verifyResults(form, expectedResults(rowsUpTo(0), -1, false));
    QCOMPARE(ended.count(), 2);
    form.close();
}

void TestGui::reportFailureIsToldAndNotOpened()
{
    writeMaster(Flaw::Usb2);
    FormUdiskCheck form;
    form.show();
    {
        ModalScript run;
        run.then([](QWidget *modal) {
            fillLabelDialog(modal, LabelAnswers());
            click(modal, "pushButton");
        });
        click(&form, "btnMasterCheck");
        QVERIFY(run.finished());
    }
    QVERIFY(child<QPushButton>(&form, "btnReport")->isEnabled());

    // A folder where the report file should go: the file cannot be created.
    const QString reportPath =
        QCoreApplication::applicationDirPath() + QStringLiteral("/VetMasterReport.pdf");
    QFile::remove(reportPath);
    QVERIFY(QDir().mkdir(reportPath));
    const auto removeFolder = qScopeGuard([&reportPath] { QDir().rmdir(reportPath); });
    ModalScript script;
    script.thenAcceptWarning();
    click(&form, "btnReport");
    QTRY_VERIFY(script.finished());
    QVERIFY(script.unexpected().isEmpty());
    QCOMPARE(script.warnings().size(), 1);
    QCOMPARE(script.warnings().first().title, QStringLiteral("提示"));
    QVERIFY2(script.warnings().first().text.contains(QDir::toNativeSeparators(reportPath)) ||
                 script.warnings().first().text.contains(reportPath),
             qPrintable(script.warnings().first().text));
    QVERIFY(m_openedUrls.isEmpty());
    form.close();
}

void TestGui::closingCheckWindowWhileHashingEndsCleanly()
{
    writeSettings(1);
    writeBigMaster();
    MainWindow window;
    window.show();
    click(&window, "btnStart");
    QPointer<FormUdiskCheck> form;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *candidate = qobject_cast<FormUdiskCheck *>(widget))
            form = candidate;
    }
    QVERIFY(form);
    const auto deleteForm = qScopeGuard([&form] { delete form.data(); });
    paintNow(form);

    click(form, "btnMasterCheck");
    QVERIFY(
        processUntil([&] { return resultText(*form, CheckRow::Hash).endsWith(QLatin1Char('%')); }));
    const QPointer<HashThread> worker = form->checkRun().worker();
    QVERIFY(worker && worker->isRunning());

    // "退出" on the check window closes the last visible window, which ends the event loop. The
    // worker must be gone by then, before the application starts to wind down.
    bool stoppedByClose = false;
    const QMetaObject::Connection quitting =
        connect(qApp, &QCoreApplication::aboutToQuit, this,
                [&stoppedByClose, &worker] { stoppedByClose = worker.isNull(); });
    QTimer::singleShot(0, form, [form] { click(form, "btnExit"); });
    QCOMPARE(QApplication::exec(), 0);
    disconnect(quitting);
    QVERIFY(stoppedByClose);
    QVERIFY(worker.isNull());
    // The check window went with the event loop, so nothing is left running behind main.
    QVERIFY(form.isNull());
    QVERIFY(!window.isVisible());
}

namespace {
// What the screen shows of a window and whatever lies over it (a box centred on it).
bool saveScreenshot(QWidget *window, const QString &path)
{
    QTest::qWait(300);
    const QRect frame = window->frameGeometry();
    const QPixmap shot =
        window->screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
    return !shot.isNull() && shot.save(path);
}
} // namespace

void TestGui::screenshots()
{
    const QString folder = qEnvironmentVariable("TAVIMOR_SCREENSHOT_DIR");
    if (folder.isEmpty())
        QSKIP("Set TAVIMOR_SCREENSHOT_DIR and run on an X server (tools/screenshots.sh).");
    QVERIFY(QDir().mkpath(folder));
    const auto file = [&folder](const char *name) -> QString {
        return folder + QLatin1Char('/') + QLatin1String(name);
    };

    MainWindow window;
    window.move(40, 40);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(saveScreenshot(&window, file("1-start-window.png")));
    window.hide();

    writeSettings(1);
    MasterSpec spec;
    spec.encrypted = true;
    spec.reelDurations = {86400, 45300};
    FixtureBuilder builder(m_diskRoot);
    builder.writeKdm(builder.writeMaster(spec));

    FormUdiskCheck form;
    form.move(40, 40);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QVERIFY(saveScreenshot(&form, file("2-check-window.png")));

    QSignalSpy ended(&form, &FormUdiskCheck::checkRunEnded);
    ModalScript script;
    script.then([&](QWidget *modal) {
        QVERIFY(QTest::qWaitForWindowExposed(modal));
        fillLabelDialog(modal, LabelAnswers());
        QVERIFY(saveScreenshot(modal, file("3-label-dialog.png")));
        click(modal, "pushButton");
    });
    click(&form, "btnMasterCheck");
    QTRY_VERIFY_WITH_TIMEOUT(ended.count() == 1, kRunTimeoutMs);
    QVERIFY(script.finished());
    QVERIFY(script.unexpected().isEmpty());
    QVERIFY(saveScreenshot(&form, file("4-check-window-passed.png")));
    child<QTableView>(&form, "tvCheckList")->scrollToBottom();
    QVERIFY(saveScreenshot(&form, file("4-check-window-passed-end.png")));
    child<QTableView>(&form, "tvCheckList")->scrollToTop();

    m_volumes->volumes.clear();
    ModalScript warning;
    warning.thenAcceptWarning([&](QWidget *modal) {
        QVERIFY(QTest::qWaitForWindowExposed(modal));
        QVERIFY(saveScreenshot(&form, file("5-warning.png")));
    });
    click(&form, "btnMasterCheck");
    QTRY_COMPARE(ended.count(), 2);
    QVERIFY(warning.finished());
    QVERIFY(warning.unexpected().isEmpty());
    form.close();
}

QTEST_MAIN(TestGui)
#include "test_gui.moc"
