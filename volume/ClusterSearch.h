#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "platform/SectorDevice.h"

namespace orv {

// A forward search over a volume's clusters for the next one whose bytes pass a test: how a
// deleted folder's later cluster is found when the folder grew after files were written into it,
// so its clusters lie past theirs. Clusters that `skip` rules out are passed without reading;
// the `passOver` ranges ([first, end), the content of files the folder already names) are jumped;
// the rest is read in large sequential pieces.
struct ClusterSearch
{
    std::uint64_t from = 0; // the first cluster to look at
    std::uint64_t last = 0; // the volume's last cluster
    std::uint64_t bytesPerCluster = 0;
    std::function<std::uint64_t(std::uint64_t)> position; // a cluster's byte position on the device
    std::function<bool(std::uint64_t)> skip; // held by others, or read already
    std::vector<std::pair<std::uint64_t, std::uint64_t>> passOver;
    std::function<bool(std::span<const std::uint8_t>)> matches; // one cluster's bytes
    std::function<bool()> keepGoing;
};

// How far one search goes: the bytes it may read (shared with the caller, who may hold a budget
// for a whole scan), and the clusters it may pass over.
struct SearchLimits
{
    std::uint64_t readBytes = 0;
    std::uint64_t span = 0;
};

// The nearest cluster at or after `search.from` that matches; nothing when none does within the
// limits. `budget` is lowered by what was read.
std::optional<std::uint64_t> searchForward(SectorDevice& device, const ClusterSearch& search, SearchLimits limits,
                                           std::uint64_t& budget);

} // namespace orv
