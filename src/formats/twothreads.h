// The one way work is split between two threads here: two halves side by
// side (runHalves), or the pieces of one output made in turns and written
// in order (makeInTurns). Both do all the work on the calling thread when
// the system gives no second one.
#pragma once

#include <QByteArray>
#include <QScopeGuard>

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
        std::unique_lock<std::mutex> held(m_mutex);
        m_changed.wait(held, [&] { return m_cancelled || m_state[slot] == Free; });
        if (m_cancelled)
            return nullptr;
        m_buffers[slot].truncate(0); // keeps its memory for the next piece
        return &m_buffers[slot];
    }
    void ready(size_t index, bool ok)
    {
        std::lock_guard<std::mutex> held(m_mutex);
        m_state[slotOf(index)] = ok ? Ready : Failed;
        m_changed.notify_all();
    }
    // First thread: piece `index`'s bytes once ready; null if it failed.
    const QByteArray *wait(size_t index)
    {
        const size_t slot = slotOf(index);
        std::unique_lock<std::mutex> held(m_mutex);
        m_changed.wait(held, [&] { return m_state[slot] != Free; });
        return m_state[slot] == Ready ? &m_buffers[slot] : nullptr;
    }
    void release(size_t index)
    {
        std::lock_guard<std::mutex> held(m_mutex);
        m_state[slotOf(index)] = Free;
        m_changed.notify_all();
    }
    void cancel()
    {
        std::lock_guard<std::mutex> held(m_mutex);
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

// Runs `work(0)` here and, with `count` 2, `work(1)` on a second thread
// (after `work(0)` here, where there is none). What either throws is
// passed on once both have ended.
template <typename Work>
void runHalves(int count, Work &&work)
{
    if (count < 2) {
        work(0);
        return;
    }
    HelperThread second;
    const bool started = second.start([&work] { work(1); });
    work(0);
    if (!started)
        work(1);
    second.join();
}

// Makes pieces 0 .. count-1 of one output and has them written in order,
// stopping at the first that fails. Pieces 0, 2, 4... are made here by
// `makeHere(i)`, which writes them out itself; pieces 1, 3, 5... by a
// second thread into a buffer, which `writeMade(i, bytes)` writes in its
// turn. `startSecond()` runs first on that thread and returns its maker,
// `make(i, QByteArray &buffer)`. Without a second thread (one piece, or
// none to be had) `makeHere` makes every piece.
template <typename StartSecond, typename MakeHere, typename WriteMade>
bool makeInTurns(size_t count, StartSecond &&startSecond, MakeHere &&makeHere, WriteMade &&writeMade)
{
    PieceHandover handover;
    HelperThread second;
    const bool shared = count > 1 && second.start([&] {
        auto make = startSecond();
        for (size_t i = 1; i < count; i += 2) {
            QByteArray *buffer = handover.take(i);
            if (!buffer)
                return;
            bool made = false;
            const auto told = qScopeGuard([&] { handover.ready(i, made); });
            made = make(i, *buffer);
        }
    });
    // Whatever ends this one (a failure, too little memory), the second
    // stops before what it works on goes.
    const auto stopped = qScopeGuard([&] {
        handover.cancel();
        second.wait();
    });
    bool ok = true;
    for (size_t i = 0; ok && i < count; ++i) {
        if (i % 2 == 0 || !shared) {
            ok = makeHere(i);
        } else {
            const QByteArray *made = handover.wait(i);
            ok = made && writeMade(i, *made);
            handover.release(i);
        }
    }
    handover.cancel();
    second.join();
    return ok;
}
