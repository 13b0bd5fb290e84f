#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/Utf16.h"
#include "ntfs/AttributeCursor.h"
#include "ntfs/DataRuns.h"
#include "ntfs/RecordLayout.h"
#include "ntfs/VolumeContext.h"
#include "volume/FileTime.h"

namespace orv {

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
    std::vector<DataRun> ClusterList; // the runs of the file's content, in file order, holes included
    std::int64_t ValidLength = 0; // bytes written to the file; the rest up to FSize reads as zeros
    std::int64_t CompressionUnit = 0; // clusters per LZNT1 compression unit; 0 when not compressed
    int UndecodableCompressionUnit = -1; // the unit field (log2 of clusters) of a stream compressed in
        // units we cannot decode; -1 when there is none
    bool Encrypted = false; // EFS: the clusters hold ciphertext
    bool Incomplete = false; // part of the run list is lost (a missing extension record)
    std::int64_t BytesPerCluster = 0; // the cluster size its runs count in when not the volume's (an
        // earlier file system's); 0: the volume's
    std::int64_t ClusterOrigin = 0; // where its cluster 0 lies on the volume, in bytes (an earlier
        // file system that began at another sector); 0: the volume's own
};

// One $FILE_NAME of a record: a file has one per hard link, plus a DOS alias beside a long name.
struct FileNameEntry
{
    std::u16string name;
    std::int64_t parent = 0;
    std::uint8_t nameSpace = 0;
    bool operator==(const FileNameEntry&) const = default;
};

// What a record and its extension records say about the file, for listing it.
struct RecordParts
{
    std::vector<FileNameEntry> names; // in the order they are stored
    std::optional<std::uint64_t> creationTime;
    bool directory = false; // it has an index
    bool hasData = false; // an unnamed $DATA: the file's content
    bool dataResident = false;
    std::int64_t dataSize = 0;
    bool damaged = false; // a $FILE_NAME or the $DATA does not fit its attribute
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

// True when `bytes` begin with a whole, sound record of `recordSize` bytes: the "FILE" signature,
// an update-sequence array that fits before the first attribute and has one entry per 512-byte
// stride, every stride ending in the sequence number, a first attribute and a used size inside
// the record, and the record's own allocated size. What a sweep of raw clusters takes for a record.
bool isSoundRecord(std::span<const std::uint8_t> bytes, std::size_t recordSize);

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

// The records other than `base` that an $ATTRIBUTE_LIST attribute (its whole bytes) names, each
// once, in list order; a non-resident list is read through the context. Nothing when its content
// cannot be had.
std::optional<std::vector<std::uint64_t>>
recordsInAttributeList(VolumeContext* ctx, std::span<const std::uint8_t> attribute, std::uint64_t base);

// The names a file is listed under: each long (Win32 or POSIX) name, once per folder and name;
// the DOS 8.3 alias only when the record has no other name.
std::vector<FileNameEntry> longNames(const std::vector<FileNameEntry>& names);

// The number of the record at `recordOffset` of the context's MftBuffer: its place when the
// buffer is the $MFT itself, else the number the record keeps in its header.
std::int64_t recordNumberAt(const VolumeContext* ctx, std::span<const std::uint8_t> record, std::int64_t recordOffset);

// Walks a fixed-up record's attributes and, when it has an $ATTRIBUTE_LIST, those of the extension
// records the list names (read from the context's MftBuffer, fixed up in a copy), handing each to
// `visit(recordBytes, header)`. Without a context, or when a named record is missing, only what
// is found is visited and `incomplete` is set. False when the base record's own walk is damaged.
bool walkFileAttributes(VolumeContext* ctx, std::span<std::uint8_t> record, std::int64_t recordOffset,
                        const std::function<void(std::span<const std::uint8_t>, const AttributeHeader&)>& visit,
                        bool& incomplete);

// The names, creation time, index and content size of the file of a fixed-up record, its extension
// records included. Nothing when the record's attributes cannot be walked.
std::optional<RecordParts> readRecordParts(VolumeContext* ctx, std::span<std::uint8_t> record,
                                           std::int64_t recordOffset);

// Fixes the record up and decodes its unnamed $DATA into `file`: Resident, ResidentLength,
// ResidentBuf, FSize, ValidLength, CompressionUnit, Encrypted and ClusterList (every segment, from
// the extension records too when a context is given). A record without an unnamed $DATA decodes
// to an empty, non-resident file. Corrupt when the $DATA's fields point outside the attribute or
// record.
// With `stream`, the named $DATA of that name instead: a stream beside the file's content.
RecordStatus decodeRecord(std::span<std::uint8_t> record, TMFTFile& file, VolumeContext* ctx = nullptr,
                          std::int64_t recordOffset = -1, const std::u16string* stream = nullptr);

// A named $DATA stream of a file (Zone.Identifier and the like): its name and size.
struct NamedStream
{
    std::u16string name;
    std::int64_t size = 0;
    bool resident = false;
    bool operator==(const NamedStream&) const = default;
};

// The named streams of the file of a fixed-up record, its extension records included, each once,
// in the order they are stored.
std::vector<NamedStream> namedStreams(VolumeContext* ctx, std::span<std::uint8_t> record, std::int64_t recordOffset);
// False when a (fixed up) record surely has no named stream: its attributes walk cleanly to the end
// marker without a named $DATA and without an attribute list that could lead to one elsewhere. A
// scan tells this of every file it lists, so the listing reads only the few records with streams.
bool mayHoldNamedStreams(std::span<const std::uint8_t> record);

// decodeRecord on the record at `recordOffset` of the context's MftBuffer. NotARecord when a
// whole record does not fit in the buffer at that offset.
RecordStatus DecodeRecordNTFS(VolumeContext& ctx, std::size_t recordOffset, TMFTFile& file);

// decodeRecord on a copy of the record at `recordOffset` of the context's MftBuffer that the caller
// already holds, with the cluster size of an earlier file system where the record belongs to one.
RecordStatus decodeRecordOfView(VolumeContext& ctx, std::span<std::uint8_t> record, std::int64_t recordOffset,
                                TMFTFile& file, const std::u16string* stream = nullptr);

} // namespace orv
