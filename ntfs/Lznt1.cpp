#include "ntfs/Lznt1.h"

#include <algorithm>

#include "volume/LeReader.h"

namespace orv {

namespace {

constexpr std::size_t kChunkOutput = 4096;
constexpr std::uint16_t kChunkSizeMask = 0x0FFF; // stored size of the chunk's data, less one
constexpr std::uint16_t kChunkCompressed = 0x8000;

// Decompresses one chunk's data into `out`: the bytes made, or nothing when the data refers to
// bytes before the chunk's start or makes more than `out` holds.
std::optional<std::size_t> decompressChunk(std::span<const std::uint8_t> in, std::span<std::uint8_t> out)
{
    std::size_t read = 0;
    std::size_t made = 0;
    while (read < in.size()) {
        const std::uint8_t flags = in[read++];
        for (int bit = 0; bit < 8 && read < in.size(); ++bit) {
            if ((flags & (1u << bit)) == 0) {
                if (made >= out.size())
                    return std::nullopt;
                out[made++] = in[read++];
                continue;
            }
            if (in.size() - read < 2 || made == 0)
                return std::nullopt;
            const std::uint16_t token = static_cast<std::uint16_t>(in[read] | (in[read + 1] << 8));
            read += 2;
            // The further into the chunk, the more bits the displacement takes from the length.
            unsigned displacementBits = 4;
            for (std::size_t p = made - 1; p >= 0x10; p >>= 1)
                ++displacementBits;
            const std::size_t length = (token & (0xFFFFu >> displacementBits)) + 3;
            const std::size_t displacement = (token >> (16 - displacementBits)) + 1;
            if (displacement > made || length > out.size() - made)
                return std::nullopt;
            for (std::size_t i = 0; i < length; ++i, ++made) // overlapping copies repeat bytes
                out[made] = out[made - displacement];
        }
    }
    return made;
}

} // namespace

std::optional<std::size_t> decompressLznt1Unit(std::span<const std::uint8_t> compressed, std::span<std::uint8_t> out)
{
    std::fill(out.begin(), out.end(), std::uint8_t{0});
    // The chunks end at a zero header, at the input's end or when the unit is full; the slack of
    // the last cluster after them is never read.
    const LeReader r(compressed);
    std::size_t at = 0;
    std::size_t made = 0; // where the next chunk's bytes go
    std::size_t last = 0; // the end of the bytes made
    while (made < out.size()) {
        const auto header = r.u16(at);
        if (!header || *header == 0)
            break;
        const std::size_t stored = static_cast<std::size_t>(*header & kChunkSizeMask) + 1;
        const auto data = r.slice(at + 2, stored);
        if (!data) {
            std::fill(out.begin(), out.end(), std::uint8_t{0});
            return std::nullopt;
        }
        const auto room = out.subspan(made, std::min(kChunkOutput, out.size() - made));
        std::size_t chunk = 0;
        if (*header & kChunkCompressed) {
            const auto produced = decompressChunk(*data, room);
            if (!produced) {
                std::fill(out.begin(), out.end(), std::uint8_t{0});
                return std::nullopt;
            }
            chunk = *produced;
        } else {
            // Stored as is: compressing did not make it smaller.
            chunk = std::min(data->size(), room.size());
            std::copy_n(data->begin(), chunk, room.begin());
        }
        // Every chunk stands for 4,096 bytes of the unit; one that makes fewer is zeros after
        // them, as the bytes of the next chunk keep their place.
        last = made + chunk;
        made += room.size();
        at += 2 + stored;
    }
    return last;
}

} // namespace orv
