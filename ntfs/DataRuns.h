#pragma once

#include <cstdint>
#include <limits>

#include "volume/LeReader.h"

namespace orv {

// One run of a non-resident attribute: `length` clusters from logical cluster `start`. A hole
// (a sparse run, or the unused end of a compression unit) has no clusters and reads as zeros. A
// run whose clusters cannot be known (its extension record is lost) has a negative start; it
// reads as zeros too, but the file is not whole.
struct DataRun
{
    std::int64_t start = 0;
    std::int64_t length = 0;
    bool hole = false;
    bool operator==(const DataRun&) const = default;
};

inline constexpr std::int64_t kLostClusters = -1;

// Decodes the mapping pairs that start at `pos` and hands every run to `collect`. A header
// without an offset field is a hole of its length, and the list goes on after it. The list ends
// at a zero header, at a header without a length field, at a header whose fields are wider than 8
// bytes (nothing real is that large), and where a field would run past the end of `r`; the runs
// handed over before that stand. The current cluster is 64-bit; offsets that would carry it past
// the 64-bit range wrap instead of trapping, and the reads that follow fail on such a cluster.
template <typename Collect>
void decodeDataRuns(const LeReader& r, std::size_t pos, Collect&& collect)
{
    std::uint64_t current = 0;
    while (const auto header = r.u8(pos)) {
        if (*header == 0)
            return;
        const std::size_t offsetSize = *header >> 4;
        const std::size_t lengthSize = *header & 0x0F;
        if (lengthSize == 0 || offsetSize > 8 || lengthSize > 8)
            return;
        const auto length = r.uint(pos + 1, lengthSize);
        if (!length || *length > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            return; // longer than any volume could be
        if (offsetSize == 0) {
            collect(DataRun{0, static_cast<std::int64_t>(*length), true});
        } else {
            const auto delta = r.uint(pos + 1 + lengthSize, offsetSize);
            if (!delta)
                return;
            current += static_cast<std::uint64_t>(signExtend(*delta, offsetSize));
            collect(DataRun{static_cast<std::int64_t>(current), static_cast<std::int64_t>(*length)});
        }
        pos += 1 + lengthSize + offsetSize;
    }
}

} // namespace orv
