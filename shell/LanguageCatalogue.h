#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "shell/LanguageTexts.h"

namespace orv {

// The texts of one language file, read once at start-up and never written back. An empty
// catalogue (no file, or a file that defines nothing) answers every look-up with its English
// default.
//
// The file is UTF-8 (a leading byte-order mark is skipped); every line is trimmed; empty lines
// and lines starting with ";" are skipped; "[name]" opens a section; inside a section a line is
// split at its first "=" into a key and a value, each trimmed. Section and key names compare
// without regard to letter case. When a key appears twice in a section, the first one counts.
class LanguageCatalogue
{
public:
    LanguageCatalogue() = default;

    static LanguageCatalogue fromText(std::string_view text);

    // A file that is missing or cannot be read gives an empty catalogue.
    static LanguageCatalogue fromFile(const std::filesystem::path& file);

    // The key's value, even an empty one, when the file defines it; `fallback` otherwise.
    std::string Lookup(std::string_view section, std::string_view key, std::string_view fallback) const;
    std::string Lookup(const LanguageText& text) const { return Lookup(text.section, text.key, text.english); }

    // Every section and key the file defines, as spelled in the file, in file order.
    std::vector<std::pair<std::string, std::string>> definedKeys() const;

private:
    struct Entry
    {
        std::string section; // as spelled in the file
        std::string key;
        std::string value;
    };
    // Folded "section" + "\n" + "key" to the entry.
    std::map<std::string, std::size_t, std::less<>> m_index;
    std::vector<Entry> m_entries;
};

// The file that holds a language: 1 English, 2 German, 3 French, 4 Spanish, 5 Italian,
// 6 Russian, 7 Portuguese; any other number gives English.
std::string_view languageFileName(std::int32_t languageIndex);

// The catalogue of the chosen language from the application's folder.
LanguageCatalogue LoadLanguageCatalogue(const std::string& applicationFolder, std::int32_t languageIndex);

} // namespace orv
