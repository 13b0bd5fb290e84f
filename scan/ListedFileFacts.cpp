#include "scan/ListedFileFacts.h"

#include "scan/ScanCommon.h"
#include "volume/MftRecord.h"

namespace orv {

std::optional<ListedFileFacts> listedFileFacts(VolumeContext& volume, std::int64_t recordOffset)
{
    if (volume.MftRecordSize <= 0)
        return std::nullopt;
    // One buffer for every call: a listing asks this of every file it shows.
    thread_local std::vector<std::uint8_t> record;
    record.resize(static_cast<std::size_t>(volume.MftRecordSize));
    if (!volume.MftBuffer.read(recordOffset, record))
        return std::nullopt;
    ApplyRecordFixups(record);
    const auto parts = readRecordParts(&volume, record, recordOffset);
    if (!parts)
        return std::nullopt;
    return ListedFileFacts{parts->creationTime, parts->hasData, parts->dataResident, parts->dataSize};
}

} // namespace orv
