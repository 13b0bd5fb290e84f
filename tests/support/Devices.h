#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/DriveSystem.h"
#include "platform/SectorDevice.h"

namespace orv::test {

// A volume in memory. Reads past its end fail, as they do on a real device. `sectorSize` makes
// it refuse transfers that are not whole sectors, the way an unbuffered disk does.
class MemoryDevice : public SectorDevice
{
public:
    explicit MemoryDevice(std::vector<std::uint8_t> bytes, std::size_t sectorSize = 1)
        : m_bytes(std::move(bytes)), m_sectorSize(sectorSize)
    {}

    bool read(std::uint64_t bytePosition, std::span<std::uint8_t> out) override;
    bool write(std::uint64_t bytePosition, std::span<const std::uint8_t> in) override;
    std::optional<std::uint64_t> size() override { return m_bytes.size(); }

    std::vector<std::uint8_t>& bytes() { return m_bytes; }
    int reads = 0;
    int writes = 0;
    std::vector<std::uint64_t> readPositions;

private:
    bool fits(std::uint64_t position, std::size_t count) const;

    std::vector<std::uint8_t> m_bytes;
    std::size_t m_sectorSize;
};

// Fills the buffer with 0xAA and then reports failure: catches callers that would show stale or
// half-read bytes instead of zeros.
class ScribbleThenFailDevice : public SectorDevice
{
public:
    bool read(std::uint64_t, std::span<std::uint8_t> out) override;
    bool write(std::uint64_t, std::span<const std::uint8_t>) override { return false; }
};

// A drive table in memory: letters mapped to devices and to the file-system names the operating
// system would report for them.
class FakeDriveSystem : public DriveSystem
{
public:
    void add(const std::string& letter, std::shared_ptr<SectorDevice> device, std::string fileSystemName = {});

    std::vector<DriveEntry> drives() override;
    std::shared_ptr<SectorDevice> openDrive(std::string_view letter) override;
    bool driveExists(std::string_view letter) override { return openDrive(letter) != nullptr; }
    std::string fileSystemName(std::string_view letter) override;
    std::filesystem::path mountPoint(std::string_view letter) override;
    void setMountPoint(const std::string& letter, std::filesystem::path folder);

private:
    struct Drive
    {
        std::shared_ptr<SectorDevice> device;
        std::string fileSystemName;
        std::filesystem::path mountPoint;
    };
    std::map<std::string, Drive> m_drives;
};

} // namespace orv::test
