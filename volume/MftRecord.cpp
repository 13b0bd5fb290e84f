#include "MftRecord.h"

#include <limits>

#include "LeReader.h"

namespace orv {

void ApplyRecordFixups(std::span<std::uint8_t> record)
{
    const LeReader r(record);
    const auto usaOffset = r.u16(mft::kUsaOffset);
    const auto usaCount = r.u16(mft::kUsaCount);
    if (!usaOffset || !usaCount)
        return;
    // An array that reaches the first protected word would be rewritten by its own repair, and
    // a record repaired twice would then differ from one repaired once; no sound record has that.
    if (*usaOffset + 2 * std::size_t{*usaCount} > mft::kFixupStride - 2)
        return;
    for (std::size_t i = 1; i < *usaCount; ++i) {
        const std::size_t strideEnd = mft::kFixupStride * i;
        const std::size_t from = *usaOffset + 2 * i;
        if (strideEnd > record.size() || !r.has(from, 2))
            break;
        record[strideEnd - 2] = record[from];
        record[strideEnd - 1] = record[from + 1];
    }
}

std::optional<AttributeSurvey> SurveyAttributes(std::span<const std::uint8_t> record)
{
    const LeReader r(record);
    const auto first = r.u16(mft::kFirstAttribute);
    if (!first)
        return std::nullopt;
    AttributeSurvey found;
    std::size_t pos = *first;
    for (;;) {
        // The end marker ends the record whatever follows it: Windows writes a length-like word
        // behind it, mkntfs and ntfs-3g write zeros, and both records are sound.
        if (r.u32(pos + attr::kType) == attr::kEndMarker)
            return found;
        // The type and the low half of the length field must lie inside the record.
        const auto type = r.u8(pos + attr::kType);
        const auto length = r.u16(pos + attr::kLength);
        if (!type || !length || *length == 0)
            return std::nullopt;
        switch (*type) {
        case attr::kStandardInformation: found.StandardInformation = pos; break;
        case attr::kFileName: found.FileName = pos; break;
        case attr::kIndexRoot: found.IndexRoot = pos; break;
        case attr::kIndexAllocation: found.IndexAllocation = pos; break;
        case attr::kData:
            if (r.u8(pos + attr::kNameLength) == std::uint8_t{0})
                found.Data = pos;
            break;
        default: break;
        }
        if (*type > attr::kIndexAllocation)
            return found;
        pos += *length;
    }
}

std::optional<std::u16string> readFileName(std::span<const std::uint8_t> record, std::size_t position)
{
    const LeReader r(record);
    const auto count = r.u8(position + content::kNameLength);
    if (!count)
        return std::nullopt;
    const auto bytes = r.slice(position + content::kName, 2 * std::size_t{*count});
    if (!bytes)
        return std::nullopt;
    std::u16string name(*count, u'\0');
    for (std::size_t i = 0; i < name.size(); ++i)
        name[i] = static_cast<char16_t>((*bytes)[2 * i] | ((*bytes)[2 * i + 1] << 8));
    return name;
}

std::optional<std::int64_t> readParentRecord(std::span<const std::uint8_t> record, std::size_t position)
{
    const auto parent = LeReader(record).uint(position + content::kParent, 6);
    if (!parent)
        return std::nullopt;
    return static_cast<std::int64_t>(*parent);
}

std::optional<std::uint64_t> readCreationTime(std::span<const std::uint8_t> record, std::size_t position)
{
    return LeReader(record).u64(position + content::kCreationTime);
}

std::optional<LocalDateTime> readCreationDateTime(std::span<const std::uint8_t> record, std::size_t position)
{
    const auto fileTime = readCreationTime(record, position);
    if (!fileTime)
        return std::nullopt;
    return fileTimeToLocal(*fileTime);
}

namespace {

// The unnamed $DATA among the attributes up to the first type above $DATA. The walk ends early at
// a zero length or at a header outside the record; a $DATA met before that still counts, as its
// own bytes are checked when it is decoded.
std::optional<std::size_t> findUnnamedData(const LeReader& r)
{
    const auto first = r.u16(mft::kFirstAttribute);
    if (!first)
        return std::nullopt;
    std::size_t pos = *first;
    for (;;) {
        const auto type = r.u8(pos + attr::kType);
        const auto length = r.u16(pos + attr::kLength);
        if (!type || *type > attr::kData || !length || *length == 0)
            return std::nullopt;
        if (*type == attr::kData && r.u8(pos + attr::kNameLength) == std::uint8_t{0})
            return pos;
        pos += *length;
    }
}

} // namespace

RecordStatus decodeRecord(std::span<std::uint8_t> record, TMFTFile& file)
{
    file.ClusterList.clear();
    file.Resident = false;
    file.ResidentLength = 0;
    file.ResidentBuf.clear(); // never another file's bytes
    file.FSize = 0;

    ApplyRecordFixups(record);
    const LeReader r(record);
    const auto dataPos = findUnnamedData(r);
    if (!dataPos)
        return RecordStatus::Ok;

    const auto length = r.u16(*dataPos + attr::kLength);
    const auto attribute = r.slice(*dataPos, *length);
    if (!attribute)
        return RecordStatus::Corrupt;
    const LeReader a(*attribute);
    const auto nonResident = a.u8(attr::kNonResident);
    if (!nonResident)
        return RecordStatus::Corrupt;

    if (*nonResident == 0) {
        const auto contentLength = a.u32(attr::kContentLength);
        const auto contentOffset = a.u16(attr::kContentOffset);
        if (!contentLength || !contentOffset)
            return RecordStatus::Corrupt;
        const auto bytes = a.slice(*contentOffset, *contentLength);
        if (!bytes)
            return RecordStatus::Corrupt;
        file.Resident = true;
        file.ResidentLength = static_cast<std::int64_t>(bytes->size());
        file.FSize = file.ResidentLength;
        file.ResidentBuf.assign(bytes->begin(), bytes->end());
        return RecordStatus::Ok;
    }

    const auto dataSize = a.u64(attr::kDataSize);
    const auto runsOffset = a.u16(attr::kRunListOffset);
    if (!dataSize || !runsOffset || *dataSize > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
        return RecordStatus::Corrupt;
    file.FSize = static_cast<std::int64_t>(*dataSize);
    decodeDataRuns(a, *runsOffset, [&](DataRun run) { file.ClusterList.push_back(run); });
    return RecordStatus::Ok;
}

RecordStatus DecodeRecordNTFS(VolumeContext& ctx, std::size_t recordOffset, TMFTFile& file)
{
    const std::size_t size = ctx.MftRecordSize > 0 ? static_cast<std::size_t>(ctx.MftRecordSize) : 0;
    if (size == 0 || recordOffset > ctx.MftBuffer.size() || size > ctx.MftBuffer.size() - recordOffset)
        return RecordStatus::NotARecord;
    return decodeRecord(std::span<std::uint8_t>(ctx.MftBuffer).subspan(recordOffset, size), file);
}

} // namespace orv
