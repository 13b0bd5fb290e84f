#include "scan/ListedFileFacts.h"

#include <algorithm>

#include "ntfs/MftRecord.h"
#include "scan/ScanCommon.h"

namespace orv {

std::optional<ListedFileFacts> listedFileFacts(VolumeContext& volume, std::int64_t recordOffset)
{
    if (volume.MftRecordSize <= 0)
        return std::nullopt;
    // One buffer for every call: a listing asks this of every file it shows.
    thread_local std::vector<std::uint8_t> record;
    record.resize(static_cast<std::size_t>(volume.MftRecordSize));
    if (!volume.MftBuffer.readAlone(recordOffset, record))
        return std::nullopt;
    ApplyRecordFixups(record);
    const auto parts = readRecordParts(&volume, record, recordOffset);
    if (!parts)
        return std::nullopt;
    return ListedFileFacts{parts->creationTime, parts->hasData, parts->dataResident, parts->dataSize};
}

ListedRecord::ListedRecord(std::int64_t offset, const ListedFileFacts& facts, const GradeBasis& grade,
                           bool mayHoldStreams)
    : m_creationTime(facts.creationTime.value_or(0)),
      m_firstCluster(grade.firstCluster && *grade.firstCluster >= 0 ? *grade.firstCluster : -1)
{
    const auto bit = [](bool on, Flag flag) { return on ? std::uint64_t{flag} : std::uint64_t{0}; };
    const bool keepable = offset >= 0 && static_cast<std::uint64_t>(offset) < kNoOffset;
    m_offset = (keepable ? static_cast<std::uint64_t>(offset) : kNoOffset) & kNoOffset;
    m_flags = (bit(facts.creationTime.has_value(), kHasCreationTime) | bit(facts.hasData, kHasData) |
               bit(facts.resident, kResident) | bit(mayHoldStreams, kMayHoldStreams)) &
        0xFFu;
    m_percent = static_cast<std::uint64_t>(std::clamp(grade.percent, 0, 100)) & 0xFFu;
}

ListedFileFacts ListedRecord::facts() const
{
    ListedFileFacts facts;
    if (m_flags & kHasCreationTime)
        facts.creationTime = m_creationTime;
    facts.hasData = (m_flags & kHasData) != 0;
    facts.resident = (m_flags & kResident) != 0;
    return facts;
}

GradeBasis ListedRecord::grade() const
{
    GradeBasis grade;
    grade.percent = static_cast<int>(m_percent);
    if (m_firstCluster >= 0)
        grade.firstCluster = m_firstCluster;
    return grade;
}

void ListedRecords::add(const ListedRecord& record)
{
    // One it cannot keep is read again when it is listed, as without this store.
    if (record.offset() < 0)
        return;
    if (m_records.empty() || m_records.back().offset() < record.offset()) {
        m_records.push_back(record);
        return;
    }
    const auto at = std::lower_bound(m_records.begin(), m_records.end(), record.offset(),
                                     [](const ListedRecord& r, std::int64_t offset) { return r.offset() < offset; });
    if (at == m_records.end() || at->offset() != record.offset())
        m_records.insert(at, record);
}

const ListedRecord* ListedRecords::find(std::int64_t offset) const
{
    const auto at = std::lower_bound(m_records.begin(), m_records.end(), offset,
                                     [](const ListedRecord& r, std::int64_t o) { return r.offset() < o; });
    return at != m_records.end() && at->offset() == offset ? &*at : nullptr;
}

} // namespace orv
