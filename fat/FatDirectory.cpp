#include "fat/FatDirectory.h"

#include <array>
#include <vector>

#include "volume/LeReader.h"

namespace orv::fat {

namespace {

// Short names are in the writer's OEM code page; code page 437 is the one FAT's own tools assume
// when nothing says otherwise.
constexpr std::array<char16_t, 128> kCodePage437 = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE,
    0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6,
    0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA,
    0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514,
    0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
    0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C,
    0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320,
    0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0};

char16_t oemChar(std::uint8_t byte)
{
    return byte < 0x80 ? char16_t{byte} : kCodePage437[byte - 0x80];
}

// Characters no FAT writer puts into a short name (besides control characters).
bool forbiddenShortChar(std::uint8_t c)
{
    switch (c) {
    case '"':
    case '*':
    case '+':
    case ',':
    case '/':
    case ':':
    case ';':
    case '<':
    case '=':
    case '>':
    case '?':
    case '[':
    case '\\':
    case ']':
    case '|':
    case 0x7F: return true;
    default: return c < 0x20;
    }
}

// The 11 name bytes hold something a writer could have made: no control characters, a first
// character that is not a space, and (strictly) none of the characters short names exclude.
// `firstKnown` false for a deleted entry, whose first byte is the deletion mark (a wiped entry's
// zeros fail here).
bool plausibleShortName(std::span<const std::uint8_t> name, bool firstKnown, bool strict)
{
    for (std::size_t i = firstKnown ? 0 : 1; i < 11; ++i) {
        const std::uint8_t c = name[i];
        if (i == 0 && c == entry::kRealE5)
            continue;
        if (c < 0x20 || (strict && forbiddenShortChar(c)))
            return false;
    }
    return !(firstKnown && name[0] == ' ');
}

bool plausibleAttributes(std::uint8_t attributes)
{
    if ((attributes & entry::kReservedBits) != 0)
        return false;
    // A volume label is never a folder.
    return !((attributes & entry::kVolumeLabel) && (attributes & entry::kDirectory));
}

bool isLongNameSlot(std::span<const std::uint8_t> slot)
{
    return (slot[entry::kAttributes] & 0x3F) == entry::kLongName && slot[entry::kLongType] == 0 &&
        slot[entry::kLongCluster] == 0 && slot[entry::kLongCluster + 1] == 0;
}

bool isDotName(std::span<const std::uint8_t> name, int dots)
{
    for (int i = 0; i < 11; ++i)
        if (name[static_cast<std::size_t>(i)] != (i < dots ? '.' : ' '))
            return false;
    return true;
}

std::u16string shortName(std::span<const std::uint8_t> name, std::uint8_t caseFlags, bool deleted)
{
    auto part = [&](std::size_t from, std::size_t count, bool lower) {
        std::size_t end = from + count;
        while (end > from && name[end - 1] == ' ')
            --end;
        std::u16string text;
        for (std::size_t i = from; i < end; ++i) {
            std::uint8_t c = name[i];
            if (i == 0 && c == entry::kRealE5)
                c = entry::kDeleted;
            char16_t u = oemChar(c);
            if (lower && u >= u'A' && u <= u'Z')
                u = static_cast<char16_t>(u - u'A' + u'a');
            text += u;
        }
        return text;
    };
    std::u16string base = part(0, 8, (caseFlags & 0x08) != 0);
    if (deleted && !base.empty())
        base[0] = u'_'; // the first character is gone; the peers show it as "_" too
    const std::u16string extension = part(8, 3, (caseFlags & 0x10) != 0);
    return extension.empty() ? base : base + u'.' + extension;
}

// The 13 UTF-16 units of one long-name entry.
std::array<char16_t, 13> longNameUnits(std::span<const std::uint8_t> slot)
{
    static constexpr std::array<std::size_t, 13> kOffsets = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    std::array<char16_t, 13> units{};
    for (std::size_t i = 0; i < 13; ++i)
        units[i] = static_cast<char16_t>(slot[kOffsets[i]] | (slot[kOffsets[i] + 1] << 8));
    return units;
}

// Short-name first characters a writer derives from a long name that starts with `first`: its
// upper-case form, "_" for a character short names exclude, and any OEM byte for one beyond ASCII.
bool possibleFirstByte(std::uint8_t byte, char16_t first)
{
    if (byte == '_')
        return true;
    if (first >= 0x80)
        return byte >= 0x80;
    char16_t upper = first;
    if (upper >= u'a' && upper <= u'z')
        upper = static_cast<char16_t>(upper - u'a' + u'A');
    return byte == upper;
}

// Writers derive the short extension from the long name's: a long name that fills its entries
// exactly (no terminator) is only believed when the two agree, since a deleted set whose farthest
// entries a later file took looks the same.
bool extensionAgrees(const std::u16string& longName, std::span<const std::uint8_t> shortExtension)
{
    if (shortExtension[0] == ' ')
        return true;
    const auto dot = longName.rfind(u'.');
    if (dot == std::u16string::npos || dot + 1 >= longName.size())
        return false;
    char16_t first = longName[dot + 1];
    if (first >= u'a' && first <= u'z')
        first = static_cast<char16_t>(first - u'a' + u'A');
    return shortExtension[0] == '_' || shortExtension[0] >= 0x80 || shortExtension[0] == first;
}

// The long name held by the long-name slots just before `shortSlot`, when they belong to it.
std::optional<std::u16string> longNameBefore(std::span<const std::uint8_t> bytes, std::size_t shortSlot,
                                             std::size_t& firstSlot)
{
    const auto shortEntry = bytes.subspan(shortSlot * kEntrySize, kEntrySize);
    const bool deleted = shortEntry[0] == entry::kDeleted;
    std::array<std::uint8_t, 11> name{};
    for (std::size_t i = 0; i < 11; ++i)
        name[i] = shortEntry[i];
    if (name[0] == entry::kRealE5)
        name[0] = entry::kDeleted;

    std::vector<std::span<const std::uint8_t>> parts; // nearest to the short entry first
    std::optional<std::uint8_t> checksum;
    for (std::size_t slot = shortSlot; slot-- > 0 && parts.size() < 20;) {
        const auto s = bytes.subspan(slot * kEntrySize, kEntrySize);
        if (!isLongNameSlot(s) || (s[0] == entry::kDeleted) != deleted)
            break;
        if (checksum && s[entry::kLongChecksum] != *checksum)
            break;
        checksum = s[entry::kLongChecksum];
        if (!deleted) {
            const std::uint8_t order = s[entry::kLongOrder];
            if ((order & 0x3F) != parts.size() + 1)
                break;
            parts.push_back(s);
            if (order & 0x40)
                break;
        } else {
            parts.push_back(s);
        }
    }
    if (parts.empty())
        return std::nullopt;
    if (!deleted && !(parts.back()[entry::kLongOrder] & 0x40))
        return std::nullopt;

    // The name: units up to a 0x0000, after which only 0xFFFF padding may follow, and only in the
    // farthest entry. A deleted set lost its sequence numbers, so this is what tells where it ends.
    std::u16string text;
    bool ended = false;
    for (std::size_t p = 0; p < parts.size(); ++p) {
        const auto units = longNameUnits(parts[p]);
        for (const char16_t u : units) {
            if (ended) {
                if (u != 0xFFFF)
                    return std::nullopt;
            } else if (u == 0) {
                ended = true;
            } else {
                if (u < 0x20)
                    return std::nullopt;
                text += u;
            }
        }
        if (ended && p + 1 != parts.size()) {
            // A deleted set ends at its terminator; slots before it belong to another file.
            if (!deleted)
                return std::nullopt;
            parts.resize(p + 1);
            break;
        }
    }
    if (text.empty())
        return std::nullopt;
    if (deleted && !ended && !extensionAgrees(text, std::span(name).subspan(8, 3)))
        return std::nullopt; // without its terminator, a set that lost its far entries looks whole

    if (!deleted) {
        if (shortNameChecksum(name) != *checksum)
            return std::nullopt;
    } else {
        // The deletion mark replaced the first byte the checksum covered: some first byte that a
        // writer could have derived from the long name must give the checksum.
        bool matched = false;
        for (unsigned b = 1; b < 256 && !matched; ++b) {
            if (!possibleFirstByte(static_cast<std::uint8_t>(b), text[0]))
                continue;
            name[0] = static_cast<std::uint8_t>(b);
            matched = shortNameChecksum(name) == *checksum;
        }
        if (!matched)
            return std::nullopt;
    }
    firstSlot = shortSlot - parts.size();
    return text;
}

} // namespace

