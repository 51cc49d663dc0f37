#pragma once

#include <QMutex>
#include <QString>
#include <QStringList>
#include <QThread>

#include <functional>

// Why a worker ended with "ERR".
struct HashFailure
{
    enum Kind {
        None,
        Mismatch,   // the file's digest differs from the expected one
        Unreadable, // the file could not be opened or read; reason is the system's
        Changed     // the file changed, vanished or was replaced while it was hashed
    };
    Kind kind = None;
    QString path;
    QString reason;
    QString expected;
    QString actual;
};

// Hashes the packing list's files on its own thread and reports through MsgSignal only:
// progress texts ("40.96%"), then exactly one of "OK" and "ERR". A worker whose interruption
// was requested stops at the next chunk and emits nothing more. A digest counts only for the
// content the file still has when its hashing ends: a file that changed meanwhile fails.
class HashThread : public QThread
{
    Q_OBJECT
public:
    HashThread(const QStringList &filePaths, const QStringList &expectedHashes);
    ~HashThread() override;

    // Bytes per chunk: after each, the progress is reported and an interruption honoured.
    static constexpr qint64 kChunkSize = 10240;

    // What made the worker send "ERR"; set before that message is sent.
    HashFailure failure() const;

    // For tests: called on the worker's thread after each chunk with the file's index and the
    // bytes of it hashed so far, so that a test can change the file at a known point.
    using ChunkHook = std::function<void(int fileIndex, qint64 fileBytesDone)>;
    void setChunkHook(ChunkHook hook) { chunkHook = std::move(hook); }

signals:
    void MsgSignal(QString strSign);

protected:
    void run() override;

private:
    // Records the failure, then sends "ERR" unless the worker is being stopped.
    void fail(HashFailure failure);

    QStringList filePaths;
    QStringList expectedHashes;
    ChunkHook chunkHook;
    mutable QMutex failureLock;
    HashFailure lastFailure;
};
