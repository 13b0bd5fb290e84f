#include <gtest/gtest.h>

#include <fstream>

#include "base/Utf16.h"
#include "scan/ResultsStore.h"
#include "scan/WildcardMask.h"
#include "tests/support/TempFolder.h"

namespace orv {
namespace {

TEST(ResultsStore, NamesCompareWithoutCaseAndKeepTheirFirstOrder)
{
    ResultsStore store;
    store.write(u"C:\\b\\", u"a.txt", u"1#d#t#10");
    store.write(u"C:\\a\\", u"z.txt", u"2#d#t#20");
    store.write(u"C:\\B\\", u"A.TXT", u"1#d#t#30"); // the same file again
    store.write(u"c:\\b\\", u"second.txt", u"4#d#t#40");
    store.write(u"C:\\\u0414\u043e\u043a\\", u"\u0424\u0410\u0419\u041b.txt", u"5#d#t#50");
    store.write(u"C:\\\u0434\u043e\u043a\\", u"\u0444\u0430\u0439\u043b.TXT", u"5#d#t#60");

    EXPECT_EQ(store.sections(), (std::vector<std::u16string>{u"C:\\b\\", u"C:\\a\\", u"C:\\\u0414\u043e\u043a\\"}));
    EXPECT_EQ(store.keys(u"C:\\B\\"), (std::vector<std::u16string>{u"a.txt", u"second.txt"}))
        << "the key keeps its first spelling and place; the value is replaced";
    EXPECT_EQ(store.read(u"c:\\b\\", u"A.txt"), u"1#d#t#30");
    EXPECT_EQ(store.read(u"C:\\\u0434\u043e\u043a\\", u"\u0444\u0430\u0439\u043b.txt"), u"5#d#t#60");
    EXPECT_EQ(store.read(u"C:\\none\\", u"x", u"fallback"), u"fallback");
    EXPECT_TRUE(store.valueExists(u"C:\\A\\", u"Z.TXT"));
    EXPECT_TRUE(store.sectionExists(u"c:\\a\\"));
    EXPECT_EQ(store.entryCount(), 4u);

    store.deleteKey(u"C:\\b\\", u"A.TXT");
    EXPECT_FALSE(store.valueExists(u"C:\\b\\", u"a.txt"));
    EXPECT_EQ(store.keys(u"C:\\b\\"), (std::vector<std::u16string>{u"second.txt"}));
    EXPECT_EQ(store.text(),
              u"[C:\\b\\]\nsecond.txt=4#d#t#40\n\n[C:\\a\\]\nz.txt=2#d#t#20\n\n"
              u"[C:\\\u0414\u043e\u043a\\]\n\u0424\u0410\u0419\u041b.txt=5#d#t#60\n\n");
    store.write(u"C:\\b\\", u"a.txt", u"7#d#t#70");
    EXPECT_EQ(store.keys(u"C:\\b\\").back(), u"a.txt") << "written again after deletion: a new key at the end";

    store.clear();
    EXPECT_TRUE(store.sections().empty());
    EXPECT_EQ(store.entryCount(), 0u);
}

// A folder may hold several deleted files of one name (saved and deleted twice, or names that differ
// only in case): each is its own entry, found by where it lies; and a name keeps every "=" it has,
// also through an INI file.
TEST(ResultsStore, FilesOfOneNameStayApartAndNamesKeepTheirEquals)
{
    ResultsStore store;
    store.write(u"C:\\D\\", u"README.txt", u"1024#d#t#1");
    store.write(u"C:\\D\\", u"readme.TXT", u"2048#d#t#2");
    store.write(u"C:\\D\\", u"README.txt", u"e7#d#t#3");
    store.write(u"C:\\D\\", u"x=y=z.txt", u"4096#d#t#4");
    EXPECT_EQ(store.entryCount(), 4u);
    EXPECT_EQ(store.keys(u"C:\\D\\"),
              (std::vector<std::u16string>{u"README.txt", u"readme.TXT", u"README.txt", u"x=y=z.txt"}));
    EXPECT_EQ(store.read(u"C:\\D\\", u"readme.txt"), u"1024#d#t#1") << "without a place: the first";
    EXPECT_EQ(store.read(u"C:\\D\\", u"readme.txt", {}, u"2048"), u"2048#d#t#2");
    EXPECT_EQ(store.read(u"C:\\D\\", u"readme.txt", {}, u"e7"), u"e7#d#t#3");
    EXPECT_FALSE(store.valueExists(u"C:\\D\\", u"readme.txt", u"999"));

    store.deleteKey(u"C:\\D\\", u"README.TXT", u"2048");
    EXPECT_EQ(store.entryCount(), 3u);
    EXPECT_TRUE(store.valueExists(u"C:\\D\\", u"readme.txt", u"1024"));
    EXPECT_FALSE(store.valueExists(u"C:\\D\\", u"readme.txt", u"2048"));
    store.deleteKey(u"C:\\D\\", u"README.TXT", u"1024");
    EXPECT_EQ(store.read(u"C:\\D\\", u"readme.txt"), u"e7#d#t#3") << "a deleted first one hides no other";

    const test::TempFolder folder;
    const auto ini = folder.path() / "find.ini";
    std::ofstream(ini, std::ios::binary) << toUtf8(store.text());
    const ResultsStore loaded(ini);
    EXPECT_EQ(loaded.read(u"C:\\D\\", u"x=y=z.txt"), u"4096#d#t#4");
    const StoredFile entry = parseStoredValue(loaded.read(u"C:\\D\\", u"README.txt"));
    EXPECT_EQ(entry.locator, (FileLocator{FileLocator::Kind::DirectoryEntry, 7}));
    EXPECT_FALSE(entry.recordOffset);
}

// Names and values are kept in large shared blocks of text: many of them, long ones and rewritten
// ones must all read back as written.
TEST(ResultsStore, KeepsEveryEntryAcrossItsBlocksOfText)
{
    ResultsStore store;
    const auto name = [](int i) { return fromAscii("file-" + std::to_string(i) + std::string(i % 40, 'x') + ".bin"); };
    const auto value = [](int i) {
        return fromAscii(std::to_string(i * 1024) + "#1.2.2024#10:00:00#" + std::to_string(i));
    };
    const std::u16string longValue(100'000, u'v'); // longer than a block
    for (int i = 0; i < 20'000; ++i) {
        store.write(u"C:\\F" + fromAscii(std::to_string(i / 1000)) + u"\\", name(i), value(i));
        if (i == 7'000)
            store.write(u"C:\\Long\\", u"long.bin", longValue);
    }
    const std::u16string rewritten = u"3584000#rewritten"; // the same file (its place) again
    store.write(u"C:\\F3\\", name(3'500), rewritten);
    EXPECT_EQ(store.entryCount(), 20'001u);
    EXPECT_EQ(store.read(u"C:\\Long\\", u"long.bin"), longValue);
    EXPECT_EQ(store.read(u"C:\\F3\\", name(3'500)), rewritten);
    int seen = 0;
    store.forEach([&](std::u16string_view section, std::u16string_view key, std::u16string_view stored) {
        if (section == u"C:\\Long\\")
            return;
        const int i = seen++;
        ASSERT_EQ(key, name(i));
        ASSERT_EQ(stored, i == 3'500 ? rewritten : value(i));
    });
    EXPECT_EQ(seen, 20'000);
}

TEST(ResultsStore, ListsTheEntriesBetweenTwoPlaces)
{
    // A listing made in parts takes the entries between two places, cutting folders where it must;
    // deleted entries count in the places but are not listed.
    ResultsStore store;
    for (const char16_t* name : {u"a1", u"a2", u"a3"})
        store.write(u"C:\\a\\", name, u"1#d#t#1");
    store.write(u"C:\\b\\", u"b1", u"1#d#t#1");
    for (const char16_t* name : {u"c1", u"c2"})
        store.write(u"C:\\c\\", name, u"1#d#t#1");
    store.deleteKey(u"C:\\a\\", u"a2");
    using Place = ResultsStore::Place;
    const struct
    {
        Place from, to;
        std::u16string listed;
    } cases[] = {
        {{0, 0}, {3, 0}, u"a1 a3 b1 c1 c2 "},
        {{0, 1}, {0, 3}, u"a3 "},
        {{0, 2}, {2, 1}, u"a3 b1 c1 "},
        {{2, 1}, {3, 0}, u"c2 "},
        {{1, 0}, {1, 0}, u""},
    };
    for (const auto& c : cases) {
        std::u16string listed;
        store.forEachBetween(c.from, c.to, [&](std::u16string_view, std::u16string_view key, std::u16string_view) {
            listed += std::u16string(key) + u" ";
        });
        EXPECT_EQ(toUtf8(listed), toUtf8(c.listed)) << c.from.section << "." << c.from.entry;
    }
}

TEST(ResultsStore, StartsFromAnIniFileWhenThereIsOne)
{
    const test::TempFolder temp;
    const auto file = temp / "find.ini";
    std::ofstream(file) << "\xEF\xBB\xBF[C:\\Old\\]\r\nnote.txt=4096#1.1.2020#10:00:00#12\r\n; a comment\r\n"
                           "x=y.txt=8192#d#t#1\r\n[C:\\Gr\xC3\xBC\xC3\x9F"
                           "e\\]\nbrief.doc=1#d#t#2\n";
    const ResultsStore store(file);
    std::filesystem::remove(file);
    EXPECT_EQ(store.sections(), (std::vector<std::u16string>{u"C:\\Old\\", u"C:\\Gr\u00fc\u00dfe\\"}));
    EXPECT_EQ(store.read(u"C:\\Old\\", u"note.txt"), u"4096#1.1.2020#10:00:00#12");
    EXPECT_EQ(store.read(u"C:\\Old\\", u"x=y.txt"), u"8192#d#t#1") << "names keep their \"=\"; values have none";
    EXPECT_TRUE(ResultsStore(file).sections().empty()) << "a missing file gives an empty store";
}

TEST(ResultsStore, ParsesStoredValues)
{
    const StoredFile report = parseStoredValue(u"245760#03.05.2019#14:22:10#18944");
    EXPECT_EQ(report.recordOffset, 245760);
    EXPECT_EQ(report.date, u"03.05.2019");
    EXPECT_EQ(report.time, u"14:22:10");
    EXPECT_EQ(report.size, 18944);
    EXPECT_EQ(parseStoredValue(u"0###0").recordOffset, 0) << "offset 0 is a real record";
    EXPECT_EQ(parseStoredValue(u"6442450944#d#t#1").recordOffset, 6442450944) << "offsets past 4 GiB";
    EXPECT_FALSE(parseStoredValue(u"abc#d#t#1").recordOffset);
    EXPECT_FALSE(parseStoredValue(u"#d#t#1").recordOffset);
    EXPECT_FALSE(parseStoredValue(u"-5#d#t#1").recordOffset);
    EXPECT_EQ(formatStoredValue(245760, u"03.05.2019", u"14:22:10", 18944), u"245760#03.05.2019#14:22:10#18944");
}

TEST(WildcardMask, MatchesWholeNames)
{
    struct Case
    {
        const char16_t* mask;
        const char16_t* name;
        bool matches;
    };
    const Case cases[] = {
        {u"*.doc", u"report.DOC", true},
        {u"*.doc", u"report.docx", false},
        {u"*.TXT", u"notes.txt", true},
        {u"*", u"", true},
        {u"*.*", u"noext", false}, // the scans never test "*.*": it lets every name through
        {u"a?c", u"abc", true},
        {u"a?c", u"ac", false},
        {u"*a*b*c", u"xxaxxbxxcxxc", true},
        {u"*a*b*c", u"xxaxxcxxb", false},
        {u"[a-c]*.jpg", u"Beach.JPG", true},
        {u"[!a-c]*.jpg", u"beach.jpg", false},
        {u"[!a-c]*.jpg", u"dune.jpg", true},
        {u"[xyz0-9]", u"7", true},
        {u"\u0444*", u"\u0444\u0430\u0439\u043b", true},
        {u"\u0444*", u"\u0424\u0410\u0419\u041b", false}, // only a to z ignore case
        {u"report(1).doc", u"REPORT(1).DOC", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(toUtf8(c.mask) + " ~ " + toUtf8(c.name));
        const auto mask = WildcardMask::compile(c.mask);
        ASSERT_TRUE(mask);
        EXPECT_EQ(mask->matches(c.name), c.matches);
    }
}

TEST(WildcardMask, RefusesMasksThatAreNotWellFormed)
{
    for (const char16_t* bad : {u"[abc", u"*.[", u"[]", u"[!]", u"[-z]", u"[z-a]"}) {
        std::string why;
        EXPECT_FALSE(WildcardMask::compile(bad, &why));
        EXPECT_FALSE(why.empty());
    }
}

} // namespace
} // namespace orv
