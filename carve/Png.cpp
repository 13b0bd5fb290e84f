// PNG: the signature, IHDR first, then chunks whose CRC-32 covers their type and data, to IEND.

#include <cstring>

#include <zlib.h>

#include "carve/BlockReader.h"
#include "carve/Parsers.h"

namespace orv::carve {

namespace {

constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
// A chunk is at most 2^31 - 1 bytes long.
constexpr std::uint64_t kLongestChunk = 0x7FFFFFFF;

bool isLetter(int c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// CRC-32 of [from, from + count), read a block at a time; nullopt when the bytes run out.
std::optional<std::uint32_t> crcOf(BlockReader& in, std::uint64_t from, std::uint64_t count)
{
    uLong crc = crc32(0, nullptr, 0);
    while (count > 0) {
        std::span<const std::uint8_t> w = in.window(from);
        if (w.empty())
            return std::nullopt;
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(w.size(), count));
        crc = crc32(crc, w.data(), static_cast<uInt>(n));
        from += n;
        count -= n;
    }
    return static_cast<std::uint32_t>(crc);
}

} // namespace

bool beginsPng(std::span<const std::uint8_t> head)
{
    return head.size() >= 16 && std::memcmp(head.data(), kSignature, 8) == 0 && head[8] == 0 && head[9] == 0 &&
        head[10] == 0 && head[11] == 13 && std::memcmp(head.data() + 12, "IHDR", 4) == 0;
}

Parse parsePng(Bytes& bytes, std::uint64_t limit, std::uint64_t stopAfter)
{
    BlockReader in(bytes, limit);
    Parse p;
    p.extension = "png";
    std::uint8_t signature[8];
    if (!in.get(0, signature) || std::memcmp(signature, kSignature, 8) != 0)
        return p;
    std::uint64_t pos = 8;
    for (bool first = true;; first = false) {
        if (stopAfter != 0 && pos > stopAfter)
            break;
        std::uint8_t header[8];
        if (!in.get(pos, header))
            break;
        const std::uint64_t length =
            (std::uint64_t{header[0]} << 24) | (header[1] << 16) | (header[2] << 8) | header[3];
        const bool named = isLetter(header[4]) && isLetter(header[5]) && isLetter(header[6]) && isLetter(header[7]);
        const bool ihdr = std::memcmp(header + 4, "IHDR", 4) == 0;
        const bool iend = std::memcmp(header + 4, "IEND", 4) == 0;
        if (!named || length > kLongestChunk || ihdr != first || (ihdr && length != 13) || (iend && length != 0)) {
            p.brokeAt = pos + 8;
            break;
        }
        const std::uint64_t end = pos + 12 + length;
        const auto crc = crcOf(in, pos + 4, 4 + length);
        const auto stored = in.be(pos + 8 + length, 4);
        if (!crc || !stored)
            break; // the bytes ran out inside the chunk
        if (*crc != *stored) {
            p.brokeAt = end;
            break;
        }
        pos = end;
        if (iend) {
            p.verdict = Verdict::Whole;
            p.size = pos;
            p.goodUpTo = pos;
            p.contentChecked = true;
            return p;
        }
    }
    // Cut at the last chunk that checked out; a file whose IHDR did not check out is no PNG.
    if (pos == 8)
        return Parse{.extension = "png"};
    p.verdict = Verdict::Cut;
    p.size = pos;
    p.goodUpTo = pos;
    return p;
}

} // namespace orv::carve
