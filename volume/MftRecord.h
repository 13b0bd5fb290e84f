#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "DataRuns.h"
#include "FileTime.h"
#include "Utf16.h"
#include "VolumeContext.h"

namespace orv {

namespace mft {
inline constexpr std::size_t kSignature = 0x00;      // "FILE"; only "FI" is tested
inline constexpr std::size_t kUsaOffset = 0x04;      // u16, offset of the update-sequence array
inline constexpr std::size_t kUsaCount = 0x06;       // u16, entries including the sequence number
inline constexpr std::size_t kFirstAttribute = 0x14; // u16
inline constexpr std::size_t kFlags = 0x16;          // u16
inline constexpr std::size_t kRecordNumber = 0x2C;   // u32
inline constexpr std::uint8_t kFlagInUse = 0x01;
inline constexpr std::uint8_t kFlagDirectory = 0x02;
inline constexpr std::size_t kFixupStride = 512; // whatever the sector size
} // namespace mft

namespace attr {
inline constexpr std::size_t kType = 0x00;          // u32; the low byte tells the type
inline constexpr std::size_t kLength = 0x04;        // u32; the low 16 bits step to the next attribute
inline constexpr std::size_t kNonResident = 0x08;   // u8, 0 = resident
inline constexpr std::size_t kNameLength = 0x09;    // u8, 0 for the unnamed stream
inline constexpr std::size_t kContentLength = 0x10; // u32, resident
inline constexpr std::size_t kContentOffset = 0x14; // u16, resident, from the attribute start
inline constexpr std::size_t kRunListOffset = 0x20; // u16, non-resident, from the attribute start
inline constexpr std::size_t kDataSize = 0x30;      // u64, non-resident

inline constexpr std::uint8_t kStandardInformation = 0x10;
inline constexpr std::uint8_t kFileName = 0x30;
inline constexpr std::uint8_t kData = 0x80;
inline constexpr std::uint8_t kIndexRoot = 0x90;
inline constexpr std::uint8_t kIndexAllocation = 0xA0;
inline constexpr std::uint32_t kEndMarker = 0xFFFFFFFF;
} // namespace attr

// Content fields read at fixed offsets from the attribute start: the place of the content behind
// the 24-byte header of an unnamed resident attribute, which these attributes always are.
namespace content {
inline constexpr std::size_t kCreationTime = 0x18;   // $STANDARD_INFORMATION, u64 FILETIME (UTC)
inline constexpr std::size_t kParent = 0x18;         // $FILE_NAME, 48-bit record number
inline constexpr std::size_t kNameLength = 0x58;     // $FILE_NAME, u8, in UTF-16 code units
inline constexpr std::size_t kName = 0x5A;           // $FILE_NAME, UTF-16LE
} // namespace content

enum class RecordStatus { Ok, NotARecord, Corrupt };

// The decoded record. One instance lives in the scan session; every decode overwrites it.
struct TMFTFile
{
    std::int64_t MFTRec = 0;
    std::int64_t ParentMFTRec = 0;
    std::u16string FName;
    std::u16string FPath;
    std::int64_t FSize = 0;
    std::optional<LocalDateTime> FDateTime;
    bool Resident = false;
    std::int64_t ResidentLength = 0;
    std::vector<std::uint8_t> ResidentBuf;
    std::vector<DataRun> ClusterList; // the runs of the file's content, in file order
};

// Where the survey found each kind of attribute: offsets from the record start, 0 for none.
// The positions are those of the last attribute of each type, except Data, which is the
// unnamed data stream (the file's content) and never a named stream.
struct AttributeSurvey
{
    std::size_t StandardInformation = 0;
    std::size_t FileName = 0;
    std::size_t Data = 0;
    std::size_t IndexRoot = 0;
    std::size_t IndexAllocation = 0;
    bool operator==(const AttributeSurvey&) const = default;
};

// Restores the last two bytes of every 512-byte stride that ends inside the record from the
// update-sequence array. Torn records are repaired, not rejected: a half-written record still
// names its file. Applying it twice gives the same bytes.
void ApplyRecordFixups(std::span<std::uint8_t> record);

// Walks the attributes up to the end marker or the first other type above $INDEX_ALLOCATION and
// notes where each kind lies. Nothing (rejected) when an attribute header lies outside the record
// or has a zero length; the end marker is only the four bytes 0xFF and needs no length.
std::optional<AttributeSurvey> SurveyAttributes(std::span<const std::uint8_t> record);

// The name of the $FILE_NAME at `position`, exactly as stored (no conversion). Nothing when it
// runs past the record.
std::optional<std::u16string> readFileName(std::span<const std::uint8_t> record, std::size_t position);

// The parent directory's record number from the $FILE_NAME at `position` (the low 48 bits of the
// reference; the sequence number is ignored).
std::optional<std::int64_t> readParentRecord(std::span<const std::uint8_t> record, std::size_t position);

// The raw creation time (FILETIME) of the $STANDARD_INFORMATION at `position`.
std::optional<std::uint64_t> readCreationTime(std::span<const std::uint8_t> record, std::size_t position);

// The creation time of the $STANDARD_INFORMATION at `position` in local time.
std::optional<LocalDateTime> readCreationDateTime(std::span<const std::uint8_t> record, std::size_t position);

// Fixes the record up and decodes its unnamed $DATA into `file`: Resident, ResidentLength,
// ResidentBuf, FSize and ClusterList. A record without an unnamed $DATA decodes to an empty,
// non-resident file. Corrupt when the $DATA's fields point outside the attribute or record.
RecordStatus decodeRecord(std::span<std::uint8_t> record, TMFTFile& file);

// decodeRecord on the record at `recordOffset` of the context's MftBuffer. NotARecord when a
// whole record does not fit in the buffer at that offset.
RecordStatus DecodeRecordNTFS(VolumeContext& ctx, std::size_t recordOffset, TMFTFile& file);

} // namespace orv
