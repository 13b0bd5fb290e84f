#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "platform/DriveSystem.h"

namespace orv {

// Where the drive table of this machine comes from. The defaults are the real ones; tests point
// them at folders of their own.
struct LinuxDriveSources
{
    std::filesystem::path driveMapFile; // lines "E: /path/to/disk.img"; may be missing
    std::filesystem::path sysClassBlock = "/sys/class/block";
    std::filesystem::path devFolder = "/dev";
    std::filesystem::path mountInfo = "/proc/self/mountinfo";

    // Orvandel/drives in the user's configuration folder, beside the settings.
    static std::filesystem::path defaultDriveMapFile();
};

// The drive table: the letters of the user's drive map file first, then the detected block
// devices (partitions, whole disks without partitions, attached loop devices) on the free
// letters from C: up. Optical, RAM and zram devices are never drives. A mapped whole-disk image
// (raw or a container) gives one letter per NTFS partition, as a real disk's partitions do: its
// first NTFS partition takes the mapped letter, the others the next free letters after it. The table is read anew
// on every call, so a device that comes or goes is seen at once.
class LinuxDriveSystem final : public DriveSystem
{
public:
    explicit LinuxDriveSystem(LinuxDriveSources sources = {});

    // A drive given on the command line: it takes its letter before the map file and the
    // detected devices do. With a partition number the letter is that partition of the disk at
    // `path` (0: the whole of it); without one the path is read like a map line.
    void addDrive(const std::string& letter, const std::string& path, std::optional<int> partition = std::nullopt);

    // A disk image opened for this run: it takes the first free letter from C: up, and each further
    // NTFS partition in it the free letters after that. The letter, or an empty text when the
    // image is already a drive, no letter is free, or the path names something that is neither a
    // file nor a block device (a FIFO would hold every later look at the drive table).
    std::string addImage(const std::string& path);

    std::vector<DriveEntry> drives() override;
    std::shared_ptr<SectorDevice> openDrive(std::string_view letter) override;
    bool driveExists(std::string_view letter) override;
    std::string fileSystemName(std::string_view letter) override;
    // A block device is found in the mount table by its device number or its name; an image file
    // through the loop device attached to it.
    std::filesystem::path mountPoint(std::string_view letter) override;

private:
    struct Mount;
    std::vector<Mount> mountsOf(const std::string& path);

    std::optional<DriveEntry> entryOf(std::string_view letter);
    std::string pathOf(std::string_view letter);
    // The NTFS partitions of the disk at `path`, or {0} when it is no disk (or a disk we cannot
    // use, which then fails when it is scanned, with the reason).
    std::vector<int> volumesOf(const std::string& path);

    struct Added
    {
        std::string path;
        std::optional<int> partition;
    };
    struct Layout
    {
        std::int64_t size = -1;
        std::int64_t modified = 0;
        std::vector<int> volumes;
    };

    LinuxDriveSources m_sources;
    std::map<std::string, Added> m_added;
    // Reading a container's table on every look at the drive list would open it again and again;
    // a file keeps its layout until it changes.
    std::map<std::string, Layout> m_layouts;
};

// The file-system name that a mount table line's type gives: "NTFS" for the kernel's NTFS
// drivers. FAT mounts do not tell FAT from FAT32 and FUSE mounts do not tell which driver runs
// them, so those give an empty text and the boot sector decides.
std::string fileSystemNameOfMountType(std::string_view type);

} // namespace orv
