#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

namespace orv {

// Memory for large reads from a device. The system copies out of its cache two to three times as
// fast into a buffer that begins on a page boundary as into one that does not, and the scans read
// the $MFT and the whole volume megabytes at a time.
template <class T>
struct PageAlignedAllocator
{
    using value_type = T;
    static constexpr std::align_val_t kAlignment{4096};

    PageAlignedAllocator() = default;
    template <class U>
    PageAlignedAllocator(const PageAlignedAllocator<U>&) noexcept
    {}

    T* allocate(std::size_t count) { return static_cast<T*>(::operator new(count * sizeof(T), kAlignment)); }
    void deallocate(T* p, std::size_t) noexcept { ::operator delete(p, kAlignment); }

    template <class U>
    bool operator==(const PageAlignedAllocator<U>&) const noexcept
    {
        return true;
    }
};

using PageBytes = std::vector<std::uint8_t, PageAlignedAllocator<std::uint8_t>>;

} // namespace orv
