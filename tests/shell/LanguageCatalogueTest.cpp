#include <gtest/gtest.h>

#include <set>

#include "shell/LanguageCatalogue.h"
#include "tests/support/TempFolder.h"

namespace orv {
namespace {

namespace fs = std::filesystem;
using test::TempFolder;

const fs::path kResources = ORV_RESOURCES_DIR;

struct LookupCase
{
    const char* section;
    const char* key;
    const char* expected; // the fallback is "<default>"
};

TEST(LanguageCatalogue, ReadsTheFileFormat)
{
    const std::string text = "\xEF\xBB\xBF"
                             "Orphan=before any section\r\n"
                             "; Close=commented out\r\n"
                             "[buttons]\r\n"
                             "   close   =   Schließen   \r\n"
                             "Find=Suchen\r\n"
                             "Find=second definition\r\n"
                             "Formula=a=b=c\r\n"
                             "Empty=\r\n"
                             "a line without an equals sign\r\n"
                             "\t[ Hint ]\t\n"
                             "Hint4=Первая строка\n"
                             "[Buttons]\n"
                             "Stop=Stopp\n";
    const LanguageCatalogue catalogue = LanguageCatalogue::fromText(text);
    const LookupCase cases[] = {
        {"Buttons", "Close", "Schließen"}, // case of section and key ignored, blanks trimmed
        {"BUTTONS", "find", "Suchen"}, // the first definition counts
        {"Buttons", "Formula", "a=b=c"}, // split at the first "="
        {"Buttons", "Empty", ""}, // an empty value is a value
        {"Buttons", "Missing", "<default>"}, // no such key
        {"Nowhere", "Close", "<default>"}, // no such section
        {"Hint", "Hint4", "Первая строка"},
        {"Buttons", "Stop", "Stopp"}, // a section opened again adds to it
        {"", "Orphan", "<default>"},
        {"Buttons", "a line without an equals sign", "<default>"},
    };
    for (const LookupCase& c : cases) {
        SCOPED_TRACE(std::string(c.section) + " " + c.key);
        EXPECT_EQ(catalogue.Lookup(c.section, c.key, "<default>"), c.expected);
    }
}

TEST(LanguageCatalogue, WithoutAFileEveryTextIsItsEnglishDefault)
{
    TempFolder empty;
    const LanguageCatalogue catalogue = LoadLanguageCatalogue(empty.path().string(), 1);
    for (const LanguageText& text : lang::kAllTexts)
        EXPECT_EQ(catalogue.Lookup(text), text.english) << text.section << " " << text.key;
    EXPECT_EQ(catalogue.Lookup(lang::kButtonsFind), "Find");
    EXPECT_EQ(catalogue.Lookup(lang::kButtonsFindInResults), "Find in results:");
}

TEST(LanguageCatalogue, IndexChoosesTheFile)
{
    const std::pair<std::int32_t, const char*> cases[] = {
        {1, "Close"},  {2, "Schließen"}, {3, "Fermer"}, {4, "Cerrar"}, {5, "Chiudi"}, {6, "Закрыть"},
        {7, "Fechar"}, {0, "Close"},     {8, "Close"},  {9, "Close"},  {-1, "Close"},
    };
    for (const auto& [index, close] : cases) {
        SCOPED_TRACE(index);
        const LanguageCatalogue catalogue = LoadLanguageCatalogue(kResources.string(), index);
        EXPECT_EQ(catalogue.Lookup(lang::kButtonsClose), close);
        // Loaded from the file, not fallen back to the built-in texts.
        EXPECT_FALSE(catalogue.definedKeys().empty());
    }
}

bool isValidUtf8(std::string_view text)
{
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        if (lead < 0x80)
            length = 1;
        else if ((lead >> 5) == 0x6)
            length = 2;
        else if ((lead >> 4) == 0xE)
            length = 3;
        else if ((lead >> 3) == 0x1E)
            length = 4;
        if (length == 0 || length > text.size() - i)
            return false;
        for (std::size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                return false;
        i += length;
    }
    return true;
}

TEST(LanguageFiles, EachDefinesExactlyTheTextsTheProgramLooksUp)
{
    std::set<std::pair<std::string, std::string>> lookedUp;
    for (const LanguageText& text : lang::kAllTexts)
        lookedUp.emplace(text.section, text.key);

    for (std::int32_t index = 1; index <= 7; ++index) {
        const fs::path file = kResources / languageFileName(index);
        SCOPED_TRACE(file.string());
        const std::string bytes = test::readFile(file);
        ASSERT_FALSE(bytes.empty());
        EXPECT_TRUE(isValidUtf8(bytes));

        const LanguageCatalogue catalogue = LanguageCatalogue::fromText(bytes);
        const auto defined = catalogue.definedKeys();
        const std::set<std::pair<std::string, std::string>> definedSet(defined.begin(), defined.end());
        EXPECT_EQ(defined.size(), definedSet.size()) << "a key defined twice";
        for (const auto& key : lookedUp)
            EXPECT_TRUE(definedSet.count(key)) << "missing [" << key.first << "] " << key.second;
        for (const auto& key : definedSet)
            EXPECT_TRUE(lookedUp.count(key)) << "never looked up: [" << key.first << "] " << key.second;
        for (const LanguageText& text : lang::kAllTexts)
            EXPECT_FALSE(catalogue.Lookup(text).empty()) << "[" << text.section << "] " << text.key << " is empty";
    }
}

TEST(LanguageFiles, EnglishFileSaysWhatTheBuiltInTextsSay)
{
    const LanguageCatalogue english = LanguageCatalogue::fromFile(kResources / "English.ini");
    for (const LanguageText& text : lang::kAllTexts) {
        if (text.english == lang::kButtonsFindInResults.english)
            continue; // the results window's label: the file gives it the button's text
        EXPECT_EQ(english.Lookup(text.section, text.key, "<missing>"), text.english) << text.section << " " << text.key;
    }
}

} // namespace
} // namespace orv
