#include <gtest/gtest.h>

#include <sys/stat.h>

#include "base/ConfigFolder.h"
#include "platform/linux/LinuxDriveSystem.h"
#include "platform/linux/RegistryFileBackend.h"
#include "shell/Settings.h"
#include "tests/support/TempFolder.h"

namespace orv {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::TempFolder;
using test::writeFile;

constexpr auto kUser = RegistryRoot::CurrentUser;

RegistryValue expandString(std::string text)
{
    return {RegistryType::ExpandString, std::move(text), 0, {}};
}

RegistryValue binary(std::vector<std::uint8_t> bytes)
{
    return {RegistryType::Binary, {}, 0, std::move(bytes)};
}

std::optional<RegistryValue> valueIn(const RegistryDocument& document, std::string_view key, std::string_view name)
{
    const RegistryKey* found = document.findKey(kUser, key);
    if (!found)
        return std::nullopt;
    for (const NamedValue& value : found->values)
        if (value.name == name)
            return value.value;
    return std::nullopt;
}

TEST(RegistryText, ReadsWhatTheRegistryEditorWrites)
{
    const std::string text = "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
                             "\r\n"
                             "; a comment\r\n"
                             "[HKEY_CURRENT_USER\\Software\\Quillmarsh\\Orvandel]\r\n"
                             "\"SaveDir\"=\"C:\\\\Users\\\\Ann \\\"Q\\\"\"\r\n"
                             "\"Language\"=dword:0000000a\r\n"
                             "\"Path\"=hex(2):25,00,54,00,4d,00,50,00,25,00,00,00\r\n"
                             "\"Lines\"=hex(1):61,00,0a,00,62,00,00,00\r\n"
                             "\"Blob\"=hex:01,02,\\\r\n"
                             "  03,ff\r\n"
                             "\"Big\"=hex(b):01,00,00,00,00,00,00,00\r\n"
                             "@=\"default\"\r\n"
                             "\"Broken\"=dword:xyz\r\n"
                             "\"Gone\"=-\r\n"
                             "\"Language\"=dword:00000002\r\n"
                             "[-HKEY_CURRENT_USER\\Software\\Old]\r\n"
                             "\"Orphan\"=\"x\"\r\n";
    const auto document = parseRegistryText(text);
    ASSERT_TRUE(document);

    const std::string key = "SOFTWARE\\QUILLMARSH\\orvandel"; // key names ignore letter case
    EXPECT_EQ(valueIn(*document, key, "SaveDir"), RegistryValue::string("C:\\Users\\Ann \"Q\""));
    EXPECT_EQ(valueIn(*document, key, "Language"), RegistryValue::dword(2)) << "a later line wins";
    EXPECT_EQ(valueIn(*document, key, "Path"), expandString("%TMP%"));
    EXPECT_EQ(valueIn(*document, key, "Lines"), RegistryValue::string("a\nb"));
    EXPECT_EQ(valueIn(*document, key, "Blob"), binary({1, 2, 3, 0xFF})) << "continued hex line";
    EXPECT_EQ(valueIn(*document, key, "Big"), (RegistryValue{RegistryType::Qword, {}, 0, {1, 0, 0, 0, 0, 0, 0, 0}}));
    EXPECT_EQ(valueIn(*document, key, ""), RegistryValue::string("default"));
    EXPECT_FALSE(valueIn(*document, key, "Broken"));
    EXPECT_FALSE(valueIn(*document, key, "Gone"));
    EXPECT_TRUE(document->findKey(kUser, "Software\\Quillmarsh")) << "parents of a key exist";
    EXPECT_FALSE(document->findKey(kUser, "Software\\Old")) << "a deletion entry stores nothing";
}

TEST(RegistryText, NotARegistryFileIsRefused)
{
    for (const char* text : {"", "[HKEY_CURRENT_USER\\Software]\n\"a\"=\"b\"\n", "REGEDIT5\n", "\xFF\xFEW\0i\0"}) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(parseRegistryText(text));
    }
    EXPECT_TRUE(parseRegistryText("REGEDIT4\n"));
}

