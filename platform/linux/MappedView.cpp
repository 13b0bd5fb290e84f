#include "platform/linux/MappedView.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <limits>
#include <mutex>

namespace orv {
namespace {

// The stretches mapped now, where the bus-error handler can find them without a lock: a handler
// may not take one. A stretch is looked through by one thread at a time, so a slot changes only
// while nobody can fault inside it.
struct Slot
{
    std::atomic<bool> taken{false};
    std::atomic<std::uintptr_t> begin{0};
    std::atomic<std::uintptr_t> end{0};
    std::atomic<bool> failed{false};
};

constexpr std::size_t kSlots = 64; // a sweep holds a few pieces per thread
std::array<Slot, kSlots> g_slots;
std::atomic<std::uintptr_t> g_pageSize{4096};
struct sigaction g_previous
{};

void onBusError(int signal, siginfo_t* info, void* context)
{
    const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
    for (Slot& slot : g_slots) {
        if (address < slot.begin.load(std::memory_order_acquire) || address >= slot.end.load(std::memory_order_acquire))
            continue;
        // A page of ours the system could not read: zeros take its place, the reader is told, and
        // the instruction that faulted reads them when the handler returns.
        const std::uintptr_t pageSize = g_pageSize.load(std::memory_order_relaxed);
        const int saved = errno;
        void* zeros = ::mmap(reinterpret_cast<void*>(address & ~(pageSize - 1)), pageSize, PROT_READ,
                             MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
        errno = saved;
        if (zeros == MAP_FAILED)
            break;
        slot.failed.store(true, std::memory_order_release);
        return;
    }
    // Not ours: whatever the program did before us, and otherwise what the system does, which is
    // to end it once the faulting instruction runs again.
    if ((g_previous.sa_flags & SA_SIGINFO) != 0 && g_previous.sa_sigaction) {
        g_previous.sa_sigaction(signal, info, context);
        return;
    }
    if ((g_previous.sa_flags & SA_SIGINFO) == 0 && g_previous.sa_handler != SIG_DFL &&
        g_previous.sa_handler != SIG_IGN) {
        g_previous.sa_handler(signal);
        return;
    }
    struct sigaction fallback
    {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    ::sigaction(signal, &fallback, nullptr);
}

bool installHandler()
{
    static std::once_flag once;
    static bool installed = false;
    std::call_once(once, [] {
        if (const long size = ::sysconf(_SC_PAGESIZE); size > 0)
            g_pageSize.store(static_cast<std::uintptr_t>(size));
        if (::sigaction(SIGBUS, nullptr, &g_previous) != 0)
            return;
        struct sigaction ours
        {};
        ours.sa_sigaction = onBusError;
        ours.sa_flags = SA_SIGINFO | SA_ONSTACK;
        sigemptyset(&ours.sa_mask);
        installed = ::sigaction(SIGBUS, &ours, nullptr) == 0;
    });
    return installed;
}

// Whether the cache holds the mapping: a page every 256 KiB and the last one are asked, which
// finds a stretch the cache let go (it lets go of large pages, from the least used) for a small
// share of what asking for every page costs. A page brought in by a fault comes alone and small.
bool resident(std::uint8_t* mapping, std::size_t length, std::size_t pageSize)
{
    constexpr std::size_t kEvery = 64;
    const std::size_t pages = (length + pageSize - 1) / pageSize;
    for (std::size_t page = 0;; page += kEvery) {
        const std::size_t asked = std::min(page, pages - 1);
        unsigned char state = 0;
        if (::mincore(mapping + asked * pageSize, pageSize, &state) != 0 || (state & 1) == 0)
            return false;
        if (asked == pages - 1)
            return true;
    }
}

} // namespace

std::unique_ptr<MappedView> MappedView::map(const MappableFile& file, std::uint64_t bytePosition, std::size_t count)
{
    if (file.fd < 0 || count == 0 || bytePosition > file.size || count > file.size - bytePosition ||
        file.offset > std::numeric_limits<std::uint64_t>::max() - file.size || !installHandler())
        return nullptr;
    const std::uintptr_t pageSize = g_pageSize.load();
    const std::uint64_t at = file.offset + bytePosition;
    const std::uint64_t start = at / pageSize * pageSize;
    const auto before = static_cast<std::size_t>(at - start);
    const std::size_t mappedLength = before + count;

    void* mapping = ::mmap(nullptr, mappedLength, PROT_READ, MAP_SHARED, file.fd, static_cast<off_t>(start));
    if (mapping == MAP_FAILED)
        return nullptr;
    // Only bytes the cache holds are looked at in place. Others are better read by copying: the
    // system then fetches them in large reads and keeps them in large pages, where faults on a
    // mapping would bring them one small page at a time, slower for this reader and every later one.
    auto* first = static_cast<std::uint8_t*>(mapping);
    std::size_t slot = g_slots.size();
    if (resident(first, mappedLength, pageSize))
        for (std::size_t i = 0; i < g_slots.size() && slot == g_slots.size(); ++i)
            if (bool expected = false; g_slots[i].taken.compare_exchange_strong(expected, true))
                slot = i;
    if (slot == g_slots.size()) {
        ::munmap(mapping, mappedLength);
        return nullptr;
    }
    Slot& s = g_slots[slot];
    s.failed.store(false);
    s.begin.store(reinterpret_cast<std::uintptr_t>(mapping), std::memory_order_release);
    s.end.store(reinterpret_cast<std::uintptr_t>(mapping) + mappedLength, std::memory_order_release);
    return std::unique_ptr<MappedView>(
        new MappedView(mapping, mappedLength, std::span<const std::uint8_t>(first + before, count), slot));
}

MappedView::~MappedView()
{
    Slot& slot = g_slots[m_slot];
    // The end goes first: a handler that reads the slot meanwhile must find it empty, not wider.
    slot.end.store(0, std::memory_order_release);
    slot.begin.store(0, std::memory_order_release);
    ::munmap(m_mapping, m_mappedLength);
    slot.taken.store(false, std::memory_order_release);
}

bool MappedView::sound() const
{
    return !g_slots[m_slot].failed.load(std::memory_order_acquire);
}

} // namespace orv
