#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>

#include "platform/SectorDevice.h"

namespace orv {

// One partition of a disk as a volume of its own: position 0 is the partition's first byte, and
// no transfer reaches outside the partition, so a volume's damaged run list can never read or
// write a neighbouring partition.
class PartitionDevice final : public SectorDevice
{
public:
    PartitionDevice(std::shared_ptr<SectorDevice> disk, std::uint64_t firstByte, std::uint64_t byteCount)
        : m_disk(std::move(disk)), m_first(firstByte), m_count(byteCount)
    {}

    bool read(std::uint64_t bytePosition, std::span<std::uint8_t> out) override
    {
        return inside(bytePosition, out.size()) && m_disk->read(m_first + bytePosition, out);
    }
    bool write(std::uint64_t bytePosition, std::span<const std::uint8_t> in) override
    {
        return inside(bytePosition, in.size()) && m_disk->write(m_first + bytePosition, in);
    }
    std::optional<std::uint64_t> size() override { return m_count; }
    void willRead(std::uint64_t bytePosition, std::uint64_t count) override
    {
        if (inside(bytePosition, count))
            m_disk->willRead(m_first + bytePosition, count);
    }
    bool readOnly() const override { return m_disk->readOnly(); }
    bool canWrite() override { return m_disk->canWrite(); }
    std::vector<SourceMount> mounts(ByteRange part) override
    {
        const std::uint64_t first = part.first < m_count ? part.first : m_count;
        const std::uint64_t count = part.count < m_count - first ? part.count : m_count - first;
        return m_disk->mounts({m_first + first, count});
    }
    std::unique_ptr<DeviceView> view(std::uint64_t bytePosition, std::size_t count) override
    {
        return inside(bytePosition, count) ? m_disk->view(m_first + bytePosition, count) : nullptr;
    }
    std::optional<MappableFile> mappable() override
    {
        auto file = m_disk->mappable();
        if (!file || m_first > file->size)
            return std::nullopt;
        file->offset += m_first;
        file->size = std::min(file->size - m_first, m_count);
        return file;
    }

private:
    bool inside(std::uint64_t position, std::size_t count) const
    {
        return position <= m_count && count <= m_count - position;
    }

    std::shared_ptr<SectorDevice> m_disk;
    std::uint64_t m_first;
    std::uint64_t m_count;
};

} // namespace orv
