#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/SectorDevice.h"

namespace orv {

enum class DriveType { Fixed, Removable };

// One entry of the drive table: a letter with its colon ("E:") and what stands behind it.
struct DriveEntry
{
    std::string letter;
    std::string path; // block device, image file or container
    DriveType type = DriveType::Fixed;
    int partition = 0; // the partition of the disk at `path` (Linux numbering); 0: the whole of it
    bool operator==(const DriveEntry&) const = default;
};

// What the core needs to know from the operating system about drives.
class DriveSystem
{
public:
    virtual ~DriveSystem() = default;

    // Every drive in letter order.
    virtual std::vector<DriveEntry> drives() = 0;

    // The device behind a letter ("E:" or "E:\"), or null when the letter is not a drive. The
    // device opens its path for each transfer, so holding it keeps nothing open.
    virtual std::shared_ptr<SectorDevice> openDrive(std::string_view letter) = 0;

    // True when the letter is in the drive table and what stands behind it is there now. Being
    // there is not being readable: reading may still need rights we do not have.
    virtual bool driveExists(std::string_view letter) = 0;

    // The name of the file system the operating system has mounted from this drive ("NTFS",
    // "FAT32", "FAT"), or an empty text when it cannot tell; the caller then looks at the boot
    // sector itself.
    virtual std::string fileSystemName(std::string_view letter) = 0;

    // The folder where the operating system shows this drive's files now ("/media/bob/USB"), or
    // an empty path when the drive is not mounted. A folder of the drive "exists" only there.
    virtual std::filesystem::path mountPoint(std::string_view letter) = 0;
};

// "e:", "E:" and "E:\" all name drive "E:"; anything else gives an empty text.
inline std::string normaliseDriveLetter(std::string_view text)
{
    if (text.size() == 3 && text[2] == '\\')
        text.remove_suffix(1);
    if (text.size() != 2 || text[1] != ':')
        return {};
    char letter = text[0];
    if (letter >= 'a' && letter <= 'z')
        letter = static_cast<char>(letter - 'a' + 'A');
    if (letter < 'A' || letter > 'Z')
        return {};
    return std::string{letter, ':'};
}

} // namespace orv