TEST(RegistryText, EveryValueSurvivesWritingAndReading)
{
    RegistryDocument document;
    const std::vector<NamedValue> values{
        {"Plain", RegistryValue::string("/home/ann/Restored Files")},
        {"Quotes \"and\" \\", RegistryValue::string("a \"b\" \\c\\")},
        {"LineBreak", RegistryValue::string("first\nsecond\r\tthird")}, // must not split the file's line
        {"Accents", RegistryValue::string("Schreibtisch/Größe/Рабочий стол/😀")},
        {"Expand", expandString("%USERPROFILE%\\Desktop")},
        {"Flag", RegistryValue::dword(0xFFFFFFFF)},
        {"", RegistryValue::string("default value")},
        {"Bytes", binary({0, 1, 0xAB})},
        {"Multi", {RegistryType::MultiString, {}, 0, {'a', 0, 0, 0, 0, 0}}},
    };
    RegistryKey* key = document.ensureKey(kUser, "\\SOFTWARE\\Quillmarsh\\\\Orvandel\\");
    ASSERT_TRUE(key);
    EXPECT_EQ(key->path, "SOFTWARE\\Quillmarsh\\Orvandel");
    key->values = values;

    const std::string text = formatRegistryText(document);
    const auto back = parseRegistryText(text);
    ASSERT_TRUE(back);
    for (const NamedValue& value : values) {
        SCOPED_TRACE(value.name);
        EXPECT_EQ(valueIn(*back, "SOFTWARE\\Quillmarsh\\Orvandel", value.name), value.value);
    }
    EXPECT_NE(text.find("\"Flag\"=dword:ffffffff\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\"Plain\"=\"/home/ann/Restored Files\"\n"), std::string::npos) << text;
}

TEST(RegistryFile, MissingOrDamagedFileReadsEmptyAndWritesReplaceIt)
{
    TempFolder temp;
    const fs::path file = temp / "config/Orvandel/registry.reg";
    RegistryFileBackend store(file);
    EXPECT_FALSE(store.readValue(kUser, "SOFTWARE", "x"));
    EXPECT_FALSE(fs::exists(file)) << "reading creates nothing";

    ASSERT_TRUE(store.writeValue(kUser, "SOFTWARE\\A", "x", RegistryValue::dword(1)));
    EXPECT_EQ(store.readValue(kUser, "software\\a", "X"), RegistryValue::dword(1));
    struct stat info
    {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u) << "settings are the user's own";

    writeFile(file, "garbage that is no registry file\n");
    EXPECT_FALSE(store.readValue(kUser, "SOFTWARE\\A", "x"));
    ASSERT_TRUE(store.writeValue(kUser, "SOFTWARE\\A", "y", RegistryValue::dword(2)));
    EXPECT_EQ(store.readValue(kUser, "SOFTWARE\\A", "y"), RegistryValue::dword(2));
    EXPECT_EQ(readFile(file.string() + ".damaged"), "garbage that is no registry file\n");

    // No temporary files stay behind.
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(file.parent_path()))
        ++entries;
    EXPECT_EQ(entries, 2u);
}

TEST(RegistryFile, FailedWriteLeavesTheStoreAsItWas)
{
    TempFolder temp;
    writeFile(temp / "blocker", "a file where the folder should be");
    RegistryFileBackend blocked(temp / "blocker/registry.reg");
    EXPECT_FALSE(blocked.writeValue(kUser, "SOFTWARE", "x", RegistryValue::dword(1)));

    RegistryFileBackend store(temp / "registry.reg");
    ASSERT_TRUE(store.writeValue(kUser, "SOFTWARE", "x", RegistryValue::dword(1)));
    const std::string before = readFile(temp / "registry.reg");
    EXPECT_FALSE(store.writeValue(kUser, "SOFTWARE\\Bad\nKey", "x", RegistryValue::dword(2)));
    EXPECT_FALSE(store.writeValue(kUser, "SOFTWARE", "bad\nname", RegistryValue::dword(2)));
    EXPECT_EQ(readFile(temp / "registry.reg"), before);
}

// The settings and the drive map are found by one rule: a relative XDG_CONFIG_HOME once put
// them in different folders.
TEST(RegistryFile, SettingsAndDriveMapShareTheConfigurationFolder)
{
    const char* saved = std::getenv("XDG_CONFIG_HOME");
    const std::string restore = saved ? saved : "";
    for (const char* config : {"/somewhere/config", "relative/is/ignored"}) {
        SCOPED_TRACE(config);
        ::setenv("XDG_CONFIG_HOME", config, 1);
        const fs::path folder = userConfigFolder() / "Orvandel";
        EXPECT_TRUE(folder.is_absolute());
        EXPECT_EQ(RegistryFileBackend::defaultFile(), folder / "registry.reg");
        EXPECT_EQ(LinuxDriveSources::defaultDriveMapFile(), folder / "drives");
    }
    if (saved)
        ::setenv("XDG_CONFIG_HOME", restore.c_str(), 1);
    else
        ::unsetenv("XDG_CONFIG_HOME");
}

