#include "volume/PartitionTable.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <set>

#include "base/Utf16.h"
#include "volume/LeReader.h"
#include "volume/SectorIo.h"

namespace orv {

namespace mbr {
inline constexpr std::size_t kEntries = 0x1BE; // four 16-byte entries
inline constexpr std::size_t kEntrySize = 16;
inline constexpr std::size_t kBootFlag = 0x00; // u8, 0x00 or 0x80
inline constexpr std::size_t kType = 0x04; // u8, 0 = unused
inline constexpr std::size_t kFirstLba = 0x08; // u32, from the table's own sector (EBR) or the disk start
inline constexpr std::size_t kSectors = 0x0C; // u32
inline constexpr std::size_t kSignature = 0x1FE; // 0x55 0xAA
inline constexpr std::uint8_t kGptProtective = 0xEE;
} // namespace mbr

namespace gpt {
inline constexpr std::size_t kHeaderSize = 0x0C; // u32, 92 .. sector size
inline constexpr std::size_t kHeaderCrc = 0x10; // u32, over kHeaderSize bytes with this field zero
inline constexpr std::size_t kMyLba = 0x18; // u64
inline constexpr std::size_t kAlternateLba = 0x20; // u64
inline constexpr std::size_t kEntriesLba = 0x48; // u64
inline constexpr std::size_t kEntryCount = 0x50; // u32
inline constexpr std::size_t kEntrySize = 0x54; // u32, 128 x 2^n
inline constexpr std::size_t kEntriesCrc = 0x58; // u32
inline constexpr std::size_t kMinHeaderSize = 92;
// An entry: type GUID 0x00, unique GUID 0x10, first LBA 0x20 (u64), last LBA 0x28 (u64,
// inclusive), attributes 0x30, name 0x38 (36 UTF-16 code units).
inline constexpr std::size_t kEntryFirstLba = 0x20;
inline constexpr std::size_t kEntryLastLba = 0x28;
inline constexpr std::size_t kEntryName = 0x38;
inline constexpr std::size_t kEntryNameBytes = 72;
// Real tables hold 128 entries of 128 bytes; anything far beyond is a lie we will not allocate for.
inline constexpr std::uint64_t kMaxEntryBytes = 4u << 20;
} // namespace gpt

namespace {

// A logical-partition chain longer than this is a loop or garbage: Linux stops at far fewer.
constexpr int kMaxLogicalPartitions = 256;

bool isExtendedType(std::uint8_t type)
{
    return type == 0x05 || type == 0x0F || type == 0x85;
}

std::optional<std::vector<std::uint8_t>> readBytes(SectorDevice& disk, std::uint64_t position, std::size_t count)
{
    std::vector<std::uint8_t> bytes(count);
    if (!disk.read(position, bytes))
        return std::nullopt;
    return bytes;
}

// position + count without wrapping, or nothing.
std::optional<std::uint64_t> checkedEnd(std::uint64_t position, std::uint64_t count)
{
    std::uint64_t end = 0;
    if (__builtin_add_overflow(position, count, &end))
        return std::nullopt;
    return end;
}

std::optional<std::uint64_t> checkedBytes(std::uint64_t sectors, std::uint64_t sectorSize)
{
    std::uint64_t bytes = 0;
    if (__builtin_mul_overflow(sectors, sectorSize, &bytes))
        return std::nullopt;
    return bytes;
}

std::string outsideText(int number, std::uint64_t first, std::uint64_t count, std::uint64_t diskBytes)
{
    return "Partition " + std::to_string(number) + " lies outside the disk: it starts at byte " +
        std::to_string(first) + " and is " + std::to_string(count) + " bytes long, the disk has " +
        std::to_string(diskBytes) + " bytes.";
}

struct MbrEntry
{
    std::uint8_t bootFlag = 0;
    std::uint8_t type = 0;
    std::uint32_t firstLba = 0;
    std::uint32_t sectors = 0;
};

MbrEntry mbrEntry(const LeReader& r, int slot)
{
    const std::size_t at = mbr::kEntries + static_cast<std::size_t>(slot) * mbr::kEntrySize;
    return {r.u8(at + mbr::kBootFlag).value_or(0xFF), r.u8(at + mbr::kType).value_or(0),
            r.u32(at + mbr::kFirstLba).value_or(0), r.u32(at + mbr::kSectors).value_or(0)};
}

bool hasBootSignature(const LeReader& r)
{
    return r.u8(mbr::kSignature) == 0x55 && r.u8(mbr::kSignature + 1) == 0xAA;
}

class MbrReader
{
public:
    MbrReader(SectorDevice& disk, std::uint64_t diskBytes, PartitionTable& table, std::uint64_t sectorSize = kSector)
        : m_disk(disk), m_diskBytes(diskBytes), m_table(table), m_sectorSize(sectorSize)
    {}

