#include "dcp/DcpInspector.h"
#include "dcp/FileProblems.h"
#include "dcp/RunEnvironment.h"
#include "platform/Processors.h"
#include "run/CheckRun.h"
#include "run/HashProgress.h"
#include "run/HashThread.h"
#include "run/PrefetchReader.h"
#include "support/FakeVolumeService.h"
#include "support/FixtureBuilder.h"
#include "support/TestSupport.h"

#include <QtTest>

#include <atomic>
#include <functional>
#include <memory>

namespace {
const char kNoChinese[] = "影片名称未采用中文，请检查后再进行检测!";
const QString kBadKdmDate = QStringLiteral("KDM有效期格式输入不正确，请检查后再进行检测!");
const QString kBadVetDate = QStringLiteral("送审日期格式输入不正确，请检查后再进行检测!");
const QStringList kHashing{QStringLiteral("检测中......")};
const char kAll[] = "PPPPPPPPPPPPPPPPPPPPPPPPPPPPP";
const char kHashOff[] = "PPPPPPPPPPPPPPPPPP-PPPPPPPPPP"; // nothing hashed: row 18 not judged

// A folder seen as the one USB disk, a settings file, what to write on the disk, and a front end
// that keeps the check list as one letter per row ("." blank, "P" pass, "F" fail, "~" progress,
// "-" not applicable, "U" unencrypted pass) and answers the label dialog.
struct Env : CheckRunFrontEnd
{
    QTemporaryDir disk, work;
    FakeVolumeService volumes{FakeVolumeService::usbDisk(disk.path())};
    MasterLayout master;
    KdmLayout kdm;
    QString hashCheck = QStringLiteral("1");    // null: no such key
    QString folder;                             // relative to the disk: a folder check
    std::function<void(DcpInspector &)> tamper; // between the first stage and the continuation
    HashThread::ChunkHook hook;                 // handed to the run's worker
    DcpInspector inspector, offered; // the run's, and the labels as the dialog found them
    BuiltMaster built;
    std::unique_ptr<CheckRun> run;

    QString rows = QString(CheckRow::Count, QLatin1Char('.'));
    QStringList warnings, details, progress;
    QVector<bool> endings;
    // hugeTrack: a sparse first track, far too large to hash while a test waits.
    bool report = false, busy = false, accept = true, hugeTrack = false;
    QString film = QStringLiteral("建国大业"), diskInterface = QStringLiteral("USB3.0");

    Env()
    {
        setCurrentLocalDateOverride(QDate(2023, 2, 28));
        master.encrypted = master.stereoscopic = true;
        master.reelDurations = {86400, 45300};
        kdm.notValidAfter = QStringLiteral("2023-03-01T23:59:59+08:00");
    }
    QString settingsPath() const { return work.filePath(QStringLiteral("set.ini")); }
    CheckRun &start()
    {
        FixtureBuilder builder(disk.path());
        FixtureBuilder::writeSettings(settingsPath(), 0, {QStringLiteral("SM.TEST-SERVER")});
        if (QSettings settings(settingsPath(), QSettings::IniFormat); hashCheck.isNull())
            settings.remove(QStringLiteral("hash/check"));
        else
            settings.setValue(QStringLiteral("hash/check"), hashCheck);
        built = builder.writeMaster(master);
        if (master.encrypted)
            builder.writeKdm(built, kdm);
        if (hugeTrack && !QFile(built.trackPaths.first()).resize(Q_INT64_C(16) << 30))
            qFatal("cannot grow a track");
        run = std::make_unique<CheckRun>(inspector, *this);
        run->setSettingsPath(settingsPath());
        run->setHashChunkHook(hook);
        if (!folder.isNull())
            run->setMasterFolder(disk.filePath(folder));
        if (!tamper) {
            run->start();
        } else if (run->runCarrierAndPackingChecks()) {
            tamper(inspector);
            run->OnMsgSignal(QStringLiteral("OK"));
        }
        return *run;
    }

    void writeResult(int row, CellKind kind, const QString &text) override
    {
        rows[row] = cellLetter(kind);
        if (kind == CellKind::Progress)
            progress << text;
    }
    void showWarning(const QString &message, const QString &detail) override
    {
        warnings << message;
        details << detail;
    }
    bool confirmLabels(DcpInspector &labels) override
    {
        offered = labels;
        labels.filmName = film;
        labels.diskInterface = diskInterface;
        return accept;
    }
    void setReportEnabled(bool enabled) override { report = enabled; }
    void setBusy(bool isBusy) override { busy = isBusy; }
    void runEnded(bool passed) override { endings << passed; }
};

// What a worker alone sends for these files; by default their true digests are expected
// (or those in lower case).
QStringList workerMessages(const QStringList &paths, QStringList hashes = {}, bool lower = false,
                           HashThread::ChunkHook hook = {}, HashFailure *failure = nullptr)
{
    for (int i = hashes.size(); i < paths.size(); ++i)
        hashes << (lower ? fileDigest(paths[i]).toLower() : fileDigest(paths[i]));
    QStringList messages;
    HashThread worker(paths, hashes);
    worker.setChunkHook(std::move(hook));
    QObject::connect(&worker, &HashThread::MsgSignal,
                     [&messages](const QString &text) { messages << text; });
    worker.start();
    worker.wait();
    if (failure)
        *failure = worker.failure();
    return messages;
}

// The asset map's id for a file of the master.
QString idOf(const DcpInspector &inspector, const QString &fileName)
{
    for (const AssetInfo &asset : inspector.assetMap.assets) {
        if (asset.path.endsWith(fileName))
            return asset.id;
    }
    return QStringLiteral("(not in the asset map)");
}

// The child process of quittingMidHashExitsCleanly: the application quits and the run is
// destroyed while its worker hashes.
int quitMidHash(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    Env e;
    e.hugeTrack = true;
    e.start();
    QTimer::singleShot(300, &QCoreApplication::quit);
    const int code = QCoreApplication::exec();
    QPointer<HashThread> worker = e.run->worker();
    if (!worker || !worker->isRunning())
        return 2;
    const QDeadlineTimer promptly(1000);
    e.run.reset();
    return worker ? 3 : promptly.hasExpired() ? 4 : code;
}
} // namespace