std::uint8_t shortNameChecksum(std::span<const std::uint8_t, 11> name)
{
    std::uint8_t sum = 0;
    for (const std::uint8_t c : name)
        sum = static_cast<std::uint8_t>(((sum & 1) << 7) + (sum >> 1) + c);
    return sum;
}

std::optional<EntryTime> decodeFatTime(std::uint16_t date, std::uint16_t time)
{
    if (date == 0)
        return std::nullopt;
    EntryTime t;
    t.year = 1980 + (date >> 9);
    t.month = (date >> 5) & 0x0F;
    t.day = date & 0x1F;
    t.hour = time >> 11;
    t.minute = (time >> 5) & 0x3F;
    t.second = (time & 0x1F) * 2;
    if (t.month < 1 || t.month > 12 || t.day < 1 || t.hour > 23 || t.minute > 59 || t.second > 59)
        return std::nullopt;
    return t;
}

bool plausibleSlot(std::span<const std::uint8_t> slot, bool fat32, std::uint64_t lastCluster)
{
    if (slot.size() < kEntrySize)
        return false;
    if (slot[0] == entry::kEnd)
        return true;
    if (isLongNameSlot(slot))
        return true;
    const std::uint8_t attributes = slot[entry::kAttributes];
    const bool deleted = slot[0] == entry::kDeleted;
    if (!plausibleAttributes(attributes))
        return false;
    if (deleted && attributes == 0) {
        // What a wipe leaves (and some writers): a deleted slot with nothing in it.
        bool empty = true;
        for (std::size_t i = 1; i < kEntrySize; ++i)
            empty = empty && slot[i] == 0;
        if (empty)
            return true;
    }
    if (isDotName(slot.first(11), 1) || isDotName(slot.first(11), 2))
        return (attributes & entry::kDirectory) != 0;
    if (!plausibleShortName(slot.first(11), !deleted, true))
        return false;
    const LeReader r(slot);
    const std::uint64_t cluster =
        (fat32 ? std::uint64_t{*r.u16(entry::kClusterHigh)} << 16 : 0) | *r.u16(entry::kClusterLow);
    return cluster <= lastCluster;
}

