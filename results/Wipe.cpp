#include "results/Wipe.h"

#include <algorithm>
#include <vector>

#include "ntfs/BootSector.h"
#include "ntfs/MftRecord.h"
#include "scan/ScanCommon.h"
#include "volume/SectorIo.h"

namespace orv {

namespace {

// A stretch of the record on the volume: `length` bytes at byte `position`.
struct Piece
{
    std::int64_t position;
    std::int64_t length;
};

// Where the record's bytes lie on the volume; with clusters smaller than records a record may
// continue in the next extent. Empty when it lies beyond the extents.
std::vector<Piece> locate(const VolumeContext& volume, std::int64_t offset, std::int64_t size)
{
    std::vector<Piece> pieces;
    std::int64_t start = 0;
    for (std::size_t i = 0; i < volume.MftExtentList.size(); ++i) {
        const DataRun& extent = volume.MftExtentList[i];
        const std::int64_t length = mftExtentBytes(volume, i);
        const std::int64_t wanted = offset + [&] {
            std::int64_t found = 0;
            for (const Piece& p : pieces)
                found += p.length;
            return found;
        }();
        if (wanted >= start && wanted < start + length) {
            const std::int64_t left = size - (wanted - offset);
            const std::int64_t take = std::min(left, start + length - wanted);
            pieces.push_back(
                {extent.start * volume.BytesPerCluster + mftExtentShift(volume, i) + (wanted - start), take});
            if (wanted - offset + take == size)
                return pieces;
        }
        start += length;
    }
    return {};
}

// Reads the sectors that hold [position, position + length) and the offset of the bytes in them.
bool readEnclosing(VolumeContext& volume, const Piece& piece, std::vector<std::uint8_t>& sectors, std::int64_t& skip,
                   std::int64_t& firstSector)
{
    const std::int64_t bps = volume.BytesPerSector;
    firstSector = piece.position / bps;
    skip = piece.position % bps;
    const std::int64_t count = (skip + piece.length + bps - 1) / bps;
    sectors.assign(static_cast<std::size_t>(count * bps), 0);
    return ReadSectors(volume, static_cast<std::uint64_t>(firstSector), sectors);
}

} // namespace

bool mountedWritable(VolumeContext& volume)
{
    if (!volume.Device)
        return false;
    const std::vector<SourceMount> mounts = volume.Device->mounts({});
    return std::any_of(mounts.begin(), mounts.end(), [](const SourceMount& m) { return m.writable; });
}

WipeOutcome WipeFileNTFS(ScanSession& session, std::int64_t recordOffset)
{
    VolumeContext& volume = session.volume;
    // A forensic or virtual-disk container is evidence or a machine's disk: read, never written.
    if (volume.Device && volume.Device->readOnly())
        return {false, "the source is a disk image container, which is only ever read"};
    if (mountedWritable(volume))
        return {false, "the volume is mounted for writing; unmount it first"};
    const std::int64_t size = volume.MftRecordSize;
    if (recordOffset < 0 || size <= 0 || volume.BytesPerSector <= 0 ||
        static_cast<std::uint64_t>(recordOffset) + static_cast<std::uint64_t>(size) > volume.MftBuffer.size())
        return {false, "no MFT record at this offset"};
    const std::vector<Piece> pieces = locate(volume, recordOffset, size);
    if (pieces.empty())
        return {false, "the record lies beyond the loaded extents"};

    // Read the record as it is on the volume now, sectors and all.
    std::vector<std::vector<std::uint8_t>> sectors(pieces.size());
    std::vector<std::int64_t> skips(pieces.size()), firstSectors(pieces.size());
    std::vector<std::uint8_t> onVolume;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (!readEnclosing(volume, pieces[i], sectors[i], skips[i], firstSectors[i]))
            return {false, "the record cannot be read"};
        const auto from = sectors[i].begin() + skips[i];
        onVolume.insert(onVolume.end(), from, from + pieces[i].length);
    }
    if (!mft::startsLikeRecord(onVolume))
        return {false, "the record on the volume is no longer an MFT record"};
    // Only a deleted file's record is wiped. A record in use in the $MFT the volume names now is
    // a live file's; one outside it in clusters the $Bitmap marks in use lies inside a live file
    // (a disk image kept on the volume), whatever its own flag says.
    const std::int64_t cluster = pieces.front().position / volume.BytesPerCluster;
    const bool inCurrentMft =
        std::any_of(volume.CurrentMftExtents.begin(), volume.CurrentMftExtents.end(),
                    [&](const DataRun& e) { return cluster >= e.start && cluster - e.start < e.length; });
    if (inCurrentMft && (onVolume[mft::kFlags] & mft::kFlagInUse))
        return {false, "the record is in use: it belongs to a live file"};
    if (!inCurrentMft && clusterInUse(volume.VolumeBitmap, cluster))
        return {false, "the record lies inside a live file"};
    ApplyRecordFixups(onVolume);
    if (!volume.MftBuffer.sameAsListed(recordOffset, onVolume))
        return {false, "the record on the volume has changed since the scan"};

    for (std::size_t i = 0; i < pieces.size(); ++i) {
        std::fill_n(sectors[i].begin() + skips[i], pieces[i].length, std::uint8_t{0});
        if (!WriteSectors(volume, static_cast<std::uint64_t>(firstSectors[i]), sectors[i]))
            return {false, "the volume refused the write"};
    }
    return {true, {}};
}

} // namespace orv
