// The ZIP, PDF and SQLite parsers over real files made by python's zipfile and sqlite3 and by a
// hand-written PDF writer (tests/carve/make_documents.py), each whole, followed by other bytes,
// cut short, with a cluster in its middle overwritten, and as a signature before noise.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "carve/Format.h"
#include "carve/SpanBytes.h"

namespace orv::carve {
namespace {

constexpr std::uint64_t kCluster = 4096;

std::vector<std::uint8_t> document(const std::string& name)
{
    std::ifstream in(std::string(ORV_CARVE_DOCUMENTS) + "/" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::uint8_t> noise(std::size_t size, unsigned seed)
{
    std::mt19937 rng(seed);
    std::vector<std::uint8_t> bytes(size);
    for (std::uint8_t& b : bytes)
        b = static_cast<std::uint8_t>(rng());
    return bytes;
}

const Format& format(std::string_view name)
{
    for (const Format& f : formats())
        if (f.name == name)
            return f;
    throw std::runtime_error("no such format");
}

Parse parse(std::string_view name, const std::vector<std::uint8_t>& bytes, std::uint64_t stopAfter = 0)
{
    SpanBytes source(bytes);
    return format(name).parse(source, bytes.size(), stopAfter);
}

struct Document
{
    const char* file;
    const char* format;
    const char* extension;
    bool contentChecked; // whether the whole file comes out as checked to its content
};

// contentChecked false: the bomb is walked by its sizes past the inflate cap, encrypted members
// by their sizes alone; free pages of a database hold nothing to check.
const Document kDocuments[] = {
    {"plain.zip", "ZIP", "zip", true},
    {"descriptors.zip", "ZIP", "zip", true},
    {"zip64.zip", "ZIP", "zip", true},
    {"document.docx", "ZIP", "docx", true},
    {"sheet.ods", "ZIP", "ods", true},
    {"bomb.zip", "ZIP", "zip", false},
    {"encrypted.zip", "ZIP", "zip", false},
    {"plain.sqlite", "SQLite", "sqlite", true},
    {"freelist.sqlite", "SQLite", "sqlite", false},
    {"plain.pdf", "PDF", "pdf", true},
    {"updated.pdf", "PDF", "pdf", true},
    {"linearized.pdf", "PDF", "pdf", true},
    {"xrefstream.pdf", "PDF", "pdf", true},
};

class DocumentFormats : public testing::TestWithParam<Document>
{};

TEST_P(DocumentFormats, signatureIsSeenInTheFirstBytes)
{
    const Document& d = GetParam();
    const std::vector<std::uint8_t> bytes = document(d.file);
    ASSERT_GT(bytes.size(), 2 * kCluster);
    EXPECT_TRUE(format(d.format).begins(std::span(bytes).first(kHeadBytes)));
    // The other formats do not claim it.
    for (const Format& f : formats())
        if (f.name != d.format) {
            EXPECT_FALSE(f.begins(std::span(bytes).first(kHeadBytes))) << f.name;
        }
}

TEST_P(DocumentFormats, wholeFileEndsExactlyBeforeWhatFollows)
{
    const Document& d = GetParam();
    const std::vector<std::uint8_t> original = document(d.file);
    std::vector<std::uint8_t> bytes = original;
    const std::vector<std::uint8_t> after = noise(3 * kCluster, 1);
    bytes.insert(bytes.end(), after.begin(), after.end());
    const Parse p = parse(d.format, bytes);
    EXPECT_EQ(p.verdict, Verdict::Whole);
    EXPECT_EQ(p.size, original.size());
    EXPECT_EQ(p.contentChecked, d.contentChecked);
    EXPECT_EQ(p.extension, d.extension);
}

TEST_P(DocumentFormats, fileCutShortKeepsOnlyWhatCheckedOut)
{
    const Document& d = GetParam();
    std::vector<std::uint8_t> bytes = document(d.file);
    const std::uint64_t cutAt = bytes.size() * 3 / 4 / kCluster * kCluster;
    bytes.resize(cutAt);
    const Parse p = parse(d.format, bytes);
    EXPECT_NE(p.verdict, Verdict::Whole);
    EXPECT_LE(p.size, cutAt);
    EXPECT_LE(p.goodUpTo, cutAt);
}

TEST_P(DocumentFormats, clusterOverwrittenInTheMiddleIsFoundNotTrusted)
{
    const Document& d = GetParam();
    std::vector<std::uint8_t> bytes = document(d.file);
    ASSERT_GT(bytes.size(), 2 * kCluster);
    // Another file's bytes over the second cluster: text, as a neighbouring file would hold.
    const std::string line = "Another file's text lies here where the cluster was reused.\n";
    for (std::size_t i = 0; i < kCluster; ++i)
        bytes[kCluster + i] = static_cast<std::uint8_t>(line[i % line.size()]);
    const Parse p = parse(d.format, bytes);
    EXPECT_FALSE(p.verdict == Verdict::Whole && p.contentChecked);
    // Where the content is checked, the damage is found: the file is cut before it.
    if (d.contentChecked) {
        EXPECT_EQ(p.verdict, Verdict::Cut);
    }
    if (p.verdict == Verdict::Cut) {
        EXPECT_LE(p.goodUpTo, kCluster);
        EXPECT_LE(p.size, kCluster);
        if (p.brokeAt != 0) {
            EXPECT_GT(p.brokeAt, kCluster);
        }
    }
}

TEST_P(DocumentFormats, noiseAfterTheSignatureIsNeverAWholeFile)
{
    const Document& d = GetParam();
    const std::vector<std::uint8_t> original = document(d.file);
    for (const std::size_t keep : {std::size_t{8}, std::size_t{100}}) {
        std::vector<std::uint8_t> bytes(original.begin(), original.begin() + static_cast<std::ptrdiff_t>(keep));
        const std::vector<std::uint8_t> rest = noise(original.size(), static_cast<unsigned>(keep));
        bytes.insert(bytes.end(), rest.begin(), rest.end());
        const Parse p = parse(d.format, bytes);
        EXPECT_NE(p.verdict, Verdict::Whole) << keep;
        EXPECT_FALSE(p.contentChecked) << keep;
    }
}

INSTANTIATE_TEST_SUITE_P(Files, DocumentFormats, testing::ValuesIn(kDocuments),
                         [](const testing::TestParamInfo<Document>& param) {
                             std::string name = param.param.file;
                             for (char& c : name)
                                 if (c == '.')
                                     c = '_';
                             return name;
                         });

// A fragment search asks whether the structure gets past a point; the parse stops there, short of
// the file's end: after the first members of an archive, at the first "%%EOF" of an updated PDF.
TEST(DocumentFormats, stopsOnceTheStructureCheckedOutPastTheOffsetAsked)
{
    struct Case
    {
        const char* file;
        const char* format;
        std::uint64_t stopAfter;
        std::uint64_t goodUpTo; // 0: anywhere past stopAfter and short of the end
    };
    const Case cases[] = {
        {"plain.zip", "ZIP", 100, 0},
        {"updated.pdf", "PDF", 100, document("plain.pdf").size()},
    };
    for (const Case& c : cases) {
        const std::vector<std::uint8_t> bytes = document(c.file);
        const Parse p = parse(c.format, bytes, c.stopAfter);
        EXPECT_EQ(p.verdict, Verdict::Cut) << c.file;
        EXPECT_GT(p.goodUpTo, c.stopAfter) << c.file;
        EXPECT_LT(p.goodUpTo, bytes.size()) << c.file;
        if (c.goodUpTo != 0) {
            EXPECT_EQ(p.goodUpTo, c.goodUpTo) << c.file;
        }
    }
}

// A member whose data is wrong breaks the archive there: the members before it are kept and the
// break is that member, so a fragment search knows which bytes to look for elsewhere.
TEST(ZipFormat, memberWithAWrongCrcIsTheBreak)
{
    std::vector<std::uint8_t> bytes = document("plain.zip");
    // The stored noise member starts after two deflated ones; flip a byte in its data.
    const std::string name = "noise.bin";
    const auto at = std::search(bytes.begin(), bytes.end(), name.begin(), name.end()) - bytes.begin();
    const std::uint64_t memberStart = static_cast<std::uint64_t>(at) - 30;
    bytes[static_cast<std::size_t>(at) + name.size() + 100] ^= 0x01;
    const Parse p = parse("ZIP", bytes);
    EXPECT_EQ(p.verdict, Verdict::Cut);
    EXPECT_EQ(p.goodUpTo, memberStart);
    EXPECT_EQ(p.size, memberStart);
    EXPECT_EQ(p.brokeAt, memberStart + 30 + name.size() + 9000);
}

// The central directory must describe the members exactly as found: an entry whose CRC differs
// from its member's is the break, and the members before the directory still checked out.
TEST(ZipFormat, directoryEntryThatDisagreesIsTheBreak)
{
    std::vector<std::uint8_t> bytes = document("plain.zip");
    const std::array<std::uint8_t, 4> central{'P', 'K', 1, 2};
    const auto first = std::search(bytes.begin(), bytes.end(), central.begin(), central.end());
    ASSERT_NE(first, bytes.end());
    const auto second = std::search(first + 1, bytes.end(), central.begin(), central.end());
    ASSERT_NE(second, bytes.end());
    const auto entry = static_cast<std::uint64_t>(second - bytes.begin());
    bytes[entry + 16] ^= 0x01; // its CRC-32
    const Parse p = parse("ZIP", bytes);
    EXPECT_EQ(p.verdict, Verdict::Cut);
    EXPECT_EQ(p.goodUpTo, entry);
    EXPECT_GT(p.brokeAt, entry + 46);
    EXPECT_FALSE(p.contentChecked);
}

// 64 MiB of zeros in 64 KiB: the inflating stops at its cap, quickly.
TEST(ZipFormat, bombIsNotInflatedWhole)
{
    const std::vector<std::uint8_t> bytes = document("bomb.zip");
    const auto start = std::chrono::steady_clock::now();
    const Parse p = parse("ZIP", bytes);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(p.verdict, Verdict::Whole);
    EXPECT_FALSE(p.contentChecked);
}

// A b-tree page whose cells, free blocks and fragments no longer fill its content area is the
// break: every page before it checked out, and the fragment search looks within it.
TEST(SqliteFormat, pageThatDoesNotAddUpIsTheBreak)
{
    std::vector<std::uint8_t> bytes = document("plain.sqlite");
    std::uint64_t page = 2;
    while (page * kCluster <= bytes.size() && bytes[(page - 1) * kCluster] != 13) // a table leaf
        ++page;
    ASSERT_LE(page * kCluster, bytes.size());
    bytes[(page - 1) * kCluster + 7] += 1; // its count of fragmented bytes
    const Parse p = parse("SQLite", bytes);
    EXPECT_EQ(p.verdict, Verdict::Cut);
    EXPECT_EQ(p.goodUpTo, (page - 1) * kCluster);
    EXPECT_EQ(p.size, (page - 1) * kCluster);
    EXPECT_EQ(p.brokeAt, page * kCluster);
}

} // namespace
} // namespace orv::carve
