#pragma once

#include "run/PrefetchReader.h"

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
    QString reason; // the system's for Unreadable; what changed for Changed
    QString expected;
    QString actual;
};

// Hashes the packing list's files on its own thread and reports through MsgSignal only:
// progress texts of all bytes ("40.96%"), then exactly one of "OK" and "ERR". A worker whose
// interruption was requested stops at the next chunk and emits nothing more. A digest counts only
// for the content the file still has when its hashing ends: a file that changed meanwhile fails.
//
// Each file is read ahead of its digest by a reading thread, so the disk and the processor work
// at once. While the digest, not the disk, holds the work up, further files are hashed side by
// side, up to one per processor; when the disk is the limit, one file at a time, since parallel
// reads make a hard disk seek.
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

    // For tests: called after each chunk with the file's index and the bytes of it hashed so
    // far, so that a test can change the file at a known point; and before each read of a file.
    // Both run on the worker's own threads.
    using ChunkHook = std::function<void(int fileIndex, qint64 fileBytesDone)>;
    using ReadHook = std::function<void(int fileIndex)>;
    void setChunkHook(ChunkHook hook) { chunkHook = std::move(hook); }
    void setReadHook(ReadHook hook) { readHook = std::move(hook); }
    // Files at most hashed at once; at least 1. By default the processors this process may use.
    void setMaxParallelFiles(int count) { maxParallelFiles = qMax(1, count); }
    // After the run: the most files that were hashed at once.
    int peakParallelFiles() const;

signals:
    void MsgSignal(QString strSign);

protected:
    void run() override;

private:
    struct Shared;
    void hashFiles(Shared &shared);
    void sendTexts(Shared &shared);
    void pauseWhileDiskBehind(Shared &shared);
    HashFailure hashFile(Shared &shared, int index, PrefetchReader::Buffers &buffers);

    QStringList filePaths;
    QStringList expectedHashes;
    ChunkHook chunkHook;
    ReadHook readHook;
    int maxParallelFiles;
    mutable QMutex failureLock;
    HashFailure lastFailure;
    int peakFiles = 0;
};
