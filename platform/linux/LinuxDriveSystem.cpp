#include "platform/linux/LinuxDriveSystem.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>

#include "base/ConfigFolder.h"
#include "base/Trim.h"
#include "platform/linux/ContainerDevice.h"
#include "platform/linux/FileDevice.h"
#include "volume/PartitionDevice.h"
#include "volume/PartitionTable.h"
#include "volume/VolumeDevice.h"

namespace orv {

namespace fs = std::filesystem;

namespace {

std::string readFirstLine(const fs::path& file)
{
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return std::string(trimBlanks(line));
}

bool startsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

// Two paths that name the same file or device count as one drive.
std::string canonical(const std::string& path)
{
    std::error_code error;
    const fs::path resolved = fs::canonical(path, error);
    return error ? path : resolved.string();
}

// "sda10" after "sda9": digits compare as numbers.
bool naturalLess(const std::string& a, const std::string& b)
{
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (std::isdigit(static_cast<unsigned char>(a[i])) && std::isdigit(static_cast<unsigned char>(b[j]))) {
            std::size_t ie = i, je = j;
            while (ie < a.size() && std::isdigit(static_cast<unsigned char>(a[ie])))
                ++ie;
            while (je < b.size() && std::isdigit(static_cast<unsigned char>(b[je])))
                ++je;
            const std::string na = a.substr(i, ie - i), nb = b.substr(j, je - j);
            if (na.size() != nb.size())
                return na.size() < nb.size();
            if (na != nb)
                return na < nb;
            i = ie;
            j = je;
        } else {
            if (a[i] != b[j])
                return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

struct DetectedDevice
{
    std::string name;
    bool removable = false;
};

bool hasPartitions(const fs::path& disk)
{
    std::error_code error;
    for (const auto& child : fs::directory_iterator(disk, error))
        if (fs::exists(child.path() / "partition", error))
            return true;
    return false;
}

std::vector<DetectedDevice> detectBlockDevices(const fs::path& sysClassBlock)
{
    std::vector<DetectedDevice> found;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(sysClassBlock, error)) {
        const std::string name = entry.path().filename().string();
        if (startsWith(name, "sr") || startsWith(name, "ram") || startsWith(name, "zram") || startsWith(name, "fd"))
            continue;
        const fs::path dir = entry.path();
        if (readFirstLine(dir / "size") == "0" || readFirstLine(dir / "size").empty())
            continue; // an empty card reader or a loop device with nothing attached
        const bool isPartition = fs::exists(dir / "partition", error);
        if (!isPartition && hasPartitions(dir))
            continue; // its partitions are the drives
        if (!isPartition && startsWith(name, "loop") && !fs::exists(dir / "loop" / "backing_file", error))
            continue;
        const fs::path disk = isPartition ? dir / ".." : dir;
        found.push_back({name, readFirstLine(disk / "removable") == "1"});
    }
    std::sort(found.begin(), found.end(),
              [](const DetectedDevice& a, const DetectedDevice& b) { return naturalLess(a.name, b.name); });
    return found;
}

std::map<std::string, std::string> readDriveMap(const fs::path& file)
{
    std::map<std::string, std::string> map;
    if (file.empty())
        return map;
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        const std::string text(trimBlanks(line));
        if (text.empty() || text[0] == '#')
            continue;
        const auto space = text.find_first_of(" \t");
        if (space == std::string::npos)
            continue;
        const std::string letter = normaliseDriveLetter(text.substr(0, space));
        const std::string path(trimBlanks(std::string_view(text).substr(space)));
        if (!letter.empty() && !path.empty() && !map.count(letter))
            map.emplace(letter, path);
    }
    return map;
}

// Removable as the kernel sees the disk that holds `path`; image files are fixed.
bool isRemovable(const std::string& path, const fs::path& sysClassBlock)
{
    struct stat info
    {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISBLK(info.st_mode))
        return false;
    const fs::path dev = sysClassBlock / ".." / ".." / "dev" / "block" /
        (std::to_string(major(info.st_rdev)) + ":" + std::to_string(minor(info.st_rdev)));
    std::error_code error;
    const fs::path disk = fs::exists(dev / "partition", error) ? dev / ".." : dev;
    return readFirstLine(disk / "removable") == "1";
}

} // namespace

fs::path LinuxDriveSources::defaultDriveMapFile()
{
    const fs::path config = userConfigFolder();
    return config.empty() ? fs::path() : config / "Orvandel" / "drives";
}

std::string fileSystemNameOfMountType(std::string_view type)
{
    if (type == "ntfs" || type == "ntfs3")
        return "NTFS";
    return {};
}

LinuxDriveSystem::LinuxDriveSystem(LinuxDriveSources sources) : m_sources(std::move(sources)) {}

void LinuxDriveSystem::addDrive(const std::string& letter, const std::string& path, std::optional<int> partition)
{
    const std::string normal = normaliseDriveLetter(letter);
    if (!normal.empty())
        m_added[normal] = {path, partition};
}

std::string LinuxDriveSystem::addImage(const std::string& path)
{
    if (struct stat info{}; ::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode) && !S_ISBLK(info.st_mode))
        return {};
    const std::vector<DriveEntry> table = drives();
    std::set<std::string> taken;
    for (const DriveEntry& entry : table) {
        if (canonical(entry.path) == canonical(path))
            return {};
        taken.insert(entry.letter);
    }
    for (char letter = 'C'; letter <= 'Z'; ++letter) {
        const std::string name{letter, ':'};
        if (!taken.count(name)) {
            addDrive(name, path);
            return name;
        }
    }
    return {};
}

