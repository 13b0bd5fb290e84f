// The small helpers every layer shares: the configuration folder's rule, trimming, the UTF-8 and
// UTF-16 codec, whole transfers over a descriptor.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <map>

#include "base/ConfigFolder.h"
#include "base/FdTransfer.h"
#include "base/Trim.h"
#include "base/Utf16.h"
#include "platform/UniqueFd.h"
#include "tests/support/TempFolder.h"

namespace orv {
namespace {

EnvironmentLookup environmentOf(std::map<std::string, std::string> variables)
{
    return [variables = std::move(variables)](const std::string& name) -> std::optional<std::string> {
        const auto found = variables.find(name);
        return found == variables.end() ? std::nullopt : std::optional(found->second);
    };
}

TEST(ConfigFolder, AbsoluteXdgConfigHomeElseDotConfigInHome)
{
    const passwd* entry = ::getpwuid(::getuid());
    ASSERT_TRUE(entry && entry->pw_dir);
    const std::filesystem::path passwdHome = entry->pw_dir;
    struct Case
    {
        const char* what;
        std::map<std::string, std::string> environment;
        std::filesystem::path expected;
    };
    const Case cases[] = {
        {"absolute", {{"XDG_CONFIG_HOME", "/srv/conf"}, {"HOME", "/home/ann"}}, "/srv/conf"},
        {"relative is ignored", {{"XDG_CONFIG_HOME", "conf"}, {"HOME", "/home/ann"}}, "/home/ann/.config"},
        {"empty is ignored", {{"XDG_CONFIG_HOME", ""}, {"HOME", "/home/ann"}}, "/home/ann/.config"},
        {"unset", {{"HOME", "/home/ann"}}, "/home/ann/.config"},
        {"no HOME: the password database's home", {{"XDG_CONFIG_HOME", "./conf"}}, passwdHome / ".config"},
        {"empty HOME counts as none", {{"HOME", ""}}, passwdHome / ".config"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(userConfigFolder(environmentOf(c.environment)), c.expected);
    }
}

TEST(Trim, BlanksOrEveryControlCharacter)
{
    EXPECT_EQ(trimBlanks(" \t\r\n a b \r\n"), "a b");
    EXPECT_EQ(trimBlanks("\x01"
                         "a\x7F"),
              "\x01"
              "a\x7F")
        << "only blanks go";
    EXPECT_EQ(trimBlanks(u"\t\u00e4 \u00df\r\n"), u"\u00e4 \u00df");
    EXPECT_EQ(trimControls("\x01\x1F a\x7F"), "a\x7F") << "DEL is not among them";
    EXPECT_EQ(trimControls(" \xC3\xA4 "), "\xC3\xA4") << "UTF-8 bytes stay";
    EXPECT_EQ(trimBlanks("   "), "");
    EXPECT_EQ(trimControls(""), "");
}

TEST(Utf16, MalformedInputBecomesReplacementCharacters)
{
    struct Case
    {
        const char* what;
        std::string utf8;
        std::u16string utf16;
    };
    const Case toUtf16[] = {
        {"four-byte character", "a\xF0\x9F\x93\xB7", u"a\U0001F4F7"},
        {"truncated sequence", "\xE6\x97", u"\uFFFD\uFFFD"},
        {"overlong slash", "\xC0\xAF", u"\uFFFD\uFFFD"},
        {"encoded surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"stray continuation", "\x80z", u"\uFFFDz"},
    };
    for (const Case& c : toUtf16) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(fromUtf8(c.utf8), c.utf16);
    }
    EXPECT_EQ(toUtf8(u"\xD800z"), "\xEF\xBF\xBDz") << "lone high surrogate";
    EXPECT_EQ(toUtf8(u"z\xDC00"), "z\xEF\xBF\xBD") << "lone low surrogate";
    EXPECT_EQ(toUtf8(u"\U0001F4F7"), "\xF0\x9F\x93\xB7");
}

TEST(FdTransfer, WholeTransfersAndTheirLimits)
{
    const test::TempFolder temp;
    const UniqueFd fd(::open((temp / "f").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    ASSERT_GE(fd.get(), 0);
    ASSERT_TRUE(writeAll(fd.get(), std::string_view("0123456789")));
    const std::uint8_t patch[] = {'a', 'b'};
    ASSERT_TRUE(writeAllAt(fd.get(), 4, patch));

    std::uint8_t got[10] = {};
    ASSERT_TRUE(readAllAt(fd.get(), 0, got));
    EXPECT_EQ(std::string(got, got + 10), "0123ab6789");
    EXPECT_FALSE(readAllAt(fd.get(), 5, got)) << "the file ends before the last byte";
    EXPECT_FALSE(readAllAt(fd.get(), std::uint64_t{1} << 63, std::span(got, 1))) << "no such file offset";
    EXPECT_FALSE(transferFits(std::uint64_t{1} << 62, std::size_t{1} << 62));
    EXPECT_FALSE(writeAll(-1, std::string_view("x")));
}

} // namespace
} // namespace orv
