// Files found by their content, as the whole-disc scan finds them: which clusters a found file
// takes (free ones, none a listed file explains), where a run of text begins and ends, and that a
// file stored in two fragments is put together again.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "carve/Format.h"
#include "platform/linux/FileDevice.h"
#include "results/FileSystem.h"
#include "results/JpegPreview.h"
#include "results/Operations.h"
#include "results/Sha256.h"
#include "scan/ContentCarving.h"
#include "scan/EntryVolume.h"
#include "scan/FindChecks.h"
#include "shell/LanguageTexts.h"
#include "tests/support/Devices.h"
#include "tests/support/Fixtures.h"
#include "tests/support/RefusalUi.h"
#include "tests/support/TestPumps.h"

namespace orv {
namespace {

constexpr std::uint64_t kCluster = 512;
constexpr std::uint64_t kClusters = 64;

std::string words(std::size_t n, char seed)
{
    std::string text;
    while (text.size() < n)
        text += std::string("line ") + seed + " of the notes, with words enough to fill a cluster.\n";
    text.resize(n);
    return text;
}

struct Volume
{
    std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(kCluster * kClusters, 0);
    std::vector<bool> inUse = std::vector<bool>(kClusters, false);

    void put(std::uint64_t cluster, const std::string& text)
    {
        std::memcpy(bytes.data() + cluster * kCluster, text.data(), text.size());
    }
    // Bytes of no format and no text: a live file's, or another deleted file's.
    void binary(std::uint64_t cluster)
    {
        for (std::uint64_t i = 0; i < kCluster; ++i)
            bytes[cluster * kCluster + i] = static_cast<std::uint8_t>(i * 7 + 1);
    }
};

std::vector<FoundByContent> carveAll(Volume& volume, const std::vector<ClusterRun>& explained = {})
{
    ContentCarving carving;
    carving.setVolume({kCluster, 0, kClusters - 1, 0}, [&](std::uint64_t c) { return volume.inUse[c]; });
    // The sweep shows the volume in pieces, as it reads it.
    for (std::uint64_t first = 0; first < kClusters; first += 8)
        carving.look(first, std::span(volume.bytes).subspan(first * kCluster, 8 * kCluster));
    for (const ClusterRun& run : explained)
        carving.explainClusters(run.first, run.count);
    test::MemoryDevice device(volume.bytes);
    return carving.carve(device, [] { return true; });
}

TEST(ContentCarving, TextRunsEndAtTheirSlackAndPassOverWhatIsInUse)
{
    Volume v;
    // A: three clusters of text, the last one ending in the slack's NULs.
    v.put(3, words(2 * kCluster + 176, 'a'));
    // B: text in clusters 12 and 14; 13 is a live file's, so B's second cluster follows it.
    v.put(12, words(kCluster, 'b'));
    v.binary(13);
    v.inUse[13] = true;
    v.put(14, words(100, 'c'));
    // Text in a cluster in use, and text a listed file explains: neither is found.
    v.put(20, words(300, 'd'));
    v.inUse[20] = true;
    v.put(24, words(300, 'e'));
    // C and D back to back: C ends inside cluster 30, so D begins a file of its own at 31.
    v.put(30, words(200, 'f'));
    v.put(31, words(kCluster + 40, 'g'));

    const auto found = carveAll(v, {{24, 1}});
    struct Expected
    {
        std::uint64_t first;
        std::uint64_t size;
        std::vector<ClusterRun> runs;
    };
    const std::vector<Expected> expected{
        {3, 2 * kCluster + 176, {{3, 3}}},
        {12, kCluster + 100, {{12, 1}, {14, 1}}},
        {30, 200, {{30, 1}}},
        {31, kCluster + 40, {{31, 2}}},
    };
    ASSERT_EQ(found.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(found[i].extension, "txt");
        EXPECT_EQ(found[i].firstCluster, expected[i].first);
        EXPECT_EQ(found[i].size, expected[i].size);
        EXPECT_EQ(found[i].runs, expected[i].runs);
        // Text has nothing to check its bytes by: never more than Average.
        EXPECT_TRUE(found[i].whole);
        EXPECT_FALSE(found[i].contentChecked);
    }
}

TEST(ContentCarving, TextClustersAreToldFromBinaryAndSlack)
{
    const auto text = [](std::string s, std::size_t pad) {
        std::vector<std::uint8_t> bytes(s.begin(), s.end());
        bytes.resize(bytes.size() + pad, 0);
        std::size_t length = 0;
        const bool isText = isTextCluster(bytes, &length);
        return std::pair{isText, length};
    };
    EXPECT_EQ(text("plain words\n", 0), std::pair(true, std::size_t{12}));
    EXPECT_EQ(text("Grüße – привет", 20), std::pair(true, std::string("Grüße – привет").size()));
    // A sequence that the cluster's end cuts is still text.
    EXPECT_TRUE(text(std::string("end of ") + "\xD0", 0).first);
    EXPECT_FALSE(text(std::string("bad \xC0\x80 sequence"), 0).first);
    EXPECT_FALSE(text(std::string("control \x01 byte"), 0).first);
    // Text, then NULs, then text again is no file's slack.
    EXPECT_FALSE(text(std::string("abc\0\0def", 8), 0).first);
    EXPECT_FALSE(text("", 64).first);
}

// The sweep passes over clusters that begin with sixteen zeros without asking the formats: none of
// them may begin so, whatever follows.
TEST(ContentCarving, NoFormatBeginsWithSixteenZeros)
{
    std::vector<std::uint8_t> head(carve::kHeadBytes, 0);
    for (std::uint32_t seed = 0; seed < 64; ++seed) {
        for (std::size_t i = 16; i < head.size(); ++i)
            head[i] = static_cast<std::uint8_t>((i * 2654435761u + seed * 40503u) >> 11);
        for (const carve::Format& format : carve::formats())
            EXPECT_FALSE(format.begins(head)) << format.name;
    }
}

std::vector<std::uint8_t> fileBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// A file stored in two fragments with deleted bytes of no listed file between them: a cluster of
// another file of its own format (a picture's middle between a picture's parts), or noise. The
// parse breaks there, the search leaves the gap out, and the file comes back byte for byte, graded
// as a guess. What lay between is not taken for part of it.
TEST(ContentCarving, AFileInTwoFragmentsIsPutTogetherAgain)
{
    struct Case
    {
        const char* file;
        const char* between; // a file whose second cluster fills the gap; null: noise
    };
    const std::filesystem::path media = std::filesystem::path(ORV_CARVE_MEDIA);
    const std::filesystem::path documents = std::filesystem::path(ORV_CARVE_DOCUMENTS);
    const Case cases[] = {
        {"photo.jpg", "camera.jpg"}, {"photo.jpg", nullptr}, {"picture.png", "picture.png"},
        {"document.docx", nullptr},  {"plain.pdf", nullptr}, {"progressive.jpg", "camera.jpg"},
    };
    constexpr std::uint64_t kBig = 4096;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const auto folder =
            std::string(c.file).ends_with(".docx") || std::string(c.file).ends_with(".pdf") ? documents : media;
        const std::vector<std::uint8_t> file = fileBytes(folder / c.file);
        ASSERT_GT(file.size(), 2 * kBig);
        std::vector<std::uint8_t> gap(2 * kBig);
        if (c.between) {
            const auto other = fileBytes(media / c.between);
            ASSERT_GE(other.size(), 3 * kBig);
            std::copy(other.begin() + kBig, other.begin() + 3 * kBig, gap.begin());
        } else {
            for (std::size_t i = 0; i < gap.size(); ++i)
                gap[i] = static_cast<std::uint8_t>((i * 2654435761u) >> 13);
        }
        // Clusters 0-1 live (zeros), then the first fragment, the gap, the rest, free space after.
        std::vector<std::uint8_t> volume(2 * kBig, 0);
        volume.insert(volume.end(), file.begin(), file.begin() + kBig);
        volume.insert(volume.end(), gap.begin(), gap.end());
        volume.insert(volume.end(), file.begin() + kBig, file.end());
        volume.resize((volume.size() / kBig + 4) * kBig, 0);
        const std::uint64_t clusters = volume.size() / kBig;

        ContentCarving carving;
        carving.setVolume({kBig, 0, clusters - 1, 0}, [](std::uint64_t cluster) { return cluster < 2; });
        carving.look(0, volume);
        test::MemoryDevice device(volume);
        const auto found = carving.carve(device, [] { return true; });
        const auto at =
            std::find_if(found.begin(), found.end(), [](const FoundByContent& f) { return f.firstCluster == 2; });
        ASSERT_NE(at, found.end());
        EXPECT_TRUE(at->whole);
        EXPECT_TRUE(at->guessed);
        std::vector<std::uint8_t> back;
        for (const ClusterRun& run : at->runs)
            back.insert(back.end(), volume.begin() + static_cast<std::ptrdiff_t>(run.first * kBig),
                        volume.begin() + static_cast<std::ptrdiff_t>((run.first + run.count) * kBig));
        back.resize(std::min<std::size_t>(back.size(), at->size));
        EXPECT_EQ(back, file);
    }
}

// Through the seam, as the desktop program works: the whole-disc scan of an exFAT image lists the
// found files beside the named ones, a found file's bytes come from its clusters, and the window
// refuses to wipe it before asking anything. The other scans find nothing by content.
TEST(ContentCarving, FoundFilesAreListedReadAndRefusedAWipe)
{
    const auto scanned = [](ScanSession& session, ExtendedReach reach) {
        VolumeContext& volume = session.volume;
        volume.Drive = "C:";
        volume.Device = std::make_shared<FileDevice>(test::fixtureImage("carve-exfat").string());
        volume.FileSystemCode = FileSystemKind::ExFat;
        session.entryVolume = openEntryVolume(volume, [] { return true; });
        PrepareScan(session, u"*.*");
        test::NoPump pump;
        ScanProgress progress;
        return fileSystemOf(session).extendedScan(session, pump, progress, std::uint64_t{1} << 32, reach).end;
    };
    ScanSession probes;
    ASSERT_EQ(scanned(probes, ExtendedReach::Probes), ScanEnd::Finished);
    EXPECT_TRUE(probes.foundByContent.empty());

    ScanSession session;
    ASSERT_EQ(scanned(session, ExtendedReach::WholeVolume), ScanEnd::Finished);
    ASSERT_FALSE(session.foundByContent.empty());
    const std::u16string folder = u"C:\\Found by content\\TXT\\";
    std::vector<std::pair<std::u16string, FileLocator>> texts;
    session.store.forEach([&](std::u16string_view section, std::u16string_view key, std::u16string_view value) {
        if (const StoredFile f = parseStoredValue(value); section == folder && f.locator)
            texts.emplace_back(key, *f.locator);
    });
    ASSERT_FALSE(texts.empty());

    // The readme written to the volume comes back whole from one of them.
    std::string readme;
    std::ifstream manifest(test::fixturesDir() / "carve-exfat.manifest.tsv");
    for (std::string line; std::getline(manifest, line);)
        if (line.starts_with("readme-1.txt\t"))
            readme = line.substr(line.rfind('\t', line.rfind('\t') - 1) + 1, 64);
    ASSERT_FALSE(readme.empty());
    FileSystem& fileSystem = fileSystemOf(session);
    test::NoPump pump;
    bool restored = false;
    for (const auto& [name, locator] : texts) {
        ASSERT_TRUE(fileSystem.open(session, locator).found);
        std::vector<std::uint8_t> content;
        fileSystem.stream(
            session, pump, [] { return true; },
            [&](std::span<const std::uint8_t> bytes) {
                content.insert(content.end(), bytes.begin(), bytes.end());
                return true;
            },
            {});
        restored = restored || sha256Hex(content) == readme;
    }
    EXPECT_TRUE(restored);

    // Photos found by content preview as pictures.
    int photos = 0;
    session.store.forEach([&](std::u16string_view section, std::u16string_view, std::u16string_view value) {
        if (const StoredFile f = parseStoredValue(value); section == u"C:\\Found by content\\JPG\\" && f.locator) {
            ++photos;
            EXPECT_EQ(PreviewFile(session, *f.locator, pump).outcome, Preview::Outcome::Picture);
        }
    });
    EXPECT_EQ(photos, 3);

    const auto& [name, locator] = texts.front();
    EXPECT_EQ(fileSystem.wipe(session, locator).reason, lang::kFileWipeFoundByContent.english);
    test::RefusalUi ui;
    const OperationResult result = RunWipe(session, {{name, true, locator}}, folder, 10, ui, pump);
    EXPECT_EQ(result.end, OperationResult::End::Refused);
    EXPECT_FALSE(ui.asked);
    EXPECT_EQ(ui.shown, lang::kFileWipeFoundByContent.key);
}

} // namespace
} // namespace orv
