#pragma once

// FAT12, FAT16 and FAT32: the boot sector, the allocation table, the directory walk that finds
// deleted files and folders, the search for folders a quick format left behind, and the wipe of a
// deleted file's directory entries. Everything above sees only volume/FoundEntry.h.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/SectorDevice.h"
#include "volume/FoundEntry.h"

namespace orv::fat {

struct Geometry
{
    std::string kindName; // "FAT12", "FAT16" or "FAT32", decided by the cluster count
    std::uint32_t bytesPerSector = 0, sectorsPerCluster = 0, bytesPerCluster = 0;
    std::uint64_t totalSectors = 0; // of the volume, as the boot sector says
    std::uint64_t clusterCount = 0; // data clusters; valid cluster numbers are 2 .. clusterCount+1
    std::uint64_t fatPosition = 0, fatBytes = 0; // the first FAT copy, bytes on the device
    std::uint32_t fatCount = 0;
    std::uint64_t dataPosition = 0; // byte position of cluster 2
    std::uint64_t rootCluster = 0; // FAT32; 0 on FAT12/16
    std::uint64_t rootDirPosition = 0, rootDirBytes = 0; // FAT12/16 fixed root folder; 0 on FAT32
    std::uint32_t serial = 0;
    std::u16string label;
    // exFAT's; always 0 here.
    std::uint64_t bitmapCluster = 0, bitmapBytes = 0;

    // FAT12/16/32 by the cluster count: 12, 16 or 32.
    unsigned fatBits() const;
    // The last valid cluster number (clusterCount + 1).
    std::uint64_t lastCluster() const { return clusterCount + 1; }
    bool validCluster(std::uint64_t cluster) const { return cluster >= 2 && cluster <= lastCluster(); }
    // Byte position of a cluster; UINT64_MAX (where every read fails) for a number that is not a
    // data cluster.
    std::uint64_t clusterPosition(std::uint64_t cluster) const;
};

// Identifies and reads sector 0 (at least its first 512 bytes). Nothing when it is not FAT or its
// numbers are impossible: sizes that are zero or not powers of two, a FAT too small for the
// clusters, a cluster count that does not fit the layout (a FAT32 layout with fewer clusters than
// FAT32 has is refused, since a reader going by the count would take it for FAT16), areas past
// `deviceBytes` when it is known.
std::optional<Geometry> parseBootSector(std::span<const std::uint8_t> sector, std::optional<std::uint64_t> deviceBytes);

// The allocation state of the volume: the first FAT copy (the second when the first cannot be
// read), read once, in pieces, asking keepGoing between them.
class Volume
{
public:
    static std::optional<Volume> load(SectorDevice& device, const Geometry& geometry,
                                      const std::function<bool()>& keepGoing);

    const Geometry& geometry() const { return m_geometry; }
    // The FAT entry of a cluster (FAT32: its low 28 bits); nothing outside the table.
    std::optional<std::uint32_t> entry(std::uint64_t cluster) const;
    // FAT entry != 0; anything that is not a data cluster counts as in use.
    bool clusterInUse(std::uint64_t cluster) const;
    // The next cluster of a live chain; nothing at its end, on a free or bad cluster, or where the
    // entry names no data cluster.
    std::optional<std::uint64_t> nextInChain(std::uint64_t cluster) const;

private:
    Volume() = default;
    Geometry m_geometry;
    std::vector<std::uint8_t> m_fat; // the table's bytes, exactly as many as the clusters need
};

// The Normal scan: walks the tree from the root (live folders by their chains, deleted folders as
// contiguous guesses from their first cluster, each folder read once however often it is named)
// and calls visit() for every deleted file and deleted folder, in walk order (a folder before
// what it holds). Everything in a deleted folder counts as deleted. Content maps are made once
// the whole walk is known. False when keepGoing said no (what was found before is visited) or
// visit() did.
bool normalScan(SectorDevice& device, const Volume& volume, const FoundEntryVisit& visit,
                const std::function<bool()>& keepGoing);

// The Extended scan: what normalScan lists, then folders known only by their shape (a "." entry
// naming its own cluster, a ".." entry, and well-formed entries up to the folder's end) in the
// clusters the walk did not reach. A found folder that another found folder names is listed under
// it; one whose ".." is a folder of the walk is listed inside that folder as "Folder N\"; every
// other one as "Folder N\" at the top (N = its first cluster). All their entries count as deleted.
// `wholeVolume` false examines the free clusters only (where a quick format leaves the earlier
// folders); true examines every cluster the walk did not read as a folder, in use or not (a folder
// whose chain was lost while the FAT still holds its clusters, a volume's folders inside a live
// disk image). progress(done, total) counts clusters of the data area.
bool extendedScan(SectorDevice& device, const Volume& volume, bool wholeVolume, const FoundEntryVisit& visit,
                  const std::function<bool()>& keepGoing,
                  const std::function<void(std::uint64_t, std::uint64_t)>& progress, const ClusterLook& look = {});

// Overwrites the directory entries of a listed deleted file or folder: every 32-byte entry of its
// pieces becomes 0xE5 followed by zeros (a deleted entry with no name, cluster, size or time; never
// 0x00, which would end the folder and hide the entries after it). Nothing is written unless every
// piece still holds entry.entryBytes (Changed) and no entry there belongs to a live folder unless
// it is marked deleted (Live). Sectors are read and written whole; no other byte changes.
enum class WipeResult { Wiped, Changed, Live, IoError };
WipeResult wipeEntries(SectorDevice& device, const Volume& volume, const FoundEntry& entry);

} // namespace orv::fat
