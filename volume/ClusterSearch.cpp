#include "volume/ClusterSearch.h"

#include <algorithm>

namespace orv {

namespace {

constexpr std::uint64_t kReadPiece = 4 * 1024 * 1024;

// The ranges sorted and merged, so the one holding a cluster is the last that starts at or before it.
std::vector<std::pair<std::uint64_t, std::uint64_t>> merged(std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges)
{
    std::sort(ranges.begin(), ranges.end());
    std::vector<std::pair<std::uint64_t, std::uint64_t>> out;
    for (const auto& range : ranges)
        if (!out.empty() && range.first <= out.back().second)
            out.back().second = std::max(out.back().second, range.second);
        else
            out.push_back(range);
    return out;
}

} // namespace

std::optional<std::uint64_t> searchForward(SectorDevice& device, const ClusterSearch& search, SearchLimits limits,
                                           std::uint64_t& budget)
{
    if (search.bytesPerCluster == 0 || search.from > search.last)
        return std::nullopt;
    const auto ranges = merged(search.passOver);
    auto passedEnd = [&](std::uint64_t c) -> std::uint64_t {
        const auto after = std::upper_bound(ranges.begin(), ranges.end(), c,
                                            [](std::uint64_t value, const auto& range) { return value < range.first; });
        return after != ranges.begin() && c < std::prev(after)->second ? std::prev(after)->second : 0;
    };
    const std::uint64_t end = search.last - search.from < limits.span ? search.last : search.from + limits.span;
    std::uint64_t clustersLeft = std::min(limits.readBytes, budget) / search.bytesPerCluster;
    const std::uint64_t perPiece = std::max<std::uint64_t>(1, kReadPiece / search.bytesPerCluster);
    std::vector<std::uint8_t> buffer;
    std::uint64_t c = search.from;
    while (c <= end && clustersLeft > 0) {
        if (search.skip && search.skip(c)) {
            ++c;
            continue;
        }
        if (const std::uint64_t after = passedEnd(c); after > c) {
            c = after;
            continue;
        }
        if (search.keepGoing && !search.keepGoing())
            break;
        std::uint64_t count = 1;
        while (count < perPiece && count < clustersLeft && c + count <= end && !(search.skip && search.skip(c + count)))
            ++count;
        buffer.resize(count * search.bytesPerCluster);
        clustersLeft -= count;
        budget -= std::min(budget, count * search.bytesPerCluster);
        if (device.read(search.position(c), buffer))
            for (std::uint64_t i = 0; i < count; ++i)
                if (search.matches(std::span<const std::uint8_t>(buffer).subspan(i * search.bytesPerCluster,
                                                                                 search.bytesPerCluster)))
                    return c + i;
        c += count;
    }
    return std::nullopt;
}

} // namespace orv
