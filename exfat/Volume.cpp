#include "exfat/Volume.h"

#include <algorithm>

#include "exfat/EntrySet.h"
#include "volume/LeReader.h"

namespace orv::exfat {

namespace {

constexpr std::size_t kPieceBytes = 4u << 20; // read at most this much between two keepGoing calls
constexpr std::uint32_t kFatEnd = 0xFFFFFFFF;
constexpr std::uint32_t kFatBad = 0xFFFFFFF7;

// The clusters of the FAT chain that starts at `first`, at most `limit` of them (a loop in the FAT
// ends there).
std::vector<std::uint64_t> chainClusters(const Volume& volume, std::uint64_t first, std::uint64_t limit)
{
    std::vector<std::uint64_t> clusters;
    std::uint64_t c = first;
    while (clusters.size() < limit && c >= 2 && c <= volume.lastCluster()) {
        clusters.push_back(c);
        const auto next = volume.nextInChain(c);
        if (!next)
            break;
        c = *next;
    }
    return clusters;
}

} // namespace

bool readBytes(SectorDevice& device, std::uint64_t position, std::span<std::uint8_t> out, std::uint32_t sectorSize)
{
    if (out.empty())
        return true;
    const std::uint64_t unit = sectorSize == 0 ? 1 : sectorSize;
    if (position % unit != 0 || out.size() % unit != 0) {
        // Not whole sectors: read the sectors around the bytes and copy the bytes out.
        const std::uint64_t first = position - position % unit;
        const std::uint64_t skip = position - first;
        std::uint64_t length = skip + out.size();
        length += (unit - length % unit) % unit;
        std::vector<std::uint8_t> whole(length);
        const bool ok = readBytes(device, first, whole, sectorSize);
        std::copy_n(whole.begin() + static_cast<std::ptrdiff_t>(skip), out.size(), out.begin());
        return ok;
    }
    bool ok = true;
    for (std::size_t done = 0; done < out.size(); done += kPieceBytes) {
        const auto piece = out.subspan(done, std::min(kPieceBytes, out.size() - done));
        if (!device.read(position + done, piece)) {
            std::fill(piece.begin(), piece.end(), 0);
            ok = false;
        }
    }
    return ok;
}

Volume::Volume(Geometry geometry, std::vector<std::uint8_t> bitmap, std::vector<std::uint32_t> fat,
               std::uint64_t lastCluster)
    : m_geometry(std::move(geometry)), m_bitmap(std::move(bitmap)), m_fat(std::move(fat)), m_lastCluster(lastCluster)
{}

bool Volume::clusterInUse(std::uint64_t cluster) const
{
    if (cluster < 2 || cluster > m_lastCluster)
        return true;
    const std::uint64_t bit = cluster - 2;
    if (bit / 8 >= m_bitmap.size())
        return true;
    return (m_bitmap[bit / 8] >> (bit % 8)) & 1;
}

std::optional<std::uint32_t> Volume::fatEntry(std::uint64_t cluster) const
{
    if (cluster >= m_fat.size())
        return std::nullopt;
    return m_fat[cluster];
}

std::optional<std::uint64_t> Volume::nextInChain(std::uint64_t cluster) const
{
    const auto value = fatEntry(cluster);
    if (!value || *value == 0 || *value == kFatEnd || *value == kFatBad || *value < 2 || *value > m_lastCluster)
        return std::nullopt;
    return *value;
}

std::optional<Volume> Volume::load(SectorDevice& device, const Geometry& geometry,
                                   const std::function<bool()>& keepGoing)
{
    const Geometry& g = geometry;
    if (g.bytesPerCluster == 0 || g.bytesPerSector == 0 || g.clusterCount == 0)
        return std::nullopt;
    // Clusters the device really holds: a boot sector may promise more than an image keeps.
    std::uint64_t usable = g.clusterCount;
    if (const auto bytes = device.size()) {
        if (*bytes < g.dataPosition)
            return std::nullopt;
        usable = std::min(usable, (*bytes - g.dataPosition) / g.bytesPerCluster);
    }
    if (usable == 0)
        return std::nullopt;
    const std::uint64_t last = usable + 1;

    // The FAT, for the clusters there are (entries 0 and 1 are reserved).
    const std::uint64_t fatEntries = last + 1;
    if (fatEntries > g.fatBytes / 4)
        return std::nullopt;
    std::vector<std::uint32_t> fat(fatEntries);
    {
        std::vector<std::uint8_t> piece;
        const std::uint64_t perPiece = kPieceBytes / 4;
        for (std::uint64_t at = 0; at < fatEntries; at += perPiece) {
            if (!keepGoing())
                return std::nullopt;
            const std::uint64_t count = std::min(perPiece, fatEntries - at);
            piece.assign(count * 4, 0);
            readBytes(device, g.fatPosition + at * 4, piece, g.bytesPerSector);
            const LeReader r(piece);
            for (std::uint64_t i = 0; i < count; ++i)
                fat[at + i] = *r.u32(i * 4);
        }
    }
    Volume volume(g, {}, std::move(fat), last);
    volume.m_geometry.label.clear();

    // The root directory holds the bitmap's entry and the label. Its chain always uses the FAT.
    const std::uint64_t rootLimit = std::max<std::uint64_t>(1, (256u << 20) / g.bytesPerCluster);
    const auto root = chainClusters(volume, g.rootCluster, rootLimit);
    if (root.empty())
        return std::nullopt;
    std::optional<std::uint64_t> bitmapFirst, bitmapLength;
    std::vector<std::uint8_t> cluster(g.bytesPerCluster);
    bool ended = false;
    for (std::size_t i = 0; i < root.size() && !ended; ++i) {
        if (!keepGoing())
            return std::nullopt;
        readBytes(device, g.clusterPosition(root[i]), cluster, g.bytesPerSector);
        const LeReader r(cluster);
        for (std::size_t at = 0; at + kEntrySize <= cluster.size(); at += kEntrySize) {
            const std::uint8_t type = cluster[at];
            if (type == entry::kEndOfDirectory) {
                ended = true;
                break;
            }
            // With two FATs (TexFAT) there are two bitmaps; bit 0 of the flags says which. The
            // first FAT's is the one in use on every volume we can write to.
            if (type == entry::kBitmap && !bitmapFirst && (cluster[at + 1] & 1) == 0) {
                bitmapFirst = *r.u32(at + 20);
                bitmapLength = *r.u64(at + 24);
            } else if (type == entry::kLabel && volume.m_geometry.label.empty()) {
                const std::size_t count = std::min<std::size_t>(cluster[at + 1], 11);
                for (std::size_t c = 0; c < count; ++c)
                    volume.m_geometry.label.push_back(static_cast<char16_t>(*r.u16(at + 2 + 2 * c)));
            }
        }
    }
    const std::uint64_t needBytes = (g.clusterCount + 7) / 8;
    if (!bitmapFirst || *bitmapLength < needBytes || !g.validCluster(*bitmapFirst))
        return std::nullopt;
    volume.m_geometry.bitmapCluster = *bitmapFirst;
    volume.m_geometry.bitmapBytes = *bitmapLength;

    // The bitmap's clusters: its FAT chain, and contiguous where the chain ends early.
    const std::uint64_t haveBytes = (usable + 7) / 8;
    const std::uint64_t bitmapClusters = (haveBytes + g.bytesPerCluster - 1) / g.bytesPerCluster;
    auto clusters = chainClusters(volume, *bitmapFirst, bitmapClusters);
    while (!clusters.empty() && clusters.size() < bitmapClusters && clusters.back() < last)
        clusters.push_back(clusters.back() + 1);
    if (clusters.size() < bitmapClusters)
        return std::nullopt;
    std::vector<std::uint8_t> bitmap(bitmapClusters * g.bytesPerCluster);
    for (std::size_t i = 0; i < clusters.size(); ++i) {
        if (i % 64 == 0 && !keepGoing())
            return std::nullopt;
        const auto into = std::span<std::uint8_t>(bitmap).subspan(i * g.bytesPerCluster, g.bytesPerCluster);
        readBytes(device, g.clusterPosition(clusters[i]), into, g.bytesPerSector);
    }
    bitmap.resize(haveBytes);
    volume.m_bitmap = std::move(bitmap);
    return volume;
}

} // namespace orv::exfat
