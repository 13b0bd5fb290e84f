#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/SectorDevice.h"
#include "volume/VolumeDevice.h"

namespace orv {

// How a disk divides itself into volumes.
enum class PartitionScheme { None, Mbr, Gpt };

// One partition of a disk, numbered the way Linux numbers them: MBR primaries by their slot
// (1-4), logical partitions from 5 in chain order, GPT entries by their slot from 1.
struct Partition
{
    int number = 0;
    std::uint64_t firstByte = 0;
    std::uint64_t byteCount = 0;
    std::uint8_t mbrType = 0; // MBR partitions only
    bool extended = false; // an MBR extended partition: a box of logical ones, no volume
    std::array<std::uint8_t, 16> gptType{}; // GPT partitions only, bytes as stored
    std::string gptName; // GPT partitions only, UTF-8
    FileSystemKind fileSystem = FileSystemKind::Unknown; // once identifyFileSystems has looked
    bool operator==(const Partition&) const = default;
};

struct PartitionTable
{
    PartitionScheme scheme = PartitionScheme::None;
    std::uint32_t sectorSize = 512;
    std::vector<Partition> partitions; // in number order
    bool usedBackupHeader = false; // GPT: the primary header or its entries were damaged
    // Why the table cannot be used; a refused table lists no partitions. Offsets taken from a
    // table that points past the disk would read another partition's bytes or none at all.
    std::string problem;

    bool refused() const { return !problem.empty(); }
};

// Reads the partition table at the start of `disk`. A device whose first sector is a volume's
// boot sector, or carries no table at all, gives scheme None and no problem: it is a volume.
// Every partition returned lies inside the device.
PartitionTable readPartitionTable(SectorDevice& disk);

// Reads each partition's boot sector and notes the file system it names. Extended partitions
// hold no volume and stay unknown.
void identifyFileSystems(SectorDevice& disk, PartitionTable& table);

// Which volume of a source to scan. A source without a table is one volume; on a disk the user's
// --partition number wins; without one a disk with exactly one NTFS partition needs no choice.
struct PartitionPick
{
    enum class Outcome {
        Whole, // no partition table: the source is the volume
        Picked, // `number` is the volume
        NoTable, // a number was asked for, but the source has no partition table
        NoSuchNumber, // no partition (or only an extended one) has the number asked for
        Refused, // the table cannot be used (its problem says why)
        Several, // more than one NTFS partition: the user must choose
        NoNtfs, // no NTFS partition at all
    };
    Outcome outcome = Outcome::Whole;
    int number = 0;
};
PartitionPick pickPartition(const PartitionTable& table, std::optional<int> requested);

// The CRC-32 that GPT headers and entry arrays carry (IEEE 802.3, reflected).
std::uint32_t crc32(std::span<const std::uint8_t> bytes);

// "0x07 NTFS/exFAT"-style description of a partition for lists: its GPT name when it has one,
// else its GPT or MBR type.
std::string partitionTypeText(const Partition& partition);

} // namespace orv
