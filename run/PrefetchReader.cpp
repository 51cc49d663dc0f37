#include "run/PrefetchReader.h"

#include "platform/FileReader.h"

#include <chrono>

PrefetchReader::Buffers::Buffers() : blocks(new Buffer[kBlocks]) {}

PrefetchReader::PrefetchReader(FileReader &file, qint64 length, Buffers &buffers, ReadHook hook)
    : m_file(file), m_remaining(length), m_hook(std::move(hook)), m_buffers(buffers)
{
    m_thread = std::thread([this] { readAll(); });
}

PrefetchReader::~PrefetchReader()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_writable.notify_all();
    m_thread.join();
}

void PrefetchReader::readAll()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    while (m_remaining > 0) {
        // Once woken, the reader fills every free block before it sleeps again.
        if (m_filled == kBlocks)
            m_writable.wait(lock, [this] { return m_stop || m_filled <= kBlocks - kRefill; });
        if (m_stop)
            return;
        const int slot = (m_head + m_filled) % kBlocks;
        lock.unlock();
        if (m_hook)
            m_hook();
        const qint64 n = m_file.read(m_buffers.blocks[slot].bytes, qMin(m_remaining, kBlockSize));
        const QString error = n < 0 ? m_file.errorString() : QString();
        lock.lock();
        m_sizes[slot] = n;
        m_fresh[slot] = !m_buffers.used[slot];
        m_buffers.used[slot] = true;
        ++m_filled;
        if (n <= 0) {
            m_error = error;
            m_remaining = 0; // nothing follows an error or an early end
        } else {
            m_remaining -= n;
        }
        m_readable.notify_one();
    }
}

PrefetchReader::Block PrefetchReader::next(qint64 &waitedNs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_filled == 0) {
        const auto start = std::chrono::steady_clock::now();
        m_readable.wait(lock, [this] { return m_filled > 0; });
        waitedNs += std::chrono::duration_cast<std::chrono::nanoseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    }
    return Block{m_buffers.blocks[m_head].bytes, m_sizes[m_head], m_fresh[m_head]};
}

void PrefetchReader::release()
{
    bool refill = false;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_head = (m_head + 1) % kBlocks;
        --m_filled;
        refill = m_filled == kBlocks - kRefill;
    }
    if (refill)
        m_writable.notify_one();
}

QString PrefetchReader::errorString() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_error;
}