    // Adds a partition of `sectors` sectors at sector `firstLba`; false (and the table's problem
    // set) when it does not lie inside the disk.
    bool add(int number, std::uint64_t firstLba, std::uint64_t sectors, std::uint8_t type)
    {
        const auto first = checkedBytes(firstLba, m_sectorSize);
        const auto count = checkedBytes(sectors, m_sectorSize);
        const auto end = first && count ? checkedEnd(*first, *count) : std::nullopt;
        if (!end || *end > m_diskBytes) {
            m_table.problem = outsideText(number, first.value_or(UINT64_MAX), count.value_or(UINT64_MAX), m_diskBytes);
            return false;
        }
        Partition p;
        p.number = number;
        p.firstByte = *first;
        p.byteCount = *count;
        p.mbrType = type;
        p.extended = isExtendedType(type);
        m_table.partitions.push_back(std::move(p));
        return true;
    }

    // Follows the chain of extended boot records inside the extended partition that starts at
    // sector `extendedLba`. Each record's data entries are logical partitions (relative to the
    // record); its first extended entry points to the next record (relative to the extended
    // partition). A record that cannot be read or carries no signature ends the chain, as it
    // does for Linux.
    bool walkLogical(std::uint64_t extendedLba, int& nextNumber)
    {
        std::set<std::uint64_t> visited;
        std::uint64_t recordLba = extendedLba;
        while (nextNumber < 5 + kMaxLogicalPartitions && visited.insert(recordLba).second) {
            const auto position = checkedBytes(recordLba, m_sectorSize);
            if (!position || *position >= m_diskBytes)
                return true;
            const auto sector = readBytes(m_disk, *position, kSector);
            if (!sector)
                return true;
            const LeReader r(*sector);
            if (!hasBootSignature(r))
                return true;
            std::optional<std::uint64_t> next;
            for (int slot = 0; slot < 4; ++slot) {
                const MbrEntry e = mbrEntry(r, slot);
                if (e.type == 0 || e.sectors == 0)
                    continue;
                if (isExtendedType(e.type)) {
                    if (!next)
                        next = extendedLba + e.firstLba;
                    continue;
                }
                if (!add(nextNumber++, recordLba + e.firstLba, e.sectors, e.type))
                    return false;
            }
            if (!next)
                return true;
            recordLba = *next;
        }
        return true;
    }

