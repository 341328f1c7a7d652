// Two threads that make the pieces of one output in turns, the first
// writing them all in order.
#pragma once

#include <QByteArray>

#include <condition_variable>
#include <cstddef>
#include <mutex>

// Hands the odd pieces' output from the second thread to the first, in
// order, through two buffers that are used again and again: the second
// thread may be one piece ahead.
class PieceHandover
{
public:
    // Second thread: a free buffer for piece `index`; null once cancelled.
    QByteArray *take(size_t index)
    {
        const size_t slot = slotOf(index);
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [&] { return m_cancelled || m_state[slot] == Free; });
        if (m_cancelled)
            return nullptr;
        m_buffers[slot].truncate(0); // keeps its memory for the next piece
        return &m_buffers[slot];
    }
    void ready(size_t index, bool ok)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_state[slotOf(index)] = ok ? Ready : Failed;
        m_changed.notify_all();
    }
    // First thread: piece `index`'s bytes once ready; null if it failed.
    const QByteArray *wait(size_t index)
    {
        const size_t slot = slotOf(index);
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [&] { return m_state[slot] != Free; });
        return m_state[slot] == Ready ? &m_buffers[slot] : nullptr;
    }
    void release(size_t index)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_state[slotOf(index)] = Free;
        m_changed.notify_all();
    }
    void cancel()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_cancelled = true;
        m_changed.notify_all();
    }

private:
    // Pieces 1, 3, 5, 7... take slots 0, 1, 0, 1...
    static size_t slotOf(size_t index) { return (index / 2) % 2; }

    enum State { Free, Ready, Failed };
    std::mutex m_mutex;
    std::condition_variable m_changed;
    QByteArray m_buffers[2];
    State m_state[2] = {Free, Free};
    bool m_cancelled = false;
};
