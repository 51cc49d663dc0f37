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
#include "support/TestSupport.h"
#include "ui/DlgCheckLable.h"
#include "ui/FormUdiskCheck.h"

#include <QtTest>
#include <QtWidgets>

#include <functional>
#include <memory>

namespace {

const QString kAllPass = QStringLiteral("PPPPPPPPPPPPPPPPPPPPPPPPP-PPP");
const QString kServer = QStringLiteral("SM.TEST-SERVER");
const QString kBlank(CheckRow::Count, QLatin1Char('.'));
const auto split = [](const char *t) { return QString::fromUtf8(t).split(QLatin1Char('|')); };
// The dialog's fields in the order it checks them, values it takes (a blank is one), messages.
const QStringList kFields = split("cbUsb|editFilmName|editKdmDate|editDuration|cbResolution|"
                                  "cbAspect|editFrame|cbColor|cbAudio|editProducer");
const QStringList kValues = split("USB3.0| |x|x|2048*1080| |x|XYZ|沉浸声|x");
const QStringList kMessages = split("请选择移动硬盘接口!|影片名称为空!|KDM有效期为空!|片长为空!|"
                                    "图像分辨率为空!|图像宽高比为空!|帧速率为空!|色域为空!|"
                                    "声音制式为空!|电影第一出品单位为空!");
enum Flaw { None, NoDisk, NoAssetMap, AssetMapNamespace, HashErr, KdmNamespace };

template <typename T = QWidget> T *child(QWidget *parent, const char *name)
{
    T *widget = parent->findChild<T *>(QLatin1String(name));
    return widget ? widget : (qFatal("no widget %s", name), nullptr);
}

void click(QWidget *parent, const char *name)
{
    QTest::mouseClick(child<QAbstractButton>(parent, name), Qt::LeftButton);
}

// A widget's text (a combo box's edit text, a group box's title), set first when a value is given.
QString field(QWidget *dialog, const QString &name, const QString &value = QString())
{
    QWidget *widget = name.isEmpty() ? dialog : child(dialog, qPrintable(name));
    const char *property = name.isEmpty()                      ? "windowTitle"
                           : qobject_cast<QComboBox *>(widget) ? "currentText"
                           : qobject_cast<QGroupBox *>(widget) ? "title"
                                                               : "text";
    if (!value.isNull())
        widget->setProperty(property, value);
    return widget->property(property).toString();
}

// Fills what the package did not, with the given film name and interface, and continues.
void answer(QWidget *dialog, const QString &answers = QStringLiteral("建国大业/USB3.0"))
{
    for (int i = 0; i < kFields.size(); ++i)
        field(dialog, kFields[i], field(dialog, kFields[i]).isEmpty() ? kValues[i] : QString());
    field(dialog, kFields[1], answers.section(QLatin1Char('/'), 0, 0));
    field(dialog, kFields[0], answers.section(QLatin1Char('/'), 1));
    click(dialog, "pushButton");
}

// The result column in the shared letters; '?' also where the colour or alignment does not go
// with the text.
QString results(FormUdiskCheck &form)
{
    QString letters;
    for (int row = 0; row < CheckRow::Count; ++row) {
        const QModelIndex cell = form.checkListModel()->index(row, 2);
        const QChar letter = resultLetter(cell.data().toString());
        const QBrush brush(letter == cellLetter(CellKind::Fail)       ? Qt::red
                           : letter == cellLetter(CellKind::Progress) ? Qt::blue
                                                                      : Qt::green);
        const bool styled = letter == cellLetter(CellKind::Blank)
                                ? !cell.data(Qt::ForegroundRole).isValid()
                                : cell.data(Qt::ForegroundRole) == brush &&
                                      cell.data(Qt::TextAlignmentRole) == int(Qt::AlignCenter);
        letters += styled ? letter : QLatin1Char('?');
    }
    return letters;
}

QString warning(const QString &text, const char *parent = "FormUdiskCheck")
{
    return QStringLiteral("提示|") + text + QLatin1Char('|') + QLatin1String(parent);
}

} // namespace

