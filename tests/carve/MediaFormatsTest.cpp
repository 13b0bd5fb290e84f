// The picture, sound and video parsers on real files: whole ones with other bytes after them,
// ones cut short, ones with a cluster of another file inside, and signatures followed by noise.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "carve/Format.h"
#include "carve/SpanBytes.h"

namespace orv::carve {
namespace {

using Data = std::vector<std::uint8_t>;

Data load(const std::string& name)
{
    std::ifstream file(std::string(CARVE_MEDIA_DIR) + "/" + name, std::ios::binary);
    EXPECT_TRUE(file) << name;
    return Data(std::istreambuf_iterator<char>(file), {});
}

Data noise(std::size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    Data out(size);
    for (auto& b : out)
        b = static_cast<std::uint8_t>(random());
    return out;
}

const Format& format(std::string_view name)
{
    for (const Format& f : formats())
        if (f.name == name)
            return f;
    ADD_FAILURE() << "no format " << name;
    return formats()[0];
}

Parse parse(std::string_view name, const Data& data, std::uint64_t limit = std::uint64_t{1} << 40,
            std::uint64_t stopAfter = 0)
{
    SpanBytes bytes(data);
    return format(name).parse(bytes, limit, stopAfter);
}

struct Case
{
    const char* file;
    const char* format;
    const char* extension;
    bool contentChecked; // a whole file comes out vouched for
    bool tellsReplacedCluster; // a foreign cluster inside it breaks a check
    std::size_t signature; // the bytes that make the signature
    bool structureAtEnd = false; // cut short, nothing that checks is left: not listed at all
};

const Case kCases[] = {
    {"photo.jpg", "JPEG", "jpg", true, true, 3},
    {"camera.jpg", "JPEG", "jpg", true, true, 3}, // its Exif segment spans the foreign cluster
    {"phone.jpg", "JPEG", "jpg", true, true, 3}, // a second picture after the first one's EOI
    {"progressive.jpg", "JPEG", "jpg", true, true, 3},
    {"restart.jpg", "JPEG", "jpg", true, true, 3},
    {"picture.png", "PNG", "png", true, true, 8},
    {"animation.gif", "GIF", "gif", true, true, 6},
    {"picture.bmp", "BMP", "bmp", false, false, 2},
    {"picture.tif", "TIFF", "tif", false, false, 4, true},
    {"motorola.tif", "TIFF", "tif", false, false, 4, true},
    {"sound.mp3", "MP3", "mp3", false, true, 3},
    {"bare.mp3", "MP3", "mp3", false, true, 2},
    {"tagged.mp3", "MP3", "mp3", false, true, 3}, // zeros after its ID3v2 tag, an APE tag at its end
    {"sound.wav", "RIFF", "wav", false, false, 4},
    {"movie.avi", "RIFF", "avi", false, true, 4},
    {"long.avi", "RIFF", "avi", false, true, 4}, // a second RIFF part after the first
    {"movie.mp4", "MP4", "mp4", false, false, 8},
    {"movie.mov", "MP4", "mov", false, false, 8},
};

// Where a foreign cluster comes from: a file of the same format where there is one, because that
// is the hardest to tell apart.
std::string otherOf(const Case& c)
{
    for (const Case& o : kCases)
        if (std::string(o.format) == c.format && std::string(o.file) != c.file)
            return o.file;
    return std::string(c.file) == "picture.png" ? "animation.gif" : "picture.png";
}

class Media : public testing::TestWithParam<Case>
{};

TEST_P(Media, WholeFileEndsWhereItEndsDespiteBytesAfterIt)
{
    const Case& c = GetParam();
    const Data file = load(c.file);
    for (const Data& after : {Data{}, noise(8192, 1), Data(8192, 0)}) {
        Data data = file;
        data.insert(data.end(), after.begin(), after.end());
        const Parse p = parse(c.format, data);
        EXPECT_EQ(p.verdict, Verdict::Whole) << c.file;
        EXPECT_EQ(p.size, file.size()) << c.file;
        EXPECT_EQ(p.goodUpTo, file.size()) << c.file;
        EXPECT_EQ(p.contentChecked, c.contentChecked) << c.file;
        EXPECT_EQ(p.extension, c.extension) << c.file;
    }
}

TEST_P(Media, FileCutShortKeepsOnlyItsGoodPart)
{
    const Case& c = GetParam();
    const Data file = load(c.file);
    // (Not between two MP3 frames: without a length tag, such a cut looks like the file's end.)
    for (const std::size_t at : {file.size() * 2 / 3 + 101, file.size() - 1}) {
        const Data data(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(at));
        // The same file read whole but with a limit short of its end is cut there too.
        for (const Parse& p : {parse(c.format, data), parse(c.format, file, at)}) {
            if (c.structureAtEnd && p.verdict == Verdict::None)
                continue;
            EXPECT_EQ(p.verdict, Verdict::Cut) << c.file << " cut at " << at;
            EXPECT_LE(p.size, at) << c.file;
            EXPECT_GT(p.size, c.signature) << c.file;
            EXPECT_FALSE(p.contentChecked) << c.file;
        }
    }
}

TEST_P(Media, ForeignClusterInsideIsNeverVouchedFor)
{
    const Case& c = GetParam();
    const Data file = load(c.file);
    constexpr std::size_t kCluster = 4096;
    const Data foreign = load(otherOf(c));
    ASSERT_GE(file.size(), 2 * kCluster + 1);
    Data data = file;
    std::copy_n(foreign.begin() + kCluster, kCluster, data.begin() + kCluster);
    const Parse p = parse(c.format, data);
    EXPECT_NE(p.verdict, Verdict::None) << c.file;
    EXPECT_FALSE(p.verdict == Verdict::Whole && p.contentChecked) << c.file;
    if (c.tellsReplacedCluster) {
        EXPECT_FALSE(p.verdict == Verdict::Whole && p.brokeAt == 0) << c.file;
        EXPECT_LE(p.goodUpTo, kCluster) << c.file;
        EXPECT_GT(p.brokeAt, kCluster) << c.file;
        // The right continuation, as a fragment search would try it, gets past the break.
        const Parse guess = parse(c.format, file, std::uint64_t{1} << 40, p.brokeAt);
        EXPECT_GT(guess.goodUpTo, p.brokeAt) << c.file;
        EXPECT_NE(guess.verdict, Verdict::None) << c.file;
    }
}

TEST_P(Media, NoiseAfterTheSignatureIsNeverWhole)
{
    const Case& c = GetParam();
    const Data file = load(c.file);
    for (unsigned seed = 0; seed < 20; ++seed) {
        Data data(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(c.signature));
        const Data rest = noise(32768, seed);
        data.insert(data.end(), rest.begin(), rest.end());
        const Parse p = parse(c.format, data);
        EXPECT_NE(p.verdict, Verdict::Whole) << c.file << " seed " << seed;
    }
}

TEST_P(Media, OnlyItsOwnFormatClaimsItsStart)
{
    const Case& c = GetParam();
    const Data file = load(c.file);
    const std::span head = std::span(file).first(kHeadBytes);
    for (const Format& f : formats()) {
        if (f.name == c.format)
            EXPECT_TRUE(f.begins(head)) << c.file;
        else
            EXPECT_FALSE(f.begins(head)) << c.file << " taken for " << f.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Carve, Media, testing::ValuesIn(kCases), [](const auto& test) {
    std::string name = test.param.file;
    std::replace(name.begin(), name.end(), '.', '_');
    return name;
});

// The sweep asks every free cluster: random clusters must almost never look like a file start.
TEST(CarveMedia, RandomClustersRarelyBegin)
{
    std::mt19937 random(7);
    std::vector<int> taken(formats().size());
    Data head(kHeadBytes);
    for (int i = 0; i < 100000; ++i) {
        for (auto& b : head)
            b = static_cast<std::uint8_t>(random());
        for (std::size_t f = 0; f < formats().size(); ++f)
            taken[f] += formats()[f].begins(head) ? 1 : 0;
    }
    for (std::size_t f = 0; f < formats().size(); ++f)
        EXPECT_LE(taken[f], 2) << formats()[f].name;
}

// A movie's boxes nest inside its movie box: damage there cuts the file before that box, even
// though the media data itself cannot be checked.
TEST(CarveMedia, DamagedMovieBoxIsCutBeforeIt)
{
    Data file = load("movie.mov");
    const auto moov =
        std::search(file.begin(), file.end(), std::begin("moov"), std::end("moov") - 1) - file.begin() - 4;
    ASSERT_GT(moov, 0);
    const Data junk = noise(64, 3);
    std::copy(junk.begin(), junk.end(), file.begin() + moov + 200);
    const Parse p = parse("MP4", file);
    EXPECT_EQ(p.verdict, Verdict::Cut);
    EXPECT_EQ(p.goodUpTo, static_cast<std::uint64_t>(moov));
    EXPECT_GT(p.brokeAt, static_cast<std::uint64_t>(moov + 200));
}

// An EXIF thumbnail is a whole JPEG inside the first segment: its EOI is not the file's end.
TEST(CarveMedia, ExifThumbnailDoesNotEndThePhoto)
{
    const Data file = load("photo.jpg");
    const std::uint8_t end[] = {0xFF, 0xD9};
    const auto eoi = std::search(file.begin(), file.end(), std::begin(end), std::end(end));
    ASSERT_LT(eoi - file.begin() + 2, static_cast<std::ptrdiff_t>(file.size()) / 2);
    EXPECT_EQ(parse("JPEG", file).size, file.size());
}

} // namespace
} // namespace orv::carve
