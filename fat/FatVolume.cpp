#include "fat/Fat.h"

#include <algorithm>
#include <limits>

#include "volume/LeReader.h"

namespace orv::fat {

namespace {

namespace bpb {
inline constexpr std::size_t kJump = 0x00; // 3 bytes: EB xx 90 or E9 xx xx
inline constexpr std::size_t kBytesPerSector = 0x0B; // u16
inline constexpr std::size_t kSectorsPerCluster = 0x0D; // u8, a power of two
inline constexpr std::size_t kReservedSectors = 0x0E; // u16, at least 1 (the boot sector)
inline constexpr std::size_t kFatCount = 0x10; // u8
inline constexpr std::size_t kRootEntries = 0x11; // u16, 0 on FAT32
inline constexpr std::size_t kTotalSectors16 = 0x13; // u16, 0 when the 32-bit field holds it
inline constexpr std::size_t kMedia = 0x15; // u8: 0xF0 or 0xF8..0xFF
inline constexpr std::size_t kFatSectors16 = 0x16; // u16, 0 on FAT32
inline constexpr std::size_t kTotalSectors32 = 0x20; // u32
// FAT12/16 extended boot record
inline constexpr std::size_t kSignature16 = 0x26; // u8: 0x29 (serial and label follow) or 0x28
inline constexpr std::size_t kSerial16 = 0x27; // u32
inline constexpr std::size_t kLabel16 = 0x2B; // 11 bytes
// FAT32
inline constexpr std::size_t kFatSectors32 = 0x24; // u32
inline constexpr std::size_t kRootCluster = 0x2C; // u32
inline constexpr std::size_t kSignature32 = 0x42; // u8
inline constexpr std::size_t kSerial32 = 0x43; // u32
inline constexpr std::size_t kLabel32 = 0x47; // 11 bytes
inline constexpr std::size_t kBootSignature = 0x1FE; // 55 AA
} // namespace bpb

// The cluster counts that decide the kind, whatever the boot sector's type text says.
inline constexpr std::uint64_t kMaxFat12Clusters = 4084;
inline constexpr std::uint64_t kMaxFat16Clusters = 65524;
inline constexpr std::uint64_t kMaxFat32Clusters = 0x0FFFFFF5;
inline constexpr std::uint32_t kMaxBytesPerCluster = 64 * 1024;

bool powerOfTwo(std::uint64_t v)
{
    return v != 0 && (v & (v - 1)) == 0;
}

std::u16string labelFrom(std::span<const std::uint8_t> bytes)
{
    std::size_t end = bytes.size();
    while (end > 0 && (bytes[end - 1] == ' ' || bytes[end - 1] == 0))
        --end;
    std::u16string text;
    for (std::size_t i = 0; i < end; ++i) {
        if (bytes[i] < 0x20 || bytes[i] >= 0x7F)
            return {}; // not text: no label rather than garbage
        text += static_cast<char16_t>(bytes[i]);
    }
    return text == u"NO NAME" ? std::u16string{} : text;
}

// The bytes of the FAT that the clusters need (entries 0 .. lastCluster).
std::uint64_t fatBytesNeeded(unsigned bits, std::uint64_t clusterCount)
{
    const std::uint64_t entries = clusterCount + 2;
    return bits == 12 ? (entries * 3 + 1) / 2 : entries * (bits / 8);
}

} // namespace

unsigned Geometry::fatBits() const
{
    return kindName == "FAT12" ? 12 : kindName == "FAT16" ? 16 : 32;
}

std::uint64_t Geometry::clusterPosition(std::uint64_t cluster) const
{
    if (!validCluster(cluster))
        return std::numeric_limits<std::uint64_t>::max();
    return dataPosition + (cluster - 2) * bytesPerCluster; // fits: checked against the sectors when parsed
}

std::optional<Geometry> parseBootSector(std::span<const std::uint8_t> sector, std::optional<std::uint64_t> deviceBytes)
{
    const LeReader r(sector);
    if (!r.has(0, 512))
        return std::nullopt;
    const std::uint8_t jump = *r.u8(bpb::kJump);
    if (jump != 0xEB && jump != 0xE9)
        return std::nullopt;
    if (*r.u16(bpb::kBootSignature) != 0xAA55)
        return std::nullopt;

    Geometry g;
    g.bytesPerSector = *r.u16(bpb::kBytesPerSector);
    g.sectorsPerCluster = *r.u8(bpb::kSectorsPerCluster);
    const std::uint64_t reserved = *r.u16(bpb::kReservedSectors);
    g.fatCount = *r.u8(bpb::kFatCount);
    const std::uint64_t rootEntries = *r.u16(bpb::kRootEntries);
    const std::uint8_t media = *r.u8(bpb::kMedia);
    const std::uint16_t total16 = *r.u16(bpb::kTotalSectors16);
    const std::uint16_t fat16Sectors = *r.u16(bpb::kFatSectors16);

    if (g.bytesPerSector < 512 || g.bytesPerSector > 4096 || !powerOfTwo(g.bytesPerSector))
        return std::nullopt;
    if (!powerOfTwo(g.sectorsPerCluster))
        return std::nullopt;
    g.bytesPerCluster = g.bytesPerSector * g.sectorsPerCluster;
    if (g.bytesPerCluster > kMaxBytesPerCluster)
        return std::nullopt;
    if (reserved == 0 || g.fatCount == 0 || g.fatCount > 4 || (media != 0xF0 && media < 0xF8))
        return std::nullopt;

    g.totalSectors = total16 != 0 ? total16 : *r.u32(bpb::kTotalSectors32);
    const bool fat32Layout = fat16Sectors == 0;
    const std::uint64_t fatSectors = fat32Layout ? *r.u32(bpb::kFatSectors32) : fat16Sectors;
    if (g.totalSectors == 0 || fatSectors == 0)
        return std::nullopt;
    if (fat32Layout && (rootEntries != 0 || total16 != 0))
        return std::nullopt;
    if (!fat32Layout && rootEntries == 0)
        return std::nullopt;

    // All of these are below 2^32 sectors of at most 4 KiB, so no product here can wrap.
    const std::uint64_t bps = g.bytesPerSector;
    const std::uint64_t rootSectors = (rootEntries * 32 + bps - 1) / bps;
    const std::uint64_t metaSectors = reserved + g.fatCount * fatSectors + rootSectors;
    if (metaSectors >= g.totalSectors)
        return std::nullopt;
    g.clusterCount = (g.totalSectors - metaSectors) / g.sectorsPerCluster;
    if (g.clusterCount == 0)
        return std::nullopt;
    g.kindName = g.clusterCount <= kMaxFat12Clusters ? "FAT12"
        : g.clusterCount <= kMaxFat16Clusters        ? "FAT16"
                                                     : "FAT32";
    // The layout must be the one the count's kind has: a FAT32 boot sector over too few clusters
    // (or a FAT16 one over too many) would have its table read with the wrong width.
    if ((g.kindName == "FAT32") != fat32Layout || g.clusterCount > kMaxFat32Clusters)
        return std::nullopt;

    g.fatPosition = reserved * bps;
    g.fatBytes = fatSectors * bps;
    if (fatBytesNeeded(g.fatBits(), g.clusterCount) > g.fatBytes)
        return std::nullopt;
    g.rootDirPosition = fat32Layout ? 0 : (reserved + g.fatCount * fatSectors) * bps;
    g.rootDirBytes = fat32Layout ? 0 : rootSectors * bps;
    g.dataPosition = metaSectors * bps;
    if (fat32Layout) {
        g.rootCluster = *r.u32(bpb::kRootCluster);
        if (!g.validCluster(g.rootCluster))
            return std::nullopt;
    }
    // The tables and the root folder must be on the device; data clusters past its end read as
    // missing, as on a card image cut short.
    if (deviceBytes && g.dataPosition > *deviceBytes)
        return std::nullopt;

    const std::size_t signatureAt = fat32Layout ? bpb::kSignature32 : bpb::kSignature16;
    const std::uint8_t signature = *r.u8(signatureAt);
    if (signature == 0x29 || signature == 0x28) {
        g.serial = *r.u32(fat32Layout ? bpb::kSerial32 : bpb::kSerial16);
        if (signature == 0x29)
            g.label = labelFrom(*r.slice(fat32Layout ? bpb::kLabel32 : bpb::kLabel16, 11));
    }
    return g;
}

std::optional<Volume> Volume::load(SectorDevice& device, const Geometry& geometry,
                                   const std::function<bool()>& keepGoing)
{
    constexpr std::uint64_t kPiece = 4 * 1024 * 1024;
    const std::uint64_t needed = fatBytesNeeded(geometry.fatBits(), geometry.clusterCount);
    if (needed > geometry.fatBytes)
        return std::nullopt;
    if (auto size = device.size(); size && (geometry.fatPosition > *size || needed > *size - geometry.fatPosition))
        return std::nullopt;

    Volume volume;
    volume.m_geometry = geometry;
    volume.m_fat.resize(needed);
    for (std::uint32_t copy = 0; copy < geometry.fatCount; ++copy) {
        const std::uint64_t start = geometry.fatPosition + copy * geometry.fatBytes;
        bool ok = true;
        for (std::uint64_t done = 0; done < needed && ok; done += kPiece) {
            if (keepGoing && !keepGoing())
                return std::nullopt;
            const std::uint64_t count = std::min(kPiece, needed - done);
            ok = device.read(start + done, std::span(volume.m_fat).subspan(done, count));
        }
        if (ok)
            return volume;
    }
    return std::nullopt;
}

std::optional<std::uint32_t> Volume::entry(std::uint64_t cluster) const
{
    if (cluster > m_geometry.lastCluster())
        return std::nullopt;
    const unsigned bits = m_geometry.fatBits();
    if (bits == 12) {
        const std::uint64_t at = cluster + cluster / 2;
        if (at + 1 >= m_fat.size())
            return std::nullopt;
        const std::uint32_t pair = m_fat[at] | (m_fat[at + 1] << 8);
        return (cluster & 1) ? pair >> 4 : pair & 0x0FFF;
    }
    const LeReader r(m_fat);
    if (bits == 16)
        return r.u16(cluster * 2);
    const auto value = r.u32(cluster * 4);
    if (!value)
        return std::nullopt;
    return *value & 0x0FFFFFFF;
}

bool Volume::clusterInUse(std::uint64_t cluster) const
{
    if (!m_geometry.validCluster(cluster))
        return true;
    const auto value = entry(cluster);
    return !value || *value != 0;
}

std::optional<std::uint64_t> Volume::nextInChain(std::uint64_t cluster) const
{
    if (!m_geometry.validCluster(cluster))
        return std::nullopt;
    const auto value = entry(cluster);
    if (!value || !m_geometry.validCluster(*value))
        return std::nullopt; // free, bad, end of chain, or a number no cluster has
    return *value;
}

} // namespace orv::fat
