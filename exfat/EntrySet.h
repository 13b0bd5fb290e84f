#pragma once

// exFAT directory entries: 32-byte slots, grouped into entry sets (a file entry, its stream
// extension, its file-name entries) that one checksum covers.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "volume/FoundEntry.h"

namespace orv::exfat {

inline constexpr std::size_t kEntrySize = 32;

namespace entry {
// The type byte: bit 7 in use, bit 6 secondary, bit 5 benign, bits 0-4 the code.
inline constexpr std::uint8_t kInUse = 0x80;
inline constexpr std::uint8_t kEndOfDirectory = 0x00;
inline constexpr std::uint8_t kBitmap = 0x81;
inline constexpr std::uint8_t kUpcase = 0x82;
inline constexpr std::uint8_t kLabel = 0x83;
inline constexpr std::uint8_t kFile = 0x85;
inline constexpr std::uint8_t kStream = 0xC0;
inline constexpr std::uint8_t kName = 0xC1;
inline constexpr std::uint8_t kDeletedFile = kFile & ~kInUse; // 0x05
} // namespace entry

// What a valid entry set says. Offsets of each field are in EntrySet.cpp.
struct EntrySetInfo
{
    std::size_t entryCount = 0; // the file entry and its secondaries
    bool inUse = false; // every entry of the set is in use (false: every one is not)
    std::uint16_t attributes = 0;
    std::uint32_t modifiedStamp = 0; // the raw timestamp with its 10 ms increment, for ordering
    std::uint8_t modified10ms = 0;
    std::optional<EntryTime> modified;
    bool noFatChain = false;
    std::uint64_t firstCluster = 0;
    std::uint64_t dataLength = 0;
    std::uint64_t validDataLength = 0;
    std::u16string name;

    bool directory() const { return (attributes & 0x10) != 0; }
    // Later writes order after earlier ones (the timestamp and its 10 ms part together).
    std::uint64_t order() const { return (std::uint64_t{modifiedStamp} << 8) | modified10ms; }
};

// The set checksum over `entries` (whole 32-byte slots), skipping the checksum field itself;
// `asInUse` reads every type byte with its in-use bit set.
std::uint16_t entrySetChecksum(std::span<const std::uint8_t> entries, bool asInUse = false);

// Decodes the entry set that starts at the first slot of `bytes` (which may run on past the set).
// Nothing unless it is a file entry (in use or not) whose secondaries have the same in-use state,
// start with a stream extension, hold the name's file-name entries, and match the set checksum.
std::optional<EntrySetInfo> decodeEntrySet(std::span<const std::uint8_t> bytes);

// True for a type byte a directory may hold: end, unused slots, and the in-use and not-in-use
// forms of the entries this program knows. Anything else means the bytes are not a directory.
bool plausibleEntryType(std::uint8_t type);

// exFAT timestamp: bits 0-4 two-second count, 5-10 minute, 11-15 hour, 16-20 day, 21-24 month,
// 25-31 years since 1980. Nothing when a field is out of range.
std::optional<EntryTime> decodeTimestamp(std::uint32_t stamp, std::uint8_t tenMs);

} // namespace orv::exfat