struct ReadCase
{
    const char* what;
    std::optional<RegistryValue> stored;
    std::string text;
    bool flag;
};

TEST(SettingsRoutines, ReadEachTypeAsTheProgramTakesIt)
{
    const ReadCase cases[] = {
        {"missing value", std::nullopt, "", false},
        {"text with blanks and controls", RegistryValue::string(" \t /home/ann/Saved \r\n"), "/home/ann/Saved", false},
        {"expandable text is not expanded", expandString(" %HOME%/x "), "%HOME%/x", false},
        {"number 1", RegistryValue::dword(1), "", true},
        {"number 7 counts as true", RegistryValue::dword(7), "", true},
        {"number 0", RegistryValue::dword(0), "", false},
        {"flag stored as text", RegistryValue::string("1"), "1", false},
        {"binary", binary({1, 0, 0, 0}), "", false},
    };
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder temp;
        RegistryFileBackend store(temp / "registry.reg");
        if (c.stored) {
            ASSERT_TRUE(store.writeValue(kUser, kSettingsKey, "Value", *c.stored));
        }
        EXPECT_EQ(ReadSettingString(store, kUser, kSettingsKey, "value"), c.text);
        EXPECT_EQ(ReadSettingBool(store, kUser, kSettingsKey, "VALUE"), c.flag);
    }
}

TEST(SettingsRoutines, ReadsNeverCreateAndWritesStoreTheirTypes)
{
    TempFolder temp;
    const fs::path file = temp / "registry.reg";
    RegistryFileBackend store(file);
    EXPECT_FALSE(ReadSettingBool(store, kUser, kSettingsKey, setting::kInstallStat));
    EXPECT_EQ(ReadSettingString(store, kUser, kSettingsKey, setting::kCompilerVersion), "");
    EXPECT_FALSE(fs::exists(file));

    ASSERT_TRUE(store.writeValue(kUser, "SOFTWARE\\Other", "x", RegistryValue::dword(1)));
    const std::string before = readFile(file);
    EXPECT_FALSE(ReadSettingBool(store, kUser, kSettingsKey, setting::kInstallStat));
    EXPECT_EQ(readFile(file), before);

    WriteSettingBool(store, kUser, kSettingsKey, setting::kShowNote, false);
    WriteSettingBool(store, kUser, kSettingsKey, setting::kInstallStat, true);
    WriteSettingString(store, kUser, kSettingsKey, setting::kSaveDir, "/media/usb/Rescue");
    EXPECT_EQ(store.readValue(kUser, kSettingsKey, "ShowNote"), RegistryValue::dword(0));
    EXPECT_EQ(store.readValue(kUser, kSettingsKey, "InstallStat"), RegistryValue::dword(1));
    EXPECT_EQ(store.readValue(kUser, kSettingsKey, "SaveDir"), RegistryValue::string("/media/usb/Rescue"));
    EXPECT_EQ(store.readValue(kUser, "SOFTWARE\\Other", "x"), RegistryValue::dword(1)) << "other keys kept";

    RegistryFileBackend blocked(file / "not-a-folder.reg");
    WriteSettingBool(blocked, kUser, kSettingsKey, setting::kShowNote, false); // ignored, no throw
}

