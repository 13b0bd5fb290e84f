#include "ntfs/BootSector.h"

#include <algorithm>
#include <limits>

#include "volume/LeReader.h"
#include "volume/SectorIo.h"

namespace orv {

std::optional<std::int64_t> sectorsPerClusterFromByte(std::uint8_t value)
{
    if (value == 0)
        return 8;
    if (value <= 0x80)
        return value;
    const int power = 256 - value;
    if (power > 21) // beyond 2 MiB even with 1-byte sectors; kept below 2^63 for the shift
        return std::nullopt;
    return std::int64_t{1} << power;
}

bool ReadBootSectorNTFS(VolumeContext& ctx)
{
    return readBootSector(ctx) == BootSectorStatus::Ok;
}

BootSectorStatus readBootSector(VolumeContext& ctx)
{
    ctx.SectorsPerCluster = 0;
    ctx.BytesPerCluster = 0;
    ctx.TotalSectors = 0;
    ctx.TotalClusters = 0;
    ctx.MftStartCluster = 0;

    std::vector<std::uint8_t> sector;
    if (!probeSectorZero(ctx, sector))
        return BootSectorStatus::Unreadable;
    const LeReader r(sector);

    const std::int64_t bytesPerSector = *r.u16(boot::kBytesPerSector);
    if (bytesPerSector < 512)
        return BootSectorStatus::NotNtfs;
    ctx.BytesPerSector = bytesPerSector;

    const auto sectorsPerCluster = sectorsPerClusterFromByte(*r.u8(boot::kSectorsPerCluster));
    if (!sectorsPerCluster || *sectorsPerCluster * bytesPerSector > kMaxBytesPerCluster)
        return BootSectorStatus::NotNtfs;
    ctx.SectorsPerCluster = *sectorsPerCluster;

    // Both 64-bit fields are kept whole; a value with the top bit set cannot describe a volume.
    const std::uint64_t totalSectors = *r.u64(boot::kTotalSectors);
    const std::uint64_t mftCluster = *r.u64(boot::kMftCluster);
    constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (totalSectors > kMax || mftCluster > kMax)
        return BootSectorStatus::NotNtfs;
    ctx.TotalSectors = static_cast<std::int64_t>(totalSectors);
    ctx.TotalClusters = ctx.TotalSectors / ctx.SectorsPerCluster;
    ctx.MftStartCluster = static_cast<std::int64_t>(mftCluster);
    if (ctx.MftStartCluster == 0)
        return BootSectorStatus::NotNtfs;

    ctx.BytesPerCluster = ctx.SectorsPerCluster * ctx.BytesPerSector;
    return BootSectorStatus::Ok;
}

std::int64_t ClusterToSector(const VolumeContext& ctx, std::int64_t cluster)
{
    std::int64_t sector = 0;
    if (cluster < 0 || __builtin_mul_overflow(cluster, ctx.SectorsPerCluster, &sector))
        return -1;
    return sector;
}

std::int64_t volumeClusterCount(VolumeContext& volume, std::int64_t bytesPerCluster)
{
    if (bytesPerCluster <= 0)
        bytesPerCluster = volume.BytesPerCluster;
    std::int64_t clusters = volume.TotalClusters > 0 ? volume.TotalClusters : std::numeric_limits<std::int64_t>::max();
    if (clusters != std::numeric_limits<std::int64_t>::max() && volume.BytesPerCluster > 0 && bytesPerCluster > 0 &&
        bytesPerCluster != volume.BytesPerCluster) {
        // In clusters of another size: the same bytes, counted again.
        clusters = clusters > std::numeric_limits<std::int64_t>::max() / volume.BytesPerCluster
            ? std::numeric_limits<std::int64_t>::max() / bytesPerCluster
            : clusters * volume.BytesPerCluster / bytesPerCluster;
    }
    const auto deviceBytes = volume.Device ? volume.Device->size() : std::nullopt;
    if (deviceBytes && bytesPerCluster > 0)
        clusters = std::min<std::int64_t>(
            clusters,
            static_cast<std::int64_t>(std::min<std::uint64_t>(*deviceBytes, std::numeric_limits<std::int64_t>::max())) /
                bytesPerCluster);
    return clusters;
}

} // namespace orv
