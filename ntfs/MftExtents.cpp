#include "ntfs/MftExtents.h"

#include <algorithm>
#include <limits>
#include <optional>

#include "ntfs/AttributeCursor.h"
#include "ntfs/BootSector.h"
#include "ntfs/MftRecord.h"
#include "volume/LeReader.h"
#include "volume/SectorIo.h"

namespace orv {

namespace {

struct MftSegment
{
    std::uint64_t lowestVcn = 0;
    std::uint64_t clusters = 0;
    std::uint64_t dataSize = 0; // kept in the first segment only
    std::vector<DataRun> runs;
};

// The extents without one that names clusters an earlier one already holds: every later record
// would be read from the wrong place, and a crafted list would list the same records twice.
void dropOverlaps(VolumeContext& ctx)
{
    // Run lengths come from the disk: an end past the largest cluster number saturates there.
    const auto end = [](const DataRun& run) {
        std::int64_t last = 0;
        return __builtin_add_overflow(run.start, run.length, &last) ? std::numeric_limits<std::int64_t>::max() : last;
    };
    std::vector<DataRun> kept;
    for (const DataRun& extent : ctx.MftExtentList) {
        if (extent.start < 0 || extent.length < 0)
            break;
        const bool overlaps = std::any_of(
            kept.begin(), kept.end(), [&](const DataRun& k) { return extent.start < end(k) && k.start < end(extent); });
        if (overlaps)
            break;
        kept.push_back(extent);
    }
    ctx.MftExtentList = std::move(kept);
}

// The runs of one non-resident segment of the $MFT's $DATA. The $MFT is never sparse: a hole
// would leave the place of every later record unknown, so the runs end at one.
std::optional<MftSegment> dataSegment(const AttributeHeader& header, std::span<const std::uint8_t> record)
{
    const LeReader r(record);
    const auto nonResident = r.u8(header.position + attr::kNonResident);
    const auto bytes = r.slice(header.position, header.length);
    // The $MFT's own data is always non-resident; a resident one would make us read the
    // content as a run list.
    if (!nonResident || *nonResident == 0 || !bytes)
        return std::nullopt;
    const LeReader attribute(*bytes);
    const auto runsOffset = attribute.u16(attr::kRunListOffset);
    const auto lowestVcn = attribute.u64(attr::kLowestVcn);
    if (!runsOffset || !lowestVcn)
        return std::nullopt;
    MftSegment segment{*lowestVcn, 0, attribute.u64(attr::kDataSize).value_or(0), {}};
    bool hole = false;
    decodeDataRuns(attribute, *runsOffset, [&](DataRun run) {
        hole = hole || run.hole;
        if (hole)
            return;
        if (__builtin_add_overflow(segment.clusters, static_cast<std::uint64_t>(run.length), &segment.clusters))
            segment.clusters = std::numeric_limits<std::uint64_t>::max();
        if (run.length > 0)
            segment.runs.push_back(run);
    });
    return segment;
}

} // namespace

bool ReadMftExtentsNTFS(VolumeContext& ctx)
{
    ctx.MftExtentList.clear();
    ctx.MftDataSize = 0;
    if (ctx.BytesPerSector <= 0)
        return false;

    const std::int64_t firstSector = ClusterToSector(ctx, ctx.MftStartCluster);
    std::vector<std::uint8_t> record(static_cast<std::size_t>(ctx.BytesPerSector));
    if (firstSector < 0 || !ReadSectors(ctx, static_cast<std::uint64_t>(firstSector), record))
        return false;
    if (!mft::startsLikeRecord(record))
        return false;

    // The record size follows from the update-sequence count: one entry per 512 bytes plus the
    // sequence number itself. The boot sector's own field is not trusted for this.
    const std::int64_t usaCount = *LeReader(record).u16(mft::kUsaCount);
    const std::int64_t recordSize = (usaCount - 1) * 512;
    if (recordSize < 512 || recordSize > kMaxMftRecordSize)
        return false;
    ctx.MftRecordSize = recordSize;

    // Whole sectors: a disk with sectors larger than records reads nothing less.
    record.assign(
        static_cast<std::size_t>((recordSize + ctx.BytesPerSector - 1) / ctx.BytesPerSector * ctx.BytesPerSector), 0);
    if (!ReadSectors(ctx, static_cast<std::uint64_t>(firstSector), record))
        return false;
    record.resize(static_cast<std::size_t>(recordSize));
    ApplyRecordFixups(record);

    // The first attribute ($STANDARD_INFORMATION) is stepped over unread, as the type check
    // applies to what follows it.
    const LeReader r(record);
    AttributeCursor cursor(record);
    if (!cursor.next())
        return false;
    std::optional<AttributeHeader> data;
    std::optional<AttributeHeader> list;
    while (const auto a = cursor.next()) {
        if (a->typeByte() > attr::kData)
            return false;
        if (a->typeByte() == attr::kAttributeList)
            list = a;
        if (a->typeByte() == attr::kData) {
            data = a;
            break;
        }
    }
    if (!data)
        return false;
    const auto first = dataSegment(*data, record);
    if (!first)
        return false;
    ctx.MftExtentList = first->runs;
    ctx.MftDataSize =
        static_cast<std::int64_t>(std::min<std::uint64_t>(first->dataSize, std::numeric_limits<std::int64_t>::max()));
    dropOverlaps(ctx);

    // A large $MFT continues its run list in extension records, which lie in the part of the
    // $MFT the first segment already names.
    if (!list || first->lowestVcn != 0)
        return true;
    const auto listBytes = cursor.bytes(*list);
    const auto others = listBytes ? recordsInAttributeList(&ctx, *listBytes, 0) : std::nullopt;
    if (!others)
        return true;
    std::vector<MftSegment> segments{*first};
    std::vector<std::uint8_t> extension;
    for (const std::uint64_t number : *others) {
        if (number > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) ||
            !ReadMftRecordNTFS(ctx, static_cast<std::int64_t>(number), extension) || !mft::startsLikeRecord(extension))
            continue;
        ApplyRecordFixups(extension);
        if (LeReader(extension).u64(mft::kBaseRecord).value_or(1) & 0xFFFF'FFFF'FFFFull)
            continue; // not an extension of record 0
        AttributeCursor inner(extension);
        while (const auto a = inner.next())
            if (a->type == attr::kData && LeReader(extension).u8(a->position + attr::kNameLength) == std::uint8_t{0})
                if (const auto segment = dataSegment(*a, extension); segment && segment->lowestVcn > 0)
                    segments.push_back(*segment);
    }
    std::sort(segments.begin(), segments.end(),
              [](const MftSegment& x, const MftSegment& y) { return x.lowestVcn < y.lowestVcn; });
    ctx.MftExtentList.clear();
    std::uint64_t next = 0;
    for (const MftSegment& segment : segments) {
        if (segment.lowestVcn != next)
            break; // a gap: what follows cannot be placed
        for (const DataRun& run : segment.runs)
            ctx.MftExtentList.push_back(run);
        next = segment.clusters > std::numeric_limits<std::uint64_t>::max() - segment.lowestVcn
            ? std::numeric_limits<std::uint64_t>::max()
            : segment.lowestVcn + segment.clusters;
    }
    dropOverlaps(ctx);
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
            const std::int64_t take =
                std::min<std::int64_t>({static_cast<std::int64_t>(out.size() - filled),
                                        extentEnd - (wanted + static_cast<std::int64_t>(filled))});
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
