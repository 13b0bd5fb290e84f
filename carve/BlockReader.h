#pragma once

// Reads a candidate file through `Bytes` in large blocks, so a parser that walks a file field by
// field still asks the disk for 64 KiB at a time. Nothing past the parse's limit is ever read, and
// a short read fixes where the bytes end for the rest of the parse.

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "carve/Format.h"

namespace orv::carve {

class BlockReader
{
public:
    static constexpr std::size_t kBlock = std::size_t{64} << 10;

    BlockReader(Bytes& bytes, std::uint64_t limit) : m_bytes(bytes), m_end(limit), m_buffer(2 * kBlock) {}

    // Where the readable bytes end as far as known: the limit, or earlier once a read came short.
    std::uint64_t end() const { return m_end; }

    // The bytes [offset, offset + count) for count up to kBlock; empty when they are not all there.
    // The span stays valid until the next call.
    std::span<const std::uint8_t> get(std::uint64_t offset, std::size_t count)
    {
        if (count > kBlock || offset > m_end || count > m_end - offset)
            return {};
        if (offset < m_start || offset - m_start > m_filled || count > m_filled - (offset - m_start)) {
            const std::uint64_t want = std::min<std::uint64_t>(m_buffer.size(), m_end - offset);
            const std::size_t got = m_bytes.read(offset, std::span(m_buffer).first(static_cast<std::size_t>(want)));
            m_start = offset;
            m_filled = std::min<std::size_t>(got, static_cast<std::size_t>(want));
            if (m_filled < want)
                m_end = offset + m_filled;
            if (count > m_filled)
                return {};
        }
        return std::span<const std::uint8_t>(m_buffer).subspan(static_cast<std::size_t>(offset - m_start), count);
    }

    // As many bytes from `offset` as are there, up to `count` (at most kBlock).
    std::span<const std::uint8_t> upTo(std::uint64_t offset, std::size_t count)
    {
        if (offset >= m_end)
            return {};
        count = static_cast<std::size_t>(std::min<std::uint64_t>({count, kBlock, m_end - offset}));
        std::span<const std::uint8_t> s = get(offset, count);
        if (s.empty() && offset < m_end)
            s = get(offset, static_cast<std::size_t>(std::min<std::uint64_t>(count, m_end - offset)));
        return s;
    }

    std::optional<std::uint64_t> le(std::uint64_t offset, std::size_t width)
    {
        const std::span<const std::uint8_t> s = get(offset, width);
        if (s.empty())
            return std::nullopt;
        std::uint64_t v = 0;
        for (std::size_t i = width; i-- > 0;)
            v = (v << 8) | s[i];
        return v;
    }
    std::optional<std::uint64_t> be(std::uint64_t offset, std::size_t width)
    {
        const std::span<const std::uint8_t> s = get(offset, width);
        if (s.empty())
            return std::nullopt;
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < width; ++i)
            v = (v << 8) | s[i];
        return v;
    }

private:
    Bytes& m_bytes;
    std::uint64_t m_end;
    std::vector<std::uint8_t> m_buffer;
    std::uint64_t m_start = 0;
    std::size_t m_filled = 0;
};

// Little- and big-endian fields of a span the caller has checked is long enough.
inline std::uint64_t leAt(std::span<const std::uint8_t> s, std::size_t offset, std::size_t width)
{
    std::uint64_t v = 0;
    for (std::size_t i = width; i-- > 0;)
        v = (v << 8) | s[offset + i];
    return v;
}
inline std::uint64_t beAt(std::span<const std::uint8_t> s, std::size_t offset, std::size_t width)
{
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < width; ++i)
        v = (v << 8) | s[offset + i];
    return v;
}

} // namespace orv::carve
