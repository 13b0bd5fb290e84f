#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "platform/SectorDevice.h"

namespace orv {

// A file's bytes mapped into memory. A page the system cannot read would end the program with a
// bus error; a handler installed with the first view puts a page of zeros in its place instead
// and marks the view unsound. Faults outside every view go where they went before.
class MappedView final : public DeviceView
{
public:
    // `count` bytes from `bytePosition` of the file's device bytes; nothing when they do not lie
    // inside the file, the system's cache does not hold them, the system does not map them, or
    // too many views are open already.
    static std::unique_ptr<MappedView> map(const MappableFile& file, std::uint64_t bytePosition, std::size_t count);

    MappedView(const MappedView&) = delete;
    MappedView& operator=(const MappedView&) = delete;
    ~MappedView() override;

    std::span<const std::uint8_t> bytes() const override { return m_bytes; }
    bool sound() const override;

private:
    MappedView(void* mapping, std::size_t mappedLength, std::span<const std::uint8_t> bytes, std::size_t slot)
        : m_mapping(mapping), m_mappedLength(mappedLength), m_bytes(bytes), m_slot(slot)
    {}

    void* m_mapping;
    std::size_t m_mappedLength;
    std::span<const std::uint8_t> m_bytes;
    std::size_t m_slot; // where the bus-error handler finds this view
};

} // namespace orv
