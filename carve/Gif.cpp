// GIF: the header, the logical screen and its colour table, then extension and image blocks
// (each a chain of sub-blocks) to the trailer. The images' LZW data is decoded to check it: every
// code must be one the table holds, and each image must come out at exactly its own pixel count.

#include <array>
#include <cstring>

#include "carve/BlockReader.h"
#include "carve/Parsers.h"

namespace orv::carve {

namespace {

constexpr int kTrailer = 0x3B;
constexpr int kExtension = 0x21;
constexpr int kImage = 0x2C;

// Follows an LZW stream code by code, keeping only each code's length: enough to count pixels
// and to tell a code the table cannot hold.
class LzwCheck
{
public:
    LzwCheck(int minCodeSize, std::uint64_t pixels) : m_min(minCodeSize), m_pixels(pixels) { reset(); }

    void feed(std::span<const std::uint8_t> data)
    {
        for (const std::uint8_t byte : data) {
            if (m_done || m_bad)
                return; // what follows the end code (or a bad code) is not read
            m_bits |= std::uint32_t{byte} << m_bitCount;
            m_bitCount += 8;
            while (m_bitCount >= m_codeSize && !m_done && !m_bad) {
                const std::uint32_t code = m_bits & ((1u << m_codeSize) - 1);
                m_bits >>= m_codeSize;
                m_bitCount -= m_codeSize;
                take(code);
            }
        }
    }
    // Whether the stream ended with its end code after exactly the image's pixels.
    bool good() const { return m_done && !m_bad && m_count == m_pixels; }
    bool bad() const { return m_bad; }

private:
    void reset()
    {
        m_codeSize = m_min + 1;
        m_next = (1u << m_min) + 2;
        m_previous = -1;
    }

    void take(std::uint32_t code)
    {
        const std::uint32_t clear = 1u << m_min;
        if (code == clear) {
            reset();
            return;
        }
        if (code == clear + 1) {
            m_done = true;
            return;
        }
        std::uint32_t length = 0;
        if (code < clear) {
            length = 1;
        } else if (code < m_next) {
            length = m_length[code];
        } else if (code == m_next && m_previous >= 0) {
            length = lengthOf(static_cast<std::uint32_t>(m_previous)) + 1;
        } else {
            m_bad = true;
            return;
        }
        if (m_previous >= 0 && m_next < 4096) {
            m_length[m_next] = lengthOf(static_cast<std::uint32_t>(m_previous)) + 1;
            ++m_next;
            if (m_next == (1u << m_codeSize) && m_codeSize < 12)
                ++m_codeSize;
        }
        m_previous = static_cast<int>(code);
        m_count += length;
        if (m_count > m_pixels)
            m_bad = true;
    }

    std::uint32_t lengthOf(std::uint32_t code) const { return code < (1u << m_min) ? 1 : m_length[code]; }

