#pragma once

#include <algorithm>
#include <cstring>

#include "carve/Format.h"

namespace orv::carve {

// A candidate file held in memory: what the tests and the fuzz targets give a parser.
class SpanBytes final : public Bytes
{
public:
    explicit SpanBytes(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}
    std::size_t read(std::uint64_t offset, std::span<std::uint8_t> into) override
    {
        if (offset >= m_bytes.size())
            return 0;
        const std::size_t n = std::min<std::size_t>(into.size(), m_bytes.size() - static_cast<std::size_t>(offset));
        std::memcpy(into.data(), m_bytes.data() + offset, n);
        return n;
    }

private:
    std::span<const std::uint8_t> m_bytes;
};

} // namespace orv::carve
