#include "shell/Settings.h"

#include <vector>

#include "base/Trim.h"
#include "shell/Product.h"

namespace orv {

namespace {

bool isString(const RegistryValue& value)
{
    return value.type == RegistryType::String || value.type == RegistryType::ExpandString;
}

} // namespace

std::string ReadSettingString(SettingsBackend& store, RegistryRoot root, std::string_view key, std::string_view name)
{
    const auto value = store.readValue(root, key, name);
    if (!value || !isString(*value))
        return {};
    return std::string(trimControls(value->text));
}

bool ReadSettingBool(SettingsBackend& store, RegistryRoot root, std::string_view key, std::string_view name)
{
    const auto value = store.readValue(root, key, name);
    return value && value->type == RegistryType::Dword && value->number != 0;
}

void WriteSettingString(SettingsBackend& store, RegistryRoot root, std::string_view key, std::string_view name,
                        std::string_view text)
{
    store.writeValue(root, key, name, RegistryValue::string(std::string(text)));
}

void WriteSettingBool(SettingsBackend& store, RegistryRoot root, std::string_view key, std::string_view name, bool flag)
{
    store.writeValue(root, key, name, RegistryValue::dword(flag ? 1 : 0));
}

std::int32_t LanguageIndexForLocale(std::string_view locale)
{
    // Only the language part counts: "de_AT.UTF-8@euro" is German.
    const std::string_view language = locale.substr(0, locale.find_first_of("_.@"));
    static constexpr std::pair<std::string_view, std::int32_t> kLanguages[] = {
        {"de", 2}, {"fr", 3}, {"es", 4}, {"it", 5}, {"ru", 6}, {"pt", 7},
    };
    for (const auto& [code, index] : kLanguages)
        if (language == code)
            return index;
    return 1;
}

StartupSettings ApplyStartupSettings(SettingsBackend& store, const std::string& defaultRestoreFolder,
                                     std::int32_t defaultLanguage)
{
    StartupSettings settings;
    settings.RestoreFolder = defaultRestoreFolder;
    settings.LanguageIndex = defaultLanguage;

    std::vector<NamedValue> missing;
    const auto read = [&](std::string_view name) {
        return store.readValue(RegistryRoot::CurrentUser, kSettingsKey, name);
    };

    if (!read(setting::kDisplayName))
        missing.push_back({std::string(setting::kDisplayName), RegistryValue::string(std::string(kProductName))});
    if (!read(setting::kVersion))
        missing.push_back({std::string(setting::kVersion), RegistryValue::string(std::string(kProductVersion))});

    if (const auto language = read(setting::kLanguage)) {
        if (language->type == RegistryType::Dword)
            settings.LanguageIndex = static_cast<std::int32_t>(language->number);
    } else {
        missing.push_back({std::string(setting::kLanguage),
                           RegistryValue::dword(static_cast<std::uint32_t>(settings.LanguageIndex))});
    }

    // Taken as stored, blanks and all: this is the folder the user saved.
    if (const auto saveDir = read(setting::kSaveDir)) {
        if (isString(*saveDir))
            settings.RestoreFolder = saveDir->text;
    } else {
        missing.push_back({std::string(setting::kSaveDir), RegistryValue::string(settings.RestoreFolder)});
    }

    if (const auto showNote = read(setting::kShowNote)) {
        if (showNote->type == RegistryType::Dword)
            settings.ShowNote = showNote->number != 0;
    } else {
        missing.push_back({std::string(setting::kShowNote), RegistryValue::dword(settings.ShowNote ? 1 : 0)});
    }

    // One write for all defaults, so a first start replaces the file once.
    if (!missing.empty())
        store.writeValues(RegistryRoot::CurrentUser, kSettingsKey, missing);
    return settings;
}

} // namespace orv
