#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "ntfs/DataRuns.h"
#include "ntfs/MftView.h"
#include "volume/VolumeDevice.h"

namespace orv {

// The description of the drive of the last Find: the device and geometry every file system has,
// and on NTFS where its $MFT lies and the loaded $MFT and cluster bitmap. Every number that
// counts sectors, clusters or bytes is 64-bit, so volumes of 2 TiB and more are described as they
// are.
struct VolumeContext : VolumeDevice
{
    std::int64_t MftStartCluster = 0;
    std::int64_t MftRecordSize = 0;

    // The $MFT's own data, in file order: extent 0 holds records 0, 1, 2, ...
    std::vector<DataRun> MftExtentList;
    // Where each extent's records begin in its first cluster, in bytes (a whole number of
    // sectors): the Extended scan's regions of an earlier file system that began at another
    // sector than this one. Empty when every extent begins at its cluster's start.
    std::vector<std::int64_t> MftExtentShifts;
    // The $MFT the volume names now, as the last scan found it: a record inside it is live while
    // its in-use flag is set; the Extended scan's regions may lie elsewhere.
    std::vector<DataRun> CurrentMftExtents;
    std::int64_t MftDataSize = 0; // the bytes of the $MFT in use, as its $DATA says; 0 when unknown

    // The $MFT (Normal scan) or the regions (Extended scan) of the last scan, read from the device
    // on demand; a record is addressed by its offset here (RecordOffset).
    MftView MftBuffer;

    // How a record's extension records are found in MftBuffer: record N at N x MftRecordSize when
    // the buffer is the $MFT itself (the Normal scan), else through RecordIndex, the number kept in
    // the record's header and the record's place in the buffer of every record of the regions,
    // sorted (the Extended scan, whose regions may hold several file systems' records of one
    // number). Eight bytes each: a $MFT may hold millions of records.
    bool MftBufferByNumber = true;
    struct IndexedRecord
    {
        std::uint32_t number = 0;
        std::uint32_t slot = 0; // its offset in MftBuffer, in records of MftRecordSize
        friend auto operator<=>(const IndexedRecord&, const IndexedRecord&) = default;
    };
    std::vector<IndexedRecord> RecordIndex;
    // Stretches of MftBuffer that hold an earlier file system's records (outside the $MFT in use
    // now), in buffer order, with the cluster size their run lists count in: a quick format may
    // have changed it. 0 where the records do not tell it; their runs are then read with ours.
    struct EarlierRecords
    {
        std::int64_t bufferOffset = 0;
        std::int64_t bytes = 0;
        std::int64_t bytesPerCluster = 0;
        // Where that file system's cluster 0 lies on this volume, in bytes: not 0 when it began
        // at another sector (a disk partitioned anew), as its $MFT's record 0 tells.
        std::int64_t origin = 0;
        bool operator==(const EarlierRecords&) const = default;
    };
    std::vector<EarlierRecords> EarlierRegions;
    // A bare $MFT file holds no clusters, so a non-resident $ATTRIBUTE_LIST cannot be read: its
    // extension records are found by the base record each names instead. (base, extension)
    // record numbers, sorted; empty for a volume.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> ExtensionsByBase;
    std::vector<std::uint8_t> VolumeBitmap;
};

// Where extent `i`'s records begin in its first cluster, in bytes.
inline std::int64_t mftExtentShift(const VolumeContext& ctx, std::size_t i)
{
    return i < ctx.MftExtentShifts.size() ? ctx.MftExtentShifts[i] : 0;
}

// The bytes extent `i` gives MftBuffer: its clusters, or, when its records begin past its first
// cluster's start, the whole records that follow from there.
inline std::int64_t mftExtentBytes(const VolumeContext& ctx, std::size_t i)
{
    const std::int64_t bytes = ctx.MftExtentList[i].length * ctx.BytesPerCluster;
    const std::int64_t shift = mftExtentShift(ctx, i);
    if (shift == 0 || ctx.MftRecordSize <= 0)
        return bytes;
    return std::max<std::int64_t>(bytes - shift, 0) / ctx.MftRecordSize * ctx.MftRecordSize;
}

// The cluster size the record at `recordOffset` of MftBuffer counts its runs in when it belongs to
// an earlier file system: a size, or 0 where it could not be told. Nothing for a record of the
// file system the volume carries now.
inline std::optional<std::int64_t> earlierClusterSize(const VolumeContext& ctx, std::int64_t recordOffset)
{
    for (const VolumeContext::EarlierRecords& stretch : ctx.EarlierRegions)
        if (recordOffset >= stretch.bufferOffset && recordOffset - stretch.bufferOffset < stretch.bytes)
            return stretch.bytesPerCluster;
    return std::nullopt;
}

// Where the clusters of the record at `recordOffset` of MftBuffer count from on this volume, in
// bytes: 0 for the file system the volume carries now.
inline std::int64_t earlierOrigin(const VolumeContext& ctx, std::int64_t recordOffset)
{
    for (const VolumeContext::EarlierRecords& stretch : ctx.EarlierRegions)
        if (recordOffset >= stretch.bufferOffset && recordOffset - stretch.bufferOffset < stretch.bytes)
            return stretch.origin;
    return 0;
}

} // namespace orv
