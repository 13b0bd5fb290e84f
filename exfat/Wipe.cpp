#include "exfat/Scan.h"

#include <algorithm>

#include "exfat/EntrySet.h"

namespace orv::exfat {

WipeResult wipeEntries(SectorDevice& device, const Volume& volume, const FoundEntry& entry)
{
    const Geometry& g = volume.geometry();
    const std::uint64_t sector = g.bytesPerSector == 0 ? 512 : g.bytesPerSector;
    std::size_t total = 0;
    for (const EntryPiece& piece : entry.pieces) {
        if (piece.length == 0 || piece.length % kEntrySize != 0 || piece.position % kEntrySize != 0)
            return WipeResult::Changed;
        total += piece.length;
    }
    if (entry.pieces.empty() || total != entry.entryBytes.size())
        return WipeResult::Changed;

    // The sectors around each piece, read whole (unbuffered devices write whole sectors only).
    struct Span
    {
        std::uint64_t first = 0; // sector-aligned position
        std::vector<std::uint8_t> bytes;
        std::size_t skip = 0; // where the piece starts in `bytes`
        std::size_t length = 0;
    };
    std::vector<Span> spans;
    std::size_t at = 0;
    for (const EntryPiece& piece : entry.pieces) {
        Span s;
        s.first = piece.position - piece.position % sector;
        s.skip = static_cast<std::size_t>(piece.position - s.first);
        s.length = piece.length;
        std::uint64_t length = s.skip + piece.length;
        length += (sector - length % sector) % sector;
        s.bytes.resize(length);
        if (!readBytes(device, s.first, s.bytes, static_cast<std::uint32_t>(sector)))
            return WipeResult::IoError;
        if (!std::equal(s.bytes.begin() + static_cast<std::ptrdiff_t>(s.skip),
                        s.bytes.begin() + static_cast<std::ptrdiff_t>(s.skip + s.length),
                        entry.entryBytes.begin() + static_cast<std::ptrdiff_t>(at)))
            return WipeResult::Changed;
        at += s.length;
        spans.push_back(std::move(s));
    }
    // An entry in use inside a cluster in use belongs to a live folder: never touched. (Sets left
    // in use in free clusters are a former volume's, found by the Extended scan.)
    for (const Span& s : spans)
        for (std::size_t k = 0; k < s.length; k += kEntrySize) {
            const std::uint64_t position = s.first + s.skip + k;
            if ((s.bytes[s.skip + k] & entry::kInUse) == 0)
                continue;
            const std::uint64_t cluster =
                position < g.dataPosition ? 0 : (position - g.dataPosition) / g.bytesPerCluster + 2;
            if (volume.clusterInUse(cluster))
                return WipeResult::Live;
        }

    for (Span& s : spans) {
        for (std::size_t k = 0; k < s.length; k += kEntrySize) {
            std::uint8_t* slot = s.bytes.data() + s.skip + k;
            std::uint8_t type = slot[0] & static_cast<std::uint8_t>(~entry::kInUse);
            if (type == entry::kEndOfDirectory)
                type = entry::kDeletedFile; // 0x00 would end the folder and hide every entry after it
            std::fill(slot, slot + kEntrySize, std::uint8_t{0});
            slot[0] = type;
        }
        if (!device.write(s.first, s.bytes))
            return WipeResult::IoError;
    }
    return WipeResult::Wiped;
}

} // namespace orv::exfat
