// FAT12/16/32: boot sectors, the 12-bit table, directory entries, and the scans on images made by
// tools/make-fat-fixtures.sh (mkfs.fat + mtools), held against the manifest of what was written.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "base/Utf16.h"
#include "fat/Fat.h"
#include "fat/FatDirectory.h"
#include "results/Sha256.h"
#include "tests/support/Devices.h"
#include "tests/support/Fixtures.h"

namespace orv::fat {
namespace {

std::vector<std::uint8_t> loadImage(const std::string& name)
{
    std::ifstream in(test::fixtureImage(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct ManifestLine
{
    std::string path; // "\" between names
    std::uint64_t size = 0;
    std::string sha256;
    std::string state; // live, deleted, overwritten
};

std::vector<ManifestLine> readFatManifest(const std::string& name)
{
    std::vector<ManifestLine> lines;
    std::ifstream in(test::fixturesDir() / (name + ".manifest.tsv"));
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        std::stringstream split(line);
        ManifestLine m;
        std::string size;
        std::getline(split, m.path, '\t');
        std::getline(split, size, '\t');
        std::getline(split, m.sha256, '\t');
        std::getline(split, m.state, '\t');
        m.size = std::stoull(size);
        lines.push_back(m);
    }
    return lines;
}

struct Scanned
{
    std::string path;
    FoundEntry entry;
};

// An image in memory with its volume loaded.
struct Image
{
    explicit Image(const std::string& name) : device(loadImage(name))
    {
        std::vector<std::uint8_t> sector(512);
        EXPECT_TRUE(device.read(0, sector));
        auto g = parseBootSector(sector, device.size());
        if (!g)
            return;
        volume = Volume::load(device, *g, [] { return true; });
    }

    std::vector<Scanned> scan(bool extended = false)
    {
        std::vector<Scanned> out;
        auto visit = [&](const FoundEntry& e) {
            out.push_back({toUtf8(e.folder + e.name), e});
            return true;
        };
        const bool done = extended ? extendedScan(device, *volume, false, visit, [] { return true; }, {})
                                   : normalScan(device, *volume, visit, [] { return true; });
        EXPECT_TRUE(done);
        return out;
    }

    // What the content map reads, cut to the size.
    std::string contentSha(const FoundEntry& e)
    {
        std::vector<std::uint8_t> bytes;
        const auto& g = volume->geometry();
        for (const ClusterRun& run : e.content) {
            std::vector<std::uint8_t> piece(run.count * g.bytesPerCluster);
            EXPECT_TRUE(device.read(g.clusterPosition(run.first), piece));
            bytes.insert(bytes.end(), piece.begin(), piece.end());
        }
        if (bytes.size() < e.size)
            return "short";
        bytes.resize(e.size);
        return sha256Hex(bytes);
    }

    test::MemoryDevice device;
    std::optional<Volume> volume;
};

const Scanned* find(const std::vector<Scanned>& list, const std::string& path)
{
    for (const Scanned& s : list)
        if (s.path == path)
            return &s;
    return nullptr;
}

// ---------------------------------------------------------------------------------------------
// Boot sector

TEST(FatBootSector, RealImagesGiveTheirGeometry)
{
    struct Case
    {
        const char* image;
        const char* kind;
        std::uint32_t bytesPerCluster;
        std::uint32_t serial;
        const char16_t* label;
        bool fixedRoot;
    };
    const Case cases[] = {
        {"fat12", "FAT12", 1024, 0x0FA71200, u"ORV FAT12", true},
        {"fat16", "FAT16", 512, 0x0FA71600, u"ORV FAT16", true},
        {"fat32", "FAT32", 512, 0x0FA73200, u"ORV FAT32", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.image);
        const auto bytes = loadImage(c.image);
        ASSERT_GE(bytes.size(), 512u);
        const auto g = parseBootSector(std::span(bytes).first(512), bytes.size());
        ASSERT_TRUE(g);
        EXPECT_EQ(g->kindName, c.kind);
        EXPECT_EQ(g->bytesPerCluster, c.bytesPerCluster);
        EXPECT_EQ(g->serial, c.serial);
        EXPECT_EQ(g->label, c.label);
        EXPECT_EQ(g->rootDirBytes != 0, c.fixedRoot);
        EXPECT_EQ(g->rootCluster != 0, !c.fixedRoot);
        EXPECT_EQ(g->totalSectors * g->bytesPerSector, bytes.size());
        // The data area ends inside the volume, and cluster 2 is where the data area begins.
        EXPECT_LE(g->dataPosition + g->clusterCount * g->bytesPerCluster, bytes.size());
        EXPECT_EQ(g->clusterPosition(2), g->dataPosition);
        EXPECT_EQ(g->clusterPosition(1), UINT64_MAX);
        EXPECT_EQ(g->clusterPosition(g->lastCluster() + 1), UINT64_MAX);
    }
}

TEST(FatBootSector, ImpossibleNumbersAreRefused)
{
    const auto fat16 = loadImage("fat16");
    const auto fat32 = loadImage("fat32");
    ASSERT_GE(fat16.size(), 512u);
    ASSERT_GE(fat32.size(), 512u);
    struct Case
    {
        const char* what;
        const std::vector<std::uint8_t>* image;
        std::size_t offset;
        std::vector<std::uint8_t> bytes;
    };
    const Case cases[] = {
        {"no jump", &fat16, 0x00, {0x00}},
        {"no signature", &fat16, 0x1FE, {0x00, 0x00}},
        {"sector size 0", &fat16, 0x0B, {0x00, 0x00}},
        {"sector size 768", &fat16, 0x0B, {0x00, 0x03}},
        {"3 sectors a cluster", &fat16, 0x0D, {3}},
        {"128 KiB clusters", &fat16, 0x0D, {0x00}},
        {"no reserved sectors", &fat16, 0x0E, {0x00, 0x00}},
        {"no FAT", &fat16, 0x10, {0}},
        {"no sectors", &fat16, 0x13, {0x00, 0x00}},
        {"media byte", &fat16, 0x15, {0x12}},
        {"FAT too small for the clusters", &fat16, 0x16, {0x01, 0x00}},
        {"FAT larger than the volume", &fat16, 0x16, {0xFF, 0xFF}},
        {"FAT16 layout without root entries", &fat16, 0x11, {0x00, 0x00}},
        {"FAT32 layout with root entries", &fat32, 0x11, {0x00, 0x02}},
        {"FAT32 root cluster 0", &fat32, 0x2C, {0, 0, 0, 0}},
        {"FAT32 root cluster past the end", &fat32, 0x2C, {0xFF, 0xFF, 0xFF, 0x0F}},
        // A FAT32 layout over so few clusters that the count says FAT16.
        {"FAT32 layout, FAT16 count", &fat32, 0x20, {0x00, 0x80, 0x00, 0x00}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::uint8_t> sector(c.image->begin(), c.image->begin() + 512);
        ASSERT_TRUE(parseBootSector(sector, c.image->size()));
        std::copy(c.bytes.begin(), c.bytes.end(), sector.begin() + static_cast<std::ptrdiff_t>(c.offset));
        EXPECT_FALSE(parseBootSector(sector, c.image->size()));
    }
    // Too short, and a device too small to hold the tables.
    EXPECT_FALSE(parseBootSector(std::span(fat16).first(511), std::nullopt));
    EXPECT_FALSE(parseBootSector(std::span(fat16).first(512), 4096));
    // An NTFS boot sector is not FAT.
    const auto ntfs = loadImage("ntfs-c4096");
    ASSERT_GE(ntfs.size(), 512u);
    EXPECT_FALSE(parseBootSector(std::span(ntfs).first(512), ntfs.size()));
}

// ---------------------------------------------------------------------------------------------
// The allocation table

TEST(FatTable, TwelveBitEntriesArePackedInPairs)
{
    Image image("fat12");
    ASSERT_TRUE(image.volume);
    auto bytes = image.device.bytes();
    const std::uint64_t fat = image.volume->geometry().fatPosition;
    // Entries 2 and 3 share bytes 3..5: 0x123 and 0xABC are 23 C1 AB.
    bytes[fat + 3] = 0x23;
    bytes[fat + 4] = 0xC1;
    bytes[fat + 5] = 0xAB;
    // Entries 4 and 5: 0x005 (a chain to 5) and 0xFFF (its end).
    bytes[fat + 6] = 0x05;
    bytes[fat + 7] = 0xF0;
    bytes[fat + 8] = 0xFF;
    test::MemoryDevice device(bytes);
    const auto volume = Volume::load(device, image.volume->geometry(), [] { return true; });
    ASSERT_TRUE(volume);
    EXPECT_EQ(volume->entry(2), 0x123u);
    EXPECT_EQ(volume->entry(3), 0xABCu);
    EXPECT_EQ(volume->entry(4), 0x005u);
    EXPECT_EQ(volume->entry(5), 0xFFFu);
    EXPECT_EQ(volume->nextInChain(4), 5u);
    EXPECT_EQ(volume->nextInChain(5), std::nullopt);
    EXPECT_EQ(volume->nextInChain(3), std::nullopt); // 0xABC names no cluster of this volume
    EXPECT_TRUE(volume->clusterInUse(5));
    // Outside the data clusters counts as in use; the last cluster has an entry of its own.
    const auto last = volume->geometry().lastCluster();
    EXPECT_TRUE(volume->clusterInUse(0));
    EXPECT_TRUE(volume->clusterInUse(last + 1));
    EXPECT_TRUE(volume->entry(last));
    EXPECT_FALSE(volume->entry(last + 1));
}

TEST(FatTable, StopAndUnreadableTables)
{
    Image image("fat16");
    ASSERT_TRUE(image.volume);
    EXPECT_FALSE(Volume::load(image.device, image.volume->geometry(), [] { return false; }));
    test::ScribbleThenFailDevice failing;
    EXPECT_FALSE(Volume::load(failing, image.volume->geometry(), [] { return true; }));
}

// ---------------------------------------------------------------------------------------------
// Directory entries

std::array<std::uint8_t, 32> shortEntry(const char (&name)[12], std::uint8_t attributes, std::uint16_t cluster,
                                        std::uint32_t size, std::uint8_t caseFlags = 0)
{
    std::array<std::uint8_t, 32> e{};
    std::copy(name, name + 11, e.begin());
    e[0x0B] = attributes;
    e[0x0C] = caseFlags;
    e[0x18] = 0x21; // 1980-01-01
    e[0x1A] = static_cast<std::uint8_t>(cluster);
    e[0x1B] = static_cast<std::uint8_t>(cluster >> 8);
    for (int i = 0; i < 4; ++i)
        e[0x1C + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(size >> (8 * i));
    return e;
}

// The long-name entries for `name` (last part first, as they lie), for the short name given.
std::vector<std::array<std::uint8_t, 32>> longEntries(const std::u16string& name,
                                                      std::span<const std::uint8_t, 11> shortName, bool deleted)
{
    static constexpr std::size_t kOffsets[] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    const std::uint8_t checksum = shortNameChecksum(shortName);
    const std::size_t parts = (name.size() + 12) / 13;
    std::vector<std::array<std::uint8_t, 32>> out;
    for (std::size_t p = parts; p-- > 0;) {
        std::array<std::uint8_t, 32> e{};
        e[0] = deleted ? 0xE5 : static_cast<std::uint8_t>((p + 1) | (p + 1 == parts ? 0x40 : 0));
        e[0x0B] = 0x0F;
        e[0x0D] = checksum;
        for (std::size_t i = 0; i < 13; ++i) {
            const std::size_t at = p * 13 + i;
            const char16_t u = at < name.size() ? name[at] : at == name.size() ? 0 : 0xFFFF;
            e[kOffsets[i]] = static_cast<std::uint8_t>(u);
            e[kOffsets[i] + 1] = static_cast<std::uint8_t>(u >> 8);
        }
        out.push_back(e);
    }
    return out;
}

std::vector<DirectoryRecord> walkBytes(const std::vector<std::array<std::uint8_t, 32>>& slots)
{
    std::vector<std::uint8_t> bytes;
    for (const auto& s : slots)
        bytes.insert(bytes.end(), s.begin(), s.end());
    std::vector<DirectoryRecord> out;
    walkDirectory(bytes, false, [&](const DirectoryRecord& r) {
        out.push_back(r);
        return true;
    });
    return out;
}

TEST(FatDirectory, NamesAsTheEntriesGiveThem)
{
    const auto live = shortEntry("REPORT  TXT", 0x20, 5, 100);
    auto deleted = live;
    deleted[0] = 0xE5;
    const auto lower = shortEntry("NOTES   TXT", 0x20, 6, 10, 0x18);
    const auto lowerBase = shortEntry("README  TXT", 0x20, 6, 10, 0x08);
    auto realE5 = shortEntry("xABC    TXT", 0x20, 7, 1);
    realE5[0] = 0x05;
    auto deletedLower = lower;
    deletedLower[0] = 0xE5;
    const auto noExtension = shortEntry("MAKEFILE   ", 0x20, 8, 1);

    auto longShort = shortEntry("XYZ~1   TXT", 0x20, 9, 900);
    const auto longName = longEntries(u"x=y=z and a long tail.txt", std::span(longShort).first<11>(), false);
    auto deletedShort = longShort;
    deletedShort[0] = 0xE5;
    const auto deletedLong = longEntries(u"x=y=z and a long tail.txt", std::span(longShort).first<11>(), true);
    auto badChecksum = longEntries(u"Wrong owner.txt", std::span(longShort).first<11>(), false);
    badChecksum[0][0x0D] ^= 1;
    badChecksum[1][0x0D] ^= 1;

    struct Case
    {
        const char* what;
        std::vector<std::array<std::uint8_t, 32>> slots;
        std::u16string name;
        bool deleted;
        bool longName;
    };
    std::vector<Case> cases = {
        {"8.3", {live}, u"REPORT.TXT", false, false},
        {"deleted 8.3: first letter gone", {deleted}, u"_EPORT.TXT", true, false},
        {"lower-case flags", {lower}, u"notes.txt", false, false},
        {"lower-case base only", {lowerBase}, u"readme.TXT", false, false},
        {"deleted, lower case", {deletedLower}, u"_otes.txt", true, false},
        {"0x05 is a real 0xE5", {realE5}, u"\u03C3ABC.TXT", false, false},
        {"no extension", {noExtension}, u"MAKEFILE", false, false},
    };
    auto withShort = [](std::vector<std::array<std::uint8_t, 32>> l, const std::array<std::uint8_t, 32>& s) {
        l.push_back(s);
        return l;
    };
    cases.push_back({"long name", withShort(longName, longShort), u"x=y=z and a long tail.txt", false, true});
    cases.push_back(
        {"deleted long name", withShort(deletedLong, deletedShort), u"x=y=z and a long tail.txt", true, true});
    cases.push_back({"checksum of another name", withShort(badChecksum, longShort), u"XYZ~1.TXT", false, false});
    // A deleted set whose farthest entry (with the name's end) a later file took: what is left
    // fills its entry exactly and looks whole, but the short extension says it is not.
    auto cutShort = shortEntry("DRAFTR~1DOC", 0x20, 9, 900);
    auto cutLong = longEntries(u"Draft report.doc", std::span(cutShort).first<11>(), true);
    cutLong.erase(cutLong.begin());
    cutShort[0] = 0xE5;
    cases.push_back({"long name missing its end", withShort(cutLong, cutShort), u"_RAFTR~1.DOC", true, false});
    // The deleted long-name entries of an earlier file before a deleted 8.3 one: not its name.
    cases.push_back({"stale long name", withShort(deletedLong, deleted), u"_EPORT.TXT", true, false});

    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto records = walkBytes(c.slots);
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(toUtf8(records[0].name), toUtf8(c.name));
        EXPECT_EQ(records[0].deleted, c.deleted);
        EXPECT_EQ(records[0].longName, c.longName);
        EXPECT_EQ(records[0].shortSlot, c.slots.size() - 1);
        EXPECT_EQ(records[0].firstSlot, c.longName ? 0u : c.slots.size() - 1);
    }
}

TEST(FatDirectory, WhatIsNotAFileIsSkipped)
{
    auto control = shortEntry("AB\x01     TXT", 0x20, 5, 1);
    control[0] = 0xE5;
    const auto reservedBits = shortEntry("GOOD    TXT", 0x60, 5, 1);
    const auto label = shortEntry("MY DISK    ", 0x08, 0, 0);
    const auto labelFolder = shortEntry("ODD        ", 0x18, 5, 0);
    std::array<std::uint8_t, 32> wiped{};
    wiped[0] = 0xE5;
    const auto after = shortEntry("AFTER   TXT", 0x20, 5, 1);
    const auto dot = shortEntry(".          ", 0x10, 5, 0);
    const auto records = walkBytes({control, reservedBits, label, labelFolder, wiped, dot, {}, after});
    // Only "." remains, and the end mark hides what lies after it.
    ASSERT_EQ(records.size(), 1u);
    EXPECT_TRUE(records[0].dotEntry);

    // Times: 2023-06-15 13:45:58 and an impossible month.
    EXPECT_EQ(decodeFatTime(static_cast<std::uint16_t>((43 << 9) | (6 << 5) | 15),
                            static_cast<std::uint16_t>((13 << 11) | (45 << 5) | 29)),
              (EntryTime{2023, 6, 15, 13, 45, 58}));
    EXPECT_FALSE(decodeFatTime(static_cast<std::uint16_t>((43 << 9) | (13 << 5) | 15), 0));
    EXPECT_FALSE(decodeFatTime(0, 0));
}

// ---------------------------------------------------------------------------------------------
// The Normal scan on real images

// The 8.3 names the images hold, as a deleted entry shows them.
std::string shownName(const std::string& path)
{
    static const std::map<std::string, std::string> kShort = {
        {"REPORT.TXT", "_EPORT.TXT"},  {"notes.txt", "_otes.txt"},   {"BUDGET.XLS", "_UDGET.XLS"},
        {"TINY.TXT", "_INY.TXT"},      {"victim.bin", "_ictim.bin"}, {"draft.doc", "_raft.doc"},
        {"XEPORT.TXT", "_EPORT.TXT"},  {"wall2.bin", "_all2.bin"},   {"empty.dat", "_mpty.dat"},
        {"IMG0002.JPG", "_MG0002.JPG"}};
    const auto slash = path.rfind('\\');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const auto it = kShort.find(name);
    return folder + (it == kShort.end() ? name : it->second);
}

class FatImage : public ::testing::TestWithParam<const char*>
{};

TEST_P(FatImage, NormalScanListsEveryDeletedFileWithItsContent)
{
    Image image(GetParam());
    ASSERT_TRUE(image.volume);
    const auto listed = image.scan();
    const auto manifest = readFatManifest(GetParam());
    ASSERT_FALSE(manifest.empty());

    // Every deleted file of the manifest is listed under its path, once per deletion, with its
    // size; content that is graded exact is exactly what was written.
    std::map<std::string, int> expected;
    for (const ManifestLine& m : manifest)
        if (m.state != "live")
            ++expected[shownName(m.path)];
    std::map<std::string, int> files;
    int exactRestores = 0, restorable = 0;
    for (const Scanned& s : listed) {
        SCOPED_TRACE(s.path);
        EXPECT_TRUE(s.entry.deleted);
        if (s.entry.directory)
            continue;
        ++files[s.path];
        std::vector<const ManifestLine*> lines;
        for (const ManifestLine& m : manifest)
            if (shownName(m.path) == s.path && m.state != "live")
                lines.push_back(&m);
        ASSERT_FALSE(lines.empty()) << "listed but never deleted";
        const std::string sha = image.contentSha(s.entry);
        const auto same = std::find_if(lines.begin(), lines.end(), [&](const ManifestLine* m) {
            return m->size == s.entry.size && m->sha256 == sha;
        });
        if (s.entry.certainty == ContentCertainty::Exact) {
            EXPECT_NE(same, lines.end()) << "graded exact but the content differs";
        }
        if (same != lines.end())
            ++exactRestores;
    }
    EXPECT_EQ(files, expected);
    for (const ManifestLine& m : manifest)
        restorable += m.state == "deleted";
    // Every file whose clusters still hold it comes back byte for byte, the fragmented one too.
    EXPECT_EQ(exactRestores, restorable);

    // Deleted folders to any depth, as folders.
    for (const char* folder : {"Old", "Old\\Sub", "Old\\Sub\\Deeper"}) {
        const Scanned* s = find(listed, folder);
        ASSERT_TRUE(s) << folder;
        EXPECT_TRUE(s->entry.directory);
    }

    // The certainty of each kind of content.
    const Scanned* frag = find(listed, "Frag\\fragmented video.mp4");
    ASSERT_TRUE(frag);
    EXPECT_EQ(frag->entry.certainty, ContentCertainty::Guessed);
    EXPECT_GE(frag->entry.content.size(), 2u);
    const Scanned* victim = find(listed, "Reuse\\_ictim.bin");
    ASSERT_TRUE(victim);
    EXPECT_EQ(victim->entry.certainty, ContentCertainty::FirstClusterInUse);
    const Scanned* empty = find(listed, "_mpty.dat");
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->entry.certainty, ContentCertainty::Exact);
    EXPECT_TRUE(empty->entry.content.empty());
    const Scanned* longName = find(listed, "Holiday Photo 2023 from the beach.jpg");
    ASSERT_TRUE(longName);
    // Three long-name entries and the short one; on FAT32 the root folder's second cluster is not
    // next to its first, so the set lies in two pieces.
    EXPECT_EQ(longName->entry.entryBytes.size(), 4 * 32u);
    std::uint64_t pieceBytes = 0;
    for (const EntryPiece& p : longName->entry.pieces)
        pieceBytes += p.length;
    EXPECT_EQ(pieceBytes, 4 * 32u);
}

TEST_P(FatImage, ExtendedScanOnAnUnformattedVolumeAddsNothing)
{
    Image image(GetParam());
    ASSERT_TRUE(image.volume);
    const auto normal = image.scan();
    const auto extended = image.scan(true);
    ASSERT_EQ(normal.size(), extended.size());
    for (std::size_t i = 0; i < normal.size(); ++i)
        EXPECT_EQ(normal[i].path, extended[i].path);
}

INSTANTIATE_TEST_SUITE_P(Images, FatImage, ::testing::Values("fat12", "fat16", "fat32"));

TEST(FatScan, StopEndsTheWalk)
{
    Image image("fat16");
    ASSERT_TRUE(image.volume);
    int asked = 0;
    int visited = 0;
    EXPECT_FALSE(normalScan(
        image.device, *image.volume, [&](const FoundEntry&) { return ++visited, true; }, [&] { return ++asked < 3; }));
    EXPECT_GE(asked, 3);
    EXPECT_FALSE(normalScan(
        image.device, *image.volume, [](const FoundEntry&) { return false; }, [] { return true; }));
}

TEST(FatScan, LoopsInChainsAndFoldersEnd)
{
    Image image("fat32");
    ASSERT_TRUE(image.volume);
    const auto before = image.scan();
    const auto& g = image.volume->geometry();

    // The root folder's chain led back to its start, and the deleted folder "Old\Sub" naming
    // "Old" itself as its first cluster: the walk still ends.
    std::uint64_t last = g.rootCluster;
    for (int i = 0; i < 100; ++i) {
        const auto next = image.volume->nextInChain(last);
        if (!next)
            break;
        last = *next;
    }
    auto bytes = image.device.bytes();
    for (int i = 0; i < 4; ++i)
        bytes[g.fatPosition + last * 4 + static_cast<std::size_t>(i)] =
            static_cast<std::uint8_t>(g.rootCluster >> (8 * i));
    const Scanned* sub = find(before, "Old\\Sub");
    ASSERT_TRUE(sub);
    const EntryPiece shortEntryAt = sub->entry.pieces.back();
    const std::uint64_t shortAt = shortEntryAt.position + shortEntryAt.length - 32;
    const Scanned* old = find(before, "Old");
    ASSERT_TRUE(old);
    const std::uint64_t oldShort = old->entry.pieces.back().position + old->entry.pieces.back().length - 32;
    for (const std::size_t field : {0x14u, 0x15u, 0x1Au, 0x1Bu})
        bytes[shortAt + field] = bytes[oldShort + field];

    test::MemoryDevice looped(bytes);
    const auto volume = Volume::load(looped, g, [] { return true; });
    ASSERT_TRUE(volume);
    std::vector<std::string> paths;
    EXPECT_TRUE(normalScan(
        looped, *volume, [&](const FoundEntry& e) { return paths.push_back(toUtf8(e.folder + e.name)), true; },
        [] { return true; }));
    // "Old\Sub" is still listed; what lay below it cannot be reached any more.
    EXPECT_NE(std::find(paths.begin(), paths.end(), "Old\\Sub"), paths.end());
    EXPECT_EQ(std::find(paths.begin(), paths.end(), "Old\\Sub\\_UDGET.XLS"), paths.end());
    EXPECT_NE(std::find(paths.begin(), paths.end(), "Holiday Photo 2023 from the beach.jpg"), paths.end());
    EXPECT_LT(paths.size(), before.size());
}

// ---------------------------------------------------------------------------------------------
// The Extended scan after a quick format

TEST(FatScan, ExtendedScanFindsTheFoldersAQuickFormatHid)
{
    Image image("fat32-formatted");
    ASSERT_TRUE(image.volume);
    EXPECT_TRUE(image.scan().empty()); // the new root is empty
    const auto listed = image.scan(true);
    const auto manifest = readFatManifest("fat32-formatted");

    // Each file below a first-level folder is found under "Folder N\" and the rest of its path;
    // those in the root went with it.
    int expected = 0, found = 0;
    for (const ManifestLine& m : manifest) {
        const auto slash = m.path.find('\\');
        if (slash == std::string::npos)
            continue;
        ++expected;
        const std::string rest = m.state == "live" ? m.path.substr(slash + 1) : shownName(m.path.substr(slash + 1));
        const auto hit = std::find_if(listed.begin(), listed.end(), [&](const Scanned& s) {
            return s.path.rfind("Folder ", 0) == 0 && s.path.size() > rest.size() &&
                s.path.compare(s.path.size() - rest.size(), rest.size(), rest) == 0 &&
                s.path[s.path.size() - rest.size() - 1] == '\\';
        });
        ASSERT_NE(hit, listed.end()) << m.path;
        EXPECT_TRUE(hit->entry.deleted);
        EXPECT_EQ(image.contentSha(hit->entry), m.sha256) << m.path;
        found += image.contentSha(hit->entry) == m.sha256;
    }
    EXPECT_EQ(found, expected);
    EXPECT_EQ(expected, 5);
    // The whole-volume reach finds the same files (the data area holds nothing else), and its
    // progress runs to the cluster count.
    std::uint64_t lastDone = 0, lastTotal = 0;
    std::size_t wholeCount = 0;
    EXPECT_TRUE(extendedScan(
        image.device, *image.volume, true, [&](const FoundEntry&) { return ++wholeCount, true; }, [] { return true; },
        [&](std::uint64_t done, std::uint64_t total) {
            EXPECT_LE(done, total);
            EXPECT_GE(done, lastDone);
            lastDone = done;
            lastTotal = total;
        }));
    EXPECT_EQ(wholeCount, listed.size());
    EXPECT_EQ(lastTotal, image.volume->geometry().clusterCount);
    EXPECT_EQ(lastDone, lastTotal);
    // Stop during the search: false, and nothing from beyond the stop.
    int asked = 0;
    EXPECT_FALSE(extendedScan(
        image.device, *image.volume, false, [](const FoundEntry&) { return true; }, [&] { return ++asked < 2; }, {}));

    // "Plans" and "2023" are found through their parents, not as folders of their own.
    for (const Scanned& s : listed)
        EXPECT_EQ(s.path.find("\\Folder "), std::string::npos) << s.path;
}

// ---------------------------------------------------------------------------------------------
// Wipe

TEST(FatWipe, OnlyTheEntryBytesChange)
{
    for (const char* name : {"fat12", "fat32"}) {
        SCOPED_TRACE(name);
        Image image(name);
        ASSERT_TRUE(image.volume);
        const auto listed = image.scan();
        // The long name lies in two pieces on FAT32 (the root folder's clusters are apart there).
        for (const char* path :
             {"x=y=z.txt", "Old\\Sub\\Deeper\\_INY.TXT", "Kept\\_raft.doc", "Holiday Photo 2023 from the beach.jpg"}) {
            SCOPED_TRACE(path);
            const Scanned* s = find(listed, path);
            ASSERT_TRUE(s);
            const auto before = image.device.bytes();
            ASSERT_EQ(wipeEntries(image.device, *image.volume, s->entry), WipeResult::Wiped);
            const auto& after = image.device.bytes();
            std::size_t changed = 0;
            for (std::size_t i = 0; i < before.size(); ++i) {
                if (before[i] == after[i])
                    continue;
                ++changed;
                const bool inside =
                    std::any_of(s->entry.pieces.begin(), s->entry.pieces.end(),
                                [&](const EntryPiece& p) { return i >= p.position && i < p.position + p.length; });
                EXPECT_TRUE(inside) << "byte " << i;
            }
            EXPECT_GT(changed, 0u);
            for (const EntryPiece& p : s->entry.pieces)
                for (std::uint64_t at = p.position; at < p.position + p.length; ++at)
                    EXPECT_EQ(after[at], (at - p.position) % 32 == 0 ? 0xE5 : 0x00);
            // Once wiped, it is no longer what was scanned.
            EXPECT_EQ(wipeEntries(image.device, *image.volume, s->entry), WipeResult::Changed);
        }
        // The wiped files are gone from the listing and nothing else is.
        const auto again = image.scan();
        EXPECT_FALSE(find(again, "x=y=z.txt"));
        EXPECT_FALSE(find(again, "Old\\Sub\\Deeper\\_INY.TXT"));
        EXPECT_TRUE(find(again, "Old\\Sub\\Deeper\\deep file.bin"));
        EXPECT_EQ(again.size(), listed.size() - 4);
    }
}

TEST(FatWipe, RefusesLiveEntriesAndFailingDevices)
{
    Image image("fat16");
    ASSERT_TRUE(image.volume);
    const auto listed = image.scan();
    const Scanned* s = find(listed, "a=b.txt");
    ASSERT_TRUE(s);

    // The same entry undeleted since the scan (first bytes back): its bytes differ, so Changed;
    // described as it is now, it is live.
    FoundEntry live = s->entry;
    for (std::size_t at = 0; at < live.entryBytes.size(); at += 32)
        live.entryBytes[at] = at + 32 == live.entryBytes.size() ? 'A' : 0x41;
    auto bytes = image.device.bytes();
    test::MemoryDevice undeleted(bytes);
    std::size_t consumed = 0;
    for (const EntryPiece& p : live.pieces) {
        std::copy(live.entryBytes.begin() + static_cast<std::ptrdiff_t>(consumed),
                  live.entryBytes.begin() + static_cast<std::ptrdiff_t>(consumed + p.length),
                  undeleted.bytes().begin() + static_cast<std::ptrdiff_t>(p.position));
        consumed += p.length;
    }
    const auto snapshot = undeleted.bytes();
    EXPECT_EQ(wipeEntries(undeleted, *image.volume, s->entry), WipeResult::Changed);
    EXPECT_EQ(wipeEntries(undeleted, *image.volume, live), WipeResult::Live);
    EXPECT_EQ(undeleted.bytes(), snapshot);

    test::ScribbleThenFailDevice failing;
    EXPECT_EQ(wipeEntries(failing, *image.volume, s->entry), WipeResult::IoError);
    FoundEntry noPieces = s->entry;
    noPieces.pieces.clear();
    EXPECT_EQ(wipeEntries(image.device, *image.volume, noPieces), WipeResult::Changed);
}

} // namespace
} // namespace orv::fat
