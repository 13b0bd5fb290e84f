#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace orv {

// What a scan found, shaped like an INI file: one section per folder ("C:\Users\Bob\"), one key
// per deleted file, and a value packing RecordOffset#date#time#size. Sections and keys compare
// without regard to letter case and keep the order in which they were first written. Every
// lookup goes through a hash index, so a million entries are written in about a second.
class ResultsStore
{
public:
    ResultsStore() = default;

    // Starts with the sections of an INI file when it exists (a missing or unreadable file
    // leaves the store empty). The store is never written back to it.
    explicit ResultsStore(const std::filesystem::path& iniFile);

    void clear();

    void write(std::u16string_view section, std::u16string_view key, std::u16string_view value);
    // The value, or `fallback` when the section or key is missing.
    std::u16string read(std::u16string_view section, std::u16string_view key, std::u16string_view fallback = {}) const;
    bool valueExists(std::u16string_view section, std::u16string_view key) const;
    bool sectionExists(std::u16string_view section) const;
    void deleteKey(std::u16string_view section, std::u16string_view key);

    // Section names in the order they were first written; sections whose keys were all deleted
    // stay listed, as they do in an INI file.
    std::vector<std::u16string> sections() const;
    // The keys of a section in the order they were first written.
    std::vector<std::u16string> keys(std::u16string_view section) const;

    // Calls visit(section, key, value) for every entry in order, without copying them.
    template <typename Visit>
    void forEach(Visit&& visit) const
    {
        for (const Section& s : m_sections)
            for (const Entry& e : s.entries)
                if (!e.deleted)
                    visit(s.name, e.key, e.value);
    }

    // Every section as "[name]", its "key=value" lines, then an empty line.
    std::u16string text() const;

    std::size_t entryCount() const { return m_entries; }

    // Folds the letter case the way the store compares names.
    static std::u16string fold(std::u16string_view text);

private:
    struct Entry
    {
        std::u16string key;
        std::u16string value;
        bool deleted = false;
    };
    // A section's keys are found through an open-addressed table of (hash of the folded key,
    // position + 1) words: a few bytes per file where a node-based map would take a hundred, which
    // matters when a scan lists millions of files.
    struct Section
    {
        std::u16string name;
        std::vector<Entry> entries;
        std::vector<std::uint64_t> keySlots;
        // The slot of `key`: the one holding it, or the empty one where it would go.
        std::size_t slotOf(std::u16string_view key, std::uint32_t hash) const;
        // The live entry of `key`, or nothing.
        const Entry* lookup(std::u16string_view key) const;
        void grow();
    };

    const Section* find(std::u16string_view section) const;
    void loadIni(const std::filesystem::path& iniFile);

    std::vector<Section> m_sections;
    std::unordered_map<std::u16string, std::size_t> m_index; // folded section name -> position
    std::size_t m_lastWritten = 0; // scans write a folder's files one after another
    std::size_t m_entries = 0;
};

// The fields of a stored value: RecordOffset#date#time#size.
struct StoredFile
{
    std::optional<std::int64_t> recordOffset; // nothing when the first field is not a number
    std::u16string date;
    std::u16string time;
    std::int64_t size = 0;
};

StoredFile parseStoredValue(std::u16string_view value);
std::u16string formatStoredValue(std::int64_t recordOffset, std::u16string_view date, std::u16string_view time,
                                 std::int64_t size);

} // namespace orv
