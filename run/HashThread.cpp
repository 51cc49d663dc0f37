#include "run/HashThread.h"

#include "platform/FileReader.h"
#include "platform/Processors.h"
#include "platform/Sha1.h"
#include "run/PrefetchReader.h"

#include <QMutexLocker>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {
// Releases the library's per-thread state when a thread that hashed ends, whichever way.
struct ThreadStateRelease
{
    ~ThreadStateRelease() { Sha1Digest::releaseThreadState(); }
};

// A missing file counts as 0 bytes, so that the run reaches it and reports it.
qint64 fileSize(const QString &path)
{
    const FileState state = FileReader::stateAt(path);
    return state.status == FileState::Present ? state.size : 0;
}

// The progress text of the bytes done so far, and whether it differs from the last one sent.
// changed() is called under a lock; mayChange() without one.
class ProgressText
{
public:
    // False only where changed() would be false: then no lock is needed.
    bool mayChange(double percent) const
    {
        return percent >= unchangedBelow.load(std::memory_order_relaxed);
    }
    bool changed(double percent)
    {
        // Formatting a text per chunk would cost more than the rest of the bookkeeping. The
        // percentage never decreases and rounding to two decimals keeps order, so until it
        // reaches the next rounding boundary above the last text's value (that value + 0.005)
        // the text cannot change; 0.004 keeps clear of any error in that comparison.
        if (!mayChange(percent))
            return false;
        QString next = QString::number(percent, 'f', 2) + QLatin1Char('%');
        if (next == text)
            return false;
        text = next;
        bool ok = false;
        const double value = text.leftRef(text.size() - 1).toDouble(&ok);
        // Far beyond 100 % (files that grew after the total was taken) the margin would be
        // lost in rounding; every text is formatted there.
        unchangedBelow.store(ok && value < 1e9 ? value + 0.004 : -1.0, std::memory_order_relaxed);
        return true;
    }
    const QString &current() const { return text; }

private:
    QString text;
    std::atomic<double> unchangedBelow{-1.0};
};

// How long the digest may wait for the disk, as a share of the time measured, and still count as
// the bottleneck; and how much time is measured before deciding.
constexpr double kDiskBoundShare = 0.10;
constexpr double kTooManyShare = 0.50;
constexpr qint64 kDecisionNs = 10 * 1000 * 1000;
// Where a thread's processor time advances in clock ticks, a measure needs several of them.
constexpr qint64 kDecisionTicks = 4;
// Once the disk has fallen behind, how long the run keeps to fewer files before it tries more:
// a disk at the edge would otherwise have its reads switched between files every few blocks.
constexpr auto kFewerLanesHold = std::chrono::seconds(2);
} // namespace

// What the threads of one run share.
struct HashThread::Shared
{
    std::mutex mutex;
    std::condition_variable laneEnded;
    std::condition_variable resume; // for paused lanes
    int nextFile = 0;               // the next file a free lane takes
    int activeLanes = 0;            // lanes hashing, paused or about to take a file
    int pausedLanes = 0; // lanes holding a file half hashed until the disk has time for it
    // The disk is behind: lanes pause between blocks and leave between files until one runs.
    // Read without the lock between blocks; changed under it.
    std::atomic<bool> fewerLanes{false};
    bool failed = false;
    HashFailure failure;
    std::atomic<bool> stop{false};
    // Time the digests waited for data and time they spent hashing, over all lanes.
    std::atomic<qint64> waitedNs{0};
    std::atomic<qint64> hashedNs{0};

    qint64 total = 0;
    std::atomic<qint64> done{0};
    std::mutex progressMutex; // for progress and unsent
    ProgressText progress;
    // Texts not yet sent. The run's own thread sends them in order every 10 ms: a signal per
    // text would wake the receiving thread thousands of times a second and take processor time
    // from the digests.
    QStringList unsent;

    // Adds n bytes to the bytes done and queues the text for them if it differs from the last.
    void addDone(qint64 n)
    {
        const qint64 now = done.fetch_add(n, std::memory_order_relaxed) + n;
        const double percent = total > 0 ? now * 100.0 / total : 100.0;
        // A chunk that changes no text costs no lock.
        if (!progress.mayChange(percent))
            return;
        const std::lock_guard<std::mutex> lock(progressMutex);
        if (progress.changed(percent))
            unsent << progress.current();
    }
    QStringList takeUnsent()
    {
        const std::lock_guard<std::mutex> lock(progressMutex);
        QStringList texts;
        texts.swap(unsent);
        return texts;
    }
};

