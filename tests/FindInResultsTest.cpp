#include <gtest/gtest.h>

#include <map>

#include "results/FindInResults.h"
#include "tests/support/TestPumps.h"

namespace orv {
namespace {

using test::NoPump;

ResultsStore storeOf(std::initializer_list<std::pair<const char16_t*, const char16_t*>> files)
{
    ResultsStore store;
    for (const auto& [folder, name] : files)
        store.write(folder, name, u"1024#d#t#1");
    return store;
}

TEST(FindInResults, StepsThroughMatchingFoldersAndStartsOver)
{
    const ResultsStore store =
        storeOf({{u"C:\\A\\", u"photo.jpg"}, {u"C:\\N\\", u"notes.txt"}, {u"C:\\B\\", u"PHOTO.JPG"}});
    NoPump pump;
    int cursor = -1;
    std::vector<std::u16string> shown;
    for (int i = 0; i < 4; ++i) {
        const FindResult r = FindNextFolder(store, u"  *.JPG ", cursor, pump);
        shown.push_back(r.outcome == FindResult::Outcome::Found ? r.section : u"-");
    }
    EXPECT_EQ(shown, (std::vector<std::u16string>{u"C:\\A\\", u"C:\\B\\", u"-", u"C:\\A\\"}));
}

TEST(FindInResults, MessagesAndMasks)
{
    const ResultsStore store = storeOf({{u"C:\\", u"abc"}, {u"C:\\X\\", u"report"}, {u"C:\\X\\", u"abbc"}});
    NoPump pump;
    int cursor = -1;
    EXPECT_EQ(FindNextFolder(store, u"", cursor, pump).outcome, FindResult::Outcome::EmptyField);
    EXPECT_EQ(FindNextFolder(store, u"   ", cursor, pump).outcome, FindResult::Outcome::NotFound)
        << "blanks pass the emptiness test and search for an empty name";
    EXPECT_EQ(FindNextFolder(store, u"[abc", cursor, pump).outcome, FindResult::Outcome::BadMask);
    EXPECT_EQ(FindNextFolder(store, u"zzz", cursor, pump).outcome, FindResult::Outcome::NotFound);
    EXPECT_EQ(cursor, -1);
    const FindResult root = FindNextFolder(store, u"a?c", cursor, pump);
    ASSERT_EQ(root.outcome, FindResult::Outcome::Found);
    EXPECT_EQ(root.section, u"C:\\") << "abc matches a?c, abbc does not";
    EXPECT_EQ(FindNextFolder(store, u"report", cursor, pump).section, u"C:\\X\\");
}

TEST(FindInResults, WalksTheTreeToTheFolder)
{
    // A tree as the results window builds it: the drive on top, one node per folder name.
    std::map<std::u16string, std::vector<std::u16string>> children = {
        {u"C:", {u"Users", u"Docs"}}, {u"Users", {u"Bob"}}, {u"Docs", {}}, {u"Bob", {}}};
    const auto textOf = [](const std::u16string& node) { return node; };
    const auto childrenOf = [&](const std::u16string& node) { return children[node]; };
    EXPECT_EQ(walkToFolder(std::u16string(u"C:"), u"c:\\USERS\\bob\\", textOf, childrenOf), u"Bob");
    EXPECT_EQ(walkToFolder(std::u16string(u"C:"), u"C:\\", textOf, childrenOf), u"C:");
    EXPECT_FALSE(walkToFolder(std::u16string(u"C:"), u"C:\\Music\\", textOf, childrenOf));
    EXPECT_FALSE(walkToFolder(std::u16string(u"C:"), u"D:\\Docs\\", textOf, childrenOf));
}

} // namespace
} // namespace orv
