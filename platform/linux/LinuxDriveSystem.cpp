#include "LinuxDriveSystem.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>

#include "ConfigFolder.h"
#include "FileDevice.h"
#include "Trim.h"

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
    struct stat info {};
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

void LinuxDriveSystem::addDrive(const std::string& letter, const std::string& path)
{
    const std::string normal = normaliseDriveLetter(letter);
    if (!normal.empty())
        m_added[normal] = path;
}

std::vector<DriveEntry> LinuxDriveSystem::drives()
{
    std::map<std::string, std::string> table = m_added;
    for (const auto& [letter, path] : readDriveMap(m_sources.driveMapFile))
        table.emplace(letter, path);

    std::set<std::string> known;
    for (const auto& [letter, path] : table)
        known.insert(canonical(path));

    char next = 'C';
    for (const DetectedDevice& device : detectBlockDevices(m_sources.sysClassBlock)) {
        const std::string path = (m_sources.devFolder / device.name).string();
        if (!known.insert(canonical(path)).second)
            continue;
        while (next <= 'Z' && table.count(std::string{next, ':'}))
            ++next;
        if (next > 'Z')
            break;
        table.emplace(std::string{next, ':'}, path);
    }

    std::vector<DriveEntry> entries;
    for (const auto& [letter, path] : table)
        entries.push_back({letter, path,
                           isRemovable(path, m_sources.sysClassBlock) ? DriveType::Removable : DriveType::Fixed});
    return entries;
}

std::string LinuxDriveSystem::pathOf(std::string_view letter)
{
    const std::string normal = normaliseDriveLetter(letter);
    if (normal.empty())
        return {};
    if (const auto added = m_added.find(normal); added != m_added.end())
        return added->second;
    for (const DriveEntry& entry : drives())
        if (entry.letter == normal)
            return entry.path;
    return {};
}

std::shared_ptr<SectorDevice> LinuxDriveSystem::openDrive(std::string_view letter)
{
    const std::string path = pathOf(letter);
    if (path.empty())
        return nullptr;
    return std::make_shared<FileDevice>(path);
}

bool LinuxDriveSystem::driveExists(std::string_view letter)
{
    const std::string path = pathOf(letter);
    struct stat info {};
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
    struct stat info {};
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
        while (fields >> word && word != "-") {
        }
        std::string type, source;
        fields >> type >> source;
        if (numbers.count(number) || devices.count(canonical(unescapeMountField(source))))
            mounts.push_back({type, unescapeMountField(mountPoint)});
    }
    return mounts;
}

std::string LinuxDriveSystem::fileSystemName(std::string_view letter)
{
    const std::string path = pathOf(letter);
    struct stat info {};
    if (path.empty() || ::stat(path.c_str(), &info) != 0 || !S_ISBLK(info.st_mode))
        return {}; // an image file is mounted by no one we could ask
    const std::vector<Mount> mounts = mountsOf(path);
    return mounts.empty() ? std::string() : fileSystemNameOfMountType(mounts.front().type);
}

fs::path LinuxDriveSystem::mountPoint(std::string_view letter)
{
    const std::vector<Mount> mounts = mountsOf(pathOf(letter));
    return mounts.empty() ? fs::path() : mounts.front().mountPoint;
}

} // namespace orv
