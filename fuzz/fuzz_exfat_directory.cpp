// One exFAT directory and the clusters around it, without a boot sector: the first 64 bytes are
// the allocation bitmap of 512 clusters of 512 bytes, byte 64 is how many clusters the root's FAT
// chain holds, byte 65 where the root starts (cluster 2 + the byte), and the rest is the cluster
// heap from cluster 2 on. Entry sets, deleted
// folders that point anywhere, content maps and Wipe all run on whatever the bytes say.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/ExfatChecks.h"

using orv::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    constexpr std::size_t kControl = 66, kCluster = 512, kMaxClusters = 512;
    if (size <= kControl)
        return 0;
    std::vector<std::uint8_t> heap(data + kControl, data + size);
    heap.resize(std::min(heap.size() + (kCluster - heap.size() % kCluster) % kCluster, kMaxClusters * kCluster));
    const std::uint64_t clusters = heap.size() / kCluster;

    orv::exfat::Geometry g;
    g.bytesPerSector = 512;
    g.sectorsPerCluster = 1;
    g.bytesPerCluster = 512;
    g.totalSectors = clusters;
    g.clusterCount = clusters;
    g.fatCount = 1;
    g.dataPosition = 0;
    g.rootCluster = 2 + data[65] % clusters;
    std::vector<std::uint8_t> bitmap(data, data + 64);
    std::vector<std::uint32_t> fat(clusters + 2, 0);
    const std::uint64_t rootEnd =
        std::min<std::uint64_t>(g.rootCluster + std::max<std::uint8_t>(data[64], 1), clusters + 2);
    for (std::uint64_t c = g.rootCluster; c < rootEnd; ++c)
        fat[c] = c + 1 < rootEnd ? static_cast<std::uint32_t>(c + 1) : 0xFFFFFFFF;
    const orv::exfat::Volume volume(g, bitmap, fat, clusters + 1);
    orv::test::MemoryDevice device(heap, 512);

    orv::exfat::decodeEntrySet(heap);
    int asked = 0;
    const auto keepGoing = [&] { return ++asked < 100000; };
    std::size_t wiped = 0;
    const auto visit = [&](const orv::FoundEntry& e) {
        orv::fuzz::checkFoundEntry(e, volume, heap.size());
        if (wiped++ < 4)
            orv::fuzz::checkWipe(device, volume, e);
        return true;
    };
    orv::exfat::normalScan(device, volume, visit, keepGoing);
    orv::exfat::extendedScan(device, volume, true, visit, keepGoing, nullptr);
    return 0;
}
