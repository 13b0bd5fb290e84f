// A run list (mapping pairs) of a non-resident attribute, as the whole input.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "fuzz/RecordChecks.h"
#include "ntfs/DataRuns.h"
#include "volume/LeReader.h"

namespace {

std::vector<orv::DataRun> decode(std::span<const std::uint8_t> bytes, std::size_t pos)
{
    std::vector<orv::DataRun> runs;
    orv::decodeDataRuns(orv::LeReader(bytes), pos, [&](orv::DataRun run) {
        // Each run takes a header byte and at least one byte each for length and offset.
        orv::fuzz::require(runs.size() < bytes.size() / 3, "more runs than the bytes can hold");
        orv::fuzz::require(run.length >= 0, "run with a negative length");
        runs.push_back(run);
    });
    return runs;
}

bool startsWith(const std::vector<orv::DataRun>& whole, const std::vector<orv::DataRun>& part)
{
    return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // A copy of exactly the input's size, so a read one byte past the list is caught.
    const std::vector<std::uint8_t> bytes(data, data + size);
    const auto runs = decode(bytes, 0);

    // The decoder only looks at the bytes of the runs it hands over and at the header that ends
    // the list: the list cut short gives a prefix of the runs.
    const std::vector<std::uint8_t> half(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size / 2));
    orv::fuzz::require(startsWith(runs, decode(half, 0)), "a shorter list gave other runs");

    // The list read from inside an attribute gives the same runs as the list on its own.
    constexpr std::size_t kRunsOffset = 0x40;
    std::vector<std::uint8_t> inAttribute(kRunsOffset + size, 0xCC);
    std::copy(bytes.begin(), bytes.end(), inAttribute.begin() + kRunsOffset);
    orv::fuzz::require(decode(inAttribute, kRunsOffset) == runs, "the list read at an offset gave other runs");
    return 0;
}
