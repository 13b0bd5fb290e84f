#include "exfat/BootSector.h"

#include <algorithm>
#include <cstring>

#include "volume/LeReader.h"

namespace orv::exfat {

namespace boot {
inline constexpr std::size_t kName = 0x03; // 8 bytes "EXFAT   "
inline constexpr std::size_t kMustBeZero = 0x0B; // 53 bytes, where FAT's BIOS parameter block was
inline constexpr std::size_t kVolumeLength = 0x48; // u64, sectors
inline constexpr std::size_t kFatOffset = 0x50; // u32, sectors
inline constexpr std::size_t kFatLength = 0x54; // u32, sectors
inline constexpr std::size_t kClusterHeapOffset = 0x58; // u32, sectors
inline constexpr std::size_t kClusterCount = 0x5C; // u32
inline constexpr std::size_t kRootCluster = 0x60; // u32
inline constexpr std::size_t kSerial = 0x64; // u32
inline constexpr std::size_t kVolumeFlags = 0x6A; // u16, bit 0: the second FAT is the active one
inline constexpr std::size_t kBytesPerSectorShift = 0x6C; // u8, 9..12
inline constexpr std::size_t kSectorsPerClusterShift = 0x6D; // u8, cluster at most 32 MiB
inline constexpr std::size_t kNumberOfFats = 0x6E; // u8, 1 or 2
inline constexpr std::size_t kPercentInUse = 0x70; // u8
inline constexpr std::size_t kSignature = 0x1FE; // 0x55 0xAA
} // namespace boot

std::optional<Geometry> parseBootSector(std::span<const std::uint8_t> sector, std::optional<std::uint64_t> deviceBytes)
{
    const LeReader r(sector);
    if (!r.has(0, 512) || std::memcmp(sector.data() + boot::kName, "EXFAT   ", 8) != 0)
        return std::nullopt;
    if (sector[boot::kSignature] != 0x55 || sector[boot::kSignature + 1] != 0xAA)
        return std::nullopt;
    const auto zeros = sector.subspan(boot::kMustBeZero, 53);
    if (std::any_of(zeros.begin(), zeros.end(), [](std::uint8_t b) { return b != 0; }))
        return std::nullopt;

    const unsigned sectorShift = sector[boot::kBytesPerSectorShift];
    const unsigned clusterShift = sector[boot::kSectorsPerClusterShift];
    if (sectorShift < 9 || sectorShift > 12 || clusterShift > 25 - sectorShift)
        return std::nullopt;
    const unsigned fatCount = sector[boot::kNumberOfFats];
    if (fatCount != 1 && fatCount != 2)
        return std::nullopt;

    const std::uint64_t volumeLength = *r.u64(boot::kVolumeLength);
    const std::uint64_t fatOffset = *r.u32(boot::kFatOffset);
    const std::uint64_t fatLength = *r.u32(boot::kFatLength);
    const std::uint64_t heapOffset = *r.u32(boot::kClusterHeapOffset);
    const std::uint64_t clusterCount = *r.u32(boot::kClusterCount);
    const std::uint64_t rootCluster = *r.u32(boot::kRootCluster);
    const std::uint64_t sectorsPerCluster = std::uint64_t{1} << clusterShift;
    const std::uint64_t bytesPerSector = std::uint64_t{1} << sectorShift;

    // Every number below is at most 2^32 and the shifts at most 2^25, so no product here wraps.
    if (clusterCount == 0 || clusterCount > 0xFFFFFFF5 || fatOffset < 24 || fatLength == 0)
        return std::nullopt;
    if (fatOffset + fatLength * fatCount > heapOffset)
        return std::nullopt; // the FATs run into the heap
    if ((clusterCount + 2) * 4 > fatLength * bytesPerSector)
        return std::nullopt; // the FAT cannot hold an entry per cluster
    if (volumeLength < heapOffset || clusterCount > (volumeLength - heapOffset) >> clusterShift)
        return std::nullopt; // the heap runs past the volume
    if (rootCluster < 2 || rootCluster - 2 >= clusterCount)
        return std::nullopt;
    if (volumeLength > UINT64_MAX / bytesPerSector)
        return std::nullopt;

    Geometry g;
    g.bytesPerSector = static_cast<std::uint32_t>(bytesPerSector);
    g.sectorsPerCluster = static_cast<std::uint32_t>(sectorsPerCluster);
    g.bytesPerCluster = static_cast<std::uint32_t>(bytesPerSector * sectorsPerCluster);
    g.totalSectors = volumeLength;
    g.clusterCount = clusterCount;
    g.fatCount = fatCount;
    const bool secondActive = fatCount == 2 && (*r.u16(boot::kVolumeFlags) & 1) != 0;
    g.fatPosition = (fatOffset + (secondActive ? fatLength : 0)) * bytesPerSector;
    g.fatBytes = fatLength * bytesPerSector;
    g.dataPosition = heapOffset * bytesPerSector;
    g.rootCluster = rootCluster;
    g.serial = *r.u32(boot::kSerial);

    if (deviceBytes) {
        // The FAT must be there; the heap may be cut short (clusters past the device read as lost).
        if (g.fatPosition > *deviceBytes || g.fatBytes > *deviceBytes - g.fatPosition)
            return std::nullopt;
        if (g.dataPosition > *deviceBytes || g.bytesPerCluster > *deviceBytes - g.dataPosition)
            return std::nullopt;
    }
    return g;
}

std::optional<bool> bootChecksumMatches(std::span<const std::uint8_t> region, std::uint32_t bytesPerSector)
{
    if (bytesPerSector < 512 || region.size() / 12 < bytesPerSector)
        return std::nullopt;
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < std::size_t{11} * bytesPerSector; ++i) {
        if (i == boot::kVolumeFlags || i == boot::kVolumeFlags + 1 || i == boot::kPercentInUse)
            continue;
        sum = ((sum & 1) ? 0x80000000u : 0u) + (sum >> 1) + region[i];
    }
    const LeReader r(region);
    for (std::size_t at = std::size_t{11} * bytesPerSector; at < std::size_t{12} * bytesPerSector; at += 4)
        if (*r.u32(at) != sum)
            return false;
    return true;
}

} // namespace orv::exfat