TEST(StartupSettings, FirstStartWritesDefaultsAndLaterStartsOnlyRead)
{
    TempFolder temp;
    const fs::path file = temp / "Orvandel/registry.reg";
    RegistryFileBackend store(file);
    const std::string restore = "/home/ann/Desktop/Restored Files";

    const StartupSettings first = ApplyStartupSettings(store, restore);
    EXPECT_EQ(first.LanguageIndex, 1);
    EXPECT_EQ(first.RestoreFolder, restore);
    EXPECT_TRUE(first.ShowNote);
    EXPECT_EQ(store.readValue(kUser, kSettingsKey, "DisplayName"), RegistryValue::string("Orvandel"));
    EXPECT_EQ(store.readValue(kUser, kSettingsKey, "Version"), RegistryValue::string("4.5"));
    EXPECT_EQ(store.readValue(kUser, kSettingsKey, "Language"), RegistryValue::dword(1));
    EXPECT_EQ(store.readValue(kUser, kSettingsKey, "SaveDir"), RegistryValue::string(restore));
    EXPECT_EQ(store.readValue(kUser, kSettingsKey, "ShowNote"), RegistryValue::dword(1));
    EXPECT_FALSE(store.readValue(kUser, kSettingsKey, "InstallStat"));

    struct stat before
    {};
    ASSERT_EQ(::stat(file.c_str(), &before), 0);
    const std::string text = readFile(file);
    const StartupSettings second = ApplyStartupSettings(store, "/elsewhere/Restored Files");
    struct stat after
    {};
    ASSERT_EQ(::stat(file.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "a later start writes nothing";
    EXPECT_EQ(readFile(file), text);
    EXPECT_EQ(second.RestoreFolder, restore);
}

struct StartupCase
{
    const char* what;
    std::vector<NamedValue> stored;
    StartupSettings expected;
};

TEST(StartupSettings, StoredValuesAreReadAndNeverOverwritten)
{
    const std::string fallback = "/home/ann/Desktop/Restored Files";
    const StartupCase cases[] = {
        {"values of the right types",
         {{"language", RegistryValue::dword(6)},
          {"SAVEDIR", RegistryValue::string("  /media/usb/Rescue ")},
          {"ShowNote", RegistryValue::dword(0)}},
         {6, "  /media/usb/Rescue ", false}}, // start-up keeps the folder as stored, blanks and all
        {"a number that names no language is kept", {{"Language", RegistryValue::dword(9)}}, {9, fallback, true}},
        {"ShowNote 7 counts as true", {{"ShowNote", RegistryValue::dword(7)}}, {1, fallback, true}},
        {"an expandable folder is taken as stored", {{"SaveDir", expandString("%HOME%/x")}}, {1, "%HOME%/x", true}},
        {"values of the wrong types keep the defaults",
         {{"Language", RegistryValue::string("2")},
          {"SaveDir", RegistryValue::dword(5)},
          {"ShowNote", RegistryValue::string("0")},
          {"DisplayName", RegistryValue::dword(3)}},
         {1, fallback, true}},
    };
    for (const StartupCase& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder temp;
        RegistryFileBackend store(temp / "registry.reg");
        ASSERT_TRUE(store.writeValues(kUser, kSettingsKey, c.stored));

        const StartupSettings got = ApplyStartupSettings(store, fallback);
        EXPECT_EQ(got.LanguageIndex, c.expected.LanguageIndex);
        EXPECT_EQ(got.RestoreFolder, c.expected.RestoreFolder);
        EXPECT_EQ(got.ShowNote, c.expected.ShowNote);
        for (const NamedValue& value : c.stored)
            EXPECT_EQ(store.readValue(kUser, kSettingsKey, value.name), value.value) << value.name;
        for (const char* name : {"DisplayName", "Version", "Language", "SaveDir", "ShowNote"})
            EXPECT_TRUE(store.readValue(kUser, kSettingsKey, name)) << name << " is written when missing";
    }
}

TEST(StartupSettings, FirstStartTakesTheLanguageOfTheLocaleAndKeepsIt)
{
    const std::pair<const char*, std::int32_t> locales[] = {
        {"de_DE.UTF-8", 2}, {"fr_CA", 3},       {"es", 4},      {"it_IT@euro", 5}, {"ru_RU.KOI8-R", 6},
        {"pt_BR.UTF-8", 7}, {"en_GB.UTF-8", 1}, {"C", 1},       {"POSIX", 1},      {"", 1},
        {"nl_NL", 1},       {"deu", 1},         {"C.UTF-8", 1},
    };
    for (const auto& [locale, index] : locales) {
        SCOPED_TRACE(locale);
        EXPECT_EQ(LanguageIndexForLocale(locale), index);
    }

    TempFolder temp;
    RegistryFileBackend store(temp / "registry.reg");
    EXPECT_EQ(ApplyStartupSettings(store, "/r", LanguageIndexForLocale("ru_RU.UTF-8")).LanguageIndex, 6);
    EXPECT_EQ(store.readValue(kUser, kSettingsKey, "Language"), RegistryValue::dword(6)) << "stored as a default";
    // The stored choice wins over a locale that changed since.
    EXPECT_EQ(ApplyStartupSettings(store, "/r", LanguageIndexForLocale("de_DE.UTF-8")).LanguageIndex, 6);
}

TEST(StartupSettings, AStoreThatCannotBeWrittenStillStarts)
{
    TempFolder temp;
    writeFile(temp / "blocker", "");
    RegistryFileBackend store(temp / "blocker/registry.reg");
    const StartupSettings got = ApplyStartupSettings(store, "/home/ann/Desktop/Restored Files");
    EXPECT_EQ(got.LanguageIndex, 1);
    EXPECT_EQ(got.RestoreFolder, "/home/ann/Desktop/Restored Files");
    EXPECT_TRUE(got.ShowNote);
}

} // namespace
} // namespace orv
