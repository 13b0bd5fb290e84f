#pragma once

// The allocation state of an exFAT volume, read once: the allocation bitmap (which clusters are in
// use) and the FAT (the chains of fragmented files; contiguous files leave it untouched).

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "exfat/BootSector.h"
#include "platform/SectorDevice.h"

namespace orv::exfat {

class Volume
{
public:
    // Reads the root directory (for the bitmap and label entries), the bitmap and the FAT. Nothing
    // when they cannot be read or make no sense, or when keepGoing says stop.
    static std::optional<Volume> load(SectorDevice& device, const Geometry& geometry,
                                      const std::function<bool()>& keepGoing);

    // The boot sector's geometry with the bitmap's place and the label filled in.
    const Geometry& geometry() const { return m_geometry; }

    // The bitmap's bit; clusters out of range or past the device's end count as in use.
    bool clusterInUse(std::uint64_t cluster) const;
    // The FAT's next cluster of a chain; nothing at its end, on a free or bad entry, or out of range.
    std::optional<std::uint64_t> nextInChain(std::uint64_t cluster) const;
    // The raw FAT entry (0 free, 0xFFFFFFF7 bad, 0xFFFFFFFF end); nothing out of range.
    std::optional<std::uint32_t> fatEntry(std::uint64_t cluster) const;
    // The highest cluster number whose bytes the device holds (below 2 when none).
    std::uint64_t lastCluster() const { return m_lastCluster; }

    // Builds a volume from parts (tests, fuzzing): `bitmap` bit n is cluster n + 2.
    Volume(Geometry geometry, std::vector<std::uint8_t> bitmap, std::vector<std::uint32_t> fat,
           std::uint64_t lastCluster);

private:
    Geometry m_geometry;
    std::vector<std::uint8_t> m_bitmap;
    std::vector<std::uint32_t> m_fat;
    std::uint64_t m_lastCluster = 0;
};

// Reads `out.size()` bytes at `position`, in whole sectors of `sectorSize` (unbuffered block devices
// refuse anything else), in pieces of at most a few MiB. False on a failed read (out is then zeros).
bool readBytes(SectorDevice& device, std::uint64_t position, std::span<std::uint8_t> out, std::uint32_t sectorSize);

} // namespace orv::exfat
