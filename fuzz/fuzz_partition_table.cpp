// A whole disk image: the MBR, its chain of logical partitions, or a GPT with its backup. Every
// offset and count comes from the image, so none may take a read outside it or decide how much we
// allocate beyond the table parser's own caps.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "fuzz/RecordChecks.h"
#include "tests/support/Devices.h"
#include "volume/PartitionDevice.h"
#include "volume/PartitionTable.h"

using orv::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    auto disk = std::make_shared<orv::test::MemoryDevice>(std::vector<std::uint8_t>(data, data + size));
    orv::PartitionTable table = orv::readPartitionTable(*disk);
    require(!table.refused() || table.partitions.empty(), "a refused table lists partitions");
    require(table.scheme != orv::PartitionScheme::None || (table.partitions.empty() && !table.refused()),
            "a source without a table has partitions or a problem");

    int previous = 0;
    for (const orv::Partition& p : table.partitions) {
        require(p.number > previous, "partition numbers not ascending");
        previous = p.number;
        require(!p.extended || p.number <= 4, "an extended partition numbered as a logical one");
        require(p.firstByte <= size && p.byteCount <= size - p.firstByte, "a partition reaches past the disk");
        // Both ends of every partition read through its own view, and nothing past it.
        orv::PartitionDevice view(disk, p.firstByte, p.byteCount);
        require(p.byteCount > 0, "an empty partition was listed");
        std::vector<std::uint8_t> sector(std::min<std::uint64_t>(512, p.byteCount));
        require(view.read(0, sector), "the first bytes of a partition cannot be read");
        require(view.read(p.byteCount - sector.size(), sector), "the last bytes of a partition cannot be read");
        require(!view.read(p.byteCount, std::span<std::uint8_t>(sector.data(), 1)),
                "a read past a partition's end succeeded");
    }

    orv::identifyFileSystems(*disk, table);
    const orv::PartitionPick pick = orv::pickPartition(table, std::nullopt);
    if (pick.outcome == orv::PartitionPick::Outcome::Picked) {
        bool listed = false;
        for (const orv::Partition& p : table.partitions)
            listed = listed || (p.number == pick.number && p.fileSystem == orv::FileSystemKind::Ntfs);
        require(listed, "the picked partition is not an NTFS partition of the table");
    }
    return 0;
}
