// Hash verification speed of tavimor-check against the limits of the machine: reading the track
// files (cat) and hashing them on one core (openssl dgst -sha1), with the page cache warm
// ("cached") and dropped before each run ("cold").
//
//   hash_benchmark [--dir DIR] [--track-mib N] [--repeat N] [--checker PATH]
//
// The master (one reel: a picture and a sound track of N MiB each) is written into DIR and kept
// there for later runs; without --dir a temporary folder is used. Dropping the page cache needs
// root on Linux; without it the cold figures are left out and the benchmark says so.

#include "platform/Processors.h"
#include "run/CheckList.h"
#include "run/HashThread.h"
#include "support/FixtureBuilder.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {
const QString kMarkerName = QStringLiteral(".hash_benchmark");

void say(const QString &text)
{
    std::fputs(text.toUtf8().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

struct ChildRun
{
    bool ok = false;
    int exitCode = -1;
    double seconds = 0;
    double cpuSeconds = 0; // user + system
    qint64 peakRssKiB = 0;
};

// posix_spawn + wait4: the child's own CPU time and peak RSS come with its exit.
ChildRun runChild(const QStringList &command, const QString &stdoutPath)
{
    ChildRun run;
    std::vector<QByteArray> storage;
    for (const QString &argument : command)
        storage.push_back(QFile::encodeName(argument));
    std::vector<char *> argv;
    for (QByteArray &text : storage)
        argv.push_back(text.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const QByteArray out = QFile::encodeName(stdoutPath);
    posix_spawn_file_actions_addopen(&actions, 1, out.constData(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);

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
    run.cpuSeconds = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
                     (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    return run;
}

// Empties the page cache, so that the next reads come from the disk. Root only.
bool dropPageCache()
{
    ::sync();
    QFile control(QStringLiteral("/proc/sys/vm/drop_caches"));
    return control.open(QIODevice::WriteOnly) && control.write("3\n") == 2;
}

void warmPageCache(const QStringList &paths)
{
    std::vector<char> buffer(4 << 20);
    for (const QString &path : paths) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            while (file.read(buffer.data(), qint64(buffer.size())) > 0) {
            }
    }
}

class Series
{
public:
    void add(const ChildRun &run)
    {
        m_wall << run.seconds;
        m_cpu << run.cpuSeconds;
        m_peakKiB = std::max(m_peakKiB, run.peakRssKiB);
    }
    bool isEmpty() const { return m_wall.isEmpty(); }
    double median() const { return middle(m_wall); }
    double cpuMedian() const { return middle(m_cpu); }
    qint64 peakKiB() const { return m_peakKiB; }
    QString runs() const
    {
        QStringList texts;
        for (const double value : m_wall)
            texts << QString::number(value, 'f', 2);
        return texts.join(QLatin1Char(' '));
    }

private:
    static double middle(QVector<double> values)
    {
        if (values.isEmpty())
            return 0;
        std::sort(values.begin(), values.end());
        return values.at(values.size() / 2);
    }
    QVector<double> m_wall;
    QVector<double> m_cpu;
    qint64 m_peakKiB = 0;
};

QString row(const QString &name, const Series &series, qint64 bytes)
{
    if (series.isEmpty())
        return name.leftJustified(26) + QStringLiteral("  (not measured)");
    return QStringLiteral("%1  %2 s  %3 MB/s  cpu %4 s  peak %5 MiB  runs %6")
        .arg(name.leftJustified(26))
        .arg(series.median(), 6, 'f', 2)
        .arg(bytes / 1e6 / series.median(), 6, 'f', 0)
        .arg(series.cpuMedian(), 5, 'f', 2)
        .arg(series.peakKiB() / 1024, 4)
        .arg(series.runs());
}

// The master of an earlier run when its marker says it has tracks of this size; else a new one.
QStringList prepareMaster(const QString &diskRoot, qint64 trackBytes)
{
    QFile marker(QDir(diskRoot).filePath(kMarkerName));
    if (marker.open(QIODevice::ReadOnly)) {
        const QStringList lines = QString::fromUtf8(marker.readAll()).split(QLatin1Char('\n'));
        marker.close();
        if (lines.value(0).toLongLong() == trackBytes) {
            const QStringList tracks = lines.mid(1, 2);
            if (tracks.size() == 2 && QFileInfo(tracks[0]).size() == trackBytes &&
                QFileInfo(tracks[1]).size() == trackBytes)
                return tracks;
        }
    }
    QDir(QDir(diskRoot).filePath(QStringLiteral("DCP"))).removeRecursively();
    QElapsedTimer timer;
    timer.start();
    MasterLayout layout;
    layout.trackBytes = trackBytes;
    layout.reelDurations = {24 * 60 * 10};
    const BuiltMaster master = FixtureBuilder(diskRoot).writeMaster(layout);
    if (master.trackPaths.size() != 2)
        return {};
    say(QStringLiteral("wrote the master in %1 s").arg(timer.elapsed() / 1000.0, 0, 'f', 1));
    if (marker.open(QIODevice::WriteOnly))
        marker.write(QString::number(trackBytes).toUtf8() + '\n' +
                     master.trackPaths.join(QLatin1Char('\n')).toUtf8());
    return master.trackPaths;
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Hash verification speed of tavimor-check against cat and openssl."));
    parser.addHelpOption();
    const QCommandLineOption dirOption(QStringLiteral("dir"),
                                       QStringLiteral("Disk root for the master (kept)."),
                                       QStringLiteral("DIR"));
    const QCommandLineOption sizeOption(QStringLiteral("track-mib"),
                                        QStringLiteral("Size of each of the two track files."),
                                        QStringLiteral("N"), QStringLiteral("1024"));
    const QCommandLineOption repeatOption(QStringLiteral("repeat"),
                                          QStringLiteral("Timed runs of each."),
                                          QStringLiteral("N"), QStringLiteral("3"));
    const QCommandLineOption checkerOption(
        QStringLiteral("checker"), QStringLiteral("The tavimor-check binary."),
        QStringLiteral("PATH"), QStringLiteral(TAVIMOR_CHECK_EXECUTABLE));
    parser.addOptions({dirOption, sizeOption, repeatOption, checkerOption});
    parser.process(application);

    const qint64 trackBytes = parser.value(sizeOption).toLongLong() << 20;
    const int repeat = std::max(1, parser.value(repeatOption).toInt());
    const QString checker = parser.value(checkerOption);
    const QString openssl = QStandardPaths::findExecutable(QStringLiteral("openssl"));
    const QString cat = QStandardPaths::findExecutable(QStringLiteral("cat"));
    if (trackBytes <= 0 || !QFileInfo(checker).isExecutable() || openssl.isEmpty() ||
        cat.isEmpty()) {
        say(QStringLiteral("hash_benchmark: needs a size, tavimor-check (%1), openssl and cat")
                .arg(checker));
        return 2;
    }

    std::unique_ptr<QTemporaryDir> temporary;
    QString diskRoot = parser.value(dirOption);
    if (diskRoot.isEmpty()) {
        temporary.reset(new QTemporaryDir);
        diskRoot = temporary->path();
    }
    diskRoot = QDir(diskRoot).absolutePath();
    QDir().mkpath(diskRoot);
    const QStringList tracks = prepareMaster(diskRoot, trackBytes);
    if (tracks.isEmpty()) {
        say(QStringLiteral("hash_benchmark: cannot write the master into %1").arg(diskRoot));
        return 2;
    }
    const qint64 bytes = 2 * trackBytes;

    // Settings outside the disk root, so that discovery does not meet them.
    QTemporaryDir work;
    const QString settings = work.filePath(QStringLiteral("set.ini"));
    FixtureBuilder::writeSettings(settings, 1);
    const QString out = work.filePath(QStringLiteral("out"));
    const QStringList check = {checker,  QStringLiteral("--master"),
                               diskRoot, QStringLiteral("--settings"),
                               settings, QStringLiteral("--json")};
    const QStringList digest =
        QStringList{openssl, QStringLiteral("dgst"), QStringLiteral("-sha1")} + tracks;
    const QStringList read = QStringList{cat} + tracks;

    const bool canDrop = dropPageCache();
    say(QStringLiteral("master: two tracks of %1 MiB in %2; %3 processor(s); %4")
            .arg(trackBytes >> 20)
            .arg(diskRoot)
            .arg(usableProcessorCount())
            .arg(canDrop ? QStringLiteral("page cache dropped before each cold run")
                         : QStringLiteral("cannot drop the page cache (needs root): cold "
                                          "figures left out")));

    Series checkCached, checkCold, catCold, digestCached, digestCold;
    qint64 progressTexts = 0;
    const auto runCheck = [&](Series &series) {
        const ChildRun run = runChild(check, out);
        QFile json(out);
        json.open(QIODevice::ReadOnly);
        const QJsonArray rows = QJsonDocument::fromJson(json.readAll())
                                    .object()
                                    .value(QStringLiteral("rows"))
                                    .toArray();
        const QString hash =
            rows.at(CheckRow::Hash).toObject().value(QStringLiteral("result")).toString();
        // Exit status 3: every rule up to the label confirmation passed, hashing included.
        if (!run.ok || run.exitCode != 3 || hash != QStringLiteral("符合")) {
            say(QStringLiteral("hash_benchmark: the check did not pass (exit %1, row 18 \"%2\")")
                    .arg(run.exitCode)
                    .arg(hash));
            return false;
        }
        series.add(run);
        return true;
    };
    // cat's output goes to /dev/null: written to a file it would time the writing too.
    const auto runTool = [&](const QStringList &command, Series &series, const QString &output) {
        const ChildRun run = runChild(command, output);
        if (!run.ok || run.exitCode != 0) {
            say(QStringLiteral("hash_benchmark: %1 failed").arg(command.first()));
            return false;
        }
        series.add(run);
        return true;
    };

    for (int i = 0; i < repeat; ++i) {
        if (canDrop) {
            if (!dropPageCache() || !runCheck(checkCold) || !dropPageCache() ||
                !runTool(read, catCold, QStringLiteral("/dev/null")) || !dropPageCache() ||
                !runTool(digest, digestCold, out))
                return 1;
        }
        warmPageCache(tracks);
        if (!runCheck(checkCached) || !runTool(digest, digestCached, out))
            return 1;
    }
    {
        // How many texts the window would show for this master, hashing it to a pass.
        QStringList digests;
        for (const QString &track : tracks) {
            QFile file(track);
            QCryptographicHash sha(QCryptographicHash::Sha1);
            if (file.open(QIODevice::ReadOnly))
                sha.addData(&file);
            digests << QString::fromLatin1(sha.result().toBase64());
        }
        HashThread worker(tracks, digests);
        QObject::connect(&worker, &HashThread::MsgSignal, [&progressTexts](const QString &text) {
            if (text.endsWith(QLatin1Char('%')))
                ++progressTexts;
        });
        worker.start();
        worker.wait();
    }

    say(QString());
    say(QStringLiteral("median of %1 runs each").arg(repeat));
    say(row(QStringLiteral("tavimor-check, cached"), checkCached, bytes));
    say(row(QStringLiteral("tavimor-check, cold"), checkCold, bytes));
    say(row(QStringLiteral("cat, cold"), catCold, bytes));
    say(row(QStringLiteral("openssl dgst -sha1, cached"), digestCached, bytes));
    say(row(QStringLiteral("openssl dgst -sha1, cold"), digestCold, bytes));
    say(QString());
    if (!checkCold.isEmpty()) {
        const double limit = std::max(catCold.median(), checkCached.median());
        say(QStringLiteral("cold check / max(cold cat, cached check) = %1 (target <= 1.10)")
                .arg(checkCold.median() / limit, 0, 'f', 2));
        // Where the processors, not the overlap, set the pace: no run can beat its own
        // processor time spread over every processor.
        const int processors = usableProcessorCount();
        say(QStringLiteral("processor floor: cold check %1 s, cached check %2 s (cpu / %3)")
                .arg(checkCold.cpuMedian() / processors, 0, 'f', 2)
                .arg(checkCached.cpuMedian() / processors, 0, 'f', 2)
                .arg(processors));
    }
    say(QStringLiteral("cached check / cached openssl dgst = %1 (target <= 0.55)")
            .arg(checkCached.median() / digestCached.median(), 0, 'f', 2));
    say(QStringLiteral("progress texts of one check: %1").arg(progressTexts));
    return 0;
}
