// Hash verification throughput: a full check of a master of several gigabytes by tavimor-check
// and by the check run in-process, next to `openssl dgst -sha1` over the same track files, with
// the page cache warm, so that both measure hashing and not the disk.
//
//   hash_benchmark [--dir DIR] [--size-mib N] [--tracks N] [--repeat N] [--checker PATH]
//
// DIR is the disk root to write the master into (reused when it already holds the master of the
// same size); without it a temporary folder is used and removed afterwards.

#include "dcp/DcpInspector.h"
#include "dcp/RunEnvironment.h"
#include "run/CheckRun.h"
#include "run/HashThread.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUuid>
#include <QXmlStreamWriter>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

extern char **environ;

namespace {
const QString kTitle = QStringLiteral("HashBench_FTR_F-185_QMS_51_2K_ZY_20240101_SMPTE_OV");
const QString kIssueDate = QStringLiteral("2024-01-01T12:00:00+08:00");
const QString kMarkerName = QStringLiteral(".hash_benchmark");
const int kFramesPerReel = 24 * 60 * 10;

void say(const QString &text)
{
    std::fputs(text.toUtf8().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

QString mib(qint64 bytes)
{
    return QString::number(bytes / (1024.0 * 1024.0), 'f', 1) + QStringLiteral(" MiB");
}

QString throughput(qint64 bytes, double seconds)
{
    return QString::number(bytes / (1024.0 * 1024.0) / seconds, 'f', 0) + QStringLiteral(" MiB/s");
}

QString urn()
{
    return QStringLiteral("urn:uuid:") + QUuid::createUuid().toString(QUuid::WithoutBraces);
}

struct TrackFile
{
    QString id;
    QString name;
    bool picture = true;
    qint64 size = 0;
    QString hash;
};

struct Master
{
    QString diskRoot;
    QString folder;
    QStringList trackPaths;
    qint64 trackBytes = 0;
    qint64 allBytes = 0; // everything the packing list names, documents included
};

// Pseudo-random bytes: incompressible, and every file different.
bool writeTrack(const QString &path, qint64 size, quint64 seed, QString &hash)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QCryptographicHash sha1(QCryptographicHash::Sha1);
    std::vector<quint64> buffer(512 * 1024); // 4 MiB
    quint64 state = seed * 0x9E3779B97F4A7C15ull + 1;
    for (qint64 left = size; left > 0;) {
        for (quint64 &word : buffer) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            word = state;
        }
        const qint64 n = std::min<qint64>(left, qint64(buffer.size() * sizeof(quint64)));
        const char *data = reinterpret_cast<const char *>(buffer.data());
        if (file.write(data, n) != n)
            return false;
        sha1.addData(data, int(n));
        left -= n;
    }
    hash = QString::fromLatin1(sha1.result().toBase64());
    return true;
}

QByteArray compositionXml(const QString &id, const QVector<TrackFile> &tracks)
{
    QByteArray xml;
    QXmlStreamWriter w(&xml);
    w.setAutoFormatting(true);
    w.writeStartDocument();
    w.writeDefaultNamespace(QStringLiteral("http://www.smpte-ra.org/schemas/429-7/2006/CPL"));
    w.writeStartElement(QStringLiteral("CompositionPlaylist"));
    w.writeTextElement(QStringLiteral("Id"), id);
    w.writeTextElement(QStringLiteral("AnnotationText"), kTitle);
    w.writeTextElement(QStringLiteral("IssueDate"), kIssueDate);
    w.writeTextElement(QStringLiteral("Issuer"), QStringLiteral("hash_benchmark"));
    w.writeTextElement(QStringLiteral("Creator"), QStringLiteral("hash_benchmark"));
    w.writeTextElement(QStringLiteral("ContentTitleText"), kTitle);
    w.writeTextElement(QStringLiteral("ContentKind"), QStringLiteral("feature"));
    w.writeStartElement(QStringLiteral("ReelList"));
    // One reel per picture track, with the sound track that follows it.
    for (int i = 0; i < tracks.size(); ++i) {
        const TrackFile &track = tracks.at(i);
        if (track.picture) {
            if (i > 0)
                w.writeEndElement(), w.writeEndElement(); // AssetList, Reel
            w.writeStartElement(QStringLiteral("Reel"));
            w.writeTextElement(QStringLiteral("Id"), urn());
            w.writeStartElement(QStringLiteral("AssetList"));
        }
        w.writeStartElement(track.picture ? QStringLiteral("MainPicture")
                                          : QStringLiteral("MainSound"));
        w.writeTextElement(QStringLiteral("Id"), track.id);
        w.writeTextElement(QStringLiteral("EditRate"), QStringLiteral("24 1"));
        w.writeTextElement(QStringLiteral("IntrinsicDuration"), QString::number(kFramesPerReel));
        w.writeTextElement(QStringLiteral("EntryPoint"), QStringLiteral("0"));
        w.writeTextElement(QStringLiteral("Duration"), QString::number(kFramesPerReel));
        w.writeTextElement(QStringLiteral("Hash"), track.hash);
        if (track.picture) {
            w.writeTextElement(QStringLiteral("FrameRate"), QStringLiteral("24 1"));
            w.writeTextElement(QStringLiteral("ScreenAspectRatio"), QStringLiteral("1998 1080"));
        }
        w.writeEndElement();
    }
    w.writeEndElement(); // AssetList
    w.writeEndElement(); // Reel
    w.writeEndElement(); // ReelList
    w.writeEndElement();
    w.writeEndDocument();
    return xml;
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

// A complete SMPTE master, unencrypted, in diskRoot/DCP: asset map, packing list, composition
// and the track files, with their real digests.
bool buildMaster(const QString &diskRoot, qint64 totalBytes, int trackCount, Master &master)
{
    master.diskRoot = diskRoot;
    master.folder = diskRoot + QStringLiteral("/DCP");
    const QString base = master.folder + QLatin1Char('/');
    const QString marker = diskRoot + QLatin1Char('/') + kMarkerName;
    const QString wanted = QStringLiteral("%1 %2").arg(totalBytes).arg(trackCount);

    QVector<TrackFile> tracks;
    const qint64 perTrack = totalBytes / trackCount;
    QFile markerFile(marker);
    if (markerFile.open(QIODevice::ReadOnly) &&
        QString::fromLatin1(markerFile.readAll()) == wanted &&
        QFile::exists(base + QStringLiteral("ASSETMAP.xml"))) {
        say(QStringLiteral("reusing the master in %1").arg(master.folder));
        for (int i = 0; i < trackCount; ++i) {
            const QString path = base + QStringLiteral("track_%1.mxf").arg(i + 1);
            master.trackPaths << path;
            master.trackBytes += QFileInfo(path).size();
        }
        master.allBytes = master.trackBytes + QFileInfo(base + QStringLiteral("cpl.xml")).size();
        return true;
    }
    markerFile.close();
    QFile::remove(marker);
    QDir(master.folder).removeRecursively();
    if (!QDir().mkpath(master.folder))
        return false;

    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < trackCount; ++i) {
        TrackFile track;
        track.id = urn();
        track.name = QStringLiteral("track_%1.mxf").arg(i + 1);
        track.picture = i % 2 == 0;
        track.size = perTrack;
        if (!writeTrack(base + track.name, track.size, quint64(i) + 1, track.hash))
            return false;
        tracks.append(track);
        master.trackPaths << base + track.name;
        master.trackBytes += track.size;
        say(QStringLiteral("  wrote %1 (%2)").arg(track.name, mib(track.size)));
    }

    const QString cplId = urn();
    const QString pklId = urn();
    const QByteArray cpl = compositionXml(cplId, tracks);
    const QString cplName = QStringLiteral("cpl.xml");
    if (!writeFile(base + cplName, cpl))
        return false;

    QByteArray pkl;
    {
        QXmlStreamWriter w(&pkl);
        w.setAutoFormatting(true);
        w.writeStartDocument();
        w.writeDefaultNamespace(QStringLiteral("http://www.smpte-ra.org/schemas/429-8/2007/PKL"));
        w.writeStartElement(QStringLiteral("PackingList"));
        w.writeTextElement(QStringLiteral("Id"), pklId);
        w.writeTextElement(QStringLiteral("AnnotationText"), kTitle);
        w.writeTextElement(QStringLiteral("IssueDate"), kIssueDate);
        w.writeTextElement(QStringLiteral("Issuer"), QStringLiteral("hash_benchmark"));
        w.writeTextElement(QStringLiteral("Creator"), QStringLiteral("hash_benchmark"));
        w.writeStartElement(QStringLiteral("AssetList"));
        const auto asset = [&w](const QString &id, const QString &hash, qint64 size,
                                const QString &type, const QString &name) {
            w.writeStartElement(QStringLiteral("Asset"));
            w.writeTextElement(QStringLiteral("Id"), id);
            w.writeTextElement(QStringLiteral("Hash"), hash);
            w.writeTextElement(QStringLiteral("Size"), QString::number(size));
            w.writeTextElement(QStringLiteral("Type"), type);
            w.writeTextElement(QStringLiteral("OriginalFileName"), name);
            w.writeEndElement();
        };
        asset(
            cplId,
            QString::fromLatin1(QCryptographicHash::hash(cpl, QCryptographicHash::Sha1).toBase64()),
            cpl.size(), QStringLiteral("text/xml"), cplName);
        for (const TrackFile &track : qAsConst(tracks))
            asset(track.id, track.hash, track.size, QStringLiteral("application/mxf"), track.name);
        w.writeEndElement();
        w.writeEndElement();
        w.writeEndDocument();
    }
    const QString pklName = QStringLiteral("pkl.xml");
    if (!writeFile(base + pklName, pkl))
        return false;
    master.allBytes = master.trackBytes + cpl.size();

    QByteArray map;
    {
        QXmlStreamWriter w(&map);
        w.setAutoFormatting(true);
        w.writeStartDocument();
        w.writeDefaultNamespace(QStringLiteral("http://www.smpte-ra.org/schemas/429-9/2007/AM"));
        w.writeStartElement(QStringLiteral("AssetMap"));
        w.writeTextElement(QStringLiteral("Id"), urn());
        w.writeTextElement(QStringLiteral("AnnotationText"), kTitle);
        w.writeTextElement(QStringLiteral("Creator"), QStringLiteral("hash_benchmark"));
        w.writeTextElement(QStringLiteral("VolumeCount"), QStringLiteral("1"));
        w.writeTextElement(QStringLiteral("IssueDate"), kIssueDate);
        w.writeTextElement(QStringLiteral("Issuer"), QStringLiteral("hash_benchmark"));
        w.writeStartElement(QStringLiteral("AssetList"));
        const auto asset = [&w](const QString &id, const QString &name, qint64 size,
                                bool packingList) {
            w.writeStartElement(QStringLiteral("Asset"));
            w.writeTextElement(QStringLiteral("Id"), id);
            if (packingList)
                w.writeTextElement(QStringLiteral("PackingList"), QStringLiteral("true"));
            w.writeStartElement(QStringLiteral("ChunkList"));
            w.writeStartElement(QStringLiteral("Chunk"));
            w.writeTextElement(QStringLiteral("Path"), name);
            w.writeTextElement(QStringLiteral("VolumeIndex"), QStringLiteral("1"));
            w.writeTextElement(QStringLiteral("Offset"), QStringLiteral("0"));
            w.writeTextElement(QStringLiteral("Length"), QString::number(size));
            w.writeEndElement();
            w.writeEndElement();
            w.writeEndElement();
        };
        asset(pklId, pklName, pkl.size(), true);
        asset(cplId, cplName, cpl.size(), false);
        for (const TrackFile &track : qAsConst(tracks))
            asset(track.id, track.name, track.size, false);
        w.writeEndElement();
        w.writeEndElement();
        w.writeEndDocument();
    }
    if (!writeFile(base + QStringLiteral("ASSETMAP.xml"), map) ||
        !writeFile(marker, wanted.toLatin1()))
        return false;
    say(QStringLiteral("wrote the master in %1 s").arg(timer.elapsed() / 1000.0, 0, 'f', 1));
    return true;
}

// Reads every file once so that the timed runs find them in the page cache.
void warmPageCache(const QStringList &paths)
{
    std::vector<char> buffer(4 * 1024 * 1024);
    for (const QString &path : paths) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly)) {
            while (file.read(buffer.data(), qint64(buffer.size())) > 0) {
            }
        }
    }
}

