#pragma once

// What every exFAT fuzz target checks about a scan of any bytes at all: each listed entry names
// only bytes of the device and clusters of the volume, its entry set decodes again from what it
// kept, and Wipe changes nothing outside the set's pieces.

#include <algorithm>
#include <cstdint>
#include <vector>

#include "exfat/Exfat.h"
#include "fuzz/RecordChecks.h"
#include "tests/support/Devices.h"

namespace orv::fuzz {

inline void checkFoundEntry(const FoundEntry& e, const exfat::Volume& volume, std::uint64_t deviceBytes)
{
    std::uint64_t pieceBytes = 0;
    for (const EntryPiece& p : e.pieces) {
        require(p.length != 0 && p.length % 32 == 0, "a piece of no whole entries");
        require(p.position <= deviceBytes && p.length <= deviceBytes - p.position, "a piece past the device");
        pieceBytes += p.length;
    }
    require(pieceBytes == e.entryBytes.size(), "the pieces and the entry bytes differ in length");
    const auto info = exfat::decodeEntrySet(e.entryBytes);
    require(info.has_value(), "the kept entry set does not decode again");
    require(info->name == e.name && !e.name.empty(), "the name is not the set's");
    require(std::none_of(e.name.begin(), e.name.end(), [](char16_t c) { return c < 0x20; }), "control character");

    const std::uint64_t perCluster = volume.geometry().bytesPerCluster;
    std::uint64_t clusters = 0;
    for (const ClusterRun& run : e.content) {
        require(run.count > 0 && run.first >= 2, "an empty run or a reserved cluster");
        require(run.first <= volume.lastCluster() && run.count - 1 <= volume.lastCluster() - run.first,
                "a run past the volume");
        clusters += run.count;
    }
    require(e.size != 0 || e.content.empty(), "an empty file with content");
    require(clusters <= e.size / perCluster + 1, "more clusters than the size needs");
}

// Wipes `e` on a copy of the device: every byte outside its pieces stays, and a wiped set leaves no
// slot that is in use or ends the folder.
inline void checkWipe(const test::MemoryDevice& device, const exfat::Volume& volume, const FoundEntry& e)
{
    test::MemoryDevice copy(device);
    const exfat::WipeResult result = exfat::wipeEntries(copy, volume, e);
    const auto& before = const_cast<test::MemoryDevice&>(device).bytes();
    const auto& after = copy.bytes();
    require(before.size() == after.size(), "the device changed size");
    std::vector<bool> inside(after.size(), false);
    for (const EntryPiece& p : e.pieces)
        for (std::uint64_t i = p.position; i < p.position + p.length && i < inside.size(); ++i)
            inside[i] = true;
    for (std::size_t i = 0; i < after.size(); ++i)
        require(inside[i] || before[i] == after[i], "Wipe changed a byte outside the entry set");
    if (result != exfat::WipeResult::Wiped) {
        require(before == after, "a refused Wipe wrote");
        return;
    }
    for (const EntryPiece& p : e.pieces)
        for (std::uint64_t s = p.position; s < p.position + p.length; s += 32)
            require(after[s] != 0 && (after[s] & 0x80) == 0, "a wiped slot ends the folder or is in use");
}

} // namespace orv::fuzz
