#include "run/HashThread.h"

#include <QFile>
#include <QFileInfo>

#include "platform/Sha1.h"

#include <memory>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#endif

namespace {
// Releases the library's per-thread state when run() returns, whichever way.
struct ThreadStateRelease
{
    ~ThreadStateRelease() { Sha1Digest::releaseThreadState(); }
};

// A missing file counts as 0 bytes, so that the run reaches it and reports it.
qint64 fileSize(const QString &path)
{
    return QFileInfo(path).size();
}

// The reads are strictly sequential; telling the kernel lets it read ahead further.
void adviseSequential(QFile &file)
{
#if defined(Q_OS_UNIX) && defined(POSIX_FADV_SEQUENTIAL)
    const int fd = file.handle();
    if (fd >= 0)
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#else
    Q_UNUSED(file)
#endif
}

// Bytes asked of the kernel per read: some hundred chunks, which are then taken from the
// buffer one by one. A read stops short only at the end of the file or at an error, as a
// chunk's read would, so the chunks fall where reading chunk by chunk puts them; a hundredth
// of the reads leaves more of the time to the digest.
constexpr qint64 kReadSize = 96 * HashThread::kChunkSize;

// Page-aligned: the kernel copies out of the page cache page by page, measurably slower into a
// buffer off that boundary.
struct alignas(4096) ReadBuffer
{
    char bytes[kReadSize];
};

// The progress text of the bytes done so far, and whether it differs from the last one sent.
class ProgressText
{
public:
    bool changed(double percent)
    {
        // Formatting a text per chunk would cost more than the rest of the bookkeeping. The
        // percentage never decreases and rounding to two decimals keeps order, so until it
        // reaches the next rounding boundary above the last text's value (that value + 0.005)
        // the text cannot change; 0.004 keeps clear of any error in that comparison.
        if (percent < unchangedBelow)
            return false;
        QString next = QString::number(percent, 'f', 2) + QLatin1Char('%');
        if (next == text)
            return false;
        text = next;
        bool ok = false;
        const double value = text.leftRef(text.size() - 1).toDouble(&ok);
        // Far beyond 100 % (files that grew after the total was taken) the margin would be
        // lost in rounding; every text is formatted there.
        unchangedBelow = ok && value < 1e9 ? value + 0.004 : -1.0;
        return true;
    }
    const QString &current() const { return text; }

private:
    QString text;
    double unchangedBelow = -1.0;
};
} // namespace

HashThread::HashThread(const QStringList &filePaths, const QStringList &expectedHashes)
    : QThread(nullptr), filePaths(filePaths), expectedHashes(expectedHashes)
{
    // The library initialises itself on first use; done by a worker, part of that state would
    // belong to the worker's thread and be lost when it ends.
    Sha1Digest::prepare();
}

HashThread::~HashThread() = default;

void HashThread::run()
{
    const ThreadStateRelease release;
    if (filePaths.isEmpty()) {
        if (!isInterruptionRequested())
            emit MsgSignal(QStringLiteral("OK"));
        return;
    }

    qint64 total = 0;
    for (const QString &path : qAsConst(filePaths))
        total += fileSize(path);

    Sha1Digest context;
    const std::unique_ptr<ReadBuffer> buffer(new ReadBuffer);
    qint64 done = 0;
    // Only a changed text is sent: a master of hundreds of gigabytes would otherwise queue
    // millions of identical percentages on the GUI thread.
    ProgressText progress;

    for (int i = 0; i < filePaths.size(); ++i) {
        if (isInterruptionRequested())
            return;
        qint64 remaining = fileSize(filePaths.at(i));
        QFile file(filePaths.at(i));
        if (!context.isValid() || !file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
            if (!isInterruptionRequested())
                emit MsgSignal(QStringLiteral("ERR"));
            return;
        }
        adviseSequential(file);
        context.reset();

        // The chunks are taken from the buffer; what it holds is read ahead of them.
        qint64 held = 0;
        qint64 taken = 0;
        while (remaining > 0) {
            if (isInterruptionRequested())
                return;
            if (taken == held) {
                held = file.read(buffer->bytes, qMin(remaining, kReadSize));
                taken = 0;
                if (held <= 0)
                    break;
            }
            const char *chunk = buffer->bytes + taken;
            const qint64 n = qMin(held - taken, kChunkSize);
            taken += n;
            done += n;
            remaining -= n;
            context.addData(chunk, n);

            if (progress.changed(total > 0 ? done * 100.0 / total : 100.0))
                emit MsgSignal(progress.current());
        }
        file.close();

        const QString actual = QString::fromLatin1(context.result().toBase64());
        if (isInterruptionRequested())
            return;
        if (actual != expectedHashes.value(i)) {
            emit MsgSignal(QStringLiteral("ERR"));
            return;
        }
    }
    if (!isInterruptionRequested())
        emit MsgSignal(QStringLiteral("OK"));
}