bool walkDirectory(std::span<const std::uint8_t> bytes, bool fat32,
                   const std::function<bool(const DirectoryRecord&)>& record)
{
    const std::size_t slots = bytes.size() / kEntrySize;
    for (std::size_t slot = 0; slot < slots; ++slot) {
        const auto s = bytes.subspan(slot * kEntrySize, kEntrySize);
        if (s[0] == entry::kEnd)
            return true;
        if (isLongNameSlot(s))
            continue;
        const std::uint8_t attributes = s[entry::kAttributes];
        if (!plausibleAttributes(attributes) || (attributes & entry::kVolumeLabel))
            continue;
        DirectoryRecord r;
        r.deleted = s[0] == entry::kDeleted;
        r.attributes = attributes;
        r.firstSlot = r.shortSlot = slot;
        r.dotEntry = isDotName(s.first(11), 1) || isDotName(s.first(11), 2);
        if (!r.dotEntry && !plausibleShortName(s.first(11), !r.deleted, false))
            continue;
        const LeReader le(s);
        r.firstCluster = (fat32 ? std::uint64_t{*le.u16(entry::kClusterHigh)} << 16 : 0) | *le.u16(entry::kClusterLow);
        r.size = *le.u32(entry::kSize);
        r.modified = decodeFatTime(*le.u16(entry::kWriteDate), *le.u16(entry::kWriteTime));
        if (!r.dotEntry) {
            if (auto name = longNameBefore(bytes, slot, r.firstSlot)) {
                r.name = std::move(*name);
                r.longName = true;
            } else {
                r.name = shortName(s.first(11), s[entry::kCaseFlags], r.deleted);
            }
        } else {
            r.name = s[1] == '.' ? u".." : u".";
        }
        if (!record(r))
            return false;
    }
    return false;
}

bool looksLikeFolderStart(std::span<const std::uint8_t> bytes, bool fat32, std::uint64_t cluster,
                          std::uint64_t lastCluster, std::uint64_t* parent)
{
    if (bytes.size() < 2 * kEntrySize)
        return false;
    const auto dot = bytes.first(kEntrySize);
    const auto dotDot = bytes.subspan(kEntrySize, kEntrySize);
    if (!isDotName(dot.first(11), 1) || !isDotName(dotDot.first(11), 2))
        return false;
    if (!(dot[entry::kAttributes] & entry::kDirectory) || !(dotDot[entry::kAttributes] & entry::kDirectory))
        return false;
    auto clusterOf = [fat32](std::span<const std::uint8_t> s) {
        const LeReader r(s);
        return (fat32 ? std::uint64_t{*r.u16(entry::kClusterHigh)} << 16 : 0) | *r.u16(entry::kClusterLow);
    };
    if (clusterOf(dot) != cluster)
        return false;
    const std::uint64_t up = clusterOf(dotDot);
    if (up > lastCluster || up == cluster)
        return false;
    for (std::size_t offset = 2 * kEntrySize; offset + kEntrySize <= bytes.size(); offset += kEntrySize) {
        const auto s = bytes.subspan(offset, kEntrySize);
        if (s[0] == entry::kEnd)
            break;
        if (!plausibleSlot(s, fat32, lastCluster))
            return false;
    }
    if (parent)
        *parent = up;
    return true;
}

bool looksLikeFolderContinuation(std::span<const std::uint8_t> bytes, bool fat32, std::uint64_t lastCluster)
{
    if (bytes.size() < kEntrySize || bytes[0] == entry::kEnd)
        return false;
    for (std::size_t offset = 0; offset + kEntrySize <= bytes.size(); offset += kEntrySize) {
        const auto s = bytes.subspan(offset, kEntrySize);
        if (s[0] == entry::kEnd)
            break;
        if (!plausibleSlot(s, fat32, lastCluster))
            return false;
        // A folder's later cluster never holds "." or "..".
        if (isDotName(s.first(11), 1) || isDotName(s.first(11), 2))
            return false;
    }
    return true;
}

} // namespace orv::fat
