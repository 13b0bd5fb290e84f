#pragma once

#include <string>

#include "SectorDevice.h"

namespace orv {

// A block device or an image file by its path. Every transfer opens the path, moves all its
// bytes (pread/pwrite may move fewer than asked, so it loops) and closes it again, so nothing
// stays open between transfers and a drive that goes away simply fails the next one.
class FileDevice final : public SectorDevice
{
public:
    explicit FileDevice(std::string path) : m_path(std::move(path)) {}

    bool read(std::uint64_t bytePosition, std::span<std::uint8_t> out) override;
    bool write(std::uint64_t bytePosition, std::span<const std::uint8_t> in) override;
    std::optional<std::uint64_t> size() override;

    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

} // namespace orv
