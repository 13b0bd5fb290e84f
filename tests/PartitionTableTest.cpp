#include <gtest/gtest.h>

#include "ntfs/VolumeContext.h"
#include "tests/support/Devices.h"
#include "tests/support/RecordBuilder.h"
#include "volume/PartitionDevice.h"
#include "volume/PartitionTable.h"

namespace orv {
namespace {

using test::Bytes;
using test::MemoryDevice;

constexpr std::uint64_t kMiB = 1 << 20;

struct MbrSlot
{
    std::uint8_t type;
    std::uint32_t firstLba, sectors;
};

void putMbr(Bytes& disk, std::uint64_t at, const std::vector<MbrSlot>& slots)
{
    for (std::size_t i = 0; i < slots.size(); ++i) {
        const std::size_t e = at + 0x1BE + 16 * i;
        disk[e + 4] = slots[i].type;
        test::put32(disk, e + 8, slots[i].firstLba);
        test::put32(disk, e + 12, slots[i].sectors);
    }
    disk[at + 510] = 0x55;
    disk[at + 511] = 0xAA;
}

// An NTFS boot sector's identifying words at byte `at`, so identifyFileSystems finds a volume.
void putNtfs(Bytes& disk, std::uint64_t at)
{
    const char oem[] = "NTFS    ";
    std::copy(oem, oem + 8, disk.begin() + static_cast<std::ptrdiff_t>(at + 3));
    disk[at + 510] = 0x55;
    disk[at + 511] = 0xAA;
}

// Primaries 1 (NTFS) and 2 (Linux), extended 3 holding logical 5 (NTFS) and 6 (FAT32).
Bytes mbrDiskWithLogicals()
{
    Bytes disk(4 * kMiB, 0);
    putMbr(disk, 0, {{0x07, 64, 1024}, {0x83, 1088, 512}, {0x05, 2048, 4096}});
    putMbr(disk, 2048 * 512, {{0x07, 32, 1000}, {0x05, 1100, 2000}});
    putMbr(disk, (2048 + 1100) * 512, {{0x0B, 16, 500}});
    putNtfs(disk, 64 * 512);
    putNtfs(disk, (2048 + 32) * 512);
    return disk;
}

struct GptEntry
{
    int slot; // 0-based
    std::uint64_t firstLba, lastLba;
    std::u16string name;
};

constexpr std::uint8_t kBasicData[16] = {0xA2, 0xA0, 0xD0, 0xEB, 0xE5, 0xB9, 0x33, 0x44,
                                         0x87, 0xC0, 0x68, 0xB6, 0xB7, 0x26, 0x99, 0xC7};

// A GPT disk as sgdisk writes it: protective MBR, primary header at LBA 1 and entries at LBA 2,
// backup entries and header at the end.
Bytes gptDisk(std::uint32_t sector, std::uint64_t sectors, const std::vector<GptEntry>& parts)
{
    Bytes disk(sector * sectors, 0);
    putMbr(disk, 0, {{0xEE, 1, static_cast<std::uint32_t>(sectors - 1)}});
    Bytes entries(128 * 128, 0);
    for (const GptEntry& p : parts) {
        const std::size_t e = 128 * static_cast<std::size_t>(p.slot);
        std::copy(std::begin(kBasicData), std::end(kBasicData), entries.begin() + static_cast<std::ptrdiff_t>(e));
        test::put64(entries, e + 0x20, p.firstLba);
        test::put64(entries, e + 0x28, p.lastLba);
        for (std::size_t c = 0; c < p.name.size(); ++c)
            test::put16(entries, e + 0x38 + 2 * c, p.name[c]);
    }
    const std::uint64_t entrySectors = entries.size() / sector;
    const auto writeHeader = [&](std::uint64_t myLba, std::uint64_t otherLba, std::uint64_t entriesLba) {
        Bytes h(92, 0);
        const char sig[] = "EFI PART";
        std::copy(sig, sig + 8, h.begin());
        test::put32(h, 8, 0x00010000);
        test::put32(h, 0x0C, 92);
        test::put64(h, 0x18, myLba);
        test::put64(h, 0x20, otherLba);
        test::put64(h, 0x48, entriesLba);
        test::put32(h, 0x50, 128);
        test::put32(h, 0x54, 128);
        test::put32(h, 0x58, crc32(entries));
        test::put32(h, 0x10, crc32(h));
        std::copy(h.begin(), h.end(), disk.begin() + static_cast<std::ptrdiff_t>(myLba * sector));
        std::copy(entries.begin(), entries.end(), disk.begin() + static_cast<std::ptrdiff_t>(entriesLba * sector));
    };
    writeHeader(1, sectors - 1, 2);
    writeHeader(sectors - 1, 1, sectors - 1 - entrySectors);
    return disk;
}

std::vector<std::pair<int, std::uint64_t>> numbersAndStarts(const PartitionTable& table)
{
    std::vector<std::pair<int, std::uint64_t>> out;
    for (const Partition& p : table.partitions)
        out.emplace_back(p.number, p.firstByte);
    return out;
}

TEST(PartitionTable, MbrNumbersPrimariesBySlotAndLogicalsFromFive)
{
    MemoryDevice disk(mbrDiskWithLogicals());
    PartitionTable table = readPartitionTable(disk);
    ASSERT_FALSE(table.refused()) << table.problem;
    EXPECT_EQ(table.scheme, PartitionScheme::Mbr);
    using Starts = std::vector<std::pair<int, std::uint64_t>>;
    EXPECT_EQ(
        numbersAndStarts(table),
        (Starts{
            {1, 64 * 512}, {2, 1088 * 512}, {3, 2048 * 512}, {5, (2048 + 32) * 512}, {6, (2048 + 1100 + 16) * 512}}));
    EXPECT_TRUE(table.partitions[2].extended);
    EXPECT_EQ(table.partitions[3].byteCount, 1000u * 512);

    identifyFileSystems(disk, table);
    EXPECT_EQ(table.partitions[0].fileSystem, FileSystemKind::Ntfs);
    EXPECT_EQ(table.partitions[1].fileSystem, FileSystemKind::Unknown);
    EXPECT_EQ(table.partitions[3].fileSystem, FileSystemKind::Ntfs);
    EXPECT_EQ(partitionTypeText(table.partitions[0]), "0x07 NTFS/exFAT");
}

TEST(PartitionTable, SourcesThatAreNoDisk)
{
    struct Case
    {
        const char* what;
        Bytes bytes;
    };
    Bytes volume(kMiB, 0);
    putNtfs(volume, 0);
    Bytes noSignature = mbrDiskWithLogicals();
    noSignature[511] = 0;
    Bytes bootCode = mbrDiskWithLogicals();
    bootCode[0x1BE] = 0x3C; // not a boot flag: these are instructions, not a table
    Bytes emptyTable(kMiB, 0);
    putMbr(emptyTable, 0, {});
    const Case cases[] = {
        {"an NTFS volume (its boot sector ends in 55 AA too)", volume},
        {"no 55 AA", noSignature},
        {"a boot flag other than 00 or 80", bootCode},
        {"four empty slots", emptyTable},
        {"shorter than a sector", Bytes(100, 0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MemoryDevice disk(c.bytes);
        const PartitionTable table = readPartitionTable(disk);
        EXPECT_EQ(table.scheme, PartitionScheme::None);
        EXPECT_FALSE(table.refused());
        EXPECT_TRUE(table.partitions.empty());
    }
}

TEST(PartitionTable, LogicalChainThatLoopsEnds)
{
    Bytes bytes(4 * kMiB, 0);
    putMbr(bytes, 0, {{0x05, 2048, 4096}});
    putMbr(bytes, 2048 * 512, {{0x07, 32, 100}, {0x05, 0, 4096}}); // the next record is itself
    MemoryDevice disk(bytes);
    const PartitionTable table = readPartitionTable(disk);
    ASSERT_FALSE(table.refused()) << table.problem;
    ASSERT_EQ(table.partitions.size(), 2u);
    EXPECT_EQ(table.partitions[1].number, 5);
}

TEST(PartitionTable, GptReadsNamesAndKeepsSlotNumbers)
{
    for (const std::uint32_t sector : {512u, 4096u}) {
        SCOPED_TRACE(sector);
        const std::uint64_t sectors = 8 * kMiB / sector;
        MemoryDevice disk(gptDisk(sector, sectors, {{0, 40, 99, u"Daten"}, {2, 100, 199, u""}}));
        const PartitionTable table = readPartitionTable(disk);
        ASSERT_FALSE(table.refused()) << table.problem;
        EXPECT_EQ(table.scheme, PartitionScheme::Gpt);
        EXPECT_EQ(table.sectorSize, sector);
        EXPECT_FALSE(table.usedBackupHeader);
        ASSERT_EQ(table.partitions.size(), 2u);
        EXPECT_EQ(table.partitions[0].number, 1);
        EXPECT_EQ(table.partitions[0].firstByte, 40u * sector);
        EXPECT_EQ(table.partitions[0].byteCount, 60u * sector);
        EXPECT_EQ(partitionTypeText(table.partitions[0]), "Daten");
        EXPECT_EQ(table.partitions[1].number, 3); // slot 2 stays number 3 although slot 1 is empty
        EXPECT_EQ(partitionTypeText(table.partitions[1]), "Microsoft basic data");
    }
}

TEST(PartitionTable, DamagedGptFallsBackToTheBackupOrIsRefused)
{
    const std::uint64_t sectors = 8 * kMiB / 512;
    const Bytes good = gptDisk(512, sectors, {{0, 40, 99, u"A"}, {1, 100, 199, u"B"}});
    const auto flip = [&](std::vector<std::uint64_t> at) {
        Bytes bytes = good;
        for (const std::uint64_t a : at)
            bytes[a] ^= 0x01;
        return bytes;
    };
    const std::uint64_t backupHeader = (sectors - 1) * 512;
    const std::uint64_t backupEntries = (sectors - 33) * 512;
    struct Case
    {
        const char* what;
        Bytes bytes;
        bool refused;
        bool usedBackup;
    };
    const Case cases[] = {
        {"primary header CRC wrong", flip({512 + 0x30}), false, true},
        {"primary header signature gone", flip({512}), false, true},
        {"primary entries CRC wrong", flip({1024 + 0x38}), false, true},
        {"backup damaged only", flip({backupHeader + 0x30}), false, false},
        {"both headers damaged", flip({512 + 0x30, backupHeader + 0x30}), true, false},
        {"both entry arrays damaged", flip({1024 + 0x38, backupEntries + 0x38}), true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MemoryDevice disk(c.bytes);
        const PartitionTable table = readPartitionTable(disk);
        EXPECT_EQ(table.scheme, PartitionScheme::Gpt);
        EXPECT_EQ(table.refused(), c.refused) << table.problem;
        EXPECT_EQ(table.usedBackupHeader, c.usedBackup);
        EXPECT_EQ(table.partitions.size(), c.refused ? 0u : 2u);
        if (!c.refused) {
            EXPECT_EQ(table.partitions[1].gptName, "B");
        }
    }
}

TEST(PartitionTable, TableThatPointsPastTheDiskIsRefused)
{
    Bytes mbrPrimary(kMiB, 0);
    putMbr(mbrPrimary, 0, {{0x07, 64, 1024}, {0x07, 2000, 100}}); // 2100 sectors > 2048
    Bytes mbrLogical(kMiB, 0);
    putMbr(mbrLogical, 0, {{0x05, 100, 1900}});
    putMbr(mbrLogical, 100 * 512, {{0x07, 10, 0xFFFFFFF0}});
    Bytes gptWide = gptDisk(512, 2048, {{0, 40, 2048, u"one sector past the end"}});
    Bytes gptBackwards = gptDisk(512, 2048, {{0, 100, 99, u"ends before it starts"}});
    Bytes gptHuge = gptDisk(512, 2048, {{0, 0x0100'0000'0000'0000, 0x0100'0000'0000'0001, u"wraps"}});
    const std::pair<const char*, Bytes> cases[] = {{"MBR primary", mbrPrimary},
                                                   {"MBR logical", mbrLogical},
                                                   {"GPT entry", gptWide},
                                                   {"GPT last before first", gptBackwards},
                                                   {"GPT byte offset beyond 64 bits", gptHuge}};
    for (const auto& [what, bytes] : cases) {
        SCOPED_TRACE(what);
        MemoryDevice disk(bytes);
        const PartitionTable table = readPartitionTable(disk);
        EXPECT_TRUE(table.refused());
        EXPECT_TRUE(table.partitions.empty());
    }
    // gptWide's entry ends exactly at the last sector, which is inside the disk: the refusal is
    // about the disk, not about where the backup header lives.
    gptWide = gptDisk(512, 2048, {{0, 40, 2047, u"x"}});
    MemoryDevice last(gptWide);
    EXPECT_FALSE(readPartitionTable(last).refused());
}

TEST(PartitionTable, PickingTheVolume)
{
    MemoryDevice disk(mbrDiskWithLogicals()); // NTFS on 1 and 5
    PartitionTable two = readPartitionTable(disk);
    identifyFileSystems(disk, two);
    PartitionTable one = two;
    one.partitions.erase(one.partitions.begin()); // only 5 left with NTFS
    PartitionTable none = two;
    for (Partition& p : none.partitions)
        p.fileSystem = FileSystemKind::Unknown;
    PartitionTable refused;
    refused.scheme = PartitionScheme::Gpt;
    refused.problem = "damaged";
    const PartitionTable volume;

    using O = PartitionPick::Outcome;
    struct Case
    {
        const char* what;
        const PartitionTable& table;
        std::optional<int> requested;
        O outcome;
        int number;
    };
    const Case cases[] = {
        {"a volume", volume, std::nullopt, O::Whole, 0},
        {"a volume with a number", volume, 1, O::NoTable, 0},
        {"one NTFS partition", one, std::nullopt, O::Picked, 5},
        {"two NTFS partitions", two, std::nullopt, O::Several, 0},
        {"two, one asked for", two, 5, O::Picked, 5},
        {"a non-NTFS partition asked for", two, 2, O::Picked, 2},
        {"the extended box asked for", two, 3, O::NoSuchNumber, 3},
        {"a number not there", two, 4, O::NoSuchNumber, 4},
        {"no NTFS at all", none, std::nullopt, O::NoNtfs, 0},
        {"refused table", refused, 1, O::Refused, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const PartitionPick pick = pickPartition(c.table, c.requested);
        EXPECT_EQ(pick.outcome, c.outcome);
        EXPECT_EQ(pick.number, c.number);
    }
}

TEST(PartitionDevice, KeepsEveryTransferInsideThePartition)
{
    auto disk = std::make_shared<MemoryDevice>(Bytes(4096, 0x11));
    PartitionDevice part(disk, 1024, 1024);
    std::vector<std::uint8_t> buffer(512);
    EXPECT_TRUE(part.read(512, buffer));
    EXPECT_EQ(disk->readPositions.back(), 1536u);
    EXPECT_FALSE(part.read(768, buffer)); // would end past the partition, inside the disk
    EXPECT_FALSE(part.read(UINT64_MAX - 10, buffer));
    EXPECT_FALSE(part.write(1024, buffer));
    EXPECT_TRUE(part.write(0, buffer));
    EXPECT_EQ(part.size(), 1024u);
    EXPECT_FALSE(part.readOnly());
}

} // namespace
} // namespace orv
