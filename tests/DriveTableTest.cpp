#include <gtest/gtest.h>

#include <fstream>

#include "platform/linux/LinuxDriveSystem.h"
#include "tests/support/TempFolder.h"

namespace orv {
namespace {

namespace fs = std::filesystem;

// A sysfs block tree of our own: /sys/class/block entries are symbolic links into the device
// tree, partitions sit inside their disk's folder.
class FakeSys
{
public:
    FakeSys() : m_root(m_folder.path())
    {
        fs::create_directories(classBlock());
        fs::create_directories(m_root / "dev");
    }

    fs::path classBlock() const { return m_root / "sys" / "class" / "block"; }
    fs::path root() const { return m_root; }

    void disk(const std::string& name, const std::string& size, bool removable = false)
    {
        const fs::path dir = m_root / "sys" / "devices" / name;
        fs::create_directories(dir);
        write(dir / "size", size);
        write(dir / "removable", removable ? "1" : "0");
        fs::create_directory_symlink(dir, classBlock() / name);
    }
    void partition(const std::string& diskName, const std::string& name, const std::string& size)
    {
        const fs::path dir = m_root / "sys" / "devices" / diskName / name;
        fs::create_directories(dir);
        write(dir / "size", size);
        write(dir / "partition", "1");
        fs::create_directory_symlink(dir, classBlock() / name);
    }
    void attachLoop(const std::string& name, const std::string& backingFile = "/images/x.img",
                    const std::string& number = "7:0")
    {
        fs::create_directories(classBlock() / name / "loop");
        write(classBlock() / name / "loop" / "backing_file", backingFile);
        write(classBlock() / name / "dev", number);
    }
    static void write(const fs::path& file, const std::string& text) { std::ofstream(file) << text << '\n'; }

private:
    test::TempFolder m_folder;
    fs::path m_root;
};

TEST(DriveTable, MapFileFirstThenDetectedDevicesOnFreeLetters)
{
    FakeSys sys;
    sys.disk("sda", "1000");
    sys.partition("sda", "sda1", "500");
    sys.partition("sda", "sda2", "400");
    sys.disk("sdb", "2000", true); // a whole removable disk without partitions
    sys.disk("sdc", "0", true); // a card reader with no card
    sys.disk("sr0", "1000"); // optical: never a drive
    sys.disk("ram0", "1000");
    sys.disk("zram0", "1000");
    sys.disk("loop0", "1000");
    sys.attachLoop("loop0");
    sys.disk("loop1", "1000"); // nothing attached
    sys.disk("sdd", "1000");
    sys.partition("sdd", "sdd10", "10");
    sys.partition("sdd", "sdd9", "10");

    const fs::path mapFile = sys.root() / "drives";
    FakeSys::write(mapFile,
                   "# my images\nE: /images/disk one.img\n\nd: " + (sys.root() / "dev" / "sda2").string() +
                       "\nnonsense\nE: /images/second-e.img");

    LinuxDriveSystem drives({mapFile, sys.classBlock(), sys.root() / "dev", sys.root() / "mountinfo"});
    const auto table = drives.drives();
    std::vector<std::pair<std::string, std::string>> got;
    for (const DriveEntry& entry : table)
        got.emplace_back(entry.letter, fs::path(entry.path).filename().string());
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"C:", "loop0"}, {"D:", "sda2"}, {"E:", "disk one.img"}, {"F:", "sda1"},
        {"G:", "sdb"},   {"H:", "sdd9"}, {"I:", "sdd10"},
    };
    EXPECT_EQ(got, expected) << "sda2 is listed once, under the map file's letter";

    EXPECT_TRUE(drives.openDrive("e:\\"));
    EXPECT_FALSE(drives.openDrive("Z:"));
    EXPECT_FALSE(drives.openDrive("not a letter"));
}

TEST(DriveTable, DriveGivenOnTheCommandLineTakesItsLetter)
{
    FakeSys sys;
    sys.disk("sda", "1000");
    LinuxDriveSystem drives({{}, sys.classBlock(), sys.root() / "dev", sys.root() / "mountinfo"});
    drives.addDrive("C:", "/images/x.img");
    const auto table = drives.drives();
    ASSERT_EQ(table.size(), 2u);
    EXPECT_EQ(table[0].path, "/images/x.img");
    EXPECT_EQ(table[1].letter, "D:");
    EXPECT_EQ(drives.fileSystemName("C:"), "") << "an image file is mounted by no one we could ask";
}

TEST(DriveTable, MountPointOfAnImageFileThroughItsLoopDevice)
{
    FakeSys sys;
    const fs::path image = sys.root() / "disk one.img";
    FakeSys::write(image, "bytes");
    const fs::path other = sys.root() / "other.img";
    FakeSys::write(other, "bytes");
    sys.disk("loop3", "1000");
    sys.attachLoop("loop3", image.string(), "7:3");
    // Blanks in the mount point come octal-escaped; the line of another device must not match.
    FakeSys::write(sys.root() / "mountinfo",
                   "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
                   "41 22 7:3 / /media/bob/Disk\\040One rw,nosuid shared:30 - fuseblk /dev/loop3 rw,user_id=0");
    LinuxDriveSystem drives({{}, sys.classBlock(), sys.root() / "dev", sys.root() / "mountinfo"});
    drives.addDrive("E:", image.string());
    drives.addDrive("F:", other.string());
    EXPECT_EQ(drives.mountPoint("E:"), fs::path("/media/bob/Disk One"));
    EXPECT_EQ(drives.mountPoint("F:"), fs::path()) << "no loop device has it attached";
    EXPECT_EQ(drives.mountPoint("G:"), fs::path()) << "not a drive";
}

TEST(DriveTable, MountTypesThatNameNtfs)
{
    EXPECT_EQ(fileSystemNameOfMountType("ntfs"), "NTFS");
    EXPECT_EQ(fileSystemNameOfMountType("ntfs3"), "NTFS");
    // FUSE does not say which driver serves the mount, nor vfat whether it is FAT or FAT32.
    EXPECT_EQ(fileSystemNameOfMountType("fuseblk"), "");
    EXPECT_EQ(fileSystemNameOfMountType("vfat"), "");
    EXPECT_EQ(fileSystemNameOfMountType("ext4"), "");
}

} // namespace
} // namespace orv
