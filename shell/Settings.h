#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/SettingsBackend.h"

namespace orv {

// The key under the current user that holds every setting of the program.
inline constexpr std::string_view kSettingsKey = "SOFTWARE\\Quillmarsh\\Orvandel";

// The settings' value names, spelled as they are stored.
namespace setting {
inline constexpr std::string_view kDisplayName = "DisplayName"; // text, written once, never read
inline constexpr std::string_view kVersion = "Version"; // text, written once, never read
inline constexpr std::string_view kLanguage = "Language"; // number: the language file
inline constexpr std::string_view kSaveDir = "SaveDir"; // text: the restore folder
inline constexpr std::string_view kShowNote = "ShowNote"; // flag: show the notice before a restore
inline constexpr std::string_view kRestoreStreams = "RestoreStreams"; // flag: restore named streams too
inline constexpr std::string_view kInstallStat = "InstallStat"; // flag: the statistics request was made
inline constexpr std::string_view kCompilerVersion = "CompilerVersion"; // text left by the installer
} // namespace setting

// The value's text with blanks and control characters removed at both ends. Empty when the key
// or the value is missing, when the value is not a text (an expandable text counts, taken as
// stored without expanding), or when the store cannot be read. Never creates anything.
std::string ReadSettingString(SettingsBackend& store, RegistryRoot root, std::string_view key, std::string_view name);

// True for a stored number other than 0. False when the key or the value is missing or the value
// is not a number (a flag stored as text reads false). Never creates anything.
bool ReadSettingBool(SettingsBackend& store, RegistryRoot root, std::string_view key, std::string_view name);

// Store the text, or the flag as the number 1 or 0, creating the key when it is missing. A store
// that cannot be written is not reported: the program goes on with the setting in memory.
void WriteSettingString(SettingsBackend& store, RegistryRoot root, std::string_view key, std::string_view name,
                        std::string_view text);
void WriteSettingBool(SettingsBackend& store, RegistryRoot root, std::string_view key, std::string_view name,
                      bool flag);

// The settings that the program holds in memory from start-up on.
struct StartupSettings
{
    std::int32_t LanguageIndex = 1;
    std::string RestoreFolder;
    bool ShowNote = true;
};

// Start-up's settings work: reads "Language", "SaveDir" and "ShowNote" when they exist and writes
// the missing ones with their defaults, together with "DisplayName" and "Version" (written only
// when missing, never read). An existing value is never overwritten, even one stored with the
// wrong type; such a value leaves the setting at its default. Nothing that the store does can
// stop the start.
// `defaultLanguage` is the LanguageIndex a first start stores when "Language" is missing (the
// one the user's locale names, see LanguageIndexForLocale).
StartupSettings ApplyStartupSettings(SettingsBackend& store, const std::string& defaultRestoreFolder,
                                     std::int32_t defaultLanguage = 1);

// The LanguageIndex of a POSIX locale name ("de_DE.UTF-8", "ru", "pt_BR"): a language the program
// has a file for, else 1 (English, also for "C" and "POSIX").
std::int32_t LanguageIndexForLocale(std::string_view locale);

} // namespace orv
