// A whole volume image behind drive C:, taken through what Find does before the scan: identify
// the file system, read the geometry and the $MFT's extents, fetch records through the extents
// and decode them. Every length and number here comes from the image, so none may decide how
// much we allocate or where we read beyond the checks the volume code makes.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "fuzz/RecordChecks.h"
#include "ntfs/BootSector.h"
#include "ntfs/MftExtents.h"
#include "ntfs/MftRecord.h"
#include "tests/support/Devices.h"
#include "volume/SectorIo.h"

namespace {

using orv::fuzz::require;

// The bytes a record was read from must be the image's bytes at the places the extents map it
// to: record `number` starts `number * MftRecordSize` bytes into the $MFT's data, and the data
// continues from one extent to the next.
void checkAgainstImage(const orv::VolumeContext& ctx, std::span<const std::uint8_t> image, std::int64_t number,
                       std::span<const std::uint8_t> record)
{
    __extension__ typedef unsigned __int128 Wide; // no product of two 64-bit fields overflows it
    const Wide wanted = Wide(static_cast<std::uint64_t>(number)) * static_cast<std::uint64_t>(ctx.MftRecordSize);
    const auto clusterBytes = static_cast<std::uint64_t>(ctx.BytesPerCluster);
    const Wide wantedEnd = wanted + record.size();
    Wide extentStart = 0;
    for (const orv::DataRun& extent : ctx.MftExtentList) {
        if (extentStart >= wantedEnd)
            return;
        const Wide extentEnd = extentStart + Wide(static_cast<std::uint64_t>(extent.length)) * clusterBytes;
        const Wide from = std::max(wanted, extentStart);
        const Wide to = std::min(wantedEnd, extentEnd);
        for (Wide at = from; at < to; ++at) {
            const Wide imageAt = Wide(static_cast<std::uint64_t>(extent.start)) * clusterBytes + (at - extentStart);
            require(imageAt < image.size(), "a record was read from beyond the image");
            require(record[static_cast<std::size_t>(at - wanted)] == image[static_cast<std::size_t>(imageAt)],
                    "a record byte differs from the image");
        }
        extentStart = extentEnd;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::vector<std::uint8_t> image(data, data + size);
    auto device = std::make_shared<orv::test::MemoryDevice>(image);
    orv::test::FakeDriveSystem drives;
    drives.add("C:", device); // no mounted file system named: the boot sector decides

    orv::VolumeContext ctx;
    ctx.FileSystemCode = DetectFileSystem(ctx, drives, "C:");
    require(SelectDrive(ctx, drives, "C:"), "drive C: was not found");
    if (!ReadBootSectorNTFS(ctx))
        return 0;
    require(ctx.BytesPerSector >= 512 && ctx.SectorsPerCluster > 0, "geometry below its floor");
    require(ctx.BytesPerCluster == ctx.BytesPerSector * ctx.SectorsPerCluster &&
                ctx.BytesPerCluster <= orv::kMaxBytesPerCluster,
            "cluster size beyond 2 MiB or not sectors times sectors per cluster");
    require(ctx.MftStartCluster > 0 && ctx.TotalSectors >= 0, "negative geometry");

    if (!ReadMftExtentsNTFS(ctx))
        return 0;
    require(ctx.MftRecordSize >= 512 && ctx.MftRecordSize <= orv::kMaxMftRecordSize && ctx.MftRecordSize % 512 == 0,
            "record size out of range");
    require(ctx.MftExtentList.size() <= static_cast<std::size_t>(ctx.MftRecordSize) / 3,
            "more extents than record 0 can hold");
    for (const orv::DataRun& extent : ctx.MftExtentList)
        require(extent.length > 0, "an empty extent was kept");

    // Records 0, 1 and 5 ($MFT, $MFTMirr, the root folder), one the input picks, and the last one
    // the first extent holds, so reads at both ends of an extent are tried.
    std::vector<std::int64_t> numbers = {0, 1, 5};
    if (size >= 2)
        numbers.push_back(data[size - 1] << 8 | data[size - 2]);
    if (!ctx.MftExtentList.empty()) {
        std::int64_t firstExtentBytes = 0;
        if (!__builtin_mul_overflow(ctx.MftExtentList.front().length, ctx.BytesPerCluster, &firstExtentBytes))
            numbers.push_back(firstExtentBytes / ctx.MftRecordSize - 1);
    }

    std::vector<std::uint8_t> record;
    require(!ReadMftRecordNTFS(ctx, -1, record), "record -1 was read");
    std::vector<std::uint8_t> loaded;
    for (const std::int64_t number : numbers) {
        const bool read = ReadMftRecordNTFS(ctx, number, record);
        require(record.size() == static_cast<std::size_t>(ctx.MftRecordSize), "record buffer of the wrong size");
        if (!read)
            continue;
        checkAgainstImage(ctx, image, number, record);
        loaded.insert(loaded.end(), record.begin(), record.end());
        orv::fuzz::checkRecord(record);
    }
    ctx.MftBuffer.assign(loaded);

    // The scan decodes records straight out of the loaded $MFT; a record that does not fit whole
    // at the end of the buffer is no record.
    orv::TMFTFile file;
    const auto recordSize = static_cast<std::size_t>(ctx.MftRecordSize);
    for (std::size_t offset = 0; offset < ctx.MftBuffer.size(); offset += recordSize)
        (void)DecodeRecordNTFS(ctx, offset, file);
    require(DecodeRecordNTFS(ctx, ctx.MftBuffer.size() + 1 - recordSize, file) == orv::RecordStatus::NotARecord,
            "a record cut short at the end of the $MFT was decoded");
    return 0;
}
