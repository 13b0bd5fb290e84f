#pragma once

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
    // The $MFT the volume names now, as the last scan found it: a record inside it is live while
    // its in-use flag is set; the Extended scan's regions may lie elsewhere.
    std::vector<DataRun> CurrentMftExtents;
    std::int64_t MftDataSize = 0; // the bytes of the $MFT in use, as its $DATA says; 0 when unknown

    // The $MFT (Normal scan) or the regions (Extended scan) of the last scan, read from the device
    // on demand; a record is addressed by its offset here (RecordOffset).
    MftView MftBuffer;

    // How a record's extension records are found in MftBuffer: record N at N x MftRecordSize when
    // the buffer is the $MFT itself (the Normal scan), else through RecordIndex, the (number kept
    // in the record's header, buffer offset) of every record of the regions, sorted (the Extended
    // scan, whose regions may hold several file systems' records of one number).
    bool MftBufferByNumber = true;
    std::vector<std::pair<std::uint32_t, std::int64_t>> RecordIndex;
    // Stretches of MftBuffer that hold an earlier file system's records (outside the $MFT in use
    // now), in buffer order, with the cluster size their run lists count in: a quick format may
    // have changed it. 0 where the records do not tell it; their runs are then read with ours.
    struct EarlierRecords
    {
        std::int64_t bufferOffset = 0;
        std::int64_t bytes = 0;
        std::int64_t bytesPerCluster = 0;
        bool operator==(const EarlierRecords&) const = default;
    };
    std::vector<EarlierRecords> EarlierRegions;
    // A bare $MFT file holds no clusters, so a non-resident $ATTRIBUTE_LIST cannot be read: its
    // extension records are found by the base record each names instead. (base, extension)
    // record numbers, sorted; empty for a volume.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> ExtensionsByBase;
    std::vector<std::uint8_t> VolumeBitmap;
};

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

} // namespace orv