double cpuSeconds(const struct rusage &usage)
{
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct ChildRun
{
    bool ok = false;
    int exitCode = -1;
    double seconds = 0;
    double cpuSeconds = 0; // user + system
    qint64 peakRssKiB = 0;
};

// posix_spawn + wait4: the child's own peak RSS comes with its exit.
ChildRun runChild(const QString &program, const QStringList &arguments, const QString &stdoutPath,
                  const QString &stderrPath)
{
    ChildRun run;
    std::vector<QByteArray> storage;
    storage.push_back(program.toLocal8Bit());
    for (const QString &argument : arguments)
        storage.push_back(argument.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &text : storage)
        argv.push_back(text.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const QByteArray out = stdoutPath.toLocal8Bit();
    const QByteArray err = stderrPath.toLocal8Bit();
    const int flags = O_WRONLY | O_CREAT | O_TRUNC;
    posix_spawn_file_actions_addopen(&actions, 1, out.constData(), flags, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.constData(), flags, 0644);

    QElapsedTimer timer;
    timer.start();
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return run;
    int status = 0;
    struct rusage usage = {};
    if (wait4(pid, &status, 0, &usage) != pid)
        return run;
    run.seconds = timer.nsecsElapsed() / 1e9;
    run.ok = WIFEXITED(status);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.peakRssKiB = usage.ru_maxrss;
    run.cpuSeconds = cpuSeconds(usage);
    return run;
}

qint64 statusKiB(const char *field)
{
    QFile file(QStringLiteral("/proc/self/status"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// Counts what the run shows; the run ends at the label confirmation.
class CountingFrontEnd : public CheckRunFrontEnd
{
public:
    void writeResult(int row, CellKind kind, const QString &) override
    {
        if (kind == CellKind::Progress)
            ++progressEvents;
        if (row == CheckRow::Hash)
            hashCell = kind;
    }
    void showWarning(const QString &message) override { warning = message; }
    bool confirmLabels(DcpInspector &) override
    {
        reachedConfirmation = true;
        return false;
    }
    void setReportEnabled(bool) override {}
    void setBusy(bool) override {}
    void runEnded(bool) override
    {
        ended = true;
        if (loop)
            loop->quit();
    }

    QEventLoop *loop = nullptr;
    qint64 progressEvents = 0;
    CellKind hashCell = CellKind::Blank;
    QString warning;
    bool reachedConfirmation = false;
    bool ended = false;
};

struct InProcessRun
{
    double seconds = 0;
    double cpuSeconds = 0; // both threads, user + system
    qint64 progressEvents = 0;
    qint64 peakRssKiB = -1;
    qint64 rssBeforeKiB = -1;
    bool passedHash = false;
    QString warning;
};

InProcessRun runInProcess(const QString &diskRoot)
{
    InProcessRun result;
    // Writing 5 resets the peak RSS, so the figure is that of the check alone.
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
    clear.close();
    result.rssBeforeKiB = statusKiB("VmRSS:");

    DcpInspector inspector;
    CountingFrontEnd frontEnd;
    QEventLoop loop;
    frontEnd.loop = &loop;
    CheckRun run(inspector, frontEnd);
    run.setMasterFolder(diskRoot);
    struct rusage before = {};
    getrusage(RUSAGE_SELF, &before);
    QElapsedTimer timer;
    timer.start();
    run.start();
    if (!frontEnd.ended)
        loop.exec();
    result.seconds = timer.nsecsElapsed() / 1e9;
    struct rusage after = {};
    getrusage(RUSAGE_SELF, &after);
    result.cpuSeconds = cpuSeconds(after) - cpuSeconds(before);
    result.peakRssKiB = statusKiB("VmHWM:");
    result.progressEvents = frontEnd.progressEvents;
    result.passedHash = frontEnd.hashCell == CellKind::Pass && frontEnd.reachedConfirmation;
    result.warning = frontEnd.warning;
    return result;
}

class Series
{
public:
    explicit Series(const char *name) : m_name(QString::fromLatin1(name)) {}

    void add(double wall, double cpu, qint64 peakKiB)
    {
        m_wall << wall;
        m_cpu << cpu;
        m_peakKiB = std::max(m_peakKiB, peakKiB);
    }
    double bestWall() const { return *std::min_element(m_wall.begin(), m_wall.end()); }
    double bestCpu() const { return *std::min_element(m_cpu.begin(), m_cpu.end()); }

    QString row(qint64 bytes) const
    {
        QStringList runs;
        for (const double value : m_wall)
            runs << QString::number(value, 'f', 2);
        return QStringLiteral("%1  %2  %3  %4  %5  %6")
            .arg(m_name.leftJustified(30), QString::number(bestWall(), 'f', 2).rightJustified(6),
                 throughput(bytes, bestWall()).rightJustified(11),
                 QString::number(bestCpu(), 'f', 2).rightJustified(6),
                 mib(m_peakKiB * 1024).rightJustified(10), runs.join(QStringLiteral(" ")));
    }

private:
    QString m_name;
    QVector<double> m_wall;
    QVector<double> m_cpu;
    qint64 m_peakKiB = 0;
};
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Hash verification throughput of the check run."));
    parser.addHelpOption();
    const QCommandLineOption dirOption(QStringLiteral("dir"),
                                       QStringLiteral("Disk root for the master (kept)."),
                                       QStringLiteral("DIR"));
    const QCommandLineOption sizeOption(QStringLiteral("size-mib"),
                                        QStringLiteral("Total size of the track files."),
                                        QStringLiteral("N"), QStringLiteral("2100"));
    const QCommandLineOption tracksOption(QStringLiteral("tracks"),
                                          QStringLiteral("Number of track files."),
                                          QStringLiteral("N"), QStringLiteral("6"));
    const QCommandLineOption repeatOption(QStringLiteral("repeat"),
                                          QStringLiteral("Timed runs of each."),
                                          QStringLiteral("N"), QStringLiteral("3"));
    const QCommandLineOption checkerOption(
        QStringLiteral("checker"), QStringLiteral("The tavimor-check binary."),
        QStringLiteral("PATH"), QStringLiteral(TAVIMOR_CHECK_EXECUTABLE));
    parser.addOptions({dirOption, sizeOption, tracksOption, repeatOption, checkerOption});
    parser.process(application);

    const qint64 totalBytes = parser.value(sizeOption).toLongLong() * 1024 * 1024;
    const int trackCount = std::max(1, parser.value(tracksOption).toInt());
    const int repeat = std::max(1, parser.value(repeatOption).toInt());
    const QString checker = parser.value(checkerOption);
    const QString openssl = QStandardPaths::findExecutable(QStringLiteral("openssl"));
    if (totalBytes <= 0 || !QFileInfo(checker).isExecutable() || openssl.isEmpty()) {
        say(QStringLiteral(
                "hash_benchmark: needs a size, the tavimor-check binary (%1) and openssl")
                .arg(checker));
        return 2;
    }

    std::unique_ptr<QTemporaryDir> temporary;
    QString diskRoot = parser.value(dirOption);
    if (diskRoot.isEmpty()) {
        temporary.reset(new QTemporaryDir);
        if (!temporary->isValid())
            return 2;
        diskRoot = temporary->path();
    }
    diskRoot = QDir(diskRoot).absolutePath();
    QDir().mkpath(diskRoot);

    Master master;
    if (!buildMaster(diskRoot, totalBytes, trackCount, master)) {
        say(QStringLiteral("hash_benchmark: cannot write the master into %1").arg(diskRoot));
        return 2;
    }
    // Settings outside the disk root, so that discovery does not meet them.
    QTemporaryDir work;
    const QString settingsPath = work.filePath(QStringLiteral("set.ini"));
    {
        QSettings settings(settingsPath, QSettings::IniFormat);
        settings.setValue(QStringLiteral("hash/check"), 1);
    }
    setSettingsFilePath(settingsPath);

    say(QStringLiteral("master: %1, %2 track files, %3 hashed in all")
            .arg(master.folder)
            .arg(master.trackPaths.size())
            .arg(mib(master.allBytes)));
    QElapsedTimer timer;
    timer.start();
    warmPageCache(master.trackPaths + QStringList{master.folder + QStringLiteral("/cpl.xml")});
    say(QStringLiteral("page cache warmed in %1 s").arg(timer.elapsed() / 1000.0, 0, 'f', 1));

    Series checkerRuns("tavimor-check --master --json");
    Series digest("openssl dgst -sha1");
    Series inProcess("in-process CheckRun");
    InProcessRun lastInProcess;
    const QString jsonPath = work.filePath(QStringLiteral("check.json"));
    for (int i = 0; i < repeat; ++i) {
        const ChildRun check =
            runChild(checker,
                     {QStringLiteral("--master"), diskRoot, QStringLiteral("--settings"),
                      settingsPath, QStringLiteral("--json")},
                     jsonPath, work.filePath(QStringLiteral("check.err")));
        QFile json(jsonPath);
        json.open(QIODevice::ReadOnly);
        const QJsonArray rows = QJsonDocument::fromJson(json.readAll())
                                    .object()
                                    .value(QStringLiteral("rows"))
                                    .toArray();
        const QString hashResult =
            rows.at(CheckRow::Hash).toObject().value(QStringLiteral("result")).toString();
        // Exit status 3: every rule up to the label confirmation passed, hashing included.
        if (!check.ok || check.exitCode != 3 || hashResult != QStringLiteral("符合")) {
            say(QStringLiteral("hash_benchmark: the check did not pass (exit %1, row 18 \"%2\")")
                    .arg(check.exitCode)
                    .arg(hashResult));
            return 1;
        }
        checkerRuns.add(check.seconds, check.cpuSeconds, check.peakRssKiB);

        const ChildRun sha1 = runChild(
            openssl,
            QStringList{QStringLiteral("dgst"), QStringLiteral("-sha1")} + master.trackPaths,
            work.filePath(QStringLiteral("openssl.txt")),
            work.filePath(QStringLiteral("openssl.err")));
        if (!sha1.ok || sha1.exitCode != 0) {
            say(QStringLiteral("hash_benchmark: openssl failed"));
            return 1;
        }
        digest.add(sha1.seconds, sha1.cpuSeconds, sha1.peakRssKiB);

        lastInProcess = runInProcess(diskRoot);
        if (!lastInProcess.passedHash) {
            say(QStringLiteral("hash_benchmark: the in-process run did not pass: %1")
                    .arg(lastInProcess.warning));
            return 1;
        }
        inProcess.add(lastInProcess.seconds, lastInProcess.cpuSeconds, lastInProcess.peakRssKiB);
    }

    say(QString());
    say(QStringLiteral("%1 runs each; the best wall and CPU (user + system) times count")
            .arg(repeat));
    say(QStringLiteral("%1  %2  %3  %4  %5  %6")
            .arg(QStringLiteral("program").leftJustified(30),
                 QStringLiteral("wall").rightJustified(6),
                 QStringLiteral("rate").rightJustified(11), QStringLiteral("cpu").rightJustified(6),
                 QStringLiteral("peak RSS").rightJustified(10),
                 QStringLiteral("wall of each run")));
    say(checkerRuns.row(master.allBytes));
    say(digest.row(master.trackBytes));
    say(inProcess.row(master.allBytes));
    say(QStringLiteral("ratio tavimor-check / openssl: wall %1, cpu %2 (target <= 1.0)")
            .arg(checkerRuns.bestWall() / digest.bestWall(), 0, 'f', 2)
            .arg(checkerRuns.bestCpu() / digest.bestCpu(), 0, 'f', 2));
    say(QStringLiteral("progress events shown in one check: %1 (%2 chunks of %3 bytes read)")
            .arg(lastInProcess.progressEvents)
            .arg((master.allBytes + HashThread::kChunkSize - 1) / HashThread::kChunkSize)
            .arg(HashThread::kChunkSize));
    say(QStringLiteral("in-process RSS: %1 before the check, peak %2 during it")
            .arg(mib(lastInProcess.rssBeforeKiB * 1024), mib(lastInProcess.peakRssKiB * 1024)));
    return 0;
}
