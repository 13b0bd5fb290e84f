#pragma once

// A parser's view of a candidate file: fields at scattered offsets and long runs of content, read
// through `Bytes` in large blocks, so a parser that walks a file field by field still asks the disk
// for 128 KiB at a time. Nothing past the parse's limit is ever read, and a short read fixes where
// the bytes end for the rest of the parse.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <vector>

#include "carve/Format.h"

namespace orv::carve {

class BlockReader
{
public:
    static constexpr std::size_t kBlock = std::size_t{64} << 10;

    BlockReader(Bytes& bytes, std::uint64_t limit) : m_bytes(bytes), m_limit(limit), m_end(limit), m_buffer(2 * kBlock)
    {}

    // The most bytes the parse may take.
    std::uint64_t limit() const { return m_limit; }
    // Where the readable bytes end as far as known: the limit, or earlier once a read came short.
    std::uint64_t end() const { return m_end; }

    // The bytes [offset, offset + count) for count up to kBlock; empty when they are not all there.
    // The span stays valid until the next call.
    std::span<const std::uint8_t> get(std::uint64_t offset, std::size_t count)
    {
        if (count > kBlock || offset > m_end || count > m_end - offset)
            return {};
        if (offset < m_start || offset - m_start > m_filled || count > m_filled - (offset - m_start)) {
            load(offset);
            if (count > m_filled)
                return {};
        }
        return std::span<const std::uint8_t>(m_buffer).subspan(static_cast<std::size_t>(offset - m_start), count);
    }

    // Copies [offset, offset + into.size()) into `into`, however long; false when any of it is
    // missing.
    bool get(std::uint64_t offset, std::span<std::uint8_t> into)
    {
        std::size_t done = 0;
        while (done < into.size()) {
            const std::span<const std::uint8_t> w = window(offset + done);
            if (w.empty())
                return false;
            const std::size_t n = std::min(w.size(), into.size() - done);
            std::memcpy(into.data() + done, w.data(), n);
            done += n;
        }
        return true;
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

    // The bytes from `offset` on that one read holds, for a parser that runs through content: at
    // least one unless the bytes end there, at most 2 kBlock. The span stays valid until the next
    // call.
    std::span<const std::uint8_t> window(std::uint64_t offset)
    {
        if (offset < m_start || offset - m_start >= m_filled) {
            if (offset >= m_end)
                return {};
            load(offset);
        }
        const auto skip = static_cast<std::size_t>(offset - m_start);
        return std::span<const std::uint8_t>(m_buffer).subspan(skip, m_filled - skip);
    }

    // One byte, or -1 where there is none.
    int at(std::uint64_t offset)
    {
        const std::span<const std::uint8_t> w = window(offset);
        return w.empty() ? -1 : w[0];
    }

    // Whether the file has its bytes [0, end): inside the limit and readable.
    bool has(std::uint64_t end) { return end == 0 || at(end - 1) >= 0; }

    // How many of the bytes [0, upTo) the file has: where the limit or the readable bytes end.
    std::uint64_t extent(std::uint64_t upTo)
    {
        std::uint64_t lo = 0;
        std::uint64_t hi = std::min(upTo, m_limit);
        while (lo < hi) {
            const std::uint64_t mid = lo + (hi - lo + 1) / 2;
            if (has(mid))
                lo = mid;
            else
                hi = mid - 1;
        }
        return lo;
    }

    std::optional<std::uint64_t> le(std::uint64_t offset, std::size_t width) { return field(offset, width, false); }
    std::optional<std::uint64_t> be(std::uint64_t offset, std::size_t width) { return field(offset, width, true); }

private:
    std::optional<std::uint64_t> field(std::uint64_t offset, std::size_t width, bool bigEndian)
    {
        if (width == 0 || width > 8)
            return std::nullopt;
        const std::span<const std::uint8_t> s = get(offset, width);
        if (s.empty())
            return std::nullopt;
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < width; ++i)
            v = (v << 8) | s[bigEndian ? i : width - 1 - i];
        return v;
    }

    void load(std::uint64_t offset)
    {
        const std::uint64_t want = std::min<std::uint64_t>(m_buffer.size(), m_end - offset);
        const std::size_t got = m_bytes.read(offset, std::span(m_buffer).first(static_cast<std::size_t>(want)));
        m_start = offset;
        m_filled = std::min<std::size_t>(got, static_cast<std::size_t>(want));
        if (m_filled < want)
            m_end = offset + m_filled;
    }

    Bytes& m_bytes;
    std::uint64_t m_limit;
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
