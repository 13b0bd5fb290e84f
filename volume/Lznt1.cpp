#include "Lznt1.h"

#include <algorithm>
#include <vector>

#include <libfwnt.h>

#include "LeReader.h"

namespace orv {

namespace {
constexpr std::size_t kChunkOutput = 4096;
constexpr std::uint16_t kChunkSizeMask = 0x0FFF; // stored size of the chunk's data, less one
} // namespace

std::optional<std::size_t> decompressLznt1Unit(std::span<const std::uint8_t> compressed, std::span<std::uint8_t> out)
{
    std::fill(out.begin(), out.end(), std::uint8_t{0});
    // Measure the chunks that make up the unit, so the decompressor sees exactly them and not the
    // slack of the last cluster, which may hold anything.
    const LeReader r(compressed);
    const std::size_t maxChunks = (out.size() + kChunkOutput - 1) / kChunkOutput;
    std::size_t length = 0;
    for (std::size_t chunk = 0; chunk < maxChunks; ++chunk) {
        const auto header = r.u16(length);
        if (!header || *header == 0)
            break;
        const std::size_t stored = static_cast<std::size_t>(*header & kChunkSizeMask) + 1;
        if (!r.has(length + 2, stored))
            return std::nullopt;
        length += 2 + stored;
    }
    if (length == 0)
        return std::size_t{0};

    // The decompressor wants room for whole chunks; the unit's own size bounds what is kept.
    std::uint8_t* target = out.data();
    std::vector<std::uint8_t> roomy;
    const std::size_t room = maxChunks * kChunkOutput;
    if (room > out.size()) {
        roomy.assign(room, 0);
        target = roomy.data();
    }
    std::size_t produced = room;
    libfwnt_error_t* error = nullptr;
    if (libfwnt_lznt1_decompress(compressed.data(), length, target, &produced, &error) != 1) {
        libfwnt_error_free(&error);
        std::fill(out.begin(), out.end(), std::uint8_t{0});
        return std::nullopt;
    }
    produced = std::min(produced, out.size());
    if (!roomy.empty())
        std::copy_n(roomy.begin(), produced, out.begin());
    return produced;
}

} // namespace orv