std::vector<int> LinuxDriveSystem::volumesOf(const std::string& path)
{
    struct stat info
    {};
    if (::stat(path.c_str(), &info) != 0)
        return {0};
    Layout& layout = m_layouts[path];
    const auto modified = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
    if (S_ISREG(info.st_mode) && layout.size == info.st_size && layout.modified == modified)
        return layout.volumes;
    layout = {S_ISREG(info.st_mode) ? static_cast<std::int64_t>(info.st_size) : -1, modified, {0}};
    const OpenedImage image = openImage(path);
    if (!image.device)
        return layout.volumes;
    PartitionTable table = readPartitionTable(*image.device);
    if (table.scheme == PartitionScheme::None || table.refused())
        return layout.volumes;
    identifyFileSystems(*image.device, table);
    std::vector<int> volumes;
    for (const Partition& p : table.partitions)
        if (scannable(p.fileSystem))
            volumes.push_back(p.number);
    if (!volumes.empty())
        layout.volumes = volumes;
    return layout.volumes;
}

std::vector<DriveEntry> LinuxDriveSystem::drives()
{
    struct Wanted
    {
        std::string path;
        std::optional<int> partition;
    };
    std::map<std::string, Wanted> wanted;
    for (const auto& [letter, added] : m_added)
        wanted.emplace(letter, Wanted{added.path, added.partition});
    for (const auto& [letter, path] : readDriveMap(m_sources.driveMapFile))
        wanted.emplace(letter, Wanted{path, std::nullopt});

    // Letters written in the map or given on the command line are placed first; the further
    // partitions of a mapped disk take the free letters after their disk's letter.
    std::map<std::string, std::pair<std::string, int>> table;
    std::vector<std::pair<std::string, std::vector<int>>> disks; // letter, further partitions
    for (const auto& [letter, w] : wanted) {
        if (w.partition) {
            table.emplace(letter, std::pair{w.path, *w.partition});
            continue;
        }
        const std::vector<int> volumes = volumesOf(w.path);
        table.emplace(letter, std::pair{w.path, volumes.front()});
        if (volumes.size() > 1)
            disks.emplace_back(letter, std::vector<int>(volumes.begin() + 1, volumes.end()));
    }
    for (const auto& [letter, further] : disks) {
        const std::string path = table.at(letter).first;
        char next = letter[0];
        for (const int number : further) {
            while (next <= 'Z' && table.count(std::string{next, ':'}))
                ++next;
            if (next > 'Z')
                break;
            table.emplace(std::string{next, ':'}, std::pair{path, number});
        }
    }

    std::set<std::string> known;
    for (const auto& [letter, source] : table)
        known.insert(canonical(source.first));

    char next = 'C';
    for (const DetectedDevice& device : detectBlockDevices(m_sources.sysClassBlock)) {
        const std::string path = (m_sources.devFolder / device.name).string();
        if (!known.insert(canonical(path)).second)
            continue;
        while (next <= 'Z' && table.count(std::string{next, ':'}))
            ++next;
        if (next > 'Z')
            break;
        table.emplace(std::string{next, ':'}, std::pair{path, 0});
    }

    std::vector<DriveEntry> entries;
    for (const auto& [letter, source] : table)
        entries.push_back({letter, source.first,
                           isRemovable(source.first, m_sources.sysClassBlock) ? DriveType::Removable : DriveType::Fixed,
                           source.second});
    return entries;
}

