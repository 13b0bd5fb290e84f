#include "ListedFileFacts.h"

#include "MftRecord.h"
#include "ScanCommon.h"

namespace orv {

std::optional<ListedFileFacts> listedFileFacts(VolumeContext& volume, std::int64_t recordOffset)
{
    const auto record = recordAt(volume.MftBuffer, recordOffset, volume.MftRecordSize);
    if (record.empty())
        return std::nullopt;
    const auto parts = readRecordParts(&volume, record, recordOffset);
    if (!parts)
        return std::nullopt;
    return ListedFileFacts{parts->creationTime, parts->hasData, parts->dataResident, parts->dataSize};
}

} // namespace orv