HashThread::HashThread(const QStringList &filePaths, const QStringList &expectedHashes)
    : QThread(nullptr), filePaths(filePaths), expectedHashes(expectedHashes),
      maxParallelFiles(usableProcessorCount())
{
    // The library initialises itself on first use; done by a worker, part of that state would
    // belong to the worker's thread and be lost when it ends.
    Sha1Digest::prepare();
}

HashThread::~HashThread() = default;

HashFailure HashThread::failure() const
{
    QMutexLocker lock(&failureLock);
    return lastFailure;
}

int HashThread::peakParallelFiles() const
{
    QMutexLocker lock(&failureLock);
    return peakFiles;
}

void HashThread::run()
{
    Shared shared;
    for (const QString &path : qAsConst(filePaths))
        shared.total += fileSize(path);

    // Lanes are added while the digests keep the processors busy and the disk keeps up with them.
    // When the disk falls behind, every lane but one pauses after its current block, so that the
    // disk reads one file at a time again at once, not only when a file ends: a track can be
    // hundreds of gigabytes.
    std::vector<std::thread> lanes;
    int peak = 0;
    {
        std::unique_lock<std::mutex> lock(shared.mutex);
        const int fileCount = filePaths.size();
        qint64 waitedMark = 0;
        qint64 hashedMark = 0;
        auto fewerSince = std::chrono::steady_clock::now();
        const qint64 decisionNs =
            qMax(kDecisionNs, kDecisionTicks * threadCpuResolutionNanoseconds());
        const auto addLane = [&] {
            ++shared.activeLanes;
            peak = qMax(peak, shared.activeLanes);
            lanes.emplace_back([this, &shared] { hashFiles(shared); });
        };
        const auto mayAddLane = [&] {
            return shared.activeLanes < maxParallelFiles && shared.nextFile < fileCount;
        };
        if (fileCount > 0)
            addLane();
        while (shared.activeLanes > 0) {
            shared.laneEnded.wait_for(lock, std::chrono::milliseconds(10));
            if (isInterruptionRequested() && !shared.stop) {
                shared.stop = true;
                shared.resume.notify_all();
            }
            lock.unlock();
            sendTexts(shared);
            lock.lock();
            if (shared.stop || shared.activeLanes == 0)
                continue;
            const qint64 waited = shared.waitedNs - waitedMark;
            const qint64 hashed = shared.hashedNs - hashedMark;
            const int running = qMax(1, shared.activeLanes - shared.pausedLanes);
            if (waited + hashed < decisionNs * running)
                continue;
            waitedMark += waited;
            hashedMark += hashed;
            const double waitShare = double(waited) / double(waited + hashed);
            const auto now = std::chrono::steady_clock::now();
            if (waitShare > kTooManyShare && shared.activeLanes > 1) {
                shared.fewerLanes = true;
                fewerSince = now;
            } else if (waitShare < kDiskBoundShare && shared.fewerLanes) {
                if (now - fewerSince >= kFewerLanesHold) {
                    shared.fewerLanes = false;
                    shared.resume.notify_all();
                }
            } else if (waitShare < kDiskBoundShare && mayAddLane()) {
                addLane();
            }
        }
    }
    for (std::thread &lane : lanes)
        lane.join();
    {
        QMutexLocker lock(&failureLock);
        peakFiles = peak;
        if (shared.failed)
            lastFailure = shared.failure;
    }
    sendTexts(shared);
    if (isInterruptionRequested())
        return;
    emit MsgSignal(shared.failed ? QStringLiteral("ERR") : QStringLiteral("OK"));
}

void HashThread::sendTexts(Shared &shared)
{
    for (const QString &text : shared.takeUnsent()) {
        if (isInterruptionRequested())
            return;
        emit MsgSignal(text);
    }
}

// One lane: takes the next file until none is left, the run stops, or the lane is not needed.
void HashThread::hashFiles(Shared &shared)
{
    const ThreadStateRelease release;
    PrefetchReader::Buffers buffers;
    for (;;) {
        int index = -1;
        {
            const std::lock_guard<std::mutex> lock(shared.mutex);
            if (!shared.stop && !isInterruptionRequested() && shared.nextFile < filePaths.size() &&
                !(shared.fewerLanes && shared.activeLanes > 1)) {
                index = shared.nextFile++;
            } else {
                --shared.activeLanes;
            }
        }
        if (index < 0) {
            // A paused lane may go on now that this one has left.
            shared.resume.notify_all();
            shared.laneEnded.notify_all();
            return;
        }
        HashFailure failure = hashFile(shared, index, buffers);
        if (failure.kind != HashFailure::None) {
            {
                const std::lock_guard<std::mutex> lock(shared.mutex);
                if (!shared.failed && !shared.stop) {
                    shared.failed = true;
                    shared.failure = std::move(failure);
                }
                shared.stop = true;
            }
            shared.resume.notify_all();
            shared.laneEnded.notify_all();
        }
    }
}

