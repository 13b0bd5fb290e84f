#include <algorithm>
#include <cstring>

#include "fat/Fat.h"
#include "fat/FatDirectory.h"

namespace orv::fat {

namespace {

// The sectors around one piece, read so that only whole sectors are written back.
struct Span
{
    EntryPiece piece;
    std::uint64_t sectorStart = 0;
    std::vector<std::uint8_t> sectors;
    std::size_t offset = 0; // of the piece inside `sectors`
};

// True when the entries at `position` lie in a folder the live file system owns: the fixed root
// folder of FAT12/16, or a cluster the FAT holds. A deleted folder's clusters are free.
bool inLiveFolder(const Volume& volume, std::uint64_t position)
{
    const Geometry& g = volume.geometry();
    if (position < g.dataPosition)
        return true;
    const std::uint64_t cluster = 2 + (position - g.dataPosition) / g.bytesPerCluster;
    return volume.clusterInUse(cluster);
}

} // namespace

WipeResult wipeEntries(SectorDevice& device, const Volume& volume, const FoundEntry& entry)
{
    const Geometry& g = volume.geometry();
    std::size_t total = 0;
    for (const EntryPiece& p : entry.pieces) {
        if (p.length == 0 || p.length % kEntrySize != 0)
            return WipeResult::Changed;
        total += p.length;
    }
    if (entry.pieces.empty() || total != entry.entryBytes.size())
        return WipeResult::Changed;

    // Everything is checked before anything is written.
    std::vector<Span> spans;
    std::size_t consumed = 0;
    for (const EntryPiece& p : entry.pieces) {
        Span s;
        s.piece = p;
        s.sectorStart = p.position / g.bytesPerSector * g.bytesPerSector;
        s.offset = static_cast<std::size_t>(p.position - s.sectorStart);
        const std::size_t span = (s.offset + p.length + g.bytesPerSector - 1) / g.bytesPerSector * g.bytesPerSector;
        s.sectors.resize(span);
        if (!device.read(s.sectorStart, s.sectors))
            return WipeResult::IoError;
        if (!std::equal(entry.entryBytes.begin() + static_cast<std::ptrdiff_t>(consumed),
                        entry.entryBytes.begin() + static_cast<std::ptrdiff_t>(consumed + p.length),
                        s.sectors.begin() + static_cast<std::ptrdiff_t>(s.offset)))
            return WipeResult::Changed;
        const bool live = inLiveFolder(volume, p.position);
        for (std::size_t at = 0; at < p.length; at += kEntrySize) {
            const std::uint8_t first = s.sectors[s.offset + at];
            // In a live folder every entry must carry the deletion mark; in a deleted folder
            // (free clusters) nothing is live, whatever its entries say.
            if (live && first != entry::kDeleted)
                return WipeResult::Live;
        }
        consumed += p.length;
        spans.push_back(std::move(s));
    }

    for (Span& s : spans) {
        for (std::size_t at = 0; at < s.piece.length; at += kEntrySize) {
            std::uint8_t* slot = s.sectors.data() + s.offset + at;
            std::memset(slot, 0, kEntrySize);
            slot[0] = entry::kDeleted;
        }
        if (!device.write(s.sectorStart, s.sectors))
            return WipeResult::IoError;
    }
    return WipeResult::Wiped;
}

} // namespace orv::fat
