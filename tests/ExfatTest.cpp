// The exFAT library against hand-made bytes and against real volumes written by the FUSE driver
// (tools/make-exfat-fixtures.sh): listing, names, sizes, content, certainty, the Extended scan after
// a quick format, and Wipe.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>

#include "base/Utf16.h"
#include "exfat/Exfat.h"
#include "results/Sha256.h"
#include "tests/support/Devices.h"
#include "tests/support/Fixtures.h"

using namespace orv;
using namespace orv::exfat;

namespace {

// ---- hand-made bytes -----------------------------------------------------------------------------

void put(std::vector<std::uint8_t>& b, std::size_t at, std::uint64_t value, std::size_t width)
{
    for (std::size_t i = 0; i < width; ++i)
        b[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// A boot sector of a 64 MiB volume: 512-byte sectors, 4 KiB clusters, FAT at sector 2048 (64 KiB),
// heap at sector 4096, 15,872 clusters, root at cluster 5.
std::vector<std::uint8_t> bootSector()
{
    std::vector<std::uint8_t> b(512, 0);
    b[0] = 0xEB, b[1] = 0x76, b[2] = 0x90;
    std::copy_n("EXFAT   ", 8, b.begin() + 3);
    put(b, 0x48, 131072, 8);
    put(b, 0x50, 2048, 4);
    put(b, 0x54, 128, 4);
    put(b, 0x58, 4096, 4);
    put(b, 0x5C, 15872, 4);
    put(b, 0x60, 5, 4);
    put(b, 0x64, 0x12345678, 4);
    b[0x6C] = 9, b[0x6D] = 3, b[0x6E] = 1;
    b[0x1FE] = 0x55, b[0x1FF] = 0xAA;
    return b;
}

struct BootCase
{
    const char* what;
    std::size_t at;
    std::uint64_t value;
    std::size_t width;
};

// An entry set as a driver writes it: file, stream extension, name entries; checksum filled in.
std::vector<std::uint8_t> entrySet(const std::u16string& name, std::uint32_t firstCluster, std::uint64_t length,
                                   bool noFatChain, bool inUse, std::uint16_t attributes = 0x20)
{
    const std::size_t nameEntries = (name.size() + 14) / 15;
    std::vector<std::uint8_t> b((2 + nameEntries) * 32, 0);
    const std::uint8_t use = inUse ? 0x80 : 0x00;
    b[0] = 0x05 | use;
    b[1] = static_cast<std::uint8_t>(1 + nameEntries);
    put(b, 4, attributes, 2);
    put(b, 12, (44u << 25) | (6u << 21) | (15u << 16) | (13u << 11) | (30u << 5) | 5u, 4); // 2024-06-15 13:30:10
    b[21] = 150; // +1.5 s
    b[32] = 0x40 | use;
    b[33] = noFatChain ? 0x03 : 0x01;
    b[35] = static_cast<std::uint8_t>(name.size());
    put(b, 40, length, 8);
    put(b, 52, firstCluster, 4);
    put(b, 56, length, 8);
    for (std::size_t n = 0; n < nameEntries; ++n) {
        b[(2 + n) * 32] = 0x41 | use;
        for (std::size_t c = 0; c < 15 && n * 15 + c < name.size(); ++c)
            put(b, (2 + n) * 32 + 2 + 2 * c, name[n * 15 + c], 2);
    }
    put(b, 2, entrySetChecksum(b), 2);
    return b;
}

// ---- the real images -----------------------------------------------------------------------------

struct Row
{
    std::string path; // "\" between names; folders end in "\"
    std::string kind;
    std::uint64_t size = 0;
    std::string sha256;
    std::string state; // live, deleted, overwritten
};

std::vector<Row> manifest(const std::string& name)
{
    std::vector<Row> rows;
    std::ifstream in(test::fixturesDir() / (name + ".manifest.tsv"));
    std::string line;
    std::getline(in, line); // header
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::stringstream split(line);
        std::string field;
        while (std::getline(split, field, '\t'))
            f.push_back(field);
        if (f.size() == 5)
            rows.push_back({f[0], f[1], std::stoull(f[2]), f[3], f[4]});
    }
    return rows;
}

std::shared_ptr<test::MemoryDevice> openImage(const std::string& name)
{
    std::ifstream in(test::fixtureImage(name), std::ios::binary);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return std::make_shared<test::MemoryDevice>(std::move(bytes), 512);
}

std::optional<Volume> loadVolume(test::MemoryDevice& device)
{
    std::vector<std::uint8_t> sector(512);
    if (!device.read(0, sector))
        return std::nullopt;
    const auto geometry = parseBootSector(sector, device.size());
    if (!geometry)
        return std::nullopt;
    return Volume::load(device, *geometry, [] { return true; });
}

std::string pathOf(const FoundEntry& e)
{
    return toUtf8(e.folder + e.name) + (e.directory ? "\\" : "");
}

// What the content map reads, cut to the file's size (clusters the map lacks are missing).
std::string contentSha(SectorDevice& device, const Volume& volume, const FoundEntry& e)
{
    std::vector<std::uint8_t> out;
    const Geometry& g = volume.geometry();
    for (const ClusterRun& run : e.content) {
        std::vector<std::uint8_t> bytes(run.count * g.bytesPerCluster);
        if (!device.read(g.clusterPosition(run.first), bytes))
            return "unreadable";
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
    if (out.size() < e.size)
        return "short";
    out.resize(e.size);
    return sha256Hex(out);
}

std::vector<FoundEntry> scan(SectorDevice& device, const Volume& volume, bool extended = false)
{
    std::vector<FoundEntry> found;
    const auto visit = [&](const FoundEntry& e) {
        found.push_back(e);
        return true;
    };
    const bool finished = extended ? extendedScan(
                                         device, volume, false, visit, [] { return true; }, nullptr)
                                   : normalScan(device, volume, visit, [] { return true; });
    EXPECT_TRUE(finished);
    return found;
}

class ExfatImage : public ::testing::Test
{
protected:
    void open(const std::string& name)
    {
        if (!std::filesystem::exists(test::fixtureImage(name)))
            GTEST_SKIP() << "fixture " << name << " not unpacked (run the unpack_fixture_images test)";
        device = openImage(name);
        volume = loadVolume(*device);
        ASSERT_TRUE(volume);
    }
    std::shared_ptr<test::MemoryDevice> device;
    std::optional<Volume> volume;
};

} // namespace

TEST(ExfatBootSector, ReadsGeometry)
{
    const auto g = parseBootSector(bootSector(), std::nullopt);
    ASSERT_TRUE(g);
    EXPECT_EQ(g->kindName, "exFAT");
    EXPECT_EQ(g->bytesPerSector, 512u);
    EXPECT_EQ(g->sectorsPerCluster, 8u);
    EXPECT_EQ(g->bytesPerCluster, 4096u);
    EXPECT_EQ(g->totalSectors, 131072u);
    EXPECT_EQ(g->clusterCount, 15872u);
    EXPECT_EQ(g->fatPosition, 2048u * 512);
    EXPECT_EQ(g->fatBytes, 128u * 512);
    EXPECT_EQ(g->fatCount, 1u);
    EXPECT_EQ(g->dataPosition, 4096u * 512);
    EXPECT_EQ(g->rootCluster, 5u);
    EXPECT_EQ(g->serial, 0x12345678u);
    EXPECT_EQ(g->clusterPosition(7), 4096u * 512 + 5 * 4096);
}

TEST(ExfatBootSector, RefusesImpossibleNumbers)
{
    const BootCase cases[] = {
        {"not exFAT", 3, 0x2020202054414658, 8}, // "XFAT    "
        {"FAT's parameter block not zero", 0x0B, 0x0200, 2},
        {"no signature", 0x1FE, 0, 2},
        {"sector shift below 512 bytes", 0x6C, 8, 1},
        {"sector shift above 4096 bytes", 0x6C, 13, 1},
        {"cluster above 32 MiB", 0x6D, 17, 1},
        {"three FATs", 0x6E, 3, 1},
        {"FAT inside the boot region", 0x50, 23, 4},
        {"FAT runs into the heap", 0x54, 2049, 4},
        {"FAT too short for the clusters", 0x54, 124, 4},
        {"no clusters", 0x5C, 0, 4},
        {"heap runs past the volume", 0x5C, 15873, 4},
        {"heap starts past the volume", 0x58, 131073, 4},
        {"root cluster 1", 0x60, 1, 4},
        {"root cluster past the heap", 0x60, 15874, 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto b = bootSector();
        put(b, c.at, c.value, c.width);
        EXPECT_FALSE(parseBootSector(b, std::nullopt));
    }
    const auto whole = bootSector();
    EXPECT_FALSE(parseBootSector(std::span(whole).first(511), std::nullopt)) << "short sector";
    EXPECT_FALSE(parseBootSector(bootSector(), 4096u * 512)) << "device ends before the heap";
    EXPECT_TRUE(parseBootSector(bootSector(), 4097u * 512 + 4096)) << "a cut-short heap still lists";
}

TEST(ExfatEntrySet, DecodesWhatADriverWrites)
{
    const std::u16string name = u"A name of thirty-one characters";
    const auto bytes = entrySet(name, 77, 100000, true, false);
    const auto info = decodeEntrySet(bytes);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->entryCount, 5u);
    EXPECT_FALSE(info->inUse);
    EXPECT_EQ(info->name, name);
    EXPECT_TRUE(info->noFatChain);
    EXPECT_EQ(info->firstCluster, 77u);
    EXPECT_EQ(info->dataLength, 100000u);
    EXPECT_EQ(info->modified, (EntryTime{2024, 6, 15, 13, 30, 11}));

    const auto live = decodeEntrySet(entrySet(u"x=y=z.txt", 5, 1, false, true));
    ASSERT_TRUE(live);
    EXPECT_TRUE(live->inUse);
    EXPECT_FALSE(live->noFatChain);
    EXPECT_EQ(live->name, u"x=y=z.txt");
}

TEST(ExfatEntrySet, RefusesBrokenSets)
{
    struct Case
    {
        const char* what;
        std::function<void(std::vector<std::uint8_t>&)> damage;
        bool fixChecksum;
    };
    const Case cases[] = {
        {"checksum off by one", [](auto& b) { b[2] ^= 1; }, false},
        {"a name character changed", [](auto& b) { b[64 + 2] ^= 1; }, false},
        {"stream entry in use, file entry not", [](auto& b) { b[32] |= 0x80; }, true},
        {"name entry in use, file entry not", [](auto& b) { b[64] |= 0x80; }, true},
        {"no stream entry", [](auto& b) { b[32] = 0x41; }, true},
        {"name longer than its entries", [](auto& b) { b[35] = 16; }, true},
        {"name length zero", [](auto& b) { b[35] = 0; }, true},
        {"control character in the name", [](auto& b) { b[64 + 2] = 0x07; }, true},
        {"backslash in the name", [](auto& b) { b[64 + 4] = '\\'; }, true},
        {"name \"..\"", [](auto& b) { b[35] = 2, b[64 + 2] = '.', b[64 + 4] = '.'; }, true},
        {"secondary count below two", [](auto& b) { b[1] = 1; }, true},
        {"set runs past the bytes", [](auto& b) { b[1] = 3; }, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto b = entrySet(u"notes.txt", 9, 10, true, false);
        c.damage(b);
        if (c.fixChecksum && b[1] + 1u <= b.size() / 32)
            put(b, 2, entrySetChecksum(std::span(b).first((b[1] + 1u) * 32)), 2);
        EXPECT_FALSE(decodeEntrySet(b));
    }
}

// Every deleted file and folder of the image, in its folder, with its size; what each content map
// reads is the file written where its entries and clusters survived; nothing graded Exact reads
// anything else.
TEST_F(ExfatImage, NormalScanListsEveryDeletedFileWithItsContent)
{
    open("exfat");
    EXPECT_EQ(toUtf8(volume->geometry().label), "ORVTEST");
    EXPECT_EQ(volume->geometry().clusterCount, 512u);
    const auto found = scan(*device, *volume);

    std::multimap<std::string, const FoundEntry*> byPath;
    for (const auto& e : found) {
        EXPECT_TRUE(e.deleted);
        byPath.emplace(pathOf(e), &e);
        const std::string sha = contentSha(*device, *volume, e);
        if (e.certainty == ContentCertainty::Exact && !e.directory) {
            // An exact map must read one of the files written under that name.
            bool matches = false;
            for (const Row& r : manifest("exfat"))
                matches = matches || (r.path == pathOf(e) && r.sha256 == sha);
            EXPECT_TRUE(matches) << pathOf(e) << " graded Exact reads " << sha;
        }
    }
    std::size_t expected = 0;
    for (const Row& r : manifest("exfat")) {
        SCOPED_TRACE(r.path);
        const auto [from, to] = byPath.equal_range(r.path);
        if (r.state == "live") {
            EXPECT_EQ(from, to) << "a live file listed";
            continue;
        }
        ++expected;
        ASSERT_NE(from, to) << "not listed";
        bool sizeSeen = false, contentSeen = false;
        for (auto it = from; it != to; ++it) {
            sizeSeen = sizeSeen || it->second->size == r.size || r.kind == "dir";
            contentSeen = contentSeen || r.kind == "dir" || contentSha(*device, *volume, *it->second) == r.sha256;
        }
        EXPECT_TRUE(sizeSeen);
        if (r.state == "deleted") {
            EXPECT_TRUE(contentSeen) << "content not as written";
        }
    }
    EXPECT_EQ(found.size(), expected) << "listed more than the volume's deleted entries";

    // No folder hides in the free clusters or in the live files of this volume: both reaches of
    // the Extended scan list what the Normal scan lists.
    for (const bool whole : {false, true}) {
        std::size_t extended = 0;
        EXPECT_TRUE(extendedScan(
            *device, *volume, whole,
            [&](const FoundEntry&) {
                ++extended;
                return true;
            },
            [] { return true; }, nullptr));
        EXPECT_EQ(extended, found.size()) << (whole ? "whole volume" : "free clusters");
    }
}

TEST_F(ExfatImage, CertaintyFollowsWhoHoldsTheClusters)
{
    open("exfat");
    const auto found = scan(*device, *volume);
    struct Case
    {
        std::string path;
        std::uint64_t size;
        ContentCertainty certainty;
        std::size_t runs;
    };
    const Case cases[] = {
        // The fragmented file's chain was zeroed: the guess fills B's gap, steps over C and goes on.
        {"Frag\\big fragmented.bin", 30000, ContentCertainty::Guessed, 2},
        // Here the cluster after the gap is free too, but a deleted entry starts there: stepped over.
        {"Frag2\\big after a gap.bin", 20000, ContentCertainty::Guessed, 2},
        {"Frag2\\C.bin", 4096, ContentCertainty::Exact, 1},
        // B's clusters were the big file's first ones, and the big file is newer.
        {"Frag\\B.bin", 8192, ContentCertainty::FirstClusterInUse, 1},
        {"reused.bin", 12288, ContentCertainty::FirstClusterInUse, 1},
        {"Docs\\readme.txt", 3000, ContentCertainty::Exact, 1},
        {"Docs\\readme.txt", 5000, ContentCertainty::Exact, 1},
        {"empty.txt", 0, ContentCertainty::Exact, 0},
        {"Old\\Sub\\deep.bin", 10000, ContentCertainty::Exact, 1},
        {"x=y=z.txt", 700, ContentCertainty::Exact, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path + " " + std::to_string(c.size));
        const auto it = std::find_if(found.begin(), found.end(),
                                     [&](const FoundEntry& e) { return pathOf(e) == c.path && e.size == c.size; });
        ASSERT_NE(it, found.end());
        EXPECT_EQ(it->certainty, c.certainty);
        EXPECT_EQ(it->content.size(), c.runs);
    }
}

// After a quick format the old root is gone, but its folders lie in free clusters: each is found by
// its shape and listed under "Folder N\", subfolders under their parent, every file with the
// content it had.
TEST_F(ExfatImage, ExtendedScanFindsTheFoldersOfAFormattedVolume)
{
    open("exfat-formatted");
    EXPECT_EQ(toUtf8(volume->geometry().label), "AFTER");
    EXPECT_TRUE(scan(*device, *volume).empty()) << "the new root lists nothing deleted";

    std::uint64_t lastDone = 0, lastTotal = 0;
    std::vector<FoundEntry> found;
    EXPECT_TRUE(extendedScan(
        *device, *volume, false,
        [&](const FoundEntry& e) {
            found.push_back(e);
            return true;
        },
        [] { return true; },
        [&](std::uint64_t done, std::uint64_t total) {
            EXPECT_GE(done, lastDone);
            lastDone = done, lastTotal = total;
        }));
    EXPECT_EQ(lastDone, lastTotal);
    EXPECT_GT(lastTotal, 400u) << "the free clusters were examined";

    // "Photos\2023\tiny.txt" is found as "Folder N\2023\tiny.txt" (N = the old Photos' cluster).
    std::map<std::string, std::string> topFolders; // old top folder -> "Folder N"
    for (const Row& r : manifest("exfat-formatted")) {
        SCOPED_TRACE(r.path);
        const auto cut = r.path.find('\\');
        if (cut == std::string::npos || cut + 1 == r.path.size())
            continue; // the old root's own entries went with its cluster; top folders have no entry
        const std::string below = r.path.substr(cut);
        const auto it = std::find_if(found.begin(), found.end(), [&](const FoundEntry& e) {
            const std::string p = pathOf(e);
            return p.rfind("Folder ", 0) == 0 && p.size() > below.size() &&
                p.compare(p.size() - below.size(), below.size(), below) == 0 && (e.directory || e.size == r.size);
        });
        ASSERT_NE(it, found.end()) << "not found";
        const std::string folder = pathOf(*it).substr(0, pathOf(*it).size() - below.size());
        EXPECT_EQ(topFolders.emplace(r.path.substr(0, cut), folder).first->second, folder)
            << "one old folder, one Folder N";
        EXPECT_TRUE(it->deleted);
        if (r.kind == "file") {
            EXPECT_EQ(contentSha(*device, *volume, *it), r.sha256);
            EXPECT_EQ(it->certainty, ContentCertainty::Exact);
        }
    }
    EXPECT_EQ(topFolders.size(), 2u);
}

// The walk reads every cluster once: a deleted folder that names its own parent, or a FAT chain
// that loops, ends the walk instead of repeating it.
TEST_F(ExfatImage, LoopsAndStopsEndTheWalk)
{
    open("exfat");
    const auto before = scan(*device, *volume);
    const auto deeper = std::find_if(before.begin(), before.end(),
                                     [](const FoundEntry& e) { return pathOf(e) == "Old\\Sub\\Deeper\\"; });
    const auto old =
        std::find_if(before.begin(), before.end(), [](const FoundEntry& e) { return pathOf(e) == "Old\\"; });
    ASSERT_NE(deeper, before.end());
    ASSERT_NE(old, before.end());

    // Old\Sub\Deeper's stream entry points back at Old (checksum fixed up, so the set is trusted).
    std::vector<std::uint8_t> set = deeper->entryBytes;
    put(set, 32 + 20, old->content.front().first, 4);
    put(set, 2, entrySetChecksum(set, true), 2);
    std::uint64_t at = deeper->pieces.front().position;
    ASSERT_EQ(deeper->pieces.size(), 1u);
    std::copy(set.begin(), set.end(), device->bytes().begin() + static_cast<std::ptrdiff_t>(at));
    // And the root's FAT entry points at the root itself.
    const Geometry& g = volume->geometry();
    put(device->bytes(), g.fatPosition + g.rootCluster * 4, g.rootCluster, 4);
    auto looped = loadVolume(*device);
    ASSERT_TRUE(looped);
    const auto after = scan(*device, *looped);
    std::set<std::string> paths;
    for (const auto& e : after)
        paths.insert(pathOf(e) + std::to_string(e.size));
    EXPECT_LE(after.size(), before.size());
    EXPECT_GE(after.size(), before.size() - 1) << "only Deeper's own file is out of reach";
    EXPECT_EQ(paths.size(), after.size()) << "an entry listed twice";

    // Stop after a few directories: false, and what was found so far is still handed over.
    int calls = 0;
    std::size_t visited = 0;
    EXPECT_FALSE(normalScan(
        *device, *looped,
        [&](const FoundEntry&) {
            ++visited;
            return true;
        },
        [&] { return ++calls < 3; }));
    EXPECT_LT(visited, after.size());
}

TEST_F(ExfatImage, WipeClearsOnlyTheEntrySet)
{
    open("exfat");
    const std::vector<std::uint8_t> original = device->bytes();
    const auto found = scan(*device, *volume);
    const auto pick = [&](const std::string& path, std::uint64_t size) {
        const auto it = std::find_if(found.begin(), found.end(),
                                     [&](const FoundEntry& e) { return pathOf(e) == path && e.size == size; });
        EXPECT_NE(it, found.end()) << path;
        return *it;
    };
    const FoundEntry readme = pick("Docs\\readme.txt", 3000); // in a live folder
    const FoundEntry deep = pick("Old\\Sub\\deep.bin", 10000); // in a deleted folder
    const FoundEntry longName = pick("Many\\entry number 17 with a name long enough for three name entries.txt", 629);

    for (const FoundEntry* e : {&readme, &deep, &longName})
        EXPECT_EQ(wipeEntries(*device, *volume, *e), WipeResult::Wiped) << pathOf(*e);
    EXPECT_EQ(wipeEntries(*device, *volume, readme), WipeResult::Changed) << "wiped twice";

    // Only the sets' bytes changed; each slot keeps a type that neither ends the folder nor is in use.
    const auto& now = device->bytes();
    for (std::size_t i = 0; i < now.size(); ++i) {
        if (now[i] == original[i])
            continue;
        bool inside = false;
        for (const FoundEntry* e : {&readme, &deep, &longName})
            for (const EntryPiece& p : e->pieces)
                inside = inside || (i >= p.position && i < p.position + p.length);
        ASSERT_TRUE(inside) << "byte " << i << " changed outside the entry sets";
    }
    for (const FoundEntry* e : {&readme, &deep, &longName})
        for (const EntryPiece& p : e->pieces)
            for (std::uint64_t slot = p.position; slot < p.position + p.length; slot += 32) {
                EXPECT_NE(now[slot], 0x00);
                EXPECT_EQ(now[slot] & 0x80, 0);
                EXPECT_TRUE(std::all_of(now.begin() + static_cast<std::ptrdiff_t>(slot + 1),
                                        now.begin() + static_cast<std::ptrdiff_t>(slot + 32),
                                        [](std::uint8_t b) { return b == 0; }));
            }
    const auto after = scan(*device, *volume);
    EXPECT_EQ(after.size(), found.size() - 3) << "the wiped sets are gone, every other one stays";

    // A set that is in use in a live folder is refused, and nothing is written.
    FoundEntry live = pick("x=y=z.txt", 700);
    for (std::size_t k = 0; k < live.entryBytes.size(); k += 32)
        live.entryBytes[k] |= 0x80;
    std::copy(live.entryBytes.begin(), live.entryBytes.end(),
              device->bytes().begin() + static_cast<std::ptrdiff_t>(live.pieces.front().position));
    const int writes = device->writes;
    EXPECT_EQ(wipeEntries(*device, *volume, live), WipeResult::Live);
    EXPECT_EQ(device->writes, writes);

    test::ScribbleThenFailDevice failing;
    EXPECT_EQ(wipeEntries(failing, *volume, pick("a=b.txt", 4096)), WipeResult::IoError);
}

// Sets a quick format left in use in free clusters belong to no folder any more: Wipe takes them.
TEST_F(ExfatImage, WipeTakesTheEntriesOfAFormerVolume)
{
    open("exfat-formatted");
    std::vector<FoundEntry> found;
    extendedScan(
        *device, *volume, false,
        [&](const FoundEntry& e) {
            found.push_back(e);
            return true;
        },
        [] { return true; }, nullptr);
    const auto song =
        std::find_if(found.begin(), found.end(), [](const FoundEntry& e) { return e.name == u"song.mp3"; });
    ASSERT_NE(song, found.end());
    ASSERT_NE(song->entryBytes[0] & 0x80, 0) << "the set was live before the format";
    EXPECT_EQ(wipeEntries(*device, *volume, *song), WipeResult::Wiped);
}
