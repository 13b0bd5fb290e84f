#include "shell/LanguageCatalogue.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <sstream>

#include "base/Trim.h"

namespace orv {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// Language files are a few kilobytes; a file far larger is not one of them.
constexpr std::uintmax_t kMaxFileSize = 4 * 1024 * 1024;

constexpr std::array<std::string_view, 7> kLanguageFiles{
    "English.ini", "German.ini", "French.ini", "Spanish.ini", "Italian.ini", "Russian.ini", "Portuguese.ini",
};

// Section and key names are ASCII words, so folding ASCII letters is enough.
std::string indexKey(std::string_view section, std::string_view key)
{
    std::string folded;
    folded.reserve(section.size() + key.size() + 1);
    for (const char c : section)
        folded += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    folded += '\n'; // cannot occur in a name: lines are split at it
    for (const char c : key)
        folded += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    return folded;
}

} // namespace

LanguageCatalogue LanguageCatalogue::fromText(std::string_view text)
{
    LanguageCatalogue catalogue;
    if (text.starts_with(kUtf8Bom))
        text.remove_prefix(kUtf8Bom.size());

    std::string section;
    bool inSection = false;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        const std::string_view line = trimControls(text.substr(start, end - start));
        start = end + 1;
        if (line.empty() || line.front() == ';')
            continue;
        if (line.front() == '[' && line.back() == ']') {
            section = std::string(trimControls(line.substr(1, line.size() - 2)));
            inSection = true;
            continue;
        }
        const std::size_t equals = line.find('=');
        if (!inSection || equals == std::string_view::npos)
            continue; // before the first section, or a line that names no key
        Entry entry{section, std::string(trimControls(line.substr(0, equals))),
                    std::string(trimControls(line.substr(equals + 1)))};
        if (catalogue.m_index.emplace(indexKey(entry.section, entry.key), catalogue.m_entries.size()).second)
            catalogue.m_entries.push_back(std::move(entry));
    }
    return catalogue;
}

LanguageCatalogue LanguageCatalogue::fromFile(const std::filesystem::path& file)
{
    std::error_code error;
    const auto size = std::filesystem::file_size(file, error);
    if (error || size > kMaxFileSize)
        return {};
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in)
        return {};
    return fromText(text.str());
}

std::string LanguageCatalogue::Lookup(std::string_view section, std::string_view key, std::string_view fallback) const
{
    const auto found = m_index.find(indexKey(section, key));
    return found == m_index.end() ? std::string(fallback) : m_entries[found->second].value;
}

std::vector<std::pair<std::string, std::string>> LanguageCatalogue::definedKeys() const
{
    std::vector<std::pair<std::string, std::string>> keys;
    keys.reserve(m_entries.size());
    for (const Entry& entry : m_entries)
        keys.emplace_back(entry.section, entry.key);
    return keys;
}

std::string_view languageFileName(std::int32_t languageIndex)
{
    if (languageIndex < 1 || languageIndex > static_cast<std::int32_t>(kLanguageFiles.size()))
        return kLanguageFiles[0];
    return kLanguageFiles[static_cast<std::size_t>(languageIndex - 1)];
}

LanguageCatalogue LoadLanguageCatalogue(const std::string& applicationFolder, std::int32_t languageIndex)
{
    // Joined as text: an empty folder name must not turn into the current directory.
    std::string file = applicationFolder;
    file += std::filesystem::path::preferred_separator;
    file += languageFileName(languageIndex);
    return LanguageCatalogue::fromFile(file);
}

} // namespace orv