    int m_min;
    std::uint64_t m_pixels;
    std::uint64_t m_count = 0;
    std::uint32_t m_bits = 0;
    int m_bitCount = 0;
    int m_codeSize = 0;
    std::uint32_t m_next = 0;
    int m_previous = -1;
    bool m_done = false;
    bool m_bad = false;
    std::array<std::uint32_t, 4096> m_length{};
};

// Walks a chain of sub-blocks from `pos` to its terminator; the position after it, or nullopt
// when the bytes run out. Feeds the data to `lzw` when given, and sets `badAt` to the end of the
// sub-block where its data first went wrong.
std::optional<std::uint64_t> subBlocks(BlockReader& in, std::uint64_t pos, LzwCheck* lzw, std::uint64_t* badAt)
{
    for (;;) {
        const int length = in.at(pos);
        if (length < 0)
            return std::nullopt;
        if (length == 0)
            return pos + 1;
        std::uint8_t data[255];
        if (!in.get(pos + 1, std::span(data, static_cast<std::size_t>(length))))
            return std::nullopt;
        if (lzw != nullptr) {
            lzw->feed(std::span(data, static_cast<std::size_t>(length)));
            if (lzw->bad() && *badAt == 0)
                *badAt = pos + 1 + static_cast<std::uint64_t>(length);
        }
        pos += 1 + static_cast<std::uint64_t>(length);
    }
}

std::uint64_t colourTable(int flags)
{
    return (flags & 0x80) != 0 ? 3u << ((flags & 7) + 1) : 0;
}

} // namespace

bool beginsGif(std::span<const std::uint8_t> head)
{
    if (head.size() < 13 || (std::memcmp(head.data(), "GIF87a", 6) != 0 && std::memcmp(head.data(), "GIF89a", 6) != 0))
        return false;
    const int width = head[6] | (head[7] << 8);
    const int height = head[8] | (head[9] << 8);
    return width != 0 && height != 0;
}

Parse parseGif(Bytes& bytes, std::uint64_t limit, std::uint64_t stopAfter)
{
    BlockReader in(bytes, limit);
    Parse p;
    p.extension = "gif";
    std::uint8_t header[13];
    if (!in.get(0, header) || !beginsGif(header))
        return p;
    const std::uint64_t first = 13 + colourTable(header[10]);
    std::uint64_t pos = first;
    bool decoded = true;
    std::uint64_t damagedFrom = 0;
    std::uint64_t damagedTo = 0;
    bool begun = false;
    for (;;) {
        if (stopAfter != 0 && pos > stopAfter)
            break;
        const int introducer = in.at(pos);
        if (introducer < 0)
            break;
        std::optional<std::uint64_t> next;
        begun = begun || introducer == kExtension || introducer == kImage;
        if (introducer == kTrailer) {
            if (pos == first)
                break; // a file without blocks is no picture
            p.verdict = Verdict::Whole;
            p.size = pos + 1;
            p.goodUpTo = damagedTo != 0 ? damagedFrom : p.size;
            p.brokeAt = damagedTo;
            p.contentChecked = decoded;
            return p;
        }
        if (introducer == kExtension) {
            if (in.at(pos + 1) < 0)
                break;
            next = subBlocks(in, pos + 2, nullptr, nullptr);
        } else if (introducer == kImage) {
            std::uint8_t descriptor[10];
            if (!in.get(pos + 1, descriptor))
                break;
            const std::uint64_t width = descriptor[4] | (descriptor[5] << 8);
            const std::uint64_t height = descriptor[6] | (descriptor[7] << 8);
            const std::uint64_t dataAt = pos + 10 + colourTable(descriptor[8]);
            const int minCodeSize = in.at(dataAt);
            if (minCodeSize < 0)
                break;
            if (minCodeSize < 2 || minCodeSize > 8) {
                p.brokeAt = dataAt + 1;
                break;
            }
            LzwCheck lzw(minCodeSize, width * height);
            std::uint64_t badAt = 0;
            next = subBlocks(in, dataAt + 1, &lzw, &badAt);
            if (!next && badAt != 0) {
                // Out of bytes, but the picture had already gone wrong: that is the break.
                p.brokeAt = badAt;
                break;
            }
            if (next && !lzw.good()) {
                // The layout holds but the picture does not decode: the damage lies in this image.
                if (decoded) {
                    damagedFrom = pos;
                    damagedTo = badAt != 0 ? badAt : *next;
                }
                decoded = false;
            }
        } else {
            p.brokeAt = pos + 1;
            break;
        }
        if (!next)
            break; // ran out inside the block
        pos = *next;
    }
    // A file is taken once a block began after the header: a one-picture file stored in two
    // fragments breaks inside its only block, and is then cut at its colour table.
    if (!begun)
        return Parse{.extension = "gif"};
    p.verdict = Verdict::Cut;
    p.goodUpTo = damagedTo != 0 ? damagedFrom : pos;
    p.brokeAt = damagedTo != 0 ? damagedTo : p.brokeAt;
    p.size = p.goodUpTo;
    return p;
}

} // namespace orv::carve
