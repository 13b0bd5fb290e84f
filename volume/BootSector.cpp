#include "BootSector.h"

#include <algorithm>
#include <limits>

#include "LeReader.h"
#include "MftRecord.h"
#include "SectorIo.h"

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

bool ReadMftExtentsNTFS(VolumeContext& ctx)
{
    ctx.MftExtentList.clear();
    if (ctx.BytesPerSector <= 0)
        return false;

    const std::int64_t firstSector = ClusterToSector(ctx, ctx.MftStartCluster);
    std::vector<std::uint8_t> record(static_cast<std::size_t>(ctx.BytesPerSector));
    if (firstSector < 0 || !ReadSectors(ctx, static_cast<std::uint64_t>(firstSector), record))
        return false;
    if (record[0] != 'F' || record[1] != 'I')
        return false;

    // The record size follows from the update-sequence count: one entry per 512 bytes plus the
    // sequence number itself. The boot sector's own field is not trusted for this.
    const std::int64_t usaCount = *LeReader(record).u16(mft::kUsaCount);
    const std::int64_t recordSize = (usaCount - 1) * 512;
    if (recordSize < 512 || recordSize > kMaxMftRecordSize)
        return false;
    ctx.MftRecordSize = recordSize;

    // Whole sectors: a disk with sectors larger than records reads nothing less.
    record.assign(static_cast<std::size_t>((recordSize + ctx.BytesPerSector - 1) / ctx.BytesPerSector * ctx.BytesPerSector), 0);
    if (!ReadSectors(ctx, static_cast<std::uint64_t>(firstSector), record))
        return false;
    record.resize(static_cast<std::size_t>(recordSize));
    ApplyRecordFixups(record);

    // The first attribute ($STANDARD_INFORMATION) is stepped over unread, as the type check
    // applies to what follows it.
    const LeReader r(record);
    std::size_t pos = *r.u16(mft::kFirstAttribute);
    for (;;) {
        const auto length = r.u16(pos + attr::kLength);
        if (!length || *length == 0)
            return false;
        pos += *length;
        const auto type = r.u8(pos + attr::kType);
        if (!type)
            return false;
        if (*type > attr::kData)
            return false;
        if (*type == attr::kData)
            break;
    }

    // The $MFT's own data is always non-resident; a resident one would make us read the
    // content as a run list.
    const auto nonResident = r.u8(pos + attr::kNonResident);
    const auto length = r.u16(pos + attr::kLength);
    if (!nonResident || *nonResident == 0 || !length || !r.has(pos, *length))
        return false;
    const LeReader attribute(*r.slice(pos, *length));
    const auto runsOffset = attribute.u16(attr::kRunListOffset);
    if (!runsOffset)
        return false;
    decodeDataRuns(attribute, *runsOffset, [&](DataRun run) {
        if (run.length > 0)
            ctx.MftExtentList.push_back(run);
    });
    return true;
}

bool ReadMftRecordNTFS(VolumeContext& ctx, std::int64_t number, std::vector<std::uint8_t>& out)
{
    out.assign(ctx.MftRecordSize > 0 ? static_cast<std::size_t>(ctx.MftRecordSize) : 0, 0);
    // Like a failed sector read, a record that cannot be read whole is all zeros.
    const auto fail = [&out] {
        std::fill(out.begin(), out.end(), std::uint8_t{0});
        return false;
    };
    if (number < 0 || ctx.MftRecordSize <= 0 || ctx.BytesPerCluster <= 0 || ctx.BytesPerSector <= 0)
        return fail();
    std::int64_t wanted = 0; // byte offset of the record inside the $MFT's data
    if (__builtin_mul_overflow(number, ctx.MftRecordSize, &wanted))
        return fail();

    std::size_t filled = 0;
    std::int64_t fileOffset = 0; // byte offset in the $MFT's data where the current extent starts
    for (const DataRun& extent : ctx.MftExtentList) {
        std::int64_t extentBytes = 0;
        if (__builtin_mul_overflow(extent.length, ctx.BytesPerCluster, &extentBytes))
            return fail();
        std::int64_t extentEnd = 0;
        if (__builtin_add_overflow(fileOffset, extentBytes, &extentEnd))
            return fail();
        while (filled < out.size() && wanted + static_cast<std::int64_t>(filled) < extentEnd) {
            const std::int64_t within = wanted + static_cast<std::int64_t>(filled) - fileOffset;
            const std::int64_t firstSector = ClusterToSector(ctx, extent.start);
            if (firstSector < 0)
                return fail();
            // Read whole sectors and take the part we need; records and clusters are both whole
            // sectors, so a record never starts inside a sector on a sound volume.
            std::int64_t sector = 0;
            if (__builtin_add_overflow(firstSector, within / ctx.BytesPerSector, &sector))
                return fail();
            const std::int64_t skip = within % ctx.BytesPerSector;
            const std::int64_t take = std::min<std::int64_t>(
                {static_cast<std::int64_t>(out.size() - filled), extentEnd - (wanted + static_cast<std::int64_t>(filled))});
            const std::int64_t span = skip + take;
            std::vector<std::uint8_t> sectors(
                static_cast<std::size_t>((span + ctx.BytesPerSector - 1) / ctx.BytesPerSector * ctx.BytesPerSector));
            if (!ReadSectors(ctx, static_cast<std::uint64_t>(sector), sectors))
                return fail();
            std::copy_n(sectors.begin() + skip, take, out.begin() + static_cast<std::ptrdiff_t>(filled));
            filled += static_cast<std::size_t>(take);
        }
        if (filled == out.size())
            return true;
        fileOffset = extentEnd;
    }
    return fail();
}

} // namespace orv