class TestGui : public QObject
{
    Q_OBJECT
    // What one test works with and sees; the fake volume layer installs itself while it lives.
    struct Session
    {
        QTemporaryDir disk;
        const QString settings = disk.filePath(QStringLiteral("set.ini"));
        FakeVolumeService volumes{FakeVolumeService::usbDisk(disk.path())};
        QObject poller; // the modal-window polls
        QPointer<FormUdiskCheck> form;
        QList<std::function<void(QWidget *)>> dialogSteps; // one for each dialog expected, in order
        QPointer<QWidget> lastModal;
        QStringList warnings, unexpected, states, ended;
        QStringList details; // each box's detailed text and its details button, "text|button"
        QList<QUrl> openedUrls;
    };
    std::unique_ptr<Session> m;
    QString m_shots; // the screenshots' folder

public slots:
    void recordOpenedUrl(const QUrl &url) { m->openedUrls << url; } // stands in for the PDF viewer

private:
    // Answers the modal windows a test provokes: a message box is recorded as "title|text|parent"
    // and its OK pressed; a dialog goes to the next dialog step. A dialog no step wants is closed
    // and recorded, so that a test fails instead of hanging in its event loop.
    void pollModals()
    {
        // Queued first: a step may open a nested event loop of its own.
        QTimer::singleShot(5, &m->poller, [this] { pollModals(); });
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || modal == m->lastModal || !modal->isVisible())
            return;
        m->lastModal = modal;
        const QPointer<QWidget> guard(modal);
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            m->warnings << QStringList{box->windowTitle(), box->text(), box->parent()->objectName()}
                               .join(QLatin1Char('|'));
            QAbstractButton *details = nullptr;
            for (QAbstractButton *button : box->buttons())
                details = box->buttonRole(button) == QMessageBox::ActionRole ? button : details;
            m->details << box->detailedText() + QLatin1Char('|') +
                              (details ? details->text() : QString());
            if (m->warnings.size() == 1)
                shoot(m->form, "5-warning.png");
            if (!m_shots.isEmpty() && m->warnings.size() == 1 && details) {
                details->click();
                shoot(box, "6-warning-details.png");
            }
            if (box->windowTitle() == QStringLiteral("附加提示"))
                shoot(box, "7-advisories.png");
            QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
        } else if (!m->dialogSteps.isEmpty()) {
            m->dialogSteps.takeFirst()(modal);
        } else {
            m->unexpected << modal->windowTitle();
        }
        if (guard && guard->isVisible() && (m->unexpected.size() || QTest::currentTestFailed()))
            guard->close();
    }

    void setHashing(bool on) { FixtureBuilder::writeSettings(m->settings, on, {kServer}); }

    // An encrypted master with its KDM on the disk, one flaw at most. hugeTrack: a sparse first
    // track far too large to hash while a test waits, so that a run is surely still hashing.
    void writeMaster(int flaw = None, bool hugeTrack = false)
    {
        MasterLayout master;
        master.encrypted = true;
        master.trackBytes = 60000;
        master.reelDurations = {240};
        master.wrongPklHash = flaw == HashErr;
        master.assetMapNamespace = flaw == AssetMapNamespace ? QStringLiteral("urn:x") : QString();
        KdmLayout kdm;
        kdm.namespaceUri = flaw == KdmNamespace ? QStringLiteral("urn:x") : kdm.namespaceUri;
        FixtureBuilder builder(m->disk.path());
        if (flaw != NoAssetMap) {
            const BuiltMaster built = builder.writeMaster(master);
            builder.writeKdm(built, kdm);
            if (hugeTrack)
                QVERIFY(QFile(built.trackPaths.first()).resize(Q_INT64_C(16) << 30));
        }
        if (flaw == NoDisk)
            m->volumes.volumes.clear();
    }

    // Shows a check window and records the states of its result column (half-written cells
    // skipped) and how its runs end.
    FormUdiskCheck &showForm(FormUdiskCheck *form = new FormUdiskCheck)
    {
        m->form = form;
        form->checkRun().setSettingsPath(m->settings);
        form->show();
        connect(form->checkListModel(), &QAbstractItemModel::dataChanged, form, [this, form] {
            const QString now = results(*form);
            if (!now.contains(QLatin1Char('?')) && m->states.value(m->states.size() - 1) != now)
                m->states << now;
        });
        connect(form, &FormUdiskCheck::checkRunEnded, this,
                [this](bool passed) { m->ended << QLatin1String(passed ? "passed" : "failed"); });
        return *form;
    }

    // The result letters, how the last run ended, " report" with the report button enabled and
    // " wait" under the wait cursor.
    QString state()
    {
        QString text = results(*m->form) + QLatin1Char(' ') + m->ended.value(m->ended.size() - 1);
        text += QLatin1String(child(m->form, "btnReport")->isEnabled() ? " report" : "");
        text += QLatin1String(m->form->cursor().shape() == Qt::WaitCursor ? " wait" : "");
        return text.simplified();
    }

    QString runCheck()
    {
        const int runs = m->ended.size();
        click(m->form, "btnMasterCheck");
        const bool ended =
            QTest::qWaitFor([&] { return m->ended.size() > runs && m->dialogSteps.isEmpty(); });
        return ended ? state() : QStringLiteral("no end");
    }

    bool waitForProgress()
    {
        const QStandardItemModel *model = m->form->checkListModel();
        return QTest::qWaitFor(
            [model] { return model->item(CheckRow::Hash, 2)->text().endsWith(QLatin1Char('%')); });
    }

    // Pictures a window with what lies over it, when the screenshots are taken.
    void shoot(QWidget *window, const char *name)
    {
        if (m_shots.isEmpty())
            return;
        QVERIFY(QTest::qWaitForWindowExposed(window) && QDir().mkpath(m_shots));
        QTest::qWait(300);
        const QRect frame = window->frameGeometry();
        const QPixmap shot =
            window->screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
        QVERIFY(shot.save(m_shots + QLatin1Char('/') + QLatin1String(name)));
    }

