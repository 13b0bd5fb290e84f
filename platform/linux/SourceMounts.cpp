#include "platform/linux/SourceMounts.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <utility>

namespace orv {

namespace fs = std::filesystem;

namespace {

using FileId = std::pair<dev_t, ino_t>;

std::string firstLine(const fs::path& file)
{
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

std::uint64_t numberIn(const fs::path& file)
{
    try {
        return std::stoull(firstLine(file));
    } catch (...) {
        return 0;
    }
}

// "8:17" as the kernel writes device numbers.
std::optional<dev_t> deviceNumber(const std::string& text)
{
    unsigned major = 0, minor = 0;
    char colon = 0;
    std::istringstream in(text);
    if (!(in >> major >> colon >> minor) || colon != ':')
        return std::nullopt;
    return makedev(major, minor);
}

std::uint64_t endOf(std::uint64_t first, std::uint64_t count)
{
    return count > UINT64_MAX - first ? UINT64_MAX : first + count;
}

bool overlaps(std::uint64_t first, std::uint64_t count, const ByteRange& part)
{
    return first < endOf(part.first, part.count) && part.first < endOf(first, count);
}

// Blanks, tabs and backslashes in mount table fields come octal-escaped.
std::string unescaped(const std::string& field)
{
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        const auto octal = [&](std::size_t at) { return at < field.size() && field[at] >= '0' && field[at] <= '7'; };
        if (field[i] == '\\' && octal(i + 1) && octal(i + 2) && octal(i + 3)) {
            out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0'));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

bool hasWord(const std::string& options, std::string_view word)
{
    std::istringstream in(options);
    std::string item;
    while (std::getline(in, item, ','))
        if (item == word)
            return true;
    return false;
}

// One block device of the system as sysfs shows it.
struct BlockDevice
{
    dev_t number = 0;
    std::string name;
    std::optional<dev_t> disk; // for a partition: the disk it is part of
    std::uint64_t start = 0; // a partition's first byte on its disk
    std::uint64_t size = 0; // a partition's bytes
    std::optional<FileId> backing; // for a loop device: the file it reads
    std::uint64_t loopOffset = 0; // where in that file the loop device begins
    std::uint64_t loopSize = 0; // 0: to the end of the file
};

std::vector<BlockDevice> blockDevices(const fs::path& sysClassBlock)
{
    std::vector<BlockDevice> devices;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(sysClassBlock, error)) {
        const fs::path dir = fs::canonical(entry.path(), error);
        if (error)
            continue;
        const auto number = deviceNumber(firstLine(dir / "dev"));
        if (!number)
            continue;
        BlockDevice device;
        device.number = *number;
        device.name = entry.path().filename().string();
        if (fs::exists(dir / "partition", error)) {
            device.disk = deviceNumber(firstLine(dir.parent_path() / "dev"));
            device.start = numberIn(dir / "start") * 512; // sysfs counts 512-byte units whatever the sector size
            device.size = numberIn(dir / "size") * 512;
        }
        std::string backing = firstLine(dir / "loop" / "backing_file");
        if (!backing.empty()) {
            struct stat info
            {};
            if (::stat(backing.c_str(), &info) == 0)
                device.backing = FileId{info.st_dev, info.st_ino};
            device.loopOffset = numberIn(dir / "loop" / "offset");
            device.loopSize = numberIn(dir / "loop" / "sizelimit");
        }
        devices.push_back(std::move(device));
    }
    return devices;
}

} // namespace

std::vector<SourceMount> mountsOfOpenFile(int fd, ByteRange part, const MountTables& tables)
{
    struct stat opened
    {};
    if (fd < 0 || ::fstat(fd, &opened) != 0)
        return {};
    const std::vector<BlockDevice> devices = blockDevices(tables.sysClassBlock);
    std::set<dev_t> carriers; // block devices whose mounts show these bytes
    std::set<FileId> files; // files whose direct mounts do

    // The partitions of a disk that hold some of `range` of the disk.
    const auto addDisk = [&](dev_t disk, ByteRange range) {
        carriers.insert(disk);
        for (const BlockDevice& d : devices)
            if (d.disk == disk && overlaps(d.start, d.size, range))
                carriers.insert(d.number);
    };
    if (S_ISREG(opened.st_mode)) {
        files.insert({opened.st_dev, opened.st_ino});
        for (const BlockDevice& d : devices) {
            if (d.backing != FileId{opened.st_dev, opened.st_ino})
                continue;
            const std::uint64_t count = d.loopSize ? d.loopSize : UINT64_MAX;
            if (!overlaps(d.loopOffset, count, part))
                continue;
            // The part as the loop device sees it.
            const std::uint64_t first = part.first > d.loopOffset ? part.first - d.loopOffset : 0;
            addDisk(d.number, {first, endOf(part.first, part.count) - d.loopOffset - first});
        }
    } else if (S_ISBLK(opened.st_mode)) {
        addDisk(opened.st_rdev, part);
        for (const BlockDevice& d : devices)
            if (d.number == opened.st_rdev && d.backing)
                files.insert(*d.backing); // a loop device: its file may be mounted directly too
    } else {
        return {};
    }

    std::vector<SourceMount> mounts;
    std::ifstream in(tables.mountInfo);
    std::string line;
    while (std::getline(in, line)) {
        // id parent major:minor root mount-point options [optional...] - type source super-options
        std::istringstream fields(line);
        std::string id, parent, number, root, mountPoint, options, word;
        fields >> id >> parent >> number >> root >> mountPoint >> options;
        while (fields >> word && word != "-") {}
        std::string type, source, superOptions;
        fields >> type >> source >> superOptions;
        const auto device = deviceNumber(number);
        if (!device)
            continue;
        bool ours = carriers.count(*device) != 0;
        const std::string sourcePath = unescaped(source);
        struct stat info
        {};
        if (!ours && sourcePath.starts_with('/') && ::stat(sourcePath.c_str(), &info) == 0)
            ours = (S_ISBLK(info.st_mode) && carriers.count(info.st_rdev)) ||
                (S_ISREG(info.st_mode) && files.count({info.st_dev, info.st_ino}));
        if (ours)
            mounts.push_back({*device, hasWord(options, "rw") || hasWord(superOptions, "rw")});
    }
    return mounts;
}

} // namespace orv
