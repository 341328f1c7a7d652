// Two threads that make the pieces of one output in turns, the first
// writing them all in order.
#pragma once

#include <QByteArray>

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

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

// A thread of its own for part of the work, where the system gives one:
// without (too little memory for its stack) start() says so and the caller
// does all the work itself. What the work throws (std::bad_alloc) is passed
// on by join(), never lost with the thread.
class HelperThread
{
public:
    HelperThread() = default;
    ~HelperThread() { wait(); }
    HelperThread(const HelperThread &) = delete;
    HelperThread &operator=(const HelperThread &) = delete;

    template <typename Work>
    bool start(Work &&work)
    {
        try {
            m_thread = std::thread([this, work = std::forward<Work>(work)]() mutable {
                try {
                    work();
                } catch (...) {
                    m_error = std::current_exception();
                }
            });
            return true;
        } catch (const std::system_error &) {
            return false;
        } catch (const std::bad_alloc &) {
            return false;
        }
    }
    // Waits for the work to end, and throws what it threw.
    void join()
    {
        wait();
        if (m_error)
            std::rethrow_exception(std::exchange(m_error, nullptr));
    }
    // Waits for the work to end, whatever it threw.
    void wait()
    {
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    std::thread m_thread;
    std::exception_ptr m_error;
};