private slots:
    void initTestCase()
    {
        failOnQtWarnings();
        installCjkFontSubstitutions();
        QFont font = QApplication::font();
        font.setPointSize(9); // the usual desktop size, not the offscreen platform's larger one
        QApplication::setFont(font);
        QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "recordOpenedUrl");
        setCurrentLocalDateOverride(QDate(2024, 3, 5));
    }

    void init()
    {
        m.reset(); // its volume layer goes before the next one comes
        m = std::make_unique<Session>();
        setHashing(true);
        pollModals();
    }

    void cleanup()
    {
        delete m->form.data();
        QCOMPARE(m->unexpected, QStringList());
        QVERIFY2(m->dialogSteps.isEmpty(), "a dialog the test waited for never came");
        for (QWidget *widget : QApplication::topLevelWidgets())
            QVERIFY2(!widget->isVisible(), "a window was left open");
    }

    // Sizes, places and texts (the window's title for the window itself).
    void forms()
    {
        MainWindow start;
        FormUdiskCheck check;
        DlgCheckLable dialog;
        QCOMPARE(start.objectName() + check.objectName() + dialog.objectName(),
                 QStringLiteral("MainWindowFormUdiskCheckDlgCheckLable"));
        for (QWidget *window : QList<QWidget *>{&start, &check, &dialog}) {
            window->show();
            window->resize(window->size() + QSize(300, 200)); // which a fixed-size window ignores
            // None is cut off by wider fonts.
            for (const QLabel *l : window->findChildren<QLabel *>())
                QVERIFY2(l->sizeHint().width() <= l->width(), qPrintable(l->objectName()));
        }
        QStringList wrong;
        const auto row = [&wrong](QWidget *top, const char *name, QRect place, const char *text) {
            const QWidget *widget = *name ? child(top, name) : top;
            if (field(top, QLatin1String(name)) != QString::fromUtf8(text) ||
                QRect(*name ? widget->pos() : QPoint(), widget->size()) != place)
                wrong << top->objectName() + QLatin1Char(' ') + QLatin1String(name);
        };
        row(&start, "", {0, 0, 800, 600}, "Tavimor(1.0)");
        row(&start, "btnStart", {220, 490, 151, 31}, "知道了，开始吧");
        row(&check, "", {0, 0, 800, 750}, "Tavimor");
        row(&check, "btnMasterCheck", {570, 20, 171, 31}, "符合性检测");
        row(&check, "btnReport", {280, 700, 151, 31}, "生成符合性检测报告");
        row(&dialog, "", {0, 0, 830, 670}, "Dialog");
        row(&dialog, "groupBox_2", {30, 150, 761, 71}, "请选择移动硬盘的接口");
        row(&dialog, "label_4", {45, 320, 110, 20}, "KDM有效期： ");
        row(&dialog, "pushButton", {380, 620, 81, 31}, "继续检测");
        QCOMPARE(wrong, QStringList());
    }

    void cellsAreReadOnlyAndClicksSelectRows()
    {
        QVERIFY(QTest::qWaitForWindowExposed(&showForm()));
        auto *view = child<QTableView>(m->form, "tvCheckList");
        const QPoint centre = view->visualRect(view->model()->index(4, 1)).center();
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, centre);
        QCOMPARE(view->selectionModel()->selectedIndexes().size(), 3);
        QVERIFY(view->selectionModel()->isRowSelected(4, QModelIndex()));
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, centre);
        QTest::keyClicks(view, QStringLiteral("xyz"));
        QTest::keyClick(view, Qt::Key_F2);
        QVERIFY(!view->findChild<QLineEdit *>());
        QCOMPARE(view->model()->index(4, 1).data().toString(), QStringLiteral("文件系统检测"));
    }

    // Each refusal names the first empty field; with all ten filled the dialog closes.
    void dialogValidationOrder()
    {
        DcpInspector inspector;
        DlgCheckLable dialog(nullptr, inspector);
        dialog.show();
        for (int filled = 0; filled <= 10; ++filled) {
            click(&dialog, "pushButton");
            QCOMPARE(dialog.isVisible(), filled < 10);
            QCOMPARE(m->warnings.value(filled),
                     filled < 10 ? warning(kMessages[filled], "DlgCheckLable") : QString());
            field(&dialog, kFields.value(filled), kValues.value(filled));
        }
        QCOMPARE(m->warnings.size(), 10);
        QCOMPARE(inspector.filmName + inspector.audio, QStringLiteral(" 沉浸声"));
    }

    // A failed run, a run whose dialog is refused and then closed, a passing run with hashing,
    // and its report, written and then refused.
    void runsAfterEachOtherAndReport()
    {
        writeMaster(NoDisk);
        shoot(&showForm(), "2-check-window.png");
        QCOMPARE(runCheck(), QStringLiteral("..F.......................... failed"));
        m->volumes.volumes = FakeVolumeService::usbDisk(m->disk.path());
        m->dialogSteps << ([](QWidget *dialog) {
            QTest::sendKeyEvent(QTest::Click, child(dialog, "editFilmName"), Qt::Key_unknown,
                                QStringLiteral("长津湖"), {});
            click(dialog, "pushButton");
        });
        m->dialogSteps << ([](QWidget *dialog) {
            QCOMPARE(field(dialog, kFields[1]), QStringLiteral("长津湖")); // kept after the refusal
            QTest::keyClick(dialog, Qt::Key_Escape); // as the title bar's close button
        });
        QCOMPARE(runCheck(), QStringLiteral("..P.PPPPPPPPPPPPPPPPPPPPP-PPP failed"));
        // Nothing of the failed run showed in the next one.
        QCOMPARE(m->states.mid(1, 3), (QStringList{QStringLiteral("..F") + kBlank.mid(3), kBlank,
                                                   QStringLiteral("..P") + kBlank.mid(3)}));
        m->dialogSteps << ([this](QWidget *dialog) {
            QStringList values = {dialog->parent()->objectName(), dialog->windowTitle()};
            for (const QString &name : QStringList{QStringLiteral("editVetDate")} + kFields)
                values << field(dialog, name);
            QCOMPARE(values.join(QLatin1Char('|')),
                     QStringLiteral("FormUdiskCheck|数字电影送审母版信息|2024-03-05|||"
                                    "20230101-20990301|0分钟10秒|1998*1080|1.85:1|24fps|||"));
            QCOMPARE(field(dialog, QStringLiteral("editDcpName")), MasterLayout().title);
            shoot(dialog, "3-label-dialog.png");
            answer(dialog);
        });
        QCOMPARE(runCheck(), kAllPass + QStringLiteral(" passed report"));
        shoot(m->form, "4-check-window-passed.png");
        child<QTableView>(m->form, "tvCheckList")->scrollToBottom();
        shoot(m->form, "4-check-window-passed-end.png");
        // The report: a snapshot of all 87 cells, the PDF in the program's folder, the viewer.
        const QString path =
            QCoreApplication::applicationDirPath() + QStringLiteral("/VetMasterReport.pdf");
        QFile::remove(path);
        click(m->form, "btnReport");
        QCOMPARE(m->form->cellTexts.size(), 87);
        QCOMPARE(m->form->cellTexts.at(76), QStringLiteral("MainSterescopicPicture元素检测"));
        QCOMPARE(m->openedUrls, QList<QUrl>{QUrl::fromLocalFile(path)});
        QVERIFY(QFileInfo(path).size() > 1000);
        // A folder where the report should go: the operator is told, and no viewer opens.
        QVERIFY(QFile::remove(path) && QDir().mkdir(path));
        const auto removeFolder = qScopeGuard([&path] { QDir().rmdir(path); });
        click(m->form, "btnReport");
        QCOMPARE(m->warnings.value(2).section(QLatin1Char('\n'), 0, 0),
                 QStringLiteral("提示|无法写入检测报告文件：") + path);
        QCOMPARE(m->openedUrls.size(), 1);
    }

    void failingRun_data()
    {
        QTest::addColumn<int>("flaw");
        // Answers to the dialog (when it comes: film name/interface), result letters, message,
        // what the detail of the failure says (in part).
        QTest::addColumn<QStringList>("texts");
        const auto row = [](const char *name, int flaw, const char *answers, const char *results,
                            const char *message, const char *detail) {
            QTest::newRow(name) << flaw
                                << (split(answers) + split(results) + split(message) +
                                    QStringList{QString::fromUtf8(detail)});
        };
        row("carrier", NoDisk, "", "..F..........................",
            "未检查到移动硬盘，请确认移动硬盘已经接入电脑后，再进行检测!", "系统中没有找到任何卷");
        row("discovery", NoAssetMap, "", "..P.PPF......................",
            "未检查到送审母版的AssetMap文件，请确认移动硬盘内存入送审母版后，再进行检测!",
            "中没有ASSETMAP或ASSETMAP.xml文件");
        row("package", AssetMapNamespace, "", "..P.PPPP..PF.................",
            "Assetmap文件中的命名空间不符合，请重新制作DCP后，再进行检测!",
            "文件：DCP/ASSETMAP.xml\n命名空间：「urn:x」");
        row("hash ERR", HashErr, "", "..P.PPPP.PPPP.PPPPF..........",
            "文件Hash值与PKL文件中的Hash值不一致，请重新制作DCP后，再进行检测!",
            "\n计算所得Hash值：");
        row("KDM", KdmNamespace, "", "..P.PPPPPPPPPPPPPPPPPPPPP-.PF",
            "KDM文件中的命名空间不符合，请重新制作DCP后，再进行检测!", "kdm.xml：命名空间为urn:x");
        row("label", None, "JianGuo/USB3.0", ".FP.PPPPPPPPPPPPPPPPPPPPP-PPP",
            "影片名称未采用中文，请检查后再进行检测!", "影片名称：JianGuo");
        row("interface", None, "建国大业/USB2.0", ".PPFPPPPPPPPPPPPPPPPPPPPP-PPP",
            "移动硬盘数据接口必须是USB3.0以上，请替换后再进行检测！", "硬盘接口：「USB2.0」");
    }

    void failingRun()
    {
        QFETCH(int, flaw);
        QFETCH(QStringList, texts);
        writeMaster(flaw);
        showForm();
        if (!texts[0].isEmpty())
            m->dialogSteps << ([&texts](QWidget *dialog) { answer(dialog, texts[0]); });
        QCOMPARE(runCheck(), texts[1] + QStringLiteral(" failed"));
        QCOMPARE(m->warnings, QStringList{warning(texts[2])});
        // The box tells the detail behind a button in the operator's language; the failed cell
        // keeps it as its tooltip.
        const QString detail = m->details.value(0).section(QLatin1Char('|'), 0, -2);
        QVERIFY2(detail.contains(texts[3]), qPrintable(detail));
        QCOMPARE(m->details.value(0).section(QLatin1Char('|'), -1),
                 QStringLiteral("显示详细信息…"));
        const int failed = texts[1].indexOf(QLatin1Char('F'));
        QCOMPARE(m->form->checkListModel()->item(failed, 2)->toolTip(), detail);
    }

    // What else is wrong shows once, after the run's verdict, and changes no row.
    void advisories()
    {
        writeMaster();
        QFile extra(m->disk.filePath(QStringLiteral("DCP/notes.txt")));
        QVERIFY(extra.open(QIODevice::WriteOnly) && extra.write("x") == 1);
        extra.close();
        showForm();
        m->dialogSteps << ([](QWidget *dialog) {
            answer(dialog, QStringLiteral("建国大业/USB2.0"));
        });
        QCOMPARE(runCheck(), QStringLiteral(".PPFPPPPPPPPPPPPPPPPPPPPP-PPP failed"));
        QCOMPARE(m->warnings.size(), 2);
        QCOMPARE(m->warnings.at(1).section(QLatin1Char('|'), 0, 0), QStringLiteral("附加提示"));
        QVERIFY2(m->warnings.at(1).contains(QStringLiteral("DCP/notes.txt")),
                 qPrintable(m->warnings.at(1)));
        // A clean master: no box at all.
        QVERIFY(extra.remove());
        m->warnings.clear();
        m->dialogSteps << ([](QWidget *dialog) { answer(dialog); });
        QCOMPARE(runCheck(), kAllPass + QStringLiteral(" passed report"));
        QCOMPARE(m->warnings, QStringList());
    }

    void startWindowAndHashing()
    {
        MainWindow window;
        window.show();
        QTimer::singleShot(0, &window, [&window] { click(&window, "btnExit"); });
        QCOMPARE(QApplication::exec(), 0); // "退出" closes the last visible window
        QVERIFY(!window.isVisible());
        window.show();
        click(&window, "btnStart");
        QTRY_VERIFY(qobject_cast<FormUdiskCheck *>(QApplication::activeWindow()));
        FormUdiskCheck &form =
            showForm(qobject_cast<FormUdiskCheck *>(QApplication::activeWindow()));
        QVERIFY(!form.parent() && !window.isVisible());
        QVERIFY(QTest::qWaitForWindowExposed(&form)); // painted now, not while hashing
        writeMaster(None, true);
        click(&form, "btnMasterCheck");
        QCOMPARE(state(), QStringLiteral("..P.PPPP.PPPP.PPPP~.......... wait"));
        QVERIFY(waitForProgress());
        QCOMPARE(state(), QStringLiteral("..P.PPPP.PPPP.PPPP~..........")); // no wait cursor now
        QPointer<HashThread> worker = form.checkRun().worker();
        QVERIFY(worker && worker->isRunning());

        // A new run stops the worker; without hashing it passes within the click.
        setHashing(false);
        m->dialogSteps << ([](QWidget *dialog) { answer(dialog); });
        click(&form, "btnMasterCheck");
        QVERIFY(worker.isNull());
        QTest::qWait(300); // nothing of the old worker arrives later
        QCOMPARE(m->ended, (QStringList{QStringLiteral("failed"), QStringLiteral("passed")}));
        QCOMPARE(state(), QStringLiteral("PPPPPPPPPPPPPPPPPP-PPPPPP-PPP passed report"));

        // "退出" on the check window mid-hash ends the application: the worker is gone before it
        // winds down, and the check window goes with the loop.
        setHashing(true);
        click(&form, "btnMasterCheck");
        QVERIFY(waitForProgress());
        worker = form.checkRun().worker();
        bool stoppedByClose = false;
        connect(qApp, &QCoreApplication::aboutToQuit, &window,
                [&] { stoppedByClose = worker.isNull(); });
        QTimer::singleShot(0, &form, [&form] { click(&form, "btnExit"); });
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(stoppedByClose && worker.isNull() && m->form.isNull());
    }

    // Not a check: tools/screenshots.sh runs it on a real X server to picture the windows.
    void screenshots()
    {
        m_shots = qEnvironmentVariable("TAVIMOR_SCREENSHOT_DIR");
        if (m_shots.isEmpty())
            QSKIP("Set TAVIMOR_SCREENSHOT_DIR and run on an X server (tools/screenshots.sh).");
        MainWindow window;
        window.show();
        shoot(&window, "1-start-window.png");
        window.close();
        runsAfterEachOtherAndReport();
        cleanup();
        init();
        advisories();
    }
};

QTEST_MAIN(TestGui)
#include "test_gui.moc"
