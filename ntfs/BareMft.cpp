#include "ntfs/BareMft.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace orv {

std::optional<BareMftHeader> openBareMft(VolumeContext& ctx)
{
    if (!ctx.Device)
        return std::nullopt;
    const auto size = ctx.Device->size();
    ctx.BytesPerSector = 512;
    std::vector<std::uint8_t> first(4096);
    auto header = size && *size >= 4096 && ReadSectors(ctx, 0, first) ? bareMftHeader(first) : std::nullopt;
    if (!header) {
        first.resize(1024);
        header = size && *size >= 1024 && ReadSectors(ctx, 0, first) ? bareMftHeader(first) : std::nullopt;
    }
    if (!header)
        return std::nullopt;
    const std::int64_t records =
        static_cast<std::int64_t>(std::min<std::uint64_t>(*size, std::numeric_limits<std::int64_t>::max())) /
        header->recordSize;
    ctx.MftRecordSize = header->recordSize;
    ctx.BytesPerCluster = header->recordSize;
    ctx.SectorsPerCluster = header->recordSize / 512;
    ctx.TotalClusters = records;
    ctx.TotalSectors = records * ctx.SectorsPerCluster;
    ctx.MftStartCluster = 0;
    ctx.MftExtentList = {DataRun{0, records}};
    ctx.MftDataSize = records * header->recordSize;
    return header;
}

} // namespace orv
