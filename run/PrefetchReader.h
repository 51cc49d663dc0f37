#pragma once

#include <QString>
#include <QtGlobal>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class FileReader;

// Reads one open file ahead of its consumer on a thread of its own, into a few fixed buffers, so
// that the disk keeps working while the processor hashes what was read before. The consumer takes
// the blocks in order and hands each back when done with it.
class PrefetchReader
{
public:
    // Bytes per read: some hundred hashing chunks. A read stops short only at the end of the file
    // or at an error, so the chunks fall where reading chunk by chunk would put them.
    static constexpr qint64 kBlockSize = 96 * 10240;
    // One block being hashed, one being read, two in reserve for an uneven disk.
    static constexpr int kBlocks = 4;
    // Free blocks the reader waits for once all are full. Woken for every block, it would cost
    // a pair of thread switches per block when the disk is ahead of the digest.
    static constexpr int kRefill = 2;

    struct Block
    {
        const char *data = nullptr;
        qint64 size = 0; // > 0 bytes; 0 the file ended early; -1 a read error
        // The first read into this block's memory: its wait includes the system's page faults,
        // not only the disk.
        bool fresh = false;
    };

    // The blocks' memory. Kept from file to file by whoever reads many, so that the page faults
    // of fresh memory come once, not with every file.
    class Buffers
    {
    public:
        Buffers();

    private:
        friend class PrefetchReader;
        struct alignas(4096) Buffer
        {
            char bytes[kBlockSize];
        };
        std::unique_ptr<Buffer[]> blocks;
        bool used[kBlocks] = {};
    };

    // For tests: called on the reading thread before each read.
    using ReadHook = std::function<void()>;

    // Starts reading the first length bytes of the file at once, into buffers that no other
    // reader uses meanwhile.
    PrefetchReader(FileReader &file, qint64 length, Buffers &buffers, ReadHook hook = {});
    // Stops reading and waits for the reading thread; the file stays open.
    ~PrefetchReader();
    PrefetchReader(const PrefetchReader &) = delete;
    PrefetchReader &operator=(const PrefetchReader &) = delete;

    // Waits for the next block, adding the nanoseconds waited to waitedNs. Call only while
    // blocks remain: the bytes taken are fewer than length and no block ended the file.
    Block next(qint64 &waitedNs);
    // The block from next() may be read into again.
    void release();
    // The system's reason for a read error.
    QString errorString() const;

private:
    void readAll();

    FileReader &m_file;
    qint64 m_remaining;
    ReadHook m_hook;
    Buffers &m_buffers;
    qint64 m_sizes[kBlocks] = {};
    bool m_fresh[kBlocks] = {};
    int m_head = 0;   // the block next() gives
    int m_filled = 0; // blocks read and not released
    bool m_stop = false;
    QString m_error;
    mutable std::mutex m_mutex;
    std::condition_variable m_readable;
    std::condition_variable m_writable;
    std::thread m_thread;
};
