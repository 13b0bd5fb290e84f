#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace orv {

// Reads little-endian fields out of bytes that came from a disk. Every read says what happens
// when the bytes are short, so a lying length field can never take us outside the view.
class LeReader
{
public:
    explicit LeReader(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}

    std::size_t size() const { return m_bytes.size(); }
    std::span<const std::uint8_t> bytes() const { return m_bytes; }

    // True when [offset, offset + count) lies inside the view; written so it cannot wrap.
    bool has(std::size_t offset, std::size_t count) const
    {
        return offset <= m_bytes.size() && count <= m_bytes.size() - offset;
    }

    // Little-endian unsigned field of 1..8 bytes.
    std::optional<std::uint64_t> uint(std::size_t offset, std::size_t width) const
    {
        if (width == 0 || width > 8 || !has(offset, width))
            return std::nullopt;
        std::uint64_t value = 0;
        for (std::size_t i = width; i-- > 0;)
            value = (value << 8) | m_bytes[offset + i];
        return value;
    }

    std::optional<std::uint8_t> u8(std::size_t offset) const
    {
        if (!has(offset, 1))
            return std::nullopt;
        return m_bytes[offset];
    }
    std::optional<std::uint16_t> u16(std::size_t offset) const { return narrow<std::uint16_t>(offset, 2); }
    std::optional<std::uint32_t> u32(std::size_t offset) const { return narrow<std::uint32_t>(offset, 4); }
    std::optional<std::uint64_t> u64(std::size_t offset) const { return uint(offset, 8); }

    // The view [offset, offset + count), or nothing when it does not fit.
    std::optional<std::span<const std::uint8_t>> slice(std::size_t offset, std::size_t count) const
    {
        if (!has(offset, count))
            return std::nullopt;
        return m_bytes.subspan(offset, count);
    }

private:
    template <typename T>
    std::optional<T> narrow(std::size_t offset, std::size_t width) const
    {
        const auto value = uint(offset, width);
        if (!value)
            return std::nullopt;
        return static_cast<T>(*value);
    }

    std::span<const std::uint8_t> m_bytes;
};

// Two's complement of a field `width` bytes wide (1..8), widened to 64 bits.
inline std::int64_t signExtend(std::uint64_t value, std::size_t width)
{
    if (width == 0 || width >= 8)
        return static_cast<std::int64_t>(value);
    const unsigned bits = static_cast<unsigned>(width * 8);
    const std::uint64_t signBit = std::uint64_t{1} << (bits - 1);
    const std::uint64_t mask = (std::uint64_t{1} << bits) - 1;
    value &= mask;
    return static_cast<std::int64_t>((value ^ signBit) - signBit);
}

} // namespace orv
