#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/UniqueFd.h"
#include "platform/linux/FileDevice.h"
#include "tests/support/Devices.h"
#include "tests/support/RecordBuilder.h"
#include "tests/support/TempFolder.h"
#include "volume/ClusterSearch.h"
#include "volume/PartitionDevice.h"
#include "volume/SectorIo.h"

namespace orv {
namespace {

using test::Bytes;
using test::FakeDriveSystem;
using test::MemoryDevice;

Bytes patterned(std::size_t size)
{
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
    return bytes;
}

TEST(ReadSectors, ReadsTheBytesOfTheSectorsAsked)
{
    const Bytes volume = patterned(16 * 512);
    VolumeDevice ctx;
    ctx.Device = std::make_shared<MemoryDevice>(volume);
    ctx.BytesPerSector = 512;
    Bytes out(3 * 512);
    ASSERT_TRUE(ReadSectors(ctx, 10, out));
    EXPECT_TRUE(std::equal(out.begin(), out.end(), volume.begin() + 5120)); // bytes 5,120 to 6,655
}

// Records the position asked for; big volumes need no memory to be tested.
class PositionDevice : public SectorDevice
{
public:
    bool read(std::uint64_t position, std::span<std::uint8_t>) override
    {
        last = position;
        return true;
    }
    bool write(std::uint64_t position, std::span<const std::uint8_t>) override
    {
        last = position;
        return true;
    }
    std::uint64_t last = 0;
};

TEST(ReadSectors, ReachesPositionsBeyond4GiBAnd2TiB)
{
    auto device = std::make_shared<PositionDevice>();
    VolumeDevice ctx;
    ctx.Device = device;
    ctx.BytesPerSector = 512;
    Bytes out(512);
    ASSERT_TRUE(ReadSectors(ctx, 8'388'608, out));
    EXPECT_EQ(device->last, 4'294'967'296u);
    // Sector 2^32 is where a 32-bit sector number would end: 2 TiB.
    ASSERT_TRUE(WriteSectors(ctx, 4'294'967'296u, out));
    EXPECT_EQ(device->last, 2'199'023'255'552u);
    ctx.BytesPerSector = 4096;
    ASSERT_TRUE(ReadSectors(ctx, 4'294'967'296u, out));
    EXPECT_EQ(device->last, 17'592'186'044'416u); // 16 TiB
}

TEST(ReadSectors, FailedReadLeavesZerosNeverStaleBytes)
{
    VolumeDevice ctx;
    ctx.BytesPerSector = 512;
    Bytes out(1024, 0x55);

    ctx.Device = std::make_shared<test::ScribbleThenFailDevice>();
    EXPECT_FALSE(ReadSectors(ctx, 0, out));
    EXPECT_EQ(out, Bytes(1024, 0));

    std::fill(out.begin(), out.end(), std::uint8_t{0x55});
    ctx.Device = std::make_shared<MemoryDevice>(patterned(1536));
    EXPECT_FALSE(ReadSectors(ctx, 2, out)) << "reads past the end of the volume";
    EXPECT_EQ(out, Bytes(1024, 0));

    std::fill(out.begin(), out.end(), std::uint8_t{0x55});
    ctx.Device = nullptr; // a drive that is gone
    EXPECT_FALSE(ReadSectors(ctx, 0, out));
    EXPECT_EQ(out, Bytes(1024, 0));

    ctx.Device = std::make_shared<PositionDevice>();
    EXPECT_FALSE(ReadSectors(ctx, ~std::uint64_t{0}, out)) << "a position past 2^64 bytes";
    EXPECT_FALSE(WriteSectors(ctx, ~std::uint64_t{0}, out));
}

Bytes bootSector(const char* oem, std::size_t at = 3)
{
    Bytes sector(512, 0);
    std::copy_n(oem, std::strlen(oem), sector.begin() + static_cast<std::ptrdiff_t>(at));
    return sector;
}

TEST(DetectFileSystem, TrustsTheMountedNameBeforeAnyRead)
{
    FakeDriveSystem drives;
    auto device = std::make_shared<MemoryDevice>(Bytes(4096));
    drives.add("E:", device, "FAT32");
    VolumeDevice ctx;
    EXPECT_EQ(DetectFileSystem(ctx, drives, "E:"), FileSystemKind::Fat32);
    EXPECT_EQ(device->reads, 0);
    EXPECT_TRUE(ctx.Drive.empty()) << "only the fallback changes the drive";
}

TEST(DetectFileSystem, FallsBackToTheBootSectorsWords)
{
    struct Case
    {
        const char* what;
        Bytes sector;
        std::string mountedName;
        FileSystemKind expected;
    };
    Bytes fat32 = bootSector("MSWIN4.1");
    std::copy_n("FAT32   ", 8, fat32.begin() + 0x52);
    Bytes fat16 = bootSector("MSDOS5.0");
    std::copy_n("FAT16   ", 8, fat16.begin() + 0x36);
    const Case cases[] = {
        {"NTFS OEM name", bootSector("NTFS    "), "", FileSystemKind::Ntfs},
        {"unknown mounted name goes to the boot sector", bootSector("NTFS    "), "ext4", FileSystemKind::Ntfs},
        {"FAT32 type word", fat32, "", FileSystemKind::Fat32},
        {"FAT16 type word", fat16, "", FileSystemKind::Fat},
        {"exFAT OEM name", bootSector("EXFAT   "), "", FileSystemKind::ExFat},
        {"nothing we know", bootSector("mkfs.ext"), "", FileSystemKind::Unknown},
        {"empty sector", Bytes(512, 0), "", FileSystemKind::Unknown},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeDriveSystem drives;
        drives.add("F:", std::make_shared<MemoryDevice>(c.sector), c.mountedName);
        VolumeDevice ctx;
        EXPECT_EQ(DetectFileSystem(ctx, drives, "F:"), c.expected);
        EXPECT_EQ(ctx.Drive, "F:");
        VolumeDevice slash;
        EXPECT_EQ(DetectFileSystem(slash, drives, "F:\\"), c.expected) << "C: and C:\\ are the same drive";
    }
}

TEST(DetectFileSystem, ProbesTheSectorSizeLikeTheDiskWants)
{
    // A disk with 4,096-byte sectors refuses the 512 to 3,584-byte probe reads.
    Bytes volume(3 * 4096, 0);
    std::copy_n("NTFS    ", 8, volume.begin() + 3);
    FakeDriveSystem drives;
    drives.add("G:", std::make_shared<MemoryDevice>(volume, 4096));
    VolumeDevice ctx;
    EXPECT_EQ(DetectFileSystem(ctx, drives, "G:"), FileSystemKind::Ntfs);
    EXPECT_EQ(ctx.BytesPerSector, 4096);
}

TEST(DetectFileSystem, NoDriveNoFileSystem)
{
    FakeDriveSystem drives;
    drives.add("E:", std::make_shared<test::ScribbleThenFailDevice>());
    VolumeDevice ctx;
    EXPECT_EQ(DetectFileSystem(ctx, drives, ""), FileSystemKind::Unknown);
    EXPECT_EQ(DetectFileSystem(ctx, drives, "Q:"), FileSystemKind::Unknown) << "not in the drive table";
    EXPECT_EQ(DetectFileSystem(ctx, drives, "E:"), FileSystemKind::Unknown) << "unreadable at every probe size";
}

TEST(FileDevice, KeepsTheFileItOpenedWhenThePathIsSwapped)
{
    // The image sits in a folder another user may write: between two transfers its name is made to
    // name another file. Reads and writes stay with the file first opened.
    const test::TempFolder temp;
    const auto& folder = temp.path();
    const auto image = folder / "volume.img";
    const auto other = folder / "other";
    std::ofstream(image, std::ios::binary) << std::string(4096, 'v');
    std::ofstream(other, std::ios::binary) << std::string(4096, 'o');

    FileDevice device(image.string());
    std::vector<std::uint8_t> bytes(512);
    ASSERT_TRUE(device.read(0, bytes));
    std::filesystem::rename(image, folder / "moved.img");
    std::filesystem::create_symlink(other, image);
    ASSERT_TRUE(device.read(512, bytes));
    EXPECT_EQ(bytes[0], 'v');
    const std::vector<std::uint8_t> zeros(512, 0);
    ASSERT_TRUE(device.write(1024, zeros));
    std::ifstream otherNow(other, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(otherNow), {}), std::string(4096, 'o'))
        << "the other file is untouched";
    std::ifstream moved(folder / "moved.img", std::ios::binary);
    const std::string written(std::istreambuf_iterator<char>(moved), {});
    EXPECT_EQ(written.substr(1024, 512), std::string(512, '\0'));
}

TEST(FileDevice, ShowsBytesInPlaceAndAPageCutOffReadsAsZeros)
{
    // A view that begins and ends inside pages, of the file and of a partition of it; then the
    // file is cut short under it (another program truncating the image while a scan runs): the
    // pages past the new end cannot be read, and the program goes on, seeing zeros there.
    const test::TempFolder temp;
    const auto image = temp.path() / "volume.img";
    const Bytes bytes = patterned(4 * 4096);
    std::ofstream(image, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    auto device = std::make_shared<FileDevice>(image.string());
    const auto view = device->view(100, 3 * 4096);
    ASSERT_TRUE(view);
    EXPECT_TRUE(std::equal(view->bytes().begin(), view->bytes().end(), bytes.begin() + 100));
    PartitionDevice partition(device, 1000, 2 * 4096);
    const auto inPartition = partition.view(24, 4096);
    ASSERT_TRUE(inPartition);
    EXPECT_TRUE(std::equal(inPartition->bytes().begin(), inPartition->bytes().end(), bytes.begin() + 1024));
    EXPECT_FALSE(partition.view(4096, 4097)) << "past the partition's end";
    EXPECT_FALSE(device->view(4096, 3 * 4096 + 1)) << "past the file's end";

    ASSERT_EQ(::truncate(image.c_str(), 4096 + 2000), 0);
    const auto seen = view->bytes();
    std::vector<std::uint8_t> copy(seen.begin(), seen.end()); // touches every page
    EXPECT_FALSE(view->sound());
    EXPECT_TRUE(inPartition->sound()) << "a view of its own";
    EXPECT_TRUE(std::equal(copy.begin(), copy.begin() + 2000 + 3996, bytes.begin() + 100))
        << "the pages still in the file";
    EXPECT_TRUE(std::all_of(copy.begin() + 2 * 4096 - 100, copy.end(), [](std::uint8_t b) { return b == 0; }))
        << "whole pages past the end";

    // Bytes the system's cache does not hold, wholly or in the middle (a stretch it let go), are
    // left to be read by copying.
    constexpr std::size_t kCold = 8 << 20;
    const auto cold = temp.path() / "cold.img";
    std::ofstream(cold, std::ios::binary) << std::string(kCold, 'c');
    const UniqueFd fd(::open(cold.c_str(), O_RDONLY));
    ASSERT_EQ(::fdatasync(fd.get()), 0);
    FileDevice coldDevice(cold.string());
    std::vector<std::uint8_t> read(kCold);
    for (const std::size_t from : {std::size_t{0}, kCold / 4}) {
        ASSERT_EQ(::posix_fadvise(fd.get(), static_cast<off_t>(from), kCold / 4, POSIX_FADV_DONTNEED), 0);
        EXPECT_FALSE(coldDevice.view(0, kCold)) << "the cache let go from " << from;
        ASSERT_TRUE(coldDevice.read(0, read));
        EXPECT_TRUE(coldDevice.view(0, kCold)) << "once read";
    }
}

TEST(FileDeviceDeathTest, ABusErrorOutsideEveryViewStillEndsTheProgram)
{
    // The handler that saves views must not swallow a fault of anything else.
    const test::TempFolder temp;
    const auto image = temp.path() / "volume.img";
    std::ofstream(image, std::ios::binary) << std::string(2 * 4096, 'v');
    FileDevice device(image.string());
    const auto view = device.view(0, 4096);
    ASSERT_TRUE(view);
    EXPECT_DEATH(
        {
            const int fd = ::open(image.c_str(), O_RDWR);
            void* mapping = ::mmap(nullptr, 2 * 4096, PROT_READ, MAP_SHARED, fd, 0);
            if (mapping == MAP_FAILED || ::ftruncate(fd, 0) != 0)
                std::_Exit(0);
            std::printf("%d", static_cast<volatile std::uint8_t*>(mapping)[4096]);
            std::_Exit(0);
        },
        "");
}

// The search for a folder's later cluster: clusters others hold are never read, the named files'
// content is jumped, the nearest match wins, and the read budget ends it.
TEST(ClusterSearch, ReadsOnlyWhatItMayAndStopsAtItsBudget)
{
    constexpr std::uint64_t kCluster = 512, kClusters = 64;
    std::vector<std::uint8_t> bytes(kCluster * kClusters, 0);
    for (const std::uint64_t marked : {20u, 30u, 40u})
        bytes[marked * kCluster] = 0xD1;
    test::MemoryDevice device(bytes);
    ClusterSearch search;
    search.from = 10;
    search.last = kClusters - 1;
    search.bytesPerCluster = kCluster;
    search.position = [](std::uint64_t c) { return c * kCluster; };
    search.skip = [](std::uint64_t c) { return c >= 12 && c < 16; };
    search.passOver = {{16, 18}, {17, 21}}; // overlapping, so 16..20 are jumped and 20 is never seen
    search.matches = [](std::span<const std::uint8_t> cluster) { return cluster[0] == 0xD1; };

    std::uint64_t budget = kCluster * kClusters;
    EXPECT_EQ(searchForward(device, search, {budget, kClusters}, budget), 30u);
    for (const std::uint64_t position : device.readPositions)
        EXPECT_FALSE(position >= 12 * kCluster && position < 21 * kCluster) << position / kCluster;
    // Two reads: 10..11 (12 is held), then from 21 on in one piece up to the volume's end.
    EXPECT_EQ(device.readPositions, (std::vector<std::uint64_t>{10 * kCluster, 21 * kCluster}));
    EXPECT_EQ(budget, (kClusters - 2 - 43) * kCluster);

    // Too little budget, or too short a span, to reach cluster 30.
    std::uint64_t small = 5 * kCluster;
    EXPECT_EQ(searchForward(device, search, {kCluster * kClusters, kClusters}, small), std::nullopt);
    EXPECT_EQ(small, 0u);
    budget = kCluster * kClusters;
    EXPECT_EQ(searchForward(device, search, {budget, 15}, budget), std::nullopt);
}

} // namespace
} // namespace orv
