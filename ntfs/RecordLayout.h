#pragma once

// Where the fields of an MFT record and of its attributes lie, each named once with its width.

#include <cstddef>
#include <cstdint>
#include <span>

namespace orv {

namespace mft {
inline constexpr std::size_t kSignature = 0x00; // "FILE"; only its first letters are tested
inline constexpr std::size_t kUsaOffset = 0x04; // u16, offset of the update-sequence array
inline constexpr std::size_t kUsaCount = 0x06; // u16, entries including the sequence number
inline constexpr std::size_t kFirstAttribute = 0x14; // u16
inline constexpr std::size_t kFlags = 0x16; // u16
inline constexpr std::size_t kRecordNumber = 0x2C; // u32
inline constexpr std::uint8_t kFlagInUse = 0x01;
inline constexpr std::uint8_t kFlagDirectory = 0x02;
inline constexpr std::size_t kFixupStride = 512; // whatever the sector size

// True when `bytes` begin with the first `letters` letters of "FILE". Two letters are what the
// scans have always taken for a record; a damaged "FILE" often keeps them.
inline bool startsLikeRecord(std::span<const std::uint8_t> bytes, std::size_t letters = 2)
{
    constexpr std::uint8_t kFile[] = {'F', 'I', 'L', 'E'};
    if (letters > sizeof kFile || bytes.size() < kSignature + letters)
        return false;
    for (std::size_t i = 0; i < letters; ++i)
        if (bytes[kSignature + i] != kFile[i])
            return false;
    return true;
}
} // namespace mft

namespace attr {
inline constexpr std::size_t kType = 0x00; // u32; the low byte tells the type
inline constexpr std::size_t kLength = 0x04; // u32; the low 16 bits step to the next attribute
inline constexpr std::size_t kNonResident = 0x08; // u8, 0 = resident
inline constexpr std::size_t kNameLength = 0x09; // u8, 0 for the unnamed stream
inline constexpr std::size_t kContentLength = 0x10; // u32, resident
inline constexpr std::size_t kContentOffset = 0x14; // u16, resident, from the attribute start
inline constexpr std::size_t kRunListOffset = 0x20; // u16, non-resident, from the attribute start
inline constexpr std::size_t kFlags = 0x0C; // u16: compressed, encrypted, sparse
inline constexpr std::size_t kLowestVcn = 0x10; // u64, non-resident: the segment's first cluster in the stream
inline constexpr std::size_t kHighestVcn = 0x18; // u64, non-resident: its last
inline constexpr std::size_t kCompressionUnit = 0x22; // u8, non-resident: log2 of clusters per unit
// The one unit Windows writes (16 clusters): the only one whose LZNT1 layout we know is right.
inline constexpr std::uint8_t kWindowsCompressionUnit = 4;
inline constexpr std::size_t kAllocatedSize = 0x28; // u64, non-resident
inline constexpr std::size_t kDataSize = 0x30; // u64, non-resident
inline constexpr std::size_t kInitializedSize = 0x38; // u64, non-resident: bytes past it read as zeros

inline constexpr std::uint16_t kFlagCompressed = 0x00FF; // any compression method
inline constexpr std::uint16_t kFlagEncrypted = 0x4000;

inline constexpr std::uint8_t kStandardInformation = 0x10;
inline constexpr std::uint8_t kAttributeList = 0x20;
inline constexpr std::uint8_t kFileName = 0x30;
inline constexpr std::uint8_t kData = 0x80;
inline constexpr std::uint8_t kIndexRoot = 0x90;
inline constexpr std::uint8_t kIndexAllocation = 0xA0;
inline constexpr std::uint32_t kLoggedUtilityStream = 0x100; // $EFS names an encrypted file's keys
inline constexpr std::uint32_t kEndMarker = 0xFFFFFFFF;
} // namespace attr

// Content fields read at fixed offsets from the attribute start: the place of the content behind
// the 24-byte header of an unnamed resident attribute, which these attributes always are.
namespace content {
inline constexpr std::size_t kCreationTime = 0x18; // $STANDARD_INFORMATION, u64 FILETIME (UTC)
inline constexpr std::size_t kParent = 0x18; // $FILE_NAME, 48-bit record number
inline constexpr std::size_t kNameLength = 0x58; // $FILE_NAME, u8, in UTF-16 code units
inline constexpr std::size_t kNameSpace = 0x59; // $FILE_NAME, u8: 0 POSIX, 1 Win32, 2 DOS, 3 both
inline constexpr std::size_t kName = 0x5A; // $FILE_NAME, UTF-16LE
inline constexpr std::uint8_t kDosNameSpace = 2;
} // namespace content

// An entry of $ATTRIBUTE_LIST: which record holds an attribute of the file.
namespace listEntry {
inline constexpr std::size_t kType = 0x00; // u32
inline constexpr std::size_t kLength = 0x04; // u16, steps to the next entry
inline constexpr std::size_t kStartVcn = 0x08; // u64
inline constexpr std::size_t kRecord = 0x10; // u64; the low 48 bits are the record number
inline constexpr std::size_t kMinimum = 0x1A; // the fixed part of an entry
} // namespace listEntry

namespace mft {
inline constexpr std::size_t kBaseRecord = 0x20; // u64; an extension record's base, 0 in a base record
} // namespace mft

} // namespace orv
