// One compression unit of an NTFS-compressed file, as the whole input: the first byte picks the
// unit's size, the rest are the unit's clusters.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "fuzz/RecordChecks.h"
#include "ntfs/Lznt1.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    // Units of 512 bytes to 64 KiB, also sizes that are not whole chunks.
    const std::size_t unitSize = 512 * (std::size_t{data[0]} % 128 + 1);
    const std::vector<std::uint8_t> compressed(data + 1, data + size); // exactly the input: a read past it is caught
    std::vector<std::uint8_t> out(unitSize, 0xCC);
    const auto produced = orv::decompressLznt1Unit(compressed, out);
    if (!produced) {
        orv::fuzz::require(std::all_of(out.begin(), out.end(), [](std::uint8_t b) { return b == 0; }),
                           "a damaged unit left bytes behind");
        return 0;
    }
    orv::fuzz::require(*produced <= unitSize, "more output than the unit holds");
    orv::fuzz::require(std::all_of(out.begin() + static_cast<std::ptrdiff_t>(*produced), out.end(),
                                   [](std::uint8_t b) { return b == 0; }),
                       "the unit's end is not zeros");
    return 0;
}
