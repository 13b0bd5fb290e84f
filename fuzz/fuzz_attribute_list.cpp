// MFT records whose $ATTRIBUTE_LISTs and extension records come from the input: up to 16 records
// of 1,024 bytes laid out by number, each decoded the way a scan reads it, with extension records
// found by number and through the index.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "fuzz/RecordChecks.h"
#include "ntfs/MftRecord.h"

namespace {

constexpr std::size_t kRecord = 1024;

void decodeAll(orv::VolumeContext& volume, std::int64_t offset)
{
    std::vector<std::uint8_t> record(kRecord);
    volume.MftBuffer.read(offset, record);
    orv::ApplyRecordFixups(record);
    if (const auto parts = orv::readRecordParts(&volume, record, offset)) {
        const auto names = orv::longNames(parts->names);
        orv::fuzz::require(names.size() <= parts->names.size(), "more long names than names");
    }
    orv::TMFTFile file;
    if (orv::DecodeRecordNTFS(volume, static_cast<std::size_t>(offset), file) == orv::RecordStatus::Ok &&
        !file.Resident) {
        for (const orv::DataRun& run : file.ClusterList)
            orv::fuzz::require(run.length >= 0, "a run with a negative length");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::size_t records = std::min<std::size_t>(size / kRecord + 1, 16);
    orv::VolumeContext volume;
    volume.BytesPerSector = 512;
    volume.SectorsPerCluster = 8;
    volume.BytesPerCluster = 4096;
    volume.MftRecordSize = kRecord;
    std::vector<std::uint8_t> buffer(records * kRecord + 1024, 0);
    std::copy_n(data, std::min(size, records * kRecord), buffer.begin());
    volume.MftBuffer.assign(std::move(buffer));

    for (std::size_t i = 0; i < records; ++i)
        decodeAll(volume, static_cast<std::int64_t>(i * kRecord));
    volume.MftBufferByNumber = false;
    for (std::size_t i = 0; i < records; ++i)
        volume.RecordIndex.push_back({static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(i)});
    for (std::size_t i = 0; i < records; ++i)
        decodeAll(volume, static_cast<std::int64_t>(i * kRecord));
    return 0;
}