void HashThread::pauseWhileDiskBehind(Shared &shared)
{
    std::unique_lock<std::mutex> lock(shared.mutex);
    const auto othersRun = [&shared] { return shared.activeLanes - shared.pausedLanes > 1; };
    if (!shared.fewerLanes || !othersRun())
        return;
    ++shared.pausedLanes;
    // Goes on when the disk has time again, when the lane that ran has left, or to stop.
    shared.resume.wait(lock, [&shared] {
        return shared.stop || !shared.fewerLanes || shared.activeLanes == shared.pausedLanes;
    });
    --shared.pausedLanes;
}

HashFailure HashThread::hashFile(Shared &shared, int index, PrefetchReader::Buffers &buffers)
{
    const QString &path = filePaths.at(index);
    HashFailure failure;
    failure.path = path;
    const auto failWith = [&failure](HashFailure::Kind kind, const QString &reason = QString()) {
        failure.kind = kind;
        failure.reason = reason;
        return failure;
    };

    // The size to hash is taken before opening; the open file must be the one measured.
    const FileState before = FileReader::stateAt(path);
    if (before.status == FileState::Absent)
        return failWith(HashFailure::Changed, before.reason);
    if (before.status == FileState::Error)
        return failWith(HashFailure::Unreadable, before.reason);
    FileReader file;
    if (!file.open(path))
        return failWith(file.absent() ? HashFailure::Changed : HashFailure::Unreadable,
                        file.errorString());
    const FileState opened = file.state();
    if (!opened.isUnchanged(before))
        return failWith(HashFailure::Changed, QStringLiteral("打开的文件与检测开始时的文件不同"));
    Sha1Digest context;
    if (!context.isValid())
        return failWith(HashFailure::Unreadable, QStringLiteral("SHA-1 unavailable"));

    qint64 fileDone = 0;
    if (before.size > 0) {
        const int fileIndex = index;
        PrefetchReader::ReadHook readAhead;
        if (readHook)
            readAhead = [this, fileIndex] { readHook(fileIndex); };
        PrefetchReader reader(file, before.size, buffers, readAhead);
        qint64 waitedNs = 0;
        while (fileDone < before.size) {
            const PrefetchReader::Block block = reader.next(waitedNs);
            // The wait for a file's first block is the reader starting, whatever the disk: only
            // the waits after it tell whether the disk keeps up. A block in fresh memory is not
            // measured at all: reading and hashing it both pay the system's page faults.
            if (fileDone > 0 && !block.fresh)
                shared.waitedNs += waitedNs;
            waitedNs = 0;
            if (block.size < 0)
                return failWith(HashFailure::Unreadable, reader.errorString());
            if (block.size == 0) // shorter than when it was opened: cut while being hashed
                return failWith(HashFailure::Changed, QStringLiteral("文件在读取过程中变短了"));
            // Processor time, not wall time: on a busy machine a preempted digest would look
            // slow and call for lanes that cannot help.
            const qint64 hashingStart = threadCpuNanoseconds();
            for (qint64 taken = 0; taken < block.size;) {
                if (shared.stop || isInterruptionRequested())
                    return HashFailure();
                const qint64 n = qMin(block.size - taken, kChunkSize);
                context.addData(block.data + taken, n);
                taken += n;
                fileDone += n;
                shared.addDone(n);
                if (chunkHook)
                    chunkHook(index, fileDone);
            }
            if (!block.fresh)
                shared.hashedNs += threadCpuNanoseconds() - hashingStart;
            reader.release();
            if (shared.fewerLanes.load(std::memory_order_relaxed))
                pauseWhileDiskBehind(shared);
        }
    }

    // The digest stands for the file only if nothing wrote to it, and its path still names it,
    // now that the last byte is read.
    const FileState after = file.state();
    const FileState atPath = FileReader::stateAt(path);
    file.close();
    if (atPath.status == FileState::Error)
        return failWith(HashFailure::Unreadable, atPath.reason);
    if (!after.isUnchanged(opened) || !atPath.isUnchanged(opened))
        return failWith(HashFailure::Changed,
                        QStringLiteral("读取结束时，文件的大小、修改时间或所在位置已改变"));

    const QString actual = QString::fromLatin1(context.result().toBase64());
    if (actual != expectedHashes.value(index)) {
        failure.kind = HashFailure::Mismatch;
        failure.expected = expectedHashes.value(index);
        failure.actual = actual;
    }
    return failure;
}
