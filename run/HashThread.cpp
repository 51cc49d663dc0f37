#include "run/HashThread.h"

#include "platform/FileReader.h"

#include <QMutexLocker>

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <memory>

namespace {
struct DigestContextDeleter
{
    void operator()(EVP_MD_CTX *context) const { EVP_MD_CTX_free(context); }
};
using DigestContext = std::unique_ptr<EVP_MD_CTX, DigestContextDeleter>;

// Releases the library's per-thread state when run() returns, whichever way.
struct ThreadStateRelease
{
    ~ThreadStateRelease() { OPENSSL_thread_stop(); }
};

// A missing file counts as 0 bytes, so that the run reaches it and reports it.
qint64 fileSize(const QString &path)
{
    const FileState state = FileReader::stateAt(path);
    return state.status == FileState::Present ? state.size : 0;
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
    OPENSSL_init_crypto(OPENSSL_INIT_LOAD_CONFIG, nullptr);
}

HashThread::~HashThread() = default;

HashFailure HashThread::failure() const
{
    QMutexLocker lock(&failureLock);
    return lastFailure;
}

void HashThread::fail(HashFailure failure)
{
    {
        QMutexLocker lock(&failureLock);
        lastFailure = std::move(failure);
    }
    if (!isInterruptionRequested())
        emit MsgSignal(QStringLiteral("ERR"));
}

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

    DigestContext context(EVP_MD_CTX_new());
    const std::unique_ptr<ReadBuffer> buffer(new ReadBuffer);
    qint64 done = 0;
    // Only a changed text is sent: a master of hundreds of gigabytes would otherwise queue
    // millions of identical percentages on the GUI thread.
    ProgressText progress;

    for (int i = 0; i < filePaths.size(); ++i) {
        if (isInterruptionRequested())
            return;
        const QString &path = filePaths.at(i);
        const auto failWith = [&](HashFailure::Kind kind, const QString &reason = QString()) {
            HashFailure failure;
            failure.kind = kind;
            failure.path = path;
            failure.reason = reason;
            fail(failure);
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
        if (!context)
            return failWith(HashFailure::Unreadable, QStringLiteral("SHA-1 unavailable"));
        const FileState opened = file.state();
        if (!opened.isUnchanged(before))
            return failWith(HashFailure::Changed);
        EVP_DigestInit_ex(context.get(), EVP_sha1(), nullptr);

        // The chunks are taken from the buffer; what it holds is read ahead of them.
        qint64 remaining = before.size;
        qint64 fileDone = 0;
        qint64 held = 0;
        qint64 taken = 0;
        while (remaining > 0) {
            if (isInterruptionRequested())
                return;
            if (taken == held) {
                held = file.read(buffer->bytes, qMin(remaining, kReadSize));
                taken = 0;
                if (held < 0)
                    return failWith(HashFailure::Unreadable, file.errorString());
                if (held == 0) // shorter than when it was opened: cut while being hashed
                    return failWith(HashFailure::Changed);
            }
            const char *chunk = buffer->bytes + taken;
            const qint64 n = qMin(held - taken, kChunkSize);
            taken += n;
            done += n;
            fileDone += n;
            remaining -= n;
            EVP_DigestUpdate(context.get(), chunk, static_cast<size_t>(n));

            if (progress.changed(total > 0 ? done * 100.0 / total : 100.0))
                emit MsgSignal(progress.current());
            if (chunkHook)
                chunkHook(i, fileDone);
        }

        // The digest stands for the file only if nothing wrote to it, and its path still names
        // it, now that the last byte is read.
        const FileState after = file.state();
        const FileState atPath = FileReader::stateAt(path);
        file.close();
        if (atPath.status == FileState::Error)
            return failWith(HashFailure::Unreadable, atPath.reason);
        if (!after.isUnchanged(opened) || !atPath.isUnchanged(opened))
            return failWith(HashFailure::Changed);

        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int digestLength = 0;
        EVP_DigestFinal_ex(context.get(), digest, &digestLength);
        const QString actual = QString::fromLatin1(
            QByteArray(reinterpret_cast<const char *>(digest), static_cast<int>(digestLength))
                .toBase64());
        if (isInterruptionRequested())
            return;
        if (actual != expectedHashes.value(i)) {
            HashFailure failure;
            failure.kind = HashFailure::Mismatch;
            failure.path = path;
            failure.expected = expectedHashes.value(i);
            failure.actual = actual;
            return fail(failure);
        }
    }
    if (!isInterruptionRequested())
        emit MsgSignal(QStringLiteral("OK"));
}
