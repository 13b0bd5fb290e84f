// The bytes of one folder: the first byte picks FAT32 (odd) and the cluster number the folder
// claims to start at; the rest are its 32-byte entries. Every record named must lie inside them.

#include <cstddef>
#include <cstdint>
#include <span>

#include "fat/FatDirectory.h"
#include "fuzz/RecordChecks.h"

using orv::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const bool fat32 = (data[0] & 1) != 0;
    const std::uint64_t cluster = data[0] >> 1;
    const std::span<const std::uint8_t> bytes(data + 1, size - 1);
    const std::size_t slots = bytes.size() / orv::fat::kEntrySize;

    std::size_t previous = 0;
    bool first = true;
    orv::fat::walkDirectory(bytes, fat32, [&](const orv::fat::DirectoryRecord& r) {
        require(r.firstSlot <= r.shortSlot && r.shortSlot < slots, "a record outside the folder");
        require(first || r.firstSlot > previous, "records out of order or overlapping");
        require(!r.name.empty(), "a record without a name");
        require(r.longName || r.firstSlot == r.shortSlot, "a short name spanning slots");
        require(r.shortSlot - r.firstSlot <= 20, "more long-name entries than a name can have");
        for (const char16_t u : r.name)
            require(u >= 0x20 || r.dotEntry, "a control character in a name");
        if (r.modified) {
            require(r.modified->month >= 1 && r.modified->month <= 12, "an impossible month");
            require(r.modified->day >= 1 && r.modified->day <= 31, "an impossible day");
        }
        previous = r.shortSlot;
        first = false;
        return true;
    });
    std::uint64_t parent = 0;
    if (orv::fat::looksLikeFolderStart(bytes, fat32, cluster, 0x0FFFFFF5, &parent))
        require(parent != cluster && parent <= 0x0FFFFFF5, "a folder that is its own parent");
    orv::fat::looksLikeFolderContinuation(bytes, fat32, 0x0FFFFFF5);
    for (std::size_t s = 0; s < slots; ++s)
        orv::fat::plausibleSlot(bytes.subspan(s * orv::fat::kEntrySize, orv::fat::kEntrySize), fat32, 1000);
    return 0;
}