    static constexpr std::uint64_t kSector = 512;

private:
    SectorDevice& m_disk;
    std::uint64_t m_diskBytes;
    PartitionTable& m_table;
    std::uint64_t m_sectorSize; // the unit of the table's sector numbers
};

// How many of the primary partitions lie inside the disk and begin with a boot sector we know when
// the table's sector numbers count `sectorSize` bytes: an MBR written for a disk of 4096-byte
// logical sectors counts in them, and only at that size do its partitions hold their volumes.
int volumesFoundAt(SectorDevice& disk, std::uint64_t diskBytes, const MbrEntry (&entries)[4], std::uint64_t sectorSize)
{
    int found = 0;
    for (const MbrEntry& e : entries) {
        if (e.type == 0 || e.sectors == 0 || isExtendedType(e.type))
            continue;
        const auto first = checkedBytes(e.firstLba, sectorSize);
        const auto count = checkedBytes(e.sectors, sectorSize);
        const auto end = first && count ? checkedEnd(*first, *count) : std::nullopt;
        if (!end || *end > diskBytes)
            continue;
        if (const auto sector = readBytes(disk, *first, MbrReader::kSector);
            sector && fileSystemFromBootSector(*sector) != FileSystemKind::Unknown)
            ++found;
    }
    return found;
}

struct GptHeader
{
    std::uint64_t myLba = 0;
    std::uint64_t alternateLba = 0;
    std::uint64_t entriesLba = 0;
    std::uint32_t entryCount = 0;
    std::uint32_t entrySize = 0;
    std::uint32_t entriesCrc = 0;
};

// The header at `lba` when its signature, size, CRC and own position agree.
std::optional<GptHeader> readGptHeader(SectorDevice& disk, std::uint64_t diskBytes, std::uint32_t sectorSize,
                                       std::uint64_t lba)
{
    const auto position = checkedBytes(lba, sectorSize);
    if (!position || *position >= diskBytes || sectorSize > diskBytes - *position)
        return std::nullopt;
    const auto sector = readBytes(disk, *position, sectorSize);
    if (!sector)
        return std::nullopt;
    const LeReader r(*sector);
    static constexpr std::uint8_t kSignature[] = {'E', 'F', 'I', ' ', 'P', 'A', 'R', 'T'};
    if (!std::equal(std::begin(kSignature), std::end(kSignature), sector->begin()))
        return std::nullopt;
    const auto headerSize = r.u32(gpt::kHeaderSize);
    if (!headerSize || *headerSize < gpt::kMinHeaderSize || *headerSize > sectorSize)
        return std::nullopt;
    std::vector<std::uint8_t> header(sector->begin(), sector->begin() + *headerSize);
    std::fill_n(header.begin() + gpt::kHeaderCrc, 4, std::uint8_t{0});
    if (crc32(header) != r.u32(gpt::kHeaderCrc))
        return std::nullopt;
    GptHeader h;
    h.myLba = r.u64(gpt::kMyLba).value_or(0);
    h.alternateLba = r.u64(gpt::kAlternateLba).value_or(0);
    h.entriesLba = r.u64(gpt::kEntriesLba).value_or(0);
    h.entryCount = r.u32(gpt::kEntryCount).value_or(0);
    h.entrySize = r.u32(gpt::kEntrySize).value_or(0);
    h.entriesCrc = r.u32(gpt::kEntriesCrc).value_or(0);
    if (h.myLba != lba)
        return std::nullopt; // a copy of the other header, or one moved with its disk
    return h;
}

// The entry array a header names, when it fits the disk and its CRC agrees.
std::optional<std::vector<std::uint8_t>> readGptEntries(SectorDevice& disk, std::uint64_t diskBytes,
                                                        std::uint32_t sectorSize, const GptHeader& h)
{
    if (h.entrySize < 128 || h.entrySize % 8 != 0)
        return std::nullopt;
    const std::uint64_t bytes = std::uint64_t{h.entryCount} * h.entrySize;
    if (bytes == 0 || bytes > gpt::kMaxEntryBytes)
        return std::nullopt;
    const auto position = checkedBytes(h.entriesLba, sectorSize);
    const auto end = position ? checkedEnd(*position, bytes) : std::nullopt;
    if (!end || *end > diskBytes)
        return std::nullopt;
    auto entries = readBytes(disk, *position, static_cast<std::size_t>(bytes));
    if (!entries || crc32(*entries) != h.entriesCrc)
        return std::nullopt;
    return entries;
}

void readGptPartitions(const std::vector<std::uint8_t>& entries, const GptHeader& h, std::uint64_t diskBytes,
                       PartitionTable& table)
{
    const LeReader r(entries);
    for (std::uint32_t i = 0; i < h.entryCount; ++i) {
        const std::size_t at = std::size_t{i} * h.entrySize;
        const auto type = r.slice(at, 16);
        if (!type)
            break;
        if (std::all_of(type->begin(), type->end(), [](std::uint8_t b) { return b == 0; }))
            continue; // an unused slot; the numbers of later slots stay as they are
        const int number = static_cast<int>(i) + 1;
        const std::uint64_t firstLba = r.u64(at + gpt::kEntryFirstLba).value_or(0);
        const std::uint64_t lastLba = r.u64(at + gpt::kEntryLastLba).value_or(0);
        const auto first = checkedBytes(firstLba, table.sectorSize);
        const auto count = lastLba >= firstLba ? checkedBytes(lastLba - firstLba + 1, table.sectorSize) : std::nullopt;
        const auto end = first && count ? checkedEnd(*first, *count) : std::nullopt;
        if (!end || *end > diskBytes) {
            table.problem = outsideText(number, first.value_or(UINT64_MAX), count.value_or(0), diskBytes);
            table.partitions.clear();
            return;
        }
        Partition p;
        p.number = number;
        p.firstByte = *first;
        p.byteCount = *count;
        std::copy(type->begin(), type->end(), p.gptType.begin());
        std::u16string name;
        for (std::size_t c = 0; c < gpt::kEntryNameBytes / 2; ++c) {
            const auto unit = r.u16(at + gpt::kEntryName + 2 * c);
            if (!unit || *unit == 0)
                break;
            name.push_back(static_cast<char16_t>(*unit));
        }
        p.gptName = toUtf8(name);
        table.partitions.push_back(std::move(p));
    }
}

// GPT at one sector size: the primary header at LBA 1, else the backup (at the place the primary
// names, or at the last sector of the disk). False when neither header is intact at this size.
bool readGpt(SectorDevice& disk, std::uint64_t diskBytes, std::uint32_t sectorSize, PartitionTable& table)
{
    table.sectorSize = sectorSize;
    const auto primary = readGptHeader(disk, diskBytes, sectorSize, 1);
    if (primary) {
        if (const auto entries = readGptEntries(disk, diskBytes, sectorSize, *primary)) {
            readGptPartitions(*entries, *primary, diskBytes, table);
            return true;
        }
    }
    std::vector<std::uint64_t> backupPlaces;
    if (primary)
        backupPlaces.push_back(primary->alternateLba);
    if (diskBytes / sectorSize >= 2)
        backupPlaces.push_back(diskBytes / sectorSize - 1);
    for (const std::uint64_t lba : backupPlaces) {
        const auto backup = readGptHeader(disk, diskBytes, sectorSize, lba);
        if (!backup)
            continue;
        if (const auto entries = readGptEntries(disk, diskBytes, sectorSize, *backup)) {
            table.usedBackupHeader = true;
            readGptPartitions(*entries, *backup, diskBytes, table);
            return true;
        }
    }
    return false;
}

} // namespace

std::uint32_t crc32(std::span<const std::uint8_t> bytes)
{
    static const auto kTable = [] {
        std::array<std::uint32_t, 256> table{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[n] = c;
        }
        return table;
    }();
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const std::uint8_t b : bytes)
        crc = kTable[(crc ^ b) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

PartitionTable readPartitionTable(SectorDevice& disk)
{
    PartitionTable table;
    const auto diskBytes = disk.size();
    if (!diskBytes || *diskBytes < MbrReader::kSector)
        return table;
    const auto sector0 = readBytes(disk, 0, MbrReader::kSector);
    if (!sector0)
        return table;
    const LeReader r(*sector0);
    // A volume's boot sector also ends in 55 AA; its file-system words tell it from a table.
    if (!hasBootSignature(r) || fileSystemFromBootSector(*sector0) != FileSystemKind::Unknown)
        return table;
    MbrEntry entries[4];
    bool any = false, protective = false;
    for (int slot = 0; slot < 4; ++slot) {
        entries[slot] = mbrEntry(r, slot);
        if (entries[slot].bootFlag != 0x00 && entries[slot].bootFlag != 0x80)
            return table; // boot code or a boot sector of some other kind, not a table
        any = any || entries[slot].type != 0;
        protective = protective || entries[slot].type == mbr::kGptProtective;
    }
    if (!any)
        return table;

    if (protective) {
        table.scheme = PartitionScheme::Gpt;
        for (const std::uint32_t sectorSize : {512u, 4096u}) {
            table.partitions.clear();
            table.problem.clear();
            table.usedBackupHeader = false;
            if (readGpt(disk, *diskBytes, sectorSize, table))
                return table;
        }
        table.sectorSize = 512;
        table.problem = "The GUID partition table is damaged: neither its primary nor its backup header is intact.";
        return table;
    }

    table.scheme = PartitionScheme::Mbr;
    if (volumesFoundAt(disk, *diskBytes, entries, 4096) > volumesFoundAt(disk, *diskBytes, entries, 512))
        table.sectorSize = 4096;
    MbrReader reader(disk, *diskBytes, table, table.sectorSize);
    for (int slot = 0; slot < 4; ++slot) {
        const MbrEntry& e = entries[slot];
        if (e.type == 0 || e.sectors == 0)
            continue;
        if (!reader.add(slot + 1, e.firstLba, e.sectors, e.type)) {
            table.partitions.clear();
            return table;
        }
    }
    int nextNumber = 5;
    for (int slot = 0; slot < 4; ++slot) {
        const MbrEntry& e = entries[slot];
        if (e.type != 0 && e.sectors != 0 && isExtendedType(e.type) && !reader.walkLogical(e.firstLba, nextNumber)) {
            table.partitions.clear();
            return table;
        }
    }
    std::sort(table.partitions.begin(), table.partitions.end(),
              [](const Partition& a, const Partition& b) { return a.number < b.number; });
    return table;
}

void identifyFileSystems(SectorDevice& disk, PartitionTable& table)
{
    std::vector<std::uint8_t> sector(MbrReader::kSector);
    for (Partition& p : table.partitions) {
        p.fileSystem = FileSystemKind::Unknown;
        if (p.extended || p.byteCount < sector.size())
            continue;
        if (disk.read(p.firstByte, sector))
            p.fileSystem = fileSystemFromBootSector(sector);
    }
}

PartitionPick pickPartition(const PartitionTable& table, std::optional<int> requested)
{
    using Outcome = PartitionPick::Outcome;
    if (table.scheme == PartitionScheme::None)
        return {requested ? Outcome::NoTable : Outcome::Whole, 0};
    if (table.refused())
        return {Outcome::Refused, 0};
    if (requested) {
        for (const Partition& p : table.partitions)
            if (p.number == *requested && !p.extended)
                return {Outcome::Picked, p.number};
        return {Outcome::NoSuchNumber, *requested};
    }
    int ntfsCount = 0, ntfsNumber = 0;
    for (const Partition& p : table.partitions)
        if (scannable(p.fileSystem)) {
            ++ntfsCount;
            ntfsNumber = p.number;
        }
    if (ntfsCount == 1)
        return {Outcome::Picked, ntfsNumber};
    return {ntfsCount == 0 ? Outcome::NoNtfs : Outcome::Several, 0};
}

namespace {

std::string guidText(const std::array<std::uint8_t, 16>& g)
{
    // The first three fields are stored little-endian, the last two as bytes.
    char text[37];
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", g[3], g[2],
                  g[1], g[0], g[5], g[4], g[7], g[6], g[8], g[9], g[10], g[11], g[12], g[13], g[14], g[15]);
    return text;
}

} // namespace

std::string partitionTypeText(const Partition& partition)
{
    if (partition.mbrType != 0) {
        struct Known
        {
            std::uint8_t type;
            const char* name;
        };
        static constexpr Known kKnown[] = {
            {0x01, "FAT12"},          {0x04, "FAT16"},
            {0x05, "extended"},       {0x06, "FAT16"},
            {0x07, "NTFS/exFAT"},     {0x0B, "FAT32"},
            {0x0C, "FAT32 (LBA)"},    {0x0E, "FAT16 (LBA)"},
            {0x0F, "extended (LBA)"}, {0x27, "Windows recovery"},
            {0x82, "Linux swap"},     {0x83, "Linux"},
            {0x85, "Linux extended"}, {0x8E, "Linux LVM"},
            {0xFD, "Linux RAID"},
        };
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%02X", partition.mbrType);
        for (const Known& k : kKnown)
            if (k.type == partition.mbrType)
                return std::string(hex) + " " + k.name;
        return hex;
    }
    if (!partition.gptName.empty())
        return partition.gptName;
    const std::string guid = guidText(partition.gptType);
    struct KnownGuid
    {
        const char* guid;
        const char* name;
    };
    static constexpr KnownGuid kKnown[] = {
        {"EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", "Microsoft basic data"},
        {"E3C9E316-0B5C-4DB8-817D-F92DF00215AE", "Microsoft reserved"},
        {"DE94BBA4-06D1-4D40-A16A-BFD50179D6AC", "Windows recovery"},
        {"C12A7328-F81F-11D2-BA4B-00A0C93EC93B", "EFI system"},
        {"0FC63DAF-8483-4772-8E79-3D69D8477DE4", "Linux filesystem"},
    };
    for (const KnownGuid& k : kKnown)
        if (guid == k.guid)
            return k.name;
    return guid;
}

} // namespace orv
