#include "tests/support/Devices.h"

#include <algorithm>

namespace orv::test {

bool MemoryDevice::fits(std::uint64_t position, std::size_t count) const
{
    if (position % m_sectorSize != 0 || count % m_sectorSize != 0)
        return false;
    return position <= m_bytes.size() && count <= m_bytes.size() - position;
}

bool MemoryDevice::read(std::uint64_t bytePosition, std::span<std::uint8_t> out)
{
    ++reads;
    readPositions.push_back(bytePosition);
    if (!fits(bytePosition, out.size()))
        return false;
    std::copy_n(m_bytes.begin() + static_cast<std::ptrdiff_t>(bytePosition), out.size(), out.begin());
    return true;
}

bool MemoryDevice::write(std::uint64_t bytePosition, std::span<const std::uint8_t> in)
{
    ++writes;
    if (!fits(bytePosition, in.size()))
        return false;
    std::copy(in.begin(), in.end(), m_bytes.begin() + static_cast<std::ptrdiff_t>(bytePosition));
    return true;
}

bool ScribbleThenFailDevice::read(std::uint64_t, std::span<std::uint8_t> out)
{
    std::fill(out.begin(), out.end(), std::uint8_t{0xAA});
    return false;
}

void FakeDriveSystem::add(const std::string& letter, std::shared_ptr<SectorDevice> device, std::string fileSystemName)
{
    m_drives[normaliseDriveLetter(letter)] = Drive{std::move(device), std::move(fileSystemName), {}};
}

std::vector<DriveEntry> FakeDriveSystem::drives()
{
    std::vector<DriveEntry> entries;
    for (const auto& [letter, drive] : m_drives)
        entries.push_back({letter, "memory:" + letter, DriveType::Fixed});
    return entries;
}

std::shared_ptr<SectorDevice> FakeDriveSystem::openDrive(std::string_view letter)
{
    const auto found = m_drives.find(normaliseDriveLetter(letter));
    return found == m_drives.end() ? nullptr : found->second.device;
}

std::string FakeDriveSystem::fileSystemName(std::string_view letter)
{
    const auto found = m_drives.find(normaliseDriveLetter(letter));
    return found == m_drives.end() ? std::string() : found->second.fileSystemName;
}

std::filesystem::path FakeDriveSystem::mountPoint(std::string_view letter)
{
    const auto found = m_drives.find(normaliseDriveLetter(letter));
    return found == m_drives.end() ? std::filesystem::path() : found->second.mountPoint;
}

void FakeDriveSystem::setMountPoint(const std::string& letter, std::filesystem::path folder)
{
    m_drives[normaliseDriveLetter(letter)].mountPoint = std::move(folder);
}

} // namespace orv::test
