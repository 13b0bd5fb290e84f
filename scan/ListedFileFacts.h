#pragma once

#include <cstdint>
#include <deque>
#include <optional>

#include "ntfs/VolumeContext.h"
#include "scan/GradeBasis.h"
#include "volume/FileTime.h"

namespace orv {

// What the record of a listed file says beyond the store's texts. The store keeps a file's date
// and time as text in the user's format, which neither sorts nor converts; these come from the
// record the way the scan read it when it listed the file.
struct ListedFileFacts
{
    std::optional<std::uint64_t> creationTime; // FILETIME (UTC) of $STANDARD_INFORMATION
    bool hasData = false; // an unnamed $DATA: the file's content
    bool resident = false; // that content lies inside the record
    std::int64_t size = 0; // its size in bytes
    // The date and time the listing shows, where the volume keeps them as local time (the FAT
    // family's modification time); an NTFS file's come from creationTime.
    std::optional<LocalDateTime> localTime = std::nullopt;
};

// The facts of the file whose record lies at `recordOffset` of MftBuffer (as a store entry gives
// it), its extension records included, read from the volume and fixed up in a copy.
// Nothing when no whole record lies at that offset or its attributes cannot be walked.
std::optional<ListedFileFacts> listedFileFacts(VolumeContext& volume, std::int64_t recordOffset);

// What the scan read of a record it listed, for a listing that shows more of every file than the
// store keeps (the CLI's JSON: creation time, residency, grade): taken while the scan had the record
// in hand, so that the listing does not read every listed record again. Packed small, since a
// volume may list millions of files.
class ListedRecord
{
public:
    ListedRecord() = default;
    // `mayHoldStreams` false: the record surely has no named stream (mayHoldNamedStreams).
    ListedRecord(std::int64_t offset, const ListedFileFacts& facts, const GradeBasis& grade,
                 bool mayHoldStreams = true);

    // -1 for a record whose offset lies beyond what a listed record can keep (2^48): it is not kept.
    std::int64_t offset() const { return m_offset >= kNoOffset ? -1 : static_cast<std::int64_t>(m_offset); }
    ListedFileFacts facts() const; // its size is not kept: the store has it
    GradeBasis grade() const;
    bool mayHoldStreams() const { return (m_flags & kMayHoldStreams) != 0; }

private:
    enum Flag : std::uint8_t { kHasCreationTime = 1, kHasData = 2, kResident = 4, kMayHoldStreams = 8 };
    static constexpr std::uint64_t kNoOffset = (std::uint64_t{1} << 48) - 1;
    // 24 bytes a record: the offset, its flags and its grade's percentage share one word.
    std::uint64_t m_offset : 48 = kNoOffset;
    std::uint64_t m_flags : 8 = 0;
    std::uint64_t m_percent : 8 = 0;
    std::uint64_t m_creationTime = 0;
    std::int64_t m_firstCluster = -1; // below 0: none
};

// The listed records of a scan in increasing offset (the order the scans list them in).
class ListedRecords
{
public:
    // A record listed again (under another hard link) is kept once.
    void add(const ListedRecord& record);
    const ListedRecord* find(std::int64_t offset) const;
    void clear() { m_records = {}; }
    std::size_t size() const { return m_records.size(); }

private:
    std::deque<ListedRecord> m_records; // in blocks: see MftView's listed records
};

} // namespace orv
