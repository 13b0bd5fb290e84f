// The FAT12/16/32 and exFAT walks behind the scans' one view of a directory-entry volume.

#include <optional>
#include <vector>

#include "exfat/Exfat.h"
#include "fat/Fat.h"
#include "scan/EntryVolume.h"

namespace orv {

namespace {

FileSystemKind kindOf(const std::string& name)
{
    if (name == "FAT12")
        return FileSystemKind::Fat12;
    if (name == "FAT16")
        return FileSystemKind::Fat;
    if (name == "FAT32")
        return FileSystemKind::Fat32;
    return FileSystemKind::ExFat;
}

template <typename Geometry>
void describe(VolumeContext& volume, const Geometry& geometry)
{
    volume.FileSystemCode = kindOf(geometry.kindName);
    volume.BytesPerSector = geometry.bytesPerSector;
    volume.SectorsPerCluster = geometry.sectorsPerCluster;
    volume.BytesPerCluster = geometry.bytesPerCluster;
    volume.TotalSectors = static_cast<std::int64_t>(geometry.totalSectors);
    volume.TotalClusters = static_cast<std::int64_t>(geometry.clusterCount);
    volume.MftStartCluster = 0;
    volume.MftRecordSize = 0;
    volume.MftExtentList.clear();
    volume.CurrentMftExtents.clear();
}

// One adapter for both walks: they share the shape of their calls; the traits below name them.
template <typename Traits>
class Walked final : public EntryVolume
{
public:
    explicit Walked(typename Traits::Volume volume) : m_volume(std::move(volume)) {}

    FileSystemKind kind() const override { return kindOf(m_volume.geometry().kindName); }
    std::uint64_t bytesPerCluster() const override { return m_volume.geometry().bytesPerCluster; }
    std::uint64_t clusterPosition(std::uint64_t cluster) const override
    {
        return m_volume.geometry().clusterPosition(cluster);
    }
    std::uint64_t lastCluster() const override { return m_volume.geometry().clusterCount + 1; }
    bool clusterInUse(std::uint64_t cluster) const override { return m_volume.clusterInUse(cluster); }
    std::vector<std::pair<std::string, std::uint64_t>> layout() const override
    {
        const auto& g = m_volume.geometry();
        std::vector<std::pair<std::string, std::uint64_t>> lines{{"fat_offset", g.fatPosition},
                                                                 {"fat_bytes", g.fatBytes},
                                                                 {"fat_count", g.fatCount},
                                                                 {"data_offset", g.dataPosition},
                                                                 {"root_cluster", g.rootCluster}};
        if (g.rootDirBytes > 0) {
            lines.emplace_back("root_directory_offset", g.rootDirPosition);
            lines.emplace_back("root_directory_bytes", g.rootDirBytes);
        }
        return lines;
    }

    bool normalScan(SectorDevice& device, const FoundEntryVisit& visit, const std::function<bool()>& keepGoing) override
    {
        return Traits::normalScan(device, m_volume, visit, keepGoing);
    }
    bool extendedScan(SectorDevice& device, bool wholeVolume, const FoundEntryVisit& visit,
                      const std::function<bool()>& keepGoing,
                      const std::function<void(std::uint64_t, std::uint64_t)>& progress,
                      const ClusterLook& look) override
    {
        return Traits::extendedScan(device, m_volume, wholeVolume, visit, keepGoing, progress, look);
    }
    WipeResult wipe(SectorDevice& device, const FoundEntry& entry) override
    {
        switch (Traits::wipeEntries(device, m_volume, entry)) {
        case Traits::WipeResult::Wiped: return WipeResult::Wiped;
        case Traits::WipeResult::Changed: return WipeResult::Changed;
        case Traits::WipeResult::Live: return WipeResult::Live;
        case Traits::WipeResult::IoError: break;
        }
        return WipeResult::IoError;
    }

private:
    typename Traits::Volume m_volume;
};

struct fatTraits
{
    using Volume = fat::Volume;
    using WipeResult = fat::WipeResult;
    static bool normalScan(SectorDevice& device, const Volume& volume, const FoundEntryVisit& visit,
                           const std::function<bool()>& keepGoing)
    {
        return fat::normalScan(device, volume, visit, keepGoing);
    }
    static bool extendedScan(SectorDevice& device, const Volume& volume, bool wholeVolume, const FoundEntryVisit& visit,
                             const std::function<bool()>& keepGoing,
                             const std::function<void(std::uint64_t, std::uint64_t)>& progress, const ClusterLook& look)
    {
        return fat::extendedScan(device, volume, wholeVolume, visit, keepGoing, progress, look);
    }
    static WipeResult wipeEntries(SectorDevice& device, const Volume& volume, const FoundEntry& entry)
    {
        return fat::wipeEntries(device, volume, entry);
    }
};

struct exfatTraits
{
    using Volume = exfat::Volume;
    using WipeResult = exfat::WipeResult;
    static bool normalScan(SectorDevice& device, const Volume& volume, const FoundEntryVisit& visit,
                           const std::function<bool()>& keepGoing)
    {
        return exfat::normalScan(device, volume, visit, keepGoing);
    }
    static bool extendedScan(SectorDevice& device, const Volume& volume, bool wholeVolume, const FoundEntryVisit& visit,
                             const std::function<bool()>& keepGoing,
                             const std::function<void(std::uint64_t, std::uint64_t)>& progress, const ClusterLook& look)
    {
        return exfat::extendedScan(device, volume, wholeVolume, visit, keepGoing, progress, look);
    }
    static WipeResult wipeEntries(SectorDevice& device, const Volume& volume, const FoundEntry& entry)
    {
        return exfat::wipeEntries(device, volume, entry);
    }
};

} // namespace

std::shared_ptr<EntryVolume> openEntryVolume(VolumeContext& volume, const std::function<bool()>& keepGoing)
{
    if (!volume.Device)
        return nullptr;
    SectorDevice& device = *volume.Device;
    // Sector 0 at the largest sector size either file system knows; a device shorter than that
    // still gives its first 512 bytes.
    std::vector<std::uint8_t> sector(4096, 0);
    if (!device.read(0, sector)) {
        sector.assign(512, 0);
        if (!device.read(0, sector))
            return nullptr;
    }
    const std::optional<std::uint64_t> size = device.size();
    if (const auto geometry = exfat::parseBootSector(sector, size)) {
        auto walked = exfat::Volume::load(device, *geometry, keepGoing);
        if (!walked)
            return nullptr;
        describe(volume, *geometry);
        return std::make_shared<Walked<exfatTraits>>(std::move(*walked));
    }
    if (const auto geometry = fat::parseBootSector(sector, size)) {
        auto walked = fat::Volume::load(device, *geometry, keepGoing);
        if (!walked)
            return nullptr;
        describe(volume, *geometry);
        return std::make_shared<Walked<fatTraits>>(std::move(*walked));
    }
    return nullptr;
}

} // namespace orv
