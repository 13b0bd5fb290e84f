// A whole FAT volume image: the boot sector, the table, both scans (free clusters and the whole
// volume) and a wipe of every entry listed. Every number comes from the image, so none may take a
// read or a write outside it, and a wipe may change nothing but the entries it was given.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fat/Fat.h"
#include "fuzz/RecordChecks.h"
#include "tests/support/Devices.h"

using orv::fuzz::require;

namespace {

void checkEntry(const orv::FoundEntry& e, const orv::fat::Geometry& g, std::uint64_t deviceBytes)
{
    std::uint64_t pieceBytes = 0;
    for (const orv::EntryPiece& p : e.pieces) {
        require(p.length > 0 && p.length % 32 == 0, "an entry piece is not whole entries");
        require(p.position <= deviceBytes && p.length <= deviceBytes - p.position,
                "an entry piece lies past the device");
        pieceBytes += p.length;
    }
    require(pieceBytes == e.entryBytes.size(), "the entry bytes do not match the pieces");
    require(!e.name.empty(), "a listed entry has no name");
    require(e.deleted, "a listed entry is not deleted");
    std::uint64_t clusters = 0;
    for (const orv::ClusterRun& r : e.content) {
        require(r.count > 0 && g.validCluster(r.first) && g.validCluster(r.first + r.count - 1),
                "a content run names clusters the volume does not have");
        clusters += r.count;
    }
    require(clusters * g.bytesPerCluster <= e.size + g.bytesPerCluster - 1 || e.content.empty(),
            "the content map is longer than the file");
    if (e.directory)
        require(e.content.empty() && e.size == 0, "a folder with content");
    else if (e.size == 0)
        require(e.content.empty() && e.certainty == orv::ContentCertainty::Exact, "an empty file has content");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::vector<std::uint8_t> image(data, data + size);
    if (image.size() < 512)
        return 0;
    const auto geometry = orv::fat::parseBootSector(std::span(image).first(512), image.size());
    if (!geometry)
        return 0;
    const auto& g = *geometry;
    require(g.dataPosition <= image.size(), "the data area starts past the device");
    require(g.clusterCount > 0 && g.bytesPerCluster > 0, "no clusters");
    require((g.kindName == "FAT12") == (g.clusterCount <= 4084), "FAT12 by another count");
    require((g.kindName == "FAT32") == (g.clusterCount > 65524), "FAT32 by another count");

    orv::test::MemoryDevice device(image);
    const auto volume = orv::fat::Volume::load(device, g, [] { return true; });
    if (!volume)
        return 0;
    for (std::uint64_t c = 0; c < 64; ++c)
        if (const auto next = volume->nextInChain(c))
            require(g.validCluster(*next), "a chain leads outside the volume");

    std::vector<orv::FoundEntry> listed;
    auto keep = [&](const orv::FoundEntry& e) {
        checkEntry(e, g, image.size());
        listed.push_back(e);
        return true;
    };
    int asked = 0;
    orv::fat::normalScan(device, *volume, keep, [&] { return ++asked < 100000; });
    const std::size_t normal = listed.size();
    orv::fat::extendedScan(device, *volume, false, keep, [] { return true; }, {});
    require(listed.size() >= 2 * normal, "the Extended scan lists less than the Normal scan");
    orv::fat::extendedScan(
        device, *volume, true, keep, [] { return true; },
        [&](std::uint64_t done, std::uint64_t total) { require(done <= total, "progress past its total"); });

    // A wipe changes only the bytes of the entries it was given, and those to 0xE5 and zeros.
    for (std::size_t i = 0; i < std::min<std::size_t>(listed.size(), 8); ++i) {
        const std::vector<std::uint8_t> before = device.bytes();
        const auto result = orv::fat::wipeEntries(device, *volume, listed[i]);
        const std::vector<std::uint8_t>& after = device.bytes();
        require(after.size() == before.size(), "a wipe changed the device's size");
        for (std::size_t at = 0; at < after.size(); ++at) {
            if (after[at] == before[at])
                continue;
            require(result == orv::fat::WipeResult::Wiped, "a refused wipe wrote");
            const auto piece =
                std::find_if(listed[i].pieces.begin(), listed[i].pieces.end(),
                             [&](const orv::EntryPiece& p) { return at >= p.position && at - p.position < p.length; });
            require(piece != listed[i].pieces.end(), "a wipe wrote outside the entries");
            require(after[at] == ((at - piece->position) % 32 == 0 ? 0xE5 : 0x00), "a wipe wrote other bytes");
        }
    }
    return 0;
}
