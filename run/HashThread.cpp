#include "run/HashThread.h"

#include <QFile>
#include <QFileInfo>

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <memory>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#endif

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
} // namespace

HashThread::HashThread(const QStringList &filePaths, const QStringList &expectedHashes)
    : QThread(nullptr), filePaths(filePaths), expectedHashes(expectedHashes)
{
    // The library initialises itself on first use; done by a worker, part of that state would
    // belong to the worker's thread and be lost when it ends.
    OPENSSL_init_crypto(OPENSSL_INIT_LOAD_CONFIG, nullptr);
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

    DigestContext context(EVP_MD_CTX_new());
    char buffer[kChunkSize];
    qint64 done = 0;
    // Only a changed text is sent: a master of hundreds of gigabytes would otherwise queue
    // millions of identical percentages on the GUI thread.
    QString lastProgress;

    for (int i = 0; i < filePaths.size(); ++i) {
        if (isInterruptionRequested())
            return;
        qint64 remaining = fileSize(filePaths.at(i));
        QFile file(filePaths.at(i));
        if (!context || !file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
            if (!isInterruptionRequested())
                emit MsgSignal(QStringLiteral("ERR"));
            return;
        }
        adviseSequential(file);
        EVP_DigestInit_ex(context.get(), EVP_sha1(), nullptr);

        qint64 chunk = qMin(remaining, kChunkSize);
        while (chunk > 0) {
            if (isInterruptionRequested())
                return;
            const qint64 n = file.read(buffer, chunk);
            if (n <= 0)
                break;
            done += n;
            remaining -= n;
            EVP_DigestUpdate(context.get(), buffer, static_cast<size_t>(n));
            chunk = qMin(remaining, kChunkSize);

            const double percent = total > 0 ? done * 100.0 / total : 100.0;
            const QString progress = QString::number(percent, 'f', 2) + QLatin1Char('%');
            if (progress != lastProgress) {
                lastProgress = progress;
                emit MsgSignal(progress);
            }
        }
        file.close();

        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int digestLength = 0;
        EVP_DigestFinal_ex(context.get(), digest, &digestLength);
        const QString actual = QString::fromLatin1(
            QByteArray(reinterpret_cast<const char *>(digest), static_cast<int>(digestLength))
                .toBase64());
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