using Setup = std::function<void(Env &)>;
Q_DECLARE_METATYPE(Setup)
using Change = std::function<void(const QString &file, const QString &twin)>;
Q_DECLARE_METATYPE(Change)

class TestCheckRun : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { failOnQtWarnings(); }
    void verdicts_data();
    void verdicts()
    {
        QFETCH(QString, rows);
        QFETCH(Setup, setup);
        QFETCH(QString, warning);
        Env e;
        setup(e);
        e.start();
        QTRY_COMPARE(e.endings.size(), 1);
        QCOMPARE(e.rows, rows);
        QCOMPARE(e.warnings, warning.isEmpty() ? QStringList() : QStringList(warning));
        // Every failure says what it found.
        QCOMPARE(e.details.size(), e.warnings.size());
        for (const QString &detail : qAsConst(e.details))
            QVERIFY2(!detail.trimmed().isEmpty() && !detail.contains(QLatin1String("%")),
                     qPrintable(detail));
        const bool passed = !rows.contains(QLatin1Char('.')) && !rows.contains(QLatin1Char('F'));
        QCOMPARE(e.endings, QVector<bool>{passed});
        QCOMPARE(e.report, passed);
        QVERIFY(!e.busy);
        if (!passed)
            return;
        // The dialog is offered both reels' length, the KDM's period and the injected today.
        QCOMPARE(e.offered.duration, QStringLiteral("91分钟27秒"));
        QCOMPARE(e.offered.kdmDate,
                 e.master.encrypted ? QStringLiteral("20230101-20230301") : QStringLiteral("-"));
        QCOMPARE(e.offered.vetDate, QStringLiteral("20230228"));
        const QStringList hashed = workerMessages(e.built.pklAssetPaths);
        QCOMPARE(e.progress << QStringLiteral("OK"), rows.at(CheckRow::Hash) == QLatin1Char('P')
                                                         ? kHashing + hashed
                                                         : QStringList(QStringLiteral("OK")));
    }

    // What a failure's detail names: the file as found on the disk, the value found and the
    // value expected. Each line of the expectation must stand in the detail; {track} is the
    // first track's path in the master, {id} its id, {hash} its true digest.
    void failureDetails_data()
    {
        QTest::addColumn<Setup>("setup");
        QTest::addColumn<QString>("lines");
        const auto add = [](const char *name, const char *lines, Setup setup) {
            QTest::newRow(name) << setup << QString::fromUtf8(lines);
        };
        add("PKL digest", "文件：{track}\nPKL中的Hash值：\n计算所得Hash值：{hash}",
            [](Env &e) { e.master.wrongPklHash = true; });
        add("CPL digest", "轨道：{id}\nCPL中的Hash值：\nPKL中的Hash值：{hash}",
            [](Env &e) { e.master.wrongCplHash = true; });
        add("missing track", "ASSETMAP中的资产{id}的文件不存在或不在母版内：",
            [](Env &e) { e.master.omitFirstTrackFile = true; });
        add("namespace",
            "文件：DCP/pkl_\n命名空间：「http://x/PKL」\n应包含：http://www.digicine.com",
            [](Env &e) { e.master.pklNamespace = QStringLiteral("http://x/PKL"); });
        add("annotation",
            "PKL的AnnotationText：「JianGuoDY_FTR_F-185_QMS_51_2K_ZY_20230101_SMPTE_OV 」",
            [](Env &e) { e.master.pklAnnotation = e.master.title + QLatin1Char(' '); });
        add("title", "CPL的ContentTitleText：「x」",
            [](Env &e) { e.master.contentTitleText = QStringLiteral("x"); });
        add("KDM expired",
            "kdm.xml：有效期已过（ContentKeysNotValidAfter为2023-02-28T23:59:59+08:00，今天是2023-"
            "02-28）",
            [](Env &e) { e.kdm.notValidAfter = QStringLiteral("2023-02-28T23:59:59+08:00"); });
        add("KDM for another composition",
            "kdm.xml：适用于其他CPL（KDM中的CompositionPlaylistId为urn:uuid:0",
            [](Env &e) { e.kdm.compositionPlaylistId = QStringLiteral("urn:uuid:0"); });
        add("KDM for another device", "kdm.xml：接收设备不是已批准的放映设备（接收设备为CN=other）",
            [](Env &e) { e.kdm.subjectNames = QStringList{QStringLiteral("CN=other")}; });
        add("film name", "影片名称：JianGuo", [](Env &e) { e.film = QStringLiteral("JianGuo"); });
        add("interface", "硬盘接口：「USB 3.1」",
            [](Env &e) { e.diskInterface = QStringLiteral("USB 3.1"); });
        add("file system", "移动硬盘的文件系统：\n",
            [](Env &e) { e.volumes.volumes[0].fileSystem = QStringLiteral("exFAT"); });
    }

    void failureDetails()
    {
        QFETCH(Setup, setup);
        QFETCH(QString, lines);
        Env e;
        setup(e);
        e.start();
        QTRY_COMPARE(e.endings.size(), 1);
        QCOMPARE(e.details.size(), 1);
        const QString track = e.built.trackPaths.first();
        QString expected = lines;
        expected.replace(QLatin1String("{track}"), QDir(e.disk.path()).relativeFilePath(track))
            .replace(QLatin1String("{hash}"), fileDigest(track))
            .replace(QLatin1String("{id}"), idOf(e.inspector, QFileInfo(track).fileName()));
        for (const QString &line : expected.split(QLatin1Char('\n')))
            QVERIFY2(e.details.first().contains(line), qPrintable(e.details.first()));
    }

    void secondRunStartsBlank()
    {
        Env e;
        e.master.wrongCplHash = true;
        CheckRun &run = e.start();
        QTRY_COMPARE(e.rows, QStringLiteral("..P.PPPP.PPPPPPPPPPP.PPPF...."));
        e.volumes.volumes.clear();
        run.start();
        QCOMPARE(e.rows, QStringLiteral("..F.........................."));
        QCOMPARE(e.endings, (QVector<bool>{false, false}));
        QVERIFY(e.inspector.cpls.isEmpty() && e.inspector.assetMapPaths.isEmpty());
    }

    void staleWorkerIsStopped()
    {
        Env e;
        e.hugeTrack = true;
        CheckRun &run = e.start();
        QTRY_VERIFY(e.progress.size() >= 2);
        QPointer<HashThread> stale = run.worker();
        QVERIFY(stale && stale->isRunning());
        QTest::qSleep(100); // the stale worker queues messages nobody has received yet
        QTemporaryDir other;
        const BuiltMaster small = FixtureBuilder(other.path()).writeMaster(MasterLayout());
        e.volumes.volumes = FakeVolumeService::usbDisk(other.path());
        e.progress.clear();
        run.start();
        QVERIFY(stale.isNull());
        QTRY_COMPARE(e.endings, (QVector<bool>{false, true}));
        QCOMPARE(e.rows, QStringLiteral("PPPPPPPPPPPPPPPPPPPPPPPPP-U--")); // clear and flat
        QCOMPARE(e.progress << QStringLiteral("OK"),
                 kHashing + workerMessages(small.pklAssetPaths));
    }

    void quittingMidHashExitsCleanly()
    {
        const QString self = QCoreApplication::applicationFilePath();
        QCOMPARE(QProcess::execute(self, {QStringLiteral("--quit-mid-hash")}), 0);
    }

    // An empty file is hashed too: its digest is that of no bytes, and there is no share to show.
    void hashMessages_data()
    {
        QTest::addColumn<QVector<int>>("sizes"); // -1: a missing file
        QTest::addColumn<bool>("lowerCase");     // the digests stated in lower case
        QTest::addColumn<QString>("messages");
        QTest::newRow("25000 bytes") << QVector<int>{25000} << false << "40.96% 81.92% 100.00% OK";
        QTest::newRow("2 x 10240") << QVector<int>{10240, 10240} << false << "50.00% 100.00% OK";
        QTest::newRow("no files") << QVector<int>{} << false << "OK";
        QTest::newRow("missing middle") << QVector<int>{10240, -1, 10240} << false << "50.00% ERR";
        QTest::newRow("lower case") << QVector<int>{25000} << true << "40.96% 81.92% 100.00% ERR";
        QTest::newRow("empty files") << QVector<int>{0, 0} << false << "OK";
        QTest::newRow("empty, lower case") << QVector<int>{0} << true << "ERR";
    }

    void hashMessages()
    {
        QFETCH(QVector<int>, sizes);
        QFETCH(bool, lowerCase);
        QFETCH(QString, messages);
        QTemporaryDir dir;
        QStringList paths;
        for (int size : sizes) {
            paths << dir.filePath(QString::number(paths.size()));
            if (size >= 0)
                writeFile(paths.last(), QByteArray(size, 'x'));
        }
        QCOMPARE(workerMessages(paths, {}, lowerCase).join(QLatin1Char(' ')), messages);
    }

    void progressTextsAreCapped()
    {
        // Twice as many chunks as percentages: each text from "0.00%" to "100.00%" comes once.
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("big")));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(20001 * HashThread::kChunkSize));
        QStringList messages = workerMessages({file.fileName()}, {QString()});
        QCOMPARE(messages.takeLast(), QStringLiteral("ERR"));
        QCOMPARE(messages.size(), 10001);
        QCOMPARE(messages.removeDuplicates(), 0);
        QCOMPARE(messages.last(), QStringLiteral("100.00%"));
    }

    // Texts reach the receiver while the worker still reads, not in one heap with its verdict:
    // the file's last read waits until a text has arrived.
    void progressArrivesWhileHashing()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("track"));
        const QByteArray content(8 * PrefetchReader::kBlockSize, 't');
        writeFile(path, content);
        HashThread worker({path}, {FixtureBuilder::sha1Base64(content)});
        QSemaphore textArrived;
        std::atomic<int> reads{0};
        std::atomic<bool> arrivedInTime{false};
        worker.setReadHook([&](int) {
            if (++reads == 8)
                arrivedInTime = textArrived.tryAcquire(1, 10000);
        });
        QStringList messages;
        QObject::connect(&worker, &HashThread::MsgSignal, [&](const QString &text) {
            messages << text;
            if (text.endsWith(QLatin1Char('%')))
                textArrived.release();
        });
        worker.start();
        QVERIFY(worker.wait(30000));
        QVERIFY(arrivedInTime);
        QCOMPARE(messages.last(), QStringLiteral("OK"));
    }

    // A digest stands only for what the file holds when its hashing ends, and a file that cannot
    // be read is told as such, never as a bad digest. The change is made by the worker's hook
    // after the first of the first file's chunks, so that it surely falls mid-hash.
    void changedAndUnreadableFiles_data()
    {
        QTest::addColumn<Change>("change");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("reason"); // of an unreadable file
        const auto changed = [](const char *tag, Change change) {
            QTest::newRow(tag) << change << int(HashFailure::Changed) << QString();
        };
        const auto resize = [](qint64 size) {
            return
                [size](const QString &file, const QString &) { QVERIFY(QFile(file).resize(size)); };
        };
        changed("appended",
                [](const QString &file, const QString &) { writeFile(file, "x", true); });
        changed("extended", resize(1 << 20));
        changed("truncated", resize(50000));
        changed("emptied", resize(0));
        changed("deleted",
                [](const QString &file, const QString &) { QVERIFY(QFile::remove(file)); });
        // Same bytes, same size, same time: only the file's identity tells it is another file.
        changed("twin renamed over", [](const QString &file, const QString &other) {
            QVERIFY(::rename(QFile::encodeName(other).constData(),
                             QFile::encodeName(file).constData()) == 0);
        });
        changed("rewritten in place", [](const QString &file, const QString &) {
            QFile f(file);
            QVERIFY(f.open(QIODevice::ReadWrite) && f.write("y", 1) == 1);
        });
        QTest::newRow("untouched") << Change() << int(HashFailure::None) << QString();
        QTest::newRow("a folder") << Change() << int(HashFailure::Unreadable) << folderReason();
        QTest::newRow("no permission")
            << Change() << int(HashFailure::Unreadable) << unreadableReason();
    }

    void changedAndUnreadableFiles()
    {
        SKIP_ON_WINDOWS_IF(currentRowIn({QStringLiteral("twin renamed over")}), POSIX_FIXTURE);
        SKIP_ON_WINDOWS_IF(
            runningUnderWine() && currentRowIn({QStringLiteral("deleted")}),
            "Wine keeps a deleted open file at its path and tells no pending deletion");
        QFETCH(Change, change);
        QFETCH(int, kind);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("track.mxf"));
        const QString twin = dir.filePath(QStringLiteral("twin.mxf"));
        const QByteArray content(300000, 'm');
        const QDateTime past = QDateTime::currentDateTime().addDays(-1);
        for (const QString &path : {file, twin}) {
            writeFile(path, content);
            // Timestamps are coarse: backdated, any write during the test shows.
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadWrite) &&
                    f.setFileTime(past, QFileDevice::FileModificationTime));
        }
        const QString expected = FixtureBuilder::sha1Base64(content);
        QString hashed = file;
        std::unique_ptr<Unreadable> locked;
        if (qstrcmp(QTest::currentDataTag(), "a folder") == 0)
            hashed = dir.path();
        else if (qstrcmp(QTest::currentDataTag(), "no permission") == 0)
            locked = std::make_unique<Unreadable>(file);

        bool changed = false;
        HashFailure failure;
        const QStringList messages = workerMessages(
            {hashed}, {expected}, false,
            [&](int index, qint64) {
                if (change && index == 0 && !changed) {
                    changed = true;
                    change(file, twin);
                }
            },
            &failure);
        locked.reset();
        QCOMPARE(messages.last(),
                 kind == HashFailure::None ? QStringLiteral("OK") : QStringLiteral("ERR"));
        QCOMPARE(int(failure.kind), kind);
        if (kind != HashFailure::None)
            QCOMPARE(failure.path, hashed);
        // A change is told in the operator's words, a read error in the system's.
        if (kind == HashFailure::Changed)
            QVERIFY(!failure.reason.isEmpty());
        else
            QCOMPARE(failure.reason, reason);
    }

    // Files are hashed side by side only while the digest, not the disk, is what the run waits
    // for; whatever the lanes, the texts rise to 100.00% and the verdict stays the same.
    void parallelFiles_data()
    {
        QTest::addColumn<int>("readDelayMs");  // before each read: a slow disk
        QTest::addColumn<int>("chunkDelayUs"); // after each chunk: a slow processor
        QTest::addColumn<int>("badFile");      // whose stated digest is wrong; -1 none
        QTest::addColumn<int>("peak");
        QTest::newRow("slow disk") << 10 << 0 << -1 << 1;
        QTest::newRow("slow digest") << 0 << 500 << -1 << 3;
        QTest::newRow("slow digest, last file wrong") << 0 << 500 << 3 << 3;
    }

    void parallelFiles()
    {
        QFETCH(int, readDelayMs);
        QFETCH(int, chunkDelayUs);
        QFETCH(int, badFile);
        QFETCH(int, peak);
        QTemporaryDir dir;
        QStringList paths, hashes;
        for (int i = 0; i < 4; ++i) {
            paths << dir.filePath(QString::number(i));
            const QByteArray content(8 << 20, char('a' + i));
            writeFile(paths.last(), content);
            hashes << FixtureBuilder::sha1Base64(i == badFile ? QByteArray("x") : content);
        }
        HashThread worker(paths, hashes);
        worker.setMaxParallelFiles(3);
        worker.setReadHook([readDelayMs](int) { QThread::msleep(readDelayMs); });
        // The slow processor works: a digest is judged by the processor time it takes.
        worker.setChunkHook([chunkDelayUs](int, qint64 done) {
            if (done % (16 * HashThread::kChunkSize) != 0)
                return;
            const qint64 until = threadCpuNanoseconds() + 16000 * qint64(chunkDelayUs);
            while (threadCpuNanoseconds() < until) {
            }
        });
        QStringList messages;
        QObject::connect(&worker, &HashThread::MsgSignal,
                         [&messages](const QString &text) { messages << text; });
        worker.start();
        QVERIFY(worker.wait(60000));
        QCOMPARE(worker.peakParallelFiles(), peak);
        const QString verdict = messages.takeLast();
        QCOMPARE(verdict, badFile < 0 ? QStringLiteral("OK") : QStringLiteral("ERR"));
        QCOMPARE(worker.failure().path, badFile < 0 ? QString() : paths.at(badFile));
        double last = -1;
        for (const QString &text : qAsConst(messages)) {
            const double percent = text.chopped(1).toDouble();
            QVERIFY2(percent > last, qPrintable(text));
            last = percent;
        }
        if (badFile < 0)
            QCOMPARE(messages.last(), QStringLiteral("100.00%"));
    }

    // A disk that falls behind while files are hashed side by side (the first part of a master
    // still in memory, say) is read one file at a time again within a few blocks, not when the
    // files end: after the slowdown, reads move from one file to another only as files end.
    void slowerDiskMidFile()
    {
        QTemporaryDir dir;
        QStringList paths, hashes;
        constexpr int kFiles = 3;
        constexpr int kBlocksPerFile = 40;
        for (int i = 0; i < kFiles; ++i) {
            paths << dir.filePath(QString::number(i));
            const QByteArray content(kBlocksPerFile * PrefetchReader::kBlockSize, char('a' + i));
            writeFile(paths.last(), content);
            hashes << FixtureBuilder::sha1Base64(content);
        }
        HashThread worker(paths, hashes);
        worker.setMaxParallelFiles(kFiles);
        // Once a second file is being read, one slow disk: a read at a time, each taking 8 ms.
        QMutex disk;
        QVector<int> reads; // the file of each read, in order
        bool slow = false;
        worker.setReadHook([&](int file) {
            QMutexLocker lock(&disk);
            reads << file;
            slow = slow || file > 0;
            if (slow)
                QThread::msleep(8);
        });
        // A busy digest, timed by the wall clock: some systems count a thread's processor time
        // in ticks of 10 ms or more, too coarse to time a few hundred microseconds by.
        worker.setChunkHook([](int, qint64 done) {
            if (done % (16 * HashThread::kChunkSize) != 0)
                return;
            QElapsedTimer spin;
            spin.start();
            while (spin.nsecsElapsed() < 500000) {
            }
        });
        QStringList messages;
        QObject::connect(&worker, &HashThread::MsgSignal,
                         [&messages](const QString &text) { messages << text; });
        worker.start();
        QVERIFY(worker.wait(60000));
        QCOMPARE(messages.last(), QStringLiteral("OK"));
        QVERIFY(worker.peakParallelFiles() > 1);
        QCOMPARE(reads.size(), kFiles * kBlocksPerFile);
        // The second half of the reads: well after the slowdown was measured.
        int switches = 0;
        for (int i = reads.size() / 2 + 1; i < reads.size(); ++i)
            switches += reads[i] != reads[i - 1];
        QVERIFY2(switches < kFiles, qPrintable(QString::number(switches)));
    }

    // Bytes done, bytes in all, milliseconds taken: what the operator reads.
    void throughput()
    {
        const std::tuple<qint64, qint64, qint64, const char *> cases[] = {
            {500000000, 1000000000, 999, ""}, // too early to tell
            {0, 1000, 5000, ""},
            {1224000000, 50184000000, 2000, "612 MB/s  1 min 20 s left"},
            {1000000000, 1000000000, 2000, "500 MB/s  0 s left"},
            {1000, 1001, 1000, "0 MB/s  1 s left"},
            {1000000, 1000000000000, 1000, "1 MB/s  277 h 46 min left"}};
        for (const auto &[done, total, ms, text] : cases)
            QCOMPARE(throughputText(done, total, ms), QLatin1String(text));
    }

    // The operator reads which file and why, in the warning and the fail cell of row 18.
    void hashFailureWarnings()
    {
        for (const bool unreadable : {false, true}) {
            Env e;
            e.master.encrypted = e.master.stereoscopic = false;
            e.master.trackBytes = 100000;
            std::unique_ptr<Unreadable> locked;
            QString victim;
            // Locked before the worker reaches the last track, or cut while it hashes it.
            e.hook = [&](int index, qint64) {
                const int last = e.built.pklAssetPaths.size() - 1;
                if (!victim.isEmpty() || index != (unreadable ? 0 : last))
                    return;
                victim = e.built.pklAssetPaths.last();
                if (unreadable)
                    locked = std::make_unique<Unreadable>(victim);
                else
                    QVERIFY(QFile(victim).resize(10));
            };
            e.start();
            QTRY_COMPARE(e.endings.size(), 1);
            locked.reset();
            QCOMPARE(e.rows, QStringLiteral("..P.PPPP.PPPP.PPPPF.........."));
            const QString reason = unreadableReason();
            QCOMPARE(e.warnings, QStringList(unreadable ? unreadableFileMessage(victim, reason)
                                                        : changedFileMessage(victim)));
            QCOMPARE(e.details.value(0).section(QLatin1Char('\n'), 0, 0),
                     QStringLiteral("文件：") + QDir(e.disk.path()).relativeFilePath(victim));
            if (unreadable)
                QCOMPARE(e.details.value(0).section(QLatin1Char('\n'), 1),
                         QStringLiteral("原因：") + reason);
        }
    }

    void checkLabelValues_data()
    {
        QTest::addColumn<QString>("labels"); // film|KDM period|vet date
        QTest::addColumn<bool>("encrypted");
        QTest::addColumn<QString>("message");
        // The range of Chinese characters is U+4E00 to U+9FA5, both included.
        QTest::newRow("only U+4E00") << "JianGuo\u4E00|20230101-20230301|20230301" << true << "";
        QTest::newRow("only U+9FA5") << "JianGuo\u9FA5|20230101-20230301|20230301" << true << "";
        QTest::newRow("only U+4DFF")
            << "JianGuo\u4DFF|20230101-20230301|20230301" << true << kNoChinese;
        QTest::newRow("only U+9FA6")
            << "JianGuo\u9FA6|20230101-20230301|20230301" << true << kNoChinese;
        QTest::newRow("30 February") << "建国|20230230-20230301|20230301" << true << kBadKdmDate;
        QTest::newRow("other separator") << "建国|20230101~20230301|20230301" << true << "";
        QTest::newRow("clear, any period") << "建国|x|20230301" << false << "";
        QTest::newRow("bad vet date") << "建国|20230101-20230301|20230230" << true << kBadVetDate;
    }

    void checkLabelValues()
    {
        QFETCH(QString, labels);
        QFETCH(bool, encrypted);
        QFETCH(QString, message);
        DcpInspector in;
        const QStringList fields = labels.split(QLatin1Char('|'));
        QVERIFY(!fields[0].contains(QLatin1Char('\\'))); // the escape became a character
        in.filmName = fields[0], in.kdmDate = fields[1], in.vetDate = fields[2];
        in.encrypted = encrypted;
        QString actual;
        QCOMPARE(in.checkLabelValues(actual), message.isEmpty());
        QCOMPARE(actual, message);
    }

    void handMadeInspector()
    {
        DcpInspector in;
        QString message;
        // The KDM rules look past KDMs for other compositions.
        in.cpls = {CplInfo()};
        in.cpls[0].id = QStringLiteral("urn:uuid:a");
        in.kdms.resize(2);
        in.kdms[0].compositionPlaylistId = QStringLiteral("urn:uuid:b");
        in.kdms[0].namespaceUri = QStringLiteral("http://www.smpte-ra.org/schemas/430-1/2006/KDM");
        in.kdms[1].compositionPlaylistId = in.cpls[0].id; // a namespace that is neither
        QVERIFY(in.checkKdmCompositionId(message));
        QVERIFY(!in.checkKdmNamespace(message)); // the SMPTE one is another composition's
        std::swap(in.kdms[0], in.kdms[1]);
        in.kdms[1].compositionPlaylistId = in.cpls[0].id;
        QVERIFY(in.checkKdmNamespace(message));
        // Without tracks there is no rate, so no length.
        in.prefillLabelFields();
        QCOMPARE(in.duration, QString());
    }

    // The picture fields come from the first 3D track of a stereoscopic composition (the first
    // track of a flat one); the length counts every picture track's frames at the rate of the
    // last track, whatever its kind.
    void prefillFromTracks()
    {
        const auto track = [](const char *type, const char *rate, const char *aspect,
                              qint64 frames) {
            AssetInfo a;
            a.type = QLatin1String(type);
            a.editRate = a.frameRate = QLatin1String(rate);
            a.aspectRatio = QLatin1String(aspect);
            a.pictureSize = QLatin1String(aspect) + QStringLiteral("*px");
            a.duration = frames;
            return a;
        };
        DcpInspector in;
        in.cpls = {CplInfo()};
        in.cpls[0].stereoscopic = true;
        in.cpls[0].assets = {track("Sound", "24", "", 0), track("Picture3D", "48", "1.85:1", 960),
                             track("Picture3D", "96", "2.39:1", 960), track("Sound", "96", "", 0)};
        in.prefillLabelFields();
        QCOMPARE(QStringList({in.frame, in.aspect, in.resolution, in.duration}),
                 QStringList({QStringLiteral("48fps"), QStringLiteral("1.85:1"),
                              QStringLiteral("1.85:1*px"), QStringLiteral("0分钟20秒")}));
        in.cpls[0].stereoscopic = false;
        in.cpls[0].assets[0].type = QStringLiteral("Picture");
        in.prefillLabelFields();
        QCOMPARE(QStringList({in.frame, in.aspect, in.resolution, in.duration}),
                 QStringList({QStringLiteral("24fps"), QString(), QStringLiteral("*px"),
                              QStringLiteral("0分钟0秒")}));
    }

    // A reset empties what the operator confirmed and what the KDM said; the asset map's header
    // texts are overwritten by the next discovery and stay until then.
    void resetKeepsAssetMapHeader()
    {
        DcpInspector in;
        for (const LabelField &field : labelFields())
            in.*field.member = QStringLiteral("x");
        in.cplName = in.kdm.namespaceUri = in.kdm.messageId = in.kdm.compositionPlaylistId =
            in.kdm.notValidBefore = in.kdm.notValidAfter = in.kdm.recipientSubjectName =
                QStringLiteral("x");
        in.kdm.subjectNames = {QStringLiteral("x")};
        in.assetMap.namespaceUri = in.assetMap.id = in.assetMap.annotationText =
            QStringLiteral("kept");
        in.resetRunData();
        QString left;
        for (const LabelField &field : labelFields())
            left += in.*field.member;
        left += in.cplName + in.kdm.namespaceUri + in.kdm.messageId + in.kdm.compositionPlaylistId +
                in.kdm.notValidBefore + in.kdm.notValidAfter + in.kdm.recipientSubjectName;
        QCOMPARE(left, QString());
        QVERIFY(in.kdm.subjectNames.isEmpty());
        QCOMPARE(in.assetMap.namespaceUri + in.assetMap.id + in.assetMap.annotationText,
                 QStringLiteral("keptkeptkept"));
    }

    // Only the exact words end a run; anything else a worker sends is progress to show.
    void onlyOkAndErrEndARun()
    {
        Env e;
        e.tamper = [&e](DcpInspector &) {
            for (const char *text : {"ok", "err", "OK ", "ERR\n", "Ok"}) {
                e.run->OnMsgSignal(QLatin1String(text));
                QCOMPARE(e.rows.at(CheckRow::Hash), cellLetter(CellKind::Progress));
                QCOMPARE(e.progress.last(), QLatin1String(text));
            }
            QVERIFY(e.endings.isEmpty());
        };
        e.start();
        QCOMPARE(e.rows, QString::fromLatin1(kAll));
        QCOMPARE(e.endings, QVector<bool>{true});
    }
};

