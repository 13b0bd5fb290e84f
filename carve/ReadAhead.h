#pragma once

// A parser's view of a candidate file: fields at scattered offsets and long runs of content, read
// from the disk in large blocks and never past the parse's limit.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <span>
#include <vector>

#include "carve/Format.h"

namespace orv::carve {

class ReadAhead
{
public:
    static constexpr std::size_t kBlock = 64 * 1024;

    ReadAhead(Bytes& bytes, std::uint64_t limit) : m_bytes(bytes), m_limit(limit) {}

    std::uint64_t limit() const { return m_limit; }

    // The bytes from `offset` on that one block holds: at most kBlock, fewer where the file's bytes
    // or the limit end, none past them.
    std::span<const std::uint8_t> window(std::uint64_t offset)
    {
        if (offset < m_blockStart || offset - m_blockStart >= m_blockSize) {
            if (offset >= m_limit || offset >= m_end)
                return {};
            load(offset);
        }
        const auto skip = static_cast<std::size_t>(offset - m_blockStart);
        return std::span<const std::uint8_t>(m_block).subspan(skip, m_blockSize - skip);
    }

    // Copies [offset, offset + into.size()) into `into`; false when any of it is missing.
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

    std::optional<std::uint64_t> be(std::uint64_t offset, std::size_t width) { return field(offset, width, true); }
    std::optional<std::uint64_t> le(std::uint64_t offset, std::size_t width) { return field(offset, width, false); }

private:
    std::optional<std::uint64_t> field(std::uint64_t offset, std::size_t width, bool bigEndian)
    {
        std::uint8_t raw[8];
        if (width == 0 || width > 8 || !get(offset, std::span(raw, width)))
            return std::nullopt;
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < width; ++i)
            value = (value << 8) | raw[bigEndian ? i : width - 1 - i];
        return value;
    }

    void load(std::uint64_t offset)
    {
        m_block.resize(kBlock);
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(kBlock, m_limit - offset));
        const std::size_t got = m_bytes.read(offset, std::span(m_block).first(want));
        m_blockStart = offset;
        m_blockSize = std::min(got, want);
        // A short read is where the file's bytes end for this parse.
        if (m_blockSize < want)
            m_end = offset + m_blockSize;
    }

    Bytes& m_bytes;
    std::uint64_t m_limit;
    std::uint64_t m_end = std::numeric_limits<std::uint64_t>::max();
    std::vector<std::uint8_t> m_block;
    std::uint64_t m_blockStart = 0;
    std::size_t m_blockSize = 0;
};

} // namespace orv::carve
