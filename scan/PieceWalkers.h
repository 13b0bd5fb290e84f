#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace orv {

// Threads that examine the pieces of a walk (of the $MFT, or of the regions an Extended scan read)
// ahead of the caller, who takes their findings piece by piece in order: whatever the threads did,
// the caller lists in the same order as one thread would. Each piece goes into a slot of its own
// that the caller frees when it is done with it, so the threads run at most a few pieces ahead.
// With no thread to be had (a device read by one reader at a time, one core, a process limit), the
// caller examines each piece itself.
//
// `Examiner` has a type `Findings` and `void examine(std::int64_t index, Findings& out)`, which
// clears `out` first and may throw; it runs on one thread only, with buffers of its own, and must
// touch nothing the caller changes while the walk runs. `makeExaminer()` makes one for each thread.
template <class Examiner>
class PieceWalkers
{
public:
    using Findings = typename Examiner::Findings;

    template <class MakeExaminer>
    PieceWalkers(MakeExaminer makeExaminer, std::int64_t pieces, bool threads, unsigned mostThreads = 4)
        : m_pieces(pieces)
    {
        unsigned walkers = 0;
        if (threads && pieces > 1)
            walkers = std::clamp(std::thread::hardware_concurrency(), 1u, mostThreads);
        m_slots = std::vector<Slot>(std::max<std::size_t>(2 * walkers + 2, 1));
        m_own = makeExaminer();
        for (unsigned i = 0; i < walkers; ++i) {
            try {
                m_threads.emplace_back([this, examiner = makeExaminer()]() mutable { walk(*examiner); });
            } catch (const std::system_error&) {
                break; // fewer walkers; the caller examines what nobody took
            }
        }
    }

    PieceWalkers(const PieceWalkers&) = delete;
    PieceWalkers& operator=(const PieceWalkers&) = delete;

    ~PieceWalkers()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_free.notify_all();
        for (std::thread& thread : m_threads)
            thread.join();
    }

    // The findings of piece `index`, the next in order; nothing while they are not ready, after a
    // while of waiting, so that the caller can pump. Rethrows what examining the piece threw.
    Findings* next(std::int64_t index)
    {
        Slot& slot = m_slots[static_cast<std::size_t>(index) % m_slots.size()];
        std::unique_lock lock(m_mutex);
        if (!slot.ready && m_claimed == index) {
            // Nobody has taken it: examined here.
            ++m_claimed;
            lock.unlock();
            examineInto(*m_own, index, slot);
            lock.lock();
            slot.ready = true;
        }
        if (!slot.ready)
            m_ready.wait_for(lock, std::chrono::milliseconds(20), [&] { return slot.ready; });
        if (!slot.ready)
            return nullptr;
        if (slot.failure)
            std::rethrow_exception(slot.failure);
        return &slot.findings;
    }

    // Piece `index` is done with: its slot takes a piece further on.
    void done(std::int64_t index)
    {
        {
            const std::lock_guard lock(m_mutex);
            m_slots[static_cast<std::size_t>(index) % m_slots.size()].ready = false;
            m_listed = index + 1;
        }
        m_free.notify_all();
    }

private:
    struct Slot
    {
        Findings findings;
        std::exception_ptr failure;
        bool ready = false;
    };

    static void examineInto(Examiner& examiner, std::int64_t index, Slot& slot)
    {
        slot.failure = nullptr;
        try {
            examiner.examine(index, slot.findings);
        } catch (...) {
            slot.failure = std::current_exception();
        }
    }

    void walk(Examiner& examiner)
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_free.wait(lock, [&] {
                return m_stop || m_claimed >= m_pieces ||
                    m_claimed < m_listed + static_cast<std::int64_t>(m_slots.size());
            });
            if (m_stop || m_claimed >= m_pieces)
                return;
            const std::int64_t index = m_claimed++;
            Slot& slot = m_slots[static_cast<std::size_t>(index) % m_slots.size()];
            lock.unlock();
            examineInto(examiner, index, slot);
            lock.lock();
            slot.ready = true;
            m_ready.notify_all();
        }
    }

    const std::int64_t m_pieces;
    std::unique_ptr<Examiner> m_own;
    std::vector<Slot> m_slots;
    std::vector<std::thread> m_threads;
    std::mutex m_mutex;
    std::condition_variable m_ready; // a piece is examined
    std::condition_variable m_free; // a slot is free, or the walk stops
    std::int64_t m_claimed = 0; // pieces taken by a walker or the caller
    std::int64_t m_listed = 0; // pieces the caller is done with
    bool m_stop = false;
};

} // namespace orv
