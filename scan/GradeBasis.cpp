#include "scan/GradeBasis.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <vector>

#include "ntfs/BootSector.h"

namespace orv {

static_assert(std::endian::native == std::endian::little, "the bitmap is counted in little-endian words");

std::int64_t countUsedClusters(std::span<const std::uint8_t> bitmap, std::int64_t start, std::int64_t count)
{
    const auto bits = static_cast<std::int64_t>(bitmap.size()) * 8;
    if (start < 0 || count <= 0 || start >= bits)
        return 0;
    std::int64_t end = std::min(bits, start > bits - count ? bits : start + count);
    std::int64_t used = 0;
    std::int64_t c = start;
    const auto bit = [&](std::int64_t k) { return (bitmap[static_cast<std::size_t>(k / 8)] >> (k % 8)) & 1; };
    for (; c < end && c % 64 != 0; ++c)
        used += bit(c);
    for (; c + 64 <= end; c += 64) {
        std::uint64_t word = 0;
        std::memcpy(&word, bitmap.data() + c / 8, 8); // bit k of byte j is cluster 8j + k: little-endian order
        used += std::popcount(word);
    }
    for (; c < end; ++c)
        used += bit(c);
    return used;
}

int recoverabilityPercent(std::int64_t used, std::int64_t total)
{
    if (total <= 0)
        return 0;
    // used x 100 / total, rounded to nearest with halves to even, in integers. No volume has 2^56
    // clusters, so the product cannot overflow.
    used = std::clamp<std::int64_t>(used, 0, total);
    const std::int64_t scaled = std::min<std::int64_t>(used, std::int64_t{1} << 56) * 100;
    total = std::min<std::int64_t>(total, std::int64_t{1} << 56);
    std::int64_t quotient = scaled / total;
    const std::int64_t remainder = scaled % total;
    if (2 * remainder > total || (2 * remainder == total && quotient % 2 == 1))
        ++quotient;
    return 100 - static_cast<int>(quotient);
}

namespace {

// An earlier file system's runs in clusters of the volume, each widened to the clusters it
// touches: the $Bitmap that tells which are in use now counts in those.
std::vector<DataRun> inVolumeClusters(const std::vector<DataRun>& runs, std::int64_t from, std::int64_t to)
{
    std::vector<DataRun> converted;
    // Both sizes are powers of two: one is a whole multiple of the other.
    const auto scale = [&](std::int64_t clusters, bool up) -> std::int64_t {
        if (from >= to) {
            const std::int64_t factor = from / to;
            constexpr std::int64_t kMost = std::numeric_limits<std::int64_t>::max();
            return clusters > kMost / factor ? kMost : clusters * factor;
        }
        const std::int64_t divisor = to / from;
        return clusters / divisor + (up && clusters % divisor != 0);
    };
    for (const DataRun& run : runs) {
        if (run.hole || run.start < 0 || run.length <= 0) {
            converted.push_back({run.start, scale(run.length, true), run.hole});
            continue;
        }
        const std::int64_t first = scale(run.start, false);
        const std::int64_t end = run.length > std::numeric_limits<std::int64_t>::max() - run.start
            ? std::numeric_limits<std::int64_t>::max()
            : scale(run.start + run.length, true);
        converted.push_back({first, end - first, false});
    }
    return converted;
}

} // namespace

GradeBasis gradeBasis(VolumeContext& volume, const TMFTFile& file)
{
    GradeBasis basis;
    if (file.Encrypted || file.FSize == 0)
        return basis; // ciphertext, whatever state its clusters are in, or nothing to come back
    if (file.Resident) {
        basis.percent = 100;
        return basis;
    }
    // Clusters that hold data count by their state in the bitmap; a hole is recoverable by
    // definition (its content is zeros), except inside a compressed file, where it is only the
    // room the compression saved. What cannot be read at all (lost with an extension record, or
    // outside the volume) counts as overwritten.
    const bool compressed = file.CompressionUnit > 0 || file.UndecodableCompressionUnit >= 0;
    const std::int64_t volumeClusters = volumeClusterCount(volume);
    std::int64_t total = 0, used = 0;
    // Compressed in units we cannot decode: its content cannot come back as it was.
    bool lost = file.Incomplete || file.UndecodableCompressionUnit >= 0;
    const auto add = [](std::int64_t& sum, std::int64_t n) {
        sum = n > std::numeric_limits<std::int64_t>::max() - sum ? std::numeric_limits<std::int64_t>::max() : sum + n;
    };
    const bool earlierClusters = file.BytesPerCluster > 0 && volume.BytesPerCluster > 0 &&
        file.BytesPerCluster != volume.BytesPerCluster &&
        (file.BytesPerCluster % volume.BytesPerCluster == 0 || volume.BytesPerCluster % file.BytesPerCluster == 0);
    std::vector<DataRun> converted;
    if (earlierClusters)
        converted = inVolumeClusters(file.ClusterList, file.BytesPerCluster, volume.BytesPerCluster);
    const std::vector<DataRun>& runs = earlierClusters ? converted : file.ClusterList;
    for (const DataRun& run : runs) {
        if (run.length <= 0)
            continue;
        if (run.hole) {
            if (!compressed)
                add(total, run.length);
            continue;
        }
        add(total, run.length);
        if (run.start < 0 || run.start >= volumeClusters || run.length > volumeClusters - run.start) {
            add(used, run.length);
            lost = true;
            continue;
        }
        if (!basis.firstCluster)
            basis.firstCluster = run.start;
        add(used, countUsedClusters(volume.VolumeBitmap, run.start, run.length));
    }
    // Runs that end before the file does leave its end unknown.
    if (!compressed && volume.BytesPerCluster > 0) {
        const std::int64_t needed = file.FSize / volume.BytesPerCluster + (file.FSize % volume.BytesPerCluster != 0);
        if (needed > total) {
            const std::int64_t missing = std::min(needed - total, volumeClusters);
            add(total, missing);
            add(used, missing);
            lost = true;
        }
    }
    if (total == 0) {
        basis.firstCluster.reset();
        return basis;
    }
    basis.percent = recoverabilityPercent(used, total);
    if (lost)
        basis.percent = std::min(basis.percent, 80); // never Good: some of it cannot come back
    return basis;
}

} // namespace orv