void TestCheckRun::verdicts_data()
{
    QTest::addColumn<QString>("rows");
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<QString>("warning");
    const auto add = [](const char *name, const char *rows, const char *warning, Setup setup) {
        QString text = QString::fromUtf8(warning); // stems get the common "remake" ending
        if (!text.isEmpty() && !text.endsWith(QLatin1Char('!')) && !text.endsWith(QChar(0xFF01)))
            text += QStringLiteral("，请重新制作DCP后，再进行检测!");
        const QString all =
            QString::fromLatin1(rows).leftJustified(CheckRow::Count, QLatin1Char('.'));
        QTest::newRow(name) << all << setup << text; // rows: the unlisted end is blank
    };
    add("pass", kAll, "", [](Env &) {});
    add("Interop", kAll, "", [](Env &e) { e.master.standard = MasterLayout::Interop; });
    add("clear", "PPPPPPPPPPPPPPPPPPPPPPPPPPU--", "", [](Env &e) { e.master.encrypted = false; });
    add("flat", "PPPPPPPPPPPPPPPPPPPPPPPPP-PPP", "", [](Env &e) { e.master.stereoscopic = false; });
    add("hash/check 0", kHashOff, "", [](Env &e) { e.hashCheck = QStringLiteral("0"); });
    add("no hash/check", kHashOff, "", [](Env &e) { e.hashCheck = QString(); });
    add("hash/check not a number", kHashOff, "", [](Env &e) { e.hashCheck = QStringLiteral("x"); });
    // Any number but 0 switches hashing on.
    add("hash/check 2", kAll, "", [](Env &e) { e.hashCheck = QStringLiteral("2"); });
    add("hash/check -1", kAll, "", [](Env &e) { e.hashCheck = QStringLiteral("-1"); });
    add("empty tracks", kAll, "", [](Env &e) { e.master.trackBytes = 0; });
    add("folder check", "-P-P--PPPPPPPPPPPPPPPPPPPPPPP", "",
        [](Env &e) { e.folder = e.kdm.folder = QStringLiteral("DCP"); });
    add("dialog closed", "..P.PPPPPPPPPPPPPPPPPPPPPPPPP", "", [](Env &e) { e.accept = false; });
    add("stopped during discovery", "..P.PP", "",
        [](Env &e) { e.inspector.stopRequested = [] { return true; }; });
    add("no disk", "..F", "未检查到移动硬盘，请确认移动硬盘已经接入电脑后，再进行检测!",
        [](Env &e) { e.volumes.volumes.clear(); });
    add("exFAT", "..P.F",
        "移动硬盘不是NTFS文件系统格式，请确保移动硬盘为NTFS文件系统格式后，再进行检测!",
        [](Env &e) { e.volumes.volumes[0].fileSystem = QStringLiteral("exFAT"); });
    add("two volumes", "..P.PF",
        "电脑上有多个移动硬盘或移动硬盘有多个分区，请确保电脑上只有一个移动硬盘且移动硬盘只有一个分"
        "区后，再进行检测!",
        [](Env &e) { e.volumes.volumes += FakeVolumeService::usbDisk(e.work.path()); });
    add("no usable KDM", "..P.PPF",
        "未检查到相符的授权密钥文件（KDM），请确保授权密钥时间和授权放映设备正确后，再进行检测!",
        [](Env &e) { e.kdm.notValidAfter.clear(); });
    add("empty title", "..P.PPPF", "DCP命名不符合规范，请修改DCP命名后，再进行检测!",
        [](Env &e) { e.master.emptyContentTitle = true; });
    add("asset map namespace", "..P.PPPP..PF", "Assetmap文件中的命名空间不符合",
        [](Env &e) { e.master.assetMapNamespace = QStringLiteral("http://x/AM"); });
    add("PKL unmapped", "..P.PPPP.PPPP.F", "PKL文件的UUID和ASSETMAP中PKL的UUID不一致",
        [](Env &e) { e.master.assetMapPklId = FixtureBuilder::newUrnUuid(); });
    add("PKL namespace", "..P.PPPP.PPPP.PF", "PKL文件中的命名空间不符合",
        [](Env &e) { e.master.pklNamespace = QStringLiteral("http://x/PKL"); });
    add("PKL annotation", "..P.PPPP.PPPP.PPF", "PKL和Assetmap文件中的AnnotationText项内容不一致",
        [](Env &e) { e.master.pklAnnotation = e.master.title + QLatin1Char(' '); });
    add("unmapped asset", "..P.PPPP.PPPP.PPPF", "Assetmap中的文件和Cpl中的文件列表未一一对应",
        [](Env &e) { e.master.pklListsUnmappedAsset = true; });
    add("PKL hash", "..P.PPPP.PPPP.PPPPF", "文件Hash值与PKL文件中的Hash值不一致",
        [](Env &e) { e.master.wrongPklHash = true; });
    add("group id", "..P.PPPP.PPPP.PPPPPF", "PKL文件中有GroupId元素，DCP不完整",
        [](Env &e) { e.master.pklGroupId = true; });
    // The packing list's entry comes first in the asset map, the composition's second.
    add("CPL unmapped", "..P.PPPP.PPPPPPPPPPP.F", "CPL文件的UUID和ASSETMAP中CPL的UUID不一致",
        [](Env &e) { e.tamper = [](DcpInspector &in) { in.assetMap.assets.removeAt(1); }; });
    add("CPL namespace", "..P.PPPP.PPPPPPPPPPP.PF", "CPL文件中的命名空间不符合",
        [](Env &e) { e.master.cplNamespace = QStringLiteral("http://x/CPL"); });
    add("CPL title", "..P.PPPP.PPPPPPPPPPP.PPF", "CPL和Assetmap文件中的AnnotationText项内容不一致",
        [](Env &e) { e.master.contentTitleText = e.master.title + QStringLiteral("_2"); });
    add("CPL title in other letter case", "..P.PPPP.PPPPPPPPPPP.PPF",
        "CPL和Assetmap文件中的AnnotationText项内容不一致",
        [](Env &e) { e.master.contentTitleText = e.master.title.toLower(); });
    add("CPL hash", "..P.PPPP.PPPPPPPPPPP.PPPF",
        "Cpl文件中列出的MXF文件Hash值与计算所得Hash值不一致",
        [](Env &e) { e.master.wrongCplHash = true; });
    add("3D namespace", "..P.PPPP.PPPPPPPPPPP.PPPPF",
        "Cpl文件中MainStereoscopicPicture命名空间不符合",
        [](Env &e) { e.master.stereoscopicNamespace = QStringLiteral("http://x/3D"); });
    add("KDM list lost", "..P.PPPPPPPPPPPPPPPPPPPPPP.F",
        "KDM文件中的CompositionPlaylistId值和CPL文件中的UUID值不一致",
        [](Env &e) { e.tamper = [](DcpInspector &in) { in.kdms.clear(); }; });
    add("KDM namespace", "..P.PPPPPPPPPPPPPPPPPPPPPP.PF", "KDM文件中的命名空间不符合",
        [](Env &e) { e.kdm.namespaceUri = QStringLiteral("x"); });
    add("Latin film name", ".FP.PPPPPPPPPPPPPPPPPPPPPPPPP", kNoChinese,
        [](Env &e) { e.film = QStringLiteral("JianGuoDaYe"); });
    add("USB2.0", ".PPFPPPPPPPPPPPPPPPPPPPPPPPPP",
        "移动硬盘数据接口必须是USB3.0以上，请替换后再进行检测！",
        [](Env &e) { e.diskInterface = QStringLiteral("USB2.0"); });
    // Any higher version typed the way the dialog offers "USB3.0" passes; nothing vaguer does.
    for (const char *version : {"USB3.1", "USB3.2", "USB4"})
        add(version, kAll, "", [version](Env &e) { e.diskInterface = QLatin1String(version); });
    for (const char *version : {"USB3", "usb3.1", "USB 3.1"}) {
        add(version, ".PPFPPPPPPPPPPPPPPPPPPPPPPPPP",
            "移动硬盘数据接口必须是USB3.0以上，请替换后再进行检测！",
            [version](Env &e) { e.diskInterface = QLatin1String(version); });
    }
}

int main(int argc, char *argv[])
{
    if (argc == 2 && qstrcmp(argv[1], "--quit-mid-hash") == 0)
        return quitMidHash(argc, argv);
    QCoreApplication app(argc, argv);
    TestCheckRun test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "test_checkrun.moc"
