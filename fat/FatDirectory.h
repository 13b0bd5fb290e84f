#pragma once

// The 32-byte entries of a FAT folder: short (8.3) entries, the long-name entries before them, and
// what a deleted entry still tells.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "volume/FoundEntry.h"

namespace orv::fat {

inline constexpr std::size_t kEntrySize = 32;
// A folder holds at most 65,536 entries; a walk never reads more of one.
inline constexpr std::size_t kMaxFolderBytes = 65536 * kEntrySize;

namespace entry {
inline constexpr std::size_t kName = 0x00; // 11 bytes: 8 base + 3 extension, space padded
inline constexpr std::size_t kAttributes = 0x0B; // u8
inline constexpr std::size_t kCaseFlags = 0x0C; // u8: bit 3 base in lower case, bit 4 extension
inline constexpr std::size_t kClusterHigh = 0x14; // u16, FAT32 only
inline constexpr std::size_t kWriteTime = 0x16; // u16: seconds/2, minutes, hours
inline constexpr std::size_t kWriteDate = 0x18; // u16: day, month, year - 1980
inline constexpr std::size_t kClusterLow = 0x1A; // u16
inline constexpr std::size_t kSize = 0x1C; // u32
// Long-name entries
inline constexpr std::size_t kLongOrder = 0x00; // u8: sequence number, 0x40 on the last one
inline constexpr std::size_t kLongType = 0x0C; // u8, 0
inline constexpr std::size_t kLongChecksum = 0x0D; // u8: checksum of the short name
inline constexpr std::size_t kLongCluster = 0x1A; // u16, 0

inline constexpr std::uint8_t kDeleted = 0xE5;
inline constexpr std::uint8_t kEnd = 0x00;
inline constexpr std::uint8_t kRealE5 = 0x05; // a live name that starts with byte 0xE5
inline constexpr std::uint8_t kReadOnly = 0x01, kHidden = 0x02, kSystem = 0x04, kVolumeLabel = 0x08, kDirectory = 0x10,
                              kArchive = 0x20, kLongName = 0x0F, kReservedBits = 0xC0;
} // namespace entry

// One short entry with its long name when that survives.
struct DirectoryRecord
{
    std::size_t firstSlot = 0; // the first 32-byte slot of the set (a long-name entry or the short one)
    std::size_t shortSlot = 0; // the short entry's slot
    std::u16string name;
    bool longName = false;
    bool deleted = false;
    bool dotEntry = false; // "." or ".."
    std::uint8_t attributes = 0;
    std::uint64_t firstCluster = 0;
    std::uint32_t size = 0;
    std::optional<EntryTime> modified;
    bool directory() const { return (attributes & entry::kDirectory) != 0; }
};

// The short name's checksum that its long-name entries carry.
std::uint8_t shortNameChecksum(std::span<const std::uint8_t, 11> name);

// Walks the entries of a folder's bytes (slot 0 first) up to the end mark (first byte 0x00) or the
// end of the bytes, and hands every short entry that names a file or folder to `record`: live and
// deleted ones, "." and "..", but not volume labels, free slots or entries whose name or attributes
// no writer makes. `fat32` takes the cluster's high half into account. Returns true when the end
// mark was met. `record` returning false stops the walk.
bool walkDirectory(std::span<const std::uint8_t> bytes, bool fat32,
                   const std::function<bool(const DirectoryRecord&)>& record);

// True when the 32-byte slot is something a FAT writer leaves in a folder: the end mark, a free or
// deleted slot, a long-name entry, or a short entry with a possible name and attributes and a
// cluster number not above `lastCluster`. Used to tell folder clusters from file data.
bool plausibleSlot(std::span<const std::uint8_t> slot, bool fat32, std::uint64_t lastCluster);

// True when `bytes` (a cluster) begins like the first cluster of a folder: "." naming `cluster`,
// then "..", then plausible slots up to the end mark or the cluster's end. `parent` gets the
// cluster that ".." names (0 for the root).
bool looksLikeFolderStart(std::span<const std::uint8_t> bytes, bool fat32, std::uint64_t cluster,
                          std::uint64_t lastCluster, std::uint64_t* parent = nullptr);

// True when `bytes` (a cluster after a folder's first one) holds only plausible slots up to the
// end mark, and starts with something other than the end mark.
bool looksLikeFolderContinuation(std::span<const std::uint8_t> bytes, bool fat32, std::uint64_t lastCluster);

// A modification date and time as FAT keeps them; nothing for a date of 0 or an impossible one.
std::optional<EntryTime> decodeFatTime(std::uint16_t date, std::uint16_t time);

} // namespace orv::fat
