// Whole-disk images and containers through the drive table: the bytes a partition or a container
// gives must be the bytes of the volume it was made from.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "platform/linux/ContainerDevice.h"
#include "platform/linux/LinuxDriveSystem.h"
#include "tests/support/Fixtures.h"
#include "volume/PartitionTable.h"

namespace orv {
namespace {

namespace fs = std::filesystem;

class Scratch
{
public:
    Scratch()
    {
        std::string pattern = (fs::temp_directory_path() / "orv-disk-XXXXXX").string();
        m_path = ::mkdtemp(pattern.data()) ? fs::path(pattern) : fs::path();
    }
    ~Scratch()
    {
        std::error_code error;
        fs::remove_all(m_path, error);
    }
    const fs::path& path() const { return m_path; }

private:
    fs::path m_path;
};

std::vector<std::uint8_t> fileBytes(const fs::path& path)
{
    std::error_code error;
    std::vector<std::uint8_t> bytes(fs::file_size(path, error));
    std::ifstream in(path, std::ios::binary);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

std::vector<std::uint8_t> deviceBytes(SectorDevice& device)
{
    const auto size = device.size();
    if (!size)
        return {};
    std::vector<std::uint8_t> bytes(*size);
    if (!device.read(0, bytes))
        return {};
    return bytes;
}

// A drive table with nothing detected and one map file line.
struct MappedDisk
{
    Scratch scratch;
    LinuxDriveSystem drives;

    explicit MappedDisk(const std::string& mapLines)
        : drives({scratch.path() / "drives", scratch.path() / "no-sys", scratch.path() / "dev",
                  scratch.path() / "mountinfo"})
    {
        std::ofstream(scratch.path() / "drives") << mapLines;
    }
};

bool haveTool(const char* tool)
{
    return std::system(("command -v " + std::string(tool) + " >/dev/null 2>&1").c_str()) == 0;
}

TEST(DiskImage, MappedDiskGivesALetterPerNtfsPartition)
{
    struct Case
    {
        const char* disk;
        std::vector<std::pair<std::string, int>> letters; // letter, partition
        std::vector<const char*> volumes;
    };
    const Case cases[] = {
        {"disk-gpt-two", {{"E:", 1}, {"F:", 2}}, {"ntfs-c512", "ntfs-c4096"}},
        {"disk-mbr-logical", {{"E:", 5}}, {"ntfs-c4096"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.disk);
        MappedDisk mapped("E: " + test::fixtureImage(c.disk).string() + "\n");
        const auto table = mapped.drives.drives();
        ASSERT_EQ(table.size(), c.letters.size());
        for (std::size_t i = 0; i < table.size(); ++i) {
            EXPECT_EQ(table[i].letter, c.letters[i].first);
            EXPECT_EQ(table[i].partition, c.letters[i].second);
            const auto device = mapped.drives.openDrive(table[i].letter);
            ASSERT_TRUE(device);
            EXPECT_TRUE(deviceBytes(*device) == fileBytes(test::fixtureImage(c.volumes[i])));
            EXPECT_EQ(mapped.drives.fileSystemName(table[i].letter), "");
            EXPECT_EQ(mapped.drives.mountPoint(table[i].letter), fs::path());
        }
    }
}

TEST(DiskImage, DamagedPrimaryGptHeaderStillGivesBothPartitions)
{
    Scratch scratch;
    const fs::path disk = scratch.path() / "damaged.img";
    fs::copy_file(test::fixtureImage("disk-gpt-two"), disk);
    {
        std::fstream f(disk, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(512 + 0x30); // inside the header's CRC: the primary no longer checks out
        f.put('\x7f');
    }
    MappedDisk mapped("G: " + disk.string() + "\n");
    const auto table = mapped.drives.drives();
    ASSERT_EQ(table.size(), 2u);
    EXPECT_EQ(table[1].letter, "H:");
    const auto second = mapped.drives.openDrive("H:");
    ASSERT_TRUE(second);
    EXPECT_TRUE(deviceBytes(*second) == fileBytes(test::fixtureImage("ntfs-c4096")));
}

TEST(DiskImage, FurtherPartitionsTakeTheFreeLettersAfterTheirDisk)
{
    const std::string gpt = test::fixtureImage("disk-gpt-two").string();
    const std::string volume = test::fixtureImage("ntfs-c512").string();
    MappedDisk mapped("E: " + gpt + "\nF: " + volume + "\n");
    const auto table = mapped.drives.drives();
    ASSERT_EQ(table.size(), 3u);
    EXPECT_EQ(table[0].letter + std::to_string(table[0].partition), "E:1");
    EXPECT_EQ(table[1].letter + table[1].path, "F:" + volume) << "a mapped letter is never taken";
    EXPECT_EQ(table[2].letter + std::to_string(table[2].partition), "G:2");
}

TEST(DiskImage, ImageOpenedForThisRunTakesTheNextFreeLetters)
{
    const std::string gpt = test::fixtureImage("disk-gpt-two").string();
    MappedDisk mapped("C: " + test::fixtureImage("ntfs-c512").string() + "\nE: /images/elsewhere.img\n");
    EXPECT_EQ(mapped.drives.addImage(gpt), "D:");
    EXPECT_EQ(mapped.drives.addImage(gpt), "") << "an image already listed is not listed twice";
    std::vector<std::string> letters;
    for (const DriveEntry& entry : mapped.drives.drives())
        letters.push_back(entry.letter + std::to_string(entry.partition));
    EXPECT_EQ(letters, (std::vector<std::string>{"C:0", "D:1", "E:0", "F:2"}));
}

// Each container made from a volume reads back as that volume, byte for byte, and is read-only.
TEST(DiskImage, ContainersReadAsTheVolumeTheyWereMadeFrom)
{
    if (!haveTool("qemu-img") || !haveTool("ewfacquire"))
        GTEST_SKIP() << "qemu-img (qemu-utils) or ewfacquire (ewf-tools) is missing: run tools/setup.sh";
    Scratch scratch;
    const fs::path raw = test::fixtureImage("ntfs-c4096");
    const auto rawBytes = fileBytes(raw);
    struct Made
    {
        ContainerFormat format;
        std::string command;
        fs::path file;
    };
    const fs::path s = scratch.path();
    const std::vector<Made> made = {
        {ContainerFormat::Vhd, "qemu-img convert -O vpc -o force_size=on", s / "x.vpc"},
        {ContainerFormat::Vhd, "qemu-img convert -O vpc -o subformat=fixed,force_size=on", s / "fixed.vhd"},
        {ContainerFormat::Vhdx, "qemu-img convert -O vhdx", s / "x.vhdx"},
        {ContainerFormat::Vmdk, "qemu-img convert -O vmdk", s / "x.vmdk"},
        {ContainerFormat::Qcow, "qemu-img convert -O qcow2 -c", s / "x.qcow2"},
    };
    for (const Made& m : made)
        ASSERT_EQ(std::system((m.command + " '" + raw.string() + "' '" + m.file.string() + "'").c_str()), 0);
    ASSERT_EQ(
        std::system(
            ("ewfacquire -u -c best -t '" + (s / "x").string() + "' '" + raw.string() + "' >/dev/null 2>&1").c_str()),
        0);
    std::vector<Made> all = made;
    all.push_back({ContainerFormat::Ewf, "", s / "x.E01"});
    for (const Made& m : all) {
        SCOPED_TRACE(m.file.filename().string());
        // The name says nothing: a renamed container is still recognised.
        const fs::path renamed = s / ("renamed-" + m.file.filename().string() + ".bin");
        fs::copy_file(m.file, renamed);
        EXPECT_EQ(containerFormatOf(renamed.string()), m.format);
        // A VMDK's descriptor names its extent files, the sparse file itself included, so only the
        // other formats open under any name.
        const fs::path opened = m.format == ContainerFormat::Vmdk ? m.file : renamed;
        const OpenedImage image = openImage(opened.string());
        ASSERT_TRUE(image.device) << image.problem;
        EXPECT_TRUE(image.device->readOnly());
        EXPECT_TRUE(deviceBytes(*image.device) == rawBytes);
        const auto before = fileBytes(opened);
        const std::vector<std::uint8_t> zeros(512);
        EXPECT_FALSE(image.device->write(0, zeros));
        EXPECT_TRUE(fileBytes(opened) == before);
        std::vector<std::uint8_t> past(512);
        EXPECT_FALSE(image.device->read(rawBytes.size() - 256, past)) << "a read past the end must fail";
    }
    EXPECT_EQ(containerFormatOf(raw.string()), ContainerFormat::Raw);
}

TEST(DiskImage, ContainerHoldingADiskGivesItsPartitions)
{
    if (!haveTool("qemu-img"))
        GTEST_SKIP() << "qemu-img (qemu-utils) is missing: run tools/setup.sh";
    Scratch scratch;
    const fs::path qcow = scratch.path() / "disk.qcow2";
    ASSERT_EQ(std::system(("qemu-img convert -O qcow2 '" + test::fixtureImage("disk-gpt-two").string() + "' '" +
                           qcow.string() + "'")
                              .c_str()),
              0);
    MappedDisk mapped("K: " + qcow.string() + "\n");
    const auto table = mapped.drives.drives();
    ASSERT_EQ(table.size(), 2u);
    const auto device = mapped.drives.openDrive("L:");
    ASSERT_TRUE(device);
    EXPECT_TRUE(device->readOnly());
    EXPECT_TRUE(deviceBytes(*device) == fileBytes(test::fixtureImage("ntfs-c4096")));
}

TEST(DiskImage, DamagedContainerSaysWhy)
{
    Scratch scratch;
    const fs::path fake = scratch.path() / "broken.qcow2";
    std::ofstream(fake, std::ios::binary) << std::string("QFI\xfb", 4) << std::string(508, '\0');
    const OpenedImage image = openImage(fake.string());
    EXPECT_FALSE(image.device);
    EXPECT_EQ(image.format, ContainerFormat::Qcow);
    EXPECT_NE(image.problem.find("qcow2 image cannot be opened"), std::string::npos) << image.problem;
}

} // namespace
} // namespace orv
