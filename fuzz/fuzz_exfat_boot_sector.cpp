// A whole exFAT volume: the boot sector, the FAT, the bitmap found through the root directory, and
// both scans over every cluster. Every number comes from the input, so none may take a read
// outside it, a loop without end, or an allocation beyond what the input's size allows.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/ExfatChecks.h"

using orv::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    orv::test::MemoryDevice device(std::vector<std::uint8_t>(data, data + size), 512);
    if (size < 512)
        return 0;
    const auto geometry = orv::exfat::parseBootSector({data, 512}, size);
    if (!geometry)
        return 0;
    require(geometry->bytesPerCluster == geometry->bytesPerSector * geometry->sectorsPerCluster, "cluster size");
    require(geometry->fatPosition + geometry->fatBytes <= size, "the FAT lies past the device");
    require(geometry->validCluster(geometry->rootCluster), "the root is not a cluster of the heap");
    std::vector<std::uint8_t> region(12 * std::size_t{geometry->bytesPerSector});
    if (region.size() <= size)
        (void)orv::exfat::bootChecksumMatches({data, region.size()}, geometry->bytesPerSector);

    int asked = 0;
    const auto keepGoing = [&] { return ++asked < 100000; };
    const auto volume = orv::exfat::Volume::load(device, *geometry, keepGoing);
    if (!volume)
        return 0;
    require(volume->lastCluster() <= geometry->clusterCount + 1, "clusters past the heap");
    require(geometry->clusterPosition(volume->lastCluster()) + geometry->bytesPerCluster <= size,
            "a cluster the device does not hold");

    for (const bool whole : {false, true}) {
        std::size_t wiped = 0;
        const auto visit = [&](const orv::FoundEntry& e) {
            orv::fuzz::checkFoundEntry(e, *volume, size);
            if (wiped++ < 3)
                orv::fuzz::checkWipe(device, *volume, e);
            return true;
        };
        if (!whole)
            orv::exfat::normalScan(device, *volume, visit, keepGoing);
        orv::exfat::extendedScan(device, *volume, whole, visit, keepGoing, nullptr);
    }
    return 0;
}
