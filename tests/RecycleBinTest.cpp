// The Recycle Bin's $I files in both of Windows' versions, and where the listing files what they
// name.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "scan/RecycleBin.h"

namespace orv {
namespace {

void putU64(std::vector<std::uint8_t>& bytes, std::uint64_t value)
{
    for (int i = 0; i < 8; ++i)
        bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void putText(std::vector<std::uint8_t>& bytes, std::u16string_view text)
{
    for (const char16_t c : text) {
        bytes.push_back(static_cast<std::uint8_t>(c));
        bytes.push_back(static_cast<std::uint8_t>(c >> 8));
    }
}

std::vector<std::uint8_t> header(std::uint64_t version)
{
    std::vector<std::uint8_t> bytes;
    putU64(bytes, version);
    putU64(bytes, 40960);
    putU64(bytes, 133540056300000000ull);
    return bytes;
}

// Version 2: the length in characters (NUL included), then the path.
std::vector<std::uint8_t> version2(std::u16string_view path, std::uint32_t chars)
{
    std::vector<std::uint8_t> bytes = header(2);
    for (int i = 0; i < 4; ++i)
        bytes.push_back(static_cast<std::uint8_t>(chars >> (8 * i)));
    putText(bytes, path);
    putText(bytes, std::u16string(1, u'\0'));
    return bytes;
}

// Version 1: a fixed field of 260 characters.
std::vector<std::uint8_t> version1(std::u16string_view path, std::size_t keep = 544)
{
    std::vector<std::uint8_t> bytes = header(1);
    putText(bytes, path);
    bytes.resize(544, 0);
    bytes.resize(keep);
    return bytes;
}

TEST(RecycleBin, InfoFilesOfBothVersionsAndWhatIsRefused)
{
    const std::u16string path = u"C:\\Users\\alice\\Pictures\\holiday.jpg";
    const std::u16string chars = path + u'\0';
    struct Case
    {
        const char* what;
        std::vector<std::uint8_t> bytes;
        std::u16string wanted; // empty: refused
    } cases[] = {
        {"version 2", version2(path, static_cast<std::uint32_t>(chars.size())), path},
        {"version 1", version1(path), path},
        {"version 1 cut short inside its path", version1(path, 0x18 + 2 * 7), u"C:\\User"},
        {"version 2 whose length runs past the file", version2(path, static_cast<std::uint32_t>(chars.size() + 1)),
         u""},
        {"version 2 with a length of 0", version2(path, 0), u""},
        {"version 2 with a huge length", version2(path, 0xFFFFFFFFu), u""},
        {"version 3",
         [] {
             auto b = version2(u"C:\\a", 5);
             b[0] = 3;
             return b;
         }(),
         u""},
        {"an empty path", version2(u"", 1), u""},
        {"only the header", header(2), u""},
        {"nothing", {}, u""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto info = parseRecycleInfo(c.bytes);
        if (c.wanted.empty()) {
            EXPECT_FALSE(info);
            continue;
        }
        ASSERT_TRUE(info);
        EXPECT_EQ(info->originalPath, c.wanted);
        EXPECT_EQ(info->size, 40960);
        EXPECT_EQ(info->deletedTime, 133540056300000000ull);
    }
}

TEST(RecycleBin, OriginalPathsAreFiledUnderTheScannedDrive)
{
    struct Case
    {
        std::u16string path, folder, name;
    } cases[] = {
        // The letter Windows gave the volume is not the letter it is scanned as.
        {u"D:\\Shared\\report.pdf", u"E:\\Shared\\", u"report.pdf"},
        {u"C:\\notes.txt", u"E:\\", u"notes.txt"},
        {u"\\\\?\\C:\\Very\\long.txt", u"E:\\Very\\", u"long.txt"},
        // Steps that would climb or repeat are dropped.
        {u"C:\\a\\..\\..\\b\\.\\\\c.txt", u"E:\\a\\b\\", u"c.txt"},
        {u"\\\\server\\share\\x.doc", u"E:\\server\\share\\", u"x.doc"},
        {u"C:\\", u"E:\\", u""},
    };
    for (const Case& c : cases) {
        const ListedPlace place = originalPlace("E:", c.path);
        EXPECT_EQ(place.folder, c.folder);
        EXPECT_EQ(place.name, c.name);
    }
}

TEST(RecycleBin, ContentAndIndexNames)
{
    EXPECT_EQ(recycleId(u"$RAB12CD.txt"), u"AB12CD.txt");
    EXPECT_EQ(recycleId(u"$IAB12CD.txt", u'I'), u"AB12CD.txt");
    EXPECT_FALSE(recycleId(u"$IAB12CD.txt"));
    EXPECT_FALSE(recycleId(u"$R"));
    // The bin's own folder is not a file put in it.
    EXPECT_FALSE(recycleId(u"$Recycle.Bin"));
    EXPECT_FALSE(recycleId(u"$RECYCLE.BIN"));
    EXPECT_TRUE(isRecycleBinFolder(u"$recycle.bin"));
}

} // namespace
} // namespace orv
