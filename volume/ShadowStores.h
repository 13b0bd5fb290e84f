#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/SectorDevice.h"

namespace orv {

// One Volume Shadow Copy of an NTFS volume: the volume as it stood when the copy was made.
struct ShadowStore
{
    int number = 0; // 1 for the oldest copy, counting up in the order they were made
    std::uint64_t creationTime = 0; // NTFS time (UTC)
    std::string identifier; // "bbaa7659-8204-11eb-90f4-080027768df7"
    // The whole volume as it stood, read-only; null when the copy's data lies on another volume
    // (Windows can keep it there), where it cannot be read from this one.
    std::shared_ptr<SectorDevice> device;
    // Where the copy may differ from the volume as it is now: the blocks this copy and every later
    // one kept (a read of the copy falls through to later copies, then to the volume), as sorted,
    // merged [first, first + count) byte ranges of the volume. Outside them the copy reads exactly
    // as the volume does. Nothing when the copies' block lists could not be read.
    std::optional<std::vector<ByteRange>> changed;
};

// True when [first, first + count) meets one of the sorted, merged `ranges`.
bool meetsRanges(const std::vector<ByteRange>& ranges, std::uint64_t first, std::uint64_t count);

struct ShadowStores
{
    std::vector<ShadowStore> stores; // oldest first
    int elsewhere = 0; // copies whose data lies on another volume
    // Why a catalogue that the volume seems to have could not be read; empty otherwise.
    std::string problem;
};

// The shadow copies `volume` (the bytes of an NTFS volume, `volumeBytes` long) keeps. A volume
// without any gives none; damaged catalogues and store headers give those that could be read, or
// none, never a failure of the caller.
ShadowStores openShadowStores(const std::shared_ptr<SectorDevice>& volume, std::uint64_t volumeBytes);

// "2021-03-10T22:44:00Z": a copy's creation time in UTC, to the second.
std::string utcIsoText(std::uint64_t fileTime);

} // namespace orv
