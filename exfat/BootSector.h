#pragma once

// The exFAT boot sector: where the FAT, the cluster heap and the root directory lie.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace orv::exfat {

struct Geometry
{
    std::string kindName = "exFAT";
    std::uint32_t bytesPerSector = 0, sectorsPerCluster = 0, bytesPerCluster = 0;
    std::uint64_t totalSectors = 0; // of the volume, as the boot sector says
    std::uint64_t clusterCount = 0; // data clusters; valid cluster numbers are 2 .. clusterCount+1
    std::uint64_t fatPosition = 0, fatBytes = 0; // the active FAT, byte positions on the device
    std::uint32_t fatCount = 0;
    std::uint64_t dataPosition = 0; // byte position of cluster 2
    std::uint64_t rootCluster = 0;
    std::uint64_t rootDirPosition = 0, rootDirBytes = 0; // FAT12/16 only; 0 here
    std::uint32_t serial = 0;
    std::u16string label; // filled in by Volume::load from the root directory's label entry
    std::uint64_t bitmapCluster = 0, bitmapBytes = 0; // filled in by Volume::load

    // Byte position of a cluster; clusters below 2 give the heap's start.
    std::uint64_t clusterPosition(std::uint64_t cluster) const
    {
        return dataPosition + (cluster < 2 ? 0 : (cluster - 2) * bytesPerCluster);
    }
    // True for 2 .. clusterCount+1.
    bool validCluster(std::uint64_t cluster) const { return cluster >= 2 && cluster - 2 < clusterCount; }
};

// Identifies and reads sector 0 (at least its first 512 bytes). Nothing when it is not exFAT or its
// numbers are impossible: shifts out of range, a FAT too short for the clusters or overlapping the
// heap, a heap past the volume's end, a root directory outside the heap. `deviceBytes`, when known,
// must hold the FAT and the heap's first cluster (a volume cut short still lists what it holds).
std::optional<Geometry> parseBootSector(std::span<const std::uint8_t> sector, std::optional<std::uint64_t> deviceBytes);

// The boot region's checksum (sectors 0..10, skipping VolumeFlags and PercentInUse) as sector 11
// repeats it. `region` holds 12 sectors of `bytesPerSector`. Nothing when the bytes are short.
std::optional<bool> bootChecksumMatches(std::span<const std::uint8_t> region, std::uint32_t bytesPerSector);

} // namespace orv::exfat