std::optional<DriveEntry> LinuxDriveSystem::entryOf(std::string_view letter)
{
    const std::string normal = normaliseDriveLetter(letter);
    if (normal.empty())
        return std::nullopt;
    if (const auto added = m_added.find(normal); added != m_added.end() && added->second.partition)
        return DriveEntry{normal, added->second.path, DriveType::Fixed, *added->second.partition};
    for (DriveEntry& entry : drives())
        if (entry.letter == normal)
            return std::move(entry);
    return std::nullopt;
}

std::string LinuxDriveSystem::pathOf(std::string_view letter)
{
    const auto entry = entryOf(letter);
    return entry ? entry->path : std::string();
}

std::shared_ptr<SectorDevice> LinuxDriveSystem::openDrive(std::string_view letter)
{
    const auto entry = entryOf(letter);
    if (!entry)
        return nullptr;
    OpenedImage image = openImage(entry->path);
    if (!image.device || entry->partition == 0)
        return image.device;
    const PartitionTable table = readPartitionTable(*image.device);
    for (const Partition& p : table.partitions)
        if (p.number == entry->partition && !p.extended)
            return std::make_shared<PartitionDevice>(image.device, p.firstByte, p.byteCount);
    return nullptr;
}

bool LinuxDriveSystem::driveExists(std::string_view letter)
{
    const std::string path = pathOf(letter);
    struct stat info
    {};
    return !path.empty() && ::stat(path.c_str(), &info) == 0 && (S_ISBLK(info.st_mode) || S_ISREG(info.st_mode));
}

// One line of the mount table: id parent major:minor root mount-point options [optional...] -
// type source super-options. Blanks, tabs and backslashes in the mount point come octal-escaped.
struct LinuxDriveSystem::Mount
{
    std::string type;
    fs::path mountPoint;
};

namespace {

std::string unescapeMountField(const std::string& field)
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

std::string deviceNumberOf(dev_t device)
{
    return std::to_string(major(device)) + ":" + std::to_string(minor(device));
}

} // namespace

std::vector<LinuxDriveSystem::Mount> LinuxDriveSystem::mountsOf(const std::string& path)
{
    struct stat info
    {};
    if (path.empty() || ::stat(path.c_str(), &info) != 0)
        return {};
    // What a mount of this drive names as its device: the device number and the device's path.
    std::set<std::string> numbers;
    std::set<std::string> devices;
    if (S_ISBLK(info.st_mode)) {
        numbers.insert(deviceNumberOf(info.st_rdev));
        devices.insert(canonical(path));
    } else if (S_ISREG(info.st_mode)) {
        // An image file is mounted through a loop device that has it as its backing file.
        const std::string image = canonical(path);
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(m_sources.sysClassBlock, error)) {
            const std::string name = entry.path().filename().string();
            if (!startsWith(name, "loop") || readFirstLine(entry.path() / "loop" / "backing_file") != image)
                continue;
            if (const std::string number = readFirstLine(entry.path() / "dev"); !number.empty())
                numbers.insert(number);
            devices.insert(canonical((m_sources.devFolder / name).string()));
        }
    }
    std::vector<Mount> mounts;
    if (numbers.empty() && devices.empty())
        return mounts;
    std::ifstream in(m_sources.mountInfo);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string id, parent, number, root, mountPoint, word;
        fields >> id >> parent >> number >> root >> mountPoint;
        while (fields >> word && word != "-") {}
        std::string type, source;
        fields >> type >> source;
        if (numbers.count(number) || devices.count(canonical(unescapeMountField(source))))
            mounts.push_back({type, unescapeMountField(mountPoint)});
    }
    return mounts;
}

// A partition read out of a disk or image is not the device a mount names, so for those the
// mount table has nothing to say and the boot sector decides.
std::string LinuxDriveSystem::fileSystemName(std::string_view letter)
{
    const auto entry = entryOf(letter);
    struct stat info
    {};
    if (!entry || entry->partition != 0 || ::stat(entry->path.c_str(), &info) != 0 || !S_ISBLK(info.st_mode))
        return {}; // an image file is mounted by no one we could ask
    const std::vector<Mount> mounts = mountsOf(entry->path);
    return mounts.empty() ? std::string() : fileSystemNameOfMountType(mounts.front().type);
}

fs::path LinuxDriveSystem::mountPoint(std::string_view letter)
{
    const auto entry = entryOf(letter);
    if (!entry || entry->partition != 0)
        return {};
    const std::vector<Mount> mounts = mountsOf(entry->path);
    return mounts.empty() ? fs::path() : mounts.front().mountPoint;
}

} // namespace orv
