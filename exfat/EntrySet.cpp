#include "exfat/EntrySet.h"

#include <string_view>

#include "volume/LeReader.h"

namespace orv::exfat {

namespace file {
inline constexpr std::size_t kSecondaryCount = 1; // u8
inline constexpr std::size_t kSetChecksum = 2; // u16
inline constexpr std::size_t kAttributes = 4; // u16
inline constexpr std::size_t kModified = 12; // u32 timestamp
inline constexpr std::size_t kModified10ms = 21; // u8, 0..199
} // namespace file
namespace stream {
inline constexpr std::size_t kFlags = 1; // u8: bit 0 allocation possible, bit 1 NoFatChain
inline constexpr std::size_t kNameLength = 3; // u8, characters
inline constexpr std::size_t kValidDataLength = 8; // u64
inline constexpr std::size_t kFirstCluster = 20; // u32
inline constexpr std::size_t kDataLength = 24; // u64
} // namespace stream
inline constexpr std::size_t kNameCharsPerEntry = 15; // UTF-16 units from byte 2 of a name entry

std::uint16_t entrySetChecksum(std::span<const std::uint8_t> entries, bool asInUse)
{
    std::uint16_t sum = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (i == file::kSetChecksum || i == file::kSetChecksum + 1)
            continue;
        const std::uint8_t byte = asInUse && i % kEntrySize == 0 ? entries[i] | entry::kInUse : entries[i];
        sum = static_cast<std::uint16_t>(((sum & 1) ? 0x8000 : 0) + (sum >> 1) + byte);
    }
    return sum;
}

std::optional<EntryTime> decodeTimestamp(std::uint32_t stamp, std::uint8_t tenMs)
{
    EntryTime t;
    t.second = static_cast<int>(stamp & 0x1F) * 2 + (tenMs < 200 ? tenMs / 100 : 0);
    t.minute = static_cast<int>((stamp >> 5) & 0x3F);
    t.hour = static_cast<int>((stamp >> 11) & 0x1F);
    t.day = static_cast<int>((stamp >> 16) & 0x1F);
    t.month = static_cast<int>((stamp >> 21) & 0x0F);
    t.year = 1980 + static_cast<int>(stamp >> 25);
    if (t.second > 59 || t.minute > 59 || t.hour > 23 || t.day < 1 || t.month < 1 || t.month > 12)
        return std::nullopt;
    return t;
}

bool plausibleEntryType(std::uint8_t type)
{
    switch (type & ~entry::kInUse) {
    case 0x00: // end of directory (0x00) or an unused slot (0x80 is not a type, but is harmless)
    case 0x01: // allocation bitmap
    case 0x02: // up-case table
    case 0x03: // volume label
    case 0x05: // file
    case 0x20: // volume GUID
    case 0x21: // TexFAT padding
    case 0x40: // stream extension
    case 0x41: // file name
    case 0x60: // vendor extension
    case 0x61: // vendor allocation
        return type != 0x80;
    default: return false;
    }
}

std::optional<EntrySetInfo> decodeEntrySet(std::span<const std::uint8_t> bytes)
{
    const LeReader r(bytes);
    const auto type = r.u8(0);
    if (!type || (*type & ~entry::kInUse) != entry::kDeletedFile)
        return std::nullopt;
    const std::uint8_t inUse = *type & entry::kInUse;
    const std::size_t secondaries = *r.u8(file::kSecondaryCount);
    // A stream extension and 1..17 name entries, plus a few vendor entries at most.
    if (secondaries < 2 || secondaries > 18 + 2)
        return std::nullopt;
    const std::size_t entries = secondaries + 1;
    const auto set = r.slice(0, entries * kEntrySize);
    if (!set)
        return std::nullopt;
    // A delete clears the in-use bits and leaves the checksum as it was: a deleted set matches the
    // checksum of its entries as they were in use.
    const std::uint16_t stored = *r.u16(file::kSetChecksum);
    if (stored != entrySetChecksum(*set) && (inUse || stored != entrySetChecksum(*set, true)))
        return std::nullopt;

    const std::size_t s = kEntrySize; // the stream extension
    if (bytes[s] != ((entry::kStream & ~entry::kInUse) | inUse))
        return std::nullopt;
    const std::size_t nameLength = bytes[s + stream::kNameLength];
    if (nameLength == 0)
        return std::nullopt;
    const std::size_t nameEntries = (nameLength + kNameCharsPerEntry - 1) / kNameCharsPerEntry;
    if (nameEntries > secondaries - 1)
        return std::nullopt;

    EntrySetInfo info;
    info.entryCount = entries;
    info.inUse = inUse != 0;
    info.attributes = *r.u16(file::kAttributes);
    info.modifiedStamp = *r.u32(file::kModified);
    info.modified10ms = *r.u8(file::kModified10ms);
    info.modified = decodeTimestamp(info.modifiedStamp, info.modified10ms);
    info.noFatChain = (bytes[s + stream::kFlags] & 0x02) != 0;
    info.firstCluster = *r.u32(s + stream::kFirstCluster);
    info.dataLength = *r.u64(s + stream::kDataLength);
    info.validDataLength = *r.u64(s + stream::kValidDataLength);
    info.name.reserve(nameLength);
    for (std::size_t n = 0; n < nameEntries; ++n) {
        const std::size_t at = (2 + n) * kEntrySize;
        if (bytes[at] != ((entry::kName & ~entry::kInUse) | inUse))
            return std::nullopt;
        for (std::size_t c = 0; c < kNameCharsPerEntry && info.name.size() < nameLength; ++c) {
            const char16_t unit = static_cast<char16_t>(*r.u16(at + 2 + 2 * c));
            // Control characters and the characters exFAT forbids in a name never belong to a
            // stored one; a backslash taken in would also pose as a folder of the path.
            if (unit < 0x20 || std::u16string_view(u"\"*/:<>?\\|").find(unit) != std::u16string_view::npos)
                return std::nullopt;
            info.name.push_back(unit);
        }
    }
    if (info.name == u"." || info.name == u"..")
        return std::nullopt;
    // Whatever follows the names (vendor entries) must be secondaries of the same in-use state.
    for (std::size_t n = 2 + nameEntries; n < entries; ++n) {
        const std::uint8_t t = bytes[n * kEntrySize];
        if ((t & entry::kInUse) != inUse || (t & 0x40) == 0)
            return std::nullopt;
    }
    return info;
}

} // namespace orv::exfat
