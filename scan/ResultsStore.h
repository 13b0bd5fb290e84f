#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "scan/FileLocator.h"

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

    // A key names a file in its folder, and one folder may hold several deleted files of one name
    // (saved and deleted twice, or names that differ only in case): each file is its own entry,
    // told apart by the locator its value starts with (see storedLocator). Writing a key again for
    // the same locator replaces the value.
    void write(std::u16string_view section, std::u16string_view key, std::u16string_view value);
    // The value, or `fallback` when the section or key is missing. With a locator, the value of
    // that file of the name; without, the first one written.
    std::u16string read(std::u16string_view section, std::u16string_view key, std::u16string_view fallback = {},
                        std::optional<std::u16string_view> locator = std::nullopt) const;
    bool valueExists(std::u16string_view section, std::u16string_view key,
                     std::optional<std::u16string_view> locator = std::nullopt) const;
    bool sectionExists(std::u16string_view section) const;
    void deleteKey(std::u16string_view section, std::u16string_view key,
                   std::optional<std::u16string_view> locator = std::nullopt);

    // Section names in the order they were first written; sections whose keys were all deleted
    // stay listed, as they do in an INI file.
    std::vector<std::u16string> sections() const;
    // The keys of a section in the order they were first written.
    std::vector<std::u16string> keys(std::u16string_view section) const;

    // Calls visit(section, key, value) for every entry in order, without copying them: the key and
    // the value are views into the store, valid until it is next written or cleared.
    template <typename Visit>
    void forEach(Visit&& visit) const
    {
        for (const Section& s : m_sections)
            for (const Entry& e : s.entries)
                if (!e.deleted())
                    visit(std::u16string_view(s.name), e.key(), e.value());
    }

    // Where an entry stands in the store: its section's index and its index in that section,
    // deleted entries counted.
    struct Place
    {
        std::size_t section = 0;
        std::size_t entry = 0;
    };
    // forEach over the entries from `from` up to `to` alone, in the same order: a listing made in
    // parts (on several threads) takes a run of entries each, folders cut where they must be.
    template <typename Visit>
    void forEachBetween(Place from, Place to, Visit&& visit) const
    {
        for (std::size_t i = from.section; i <= to.section && i < m_sections.size(); ++i) {
            const auto& entries = m_sections[i].entries;
            const std::size_t last = i == to.section ? std::min(to.entry, entries.size()) : entries.size();
            for (std::size_t e = i == from.section ? from.entry : 0; e < last; ++e)
                if (!entries[e].deleted())
                    visit(std::u16string_view(m_sections[i].name), entries[e].key(), entries[e].value());
        }
    }
    std::size_t sectionCount() const { return m_sections.size(); }
    // The entries written into section `index`, deleted ones too: what listing it costs.
    std::size_t sectionSize(std::size_t index) const { return m_sections[index].entries.size(); }

    // Calls visit(key, value) for every entry of one section in order, as forEach does: a window
    // that shows a folder of many files lists it without looking each name up again.
    template <typename Visit>
    void forEachIn(std::u16string_view section, Visit&& visit) const
    {
        if (const Section* s = find(section))
            for (const Entry& e : s->entries)
                if (!e.deleted())
                    visit(e.key(), e.value());
    }

    // Every section as "[name]", its "key=value" lines, then an empty line.
    std::u16string text() const;

    std::size_t entryCount() const { return m_entries; }

    // Folds the letter case the way the store compares names.
    static std::u16string fold(std::u16string_view text);

private:
    // Keys and values are written back to back into large blocks of text that never move, so an
    // entry is a pointer and two lengths instead of two strings with an allocation each: a scan that
    // lists millions of files keeps them in a fraction of the memory.
    class TextBlocks
    {
    public:
        // `key` then `value`, copied into a block; where they start.
        const char16_t* add(std::u16string_view key, std::u16string_view value);
        void clear();

    private:
        static constexpr std::size_t kBlockLength = 64 * 1024; // characters
        std::vector<std::unique_ptr<char16_t[]>> m_blocks;
        char16_t* m_free = nullptr; // the unused end of the newest block
        std::size_t m_freeLength = 0;
    };

    struct Entry
    {
        const char16_t* text = nullptr; // the key, then the value
        std::uint32_t keyLength = 0;
        std::uint32_t valueState = 0; // the value's length, and kDeleted

        static constexpr std::uint32_t kDeleted = 0x8000'0000u;
        std::u16string_view key() const { return {text, keyLength}; }
        std::u16string_view value() const { return {text + keyLength, valueState & ~kDeleted}; }
        bool deleted() const { return (valueState & kDeleted) != 0; }
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
        // The slot of `key` for which `also` holds, or the empty one where it would go.
        template <typename Also>
        std::size_t slotOf(std::u16string_view key, std::uint32_t hash, const Also& also) const;
        // The first live entry of `key` (with the locator, when one is given), or nothing.
        const Entry* lookup(std::u16string_view key, std::optional<std::u16string_view> locator = std::nullopt) const;
        void grow();
    };

    const Section* find(std::u16string_view section) const;
    void loadIni(const std::filesystem::path& iniFile);

    TextBlocks m_text;
    std::vector<Section> m_sections;
    std::unordered_map<std::u16string, std::size_t> m_index; // folded section name -> position
    std::size_t m_lastWritten = 0; // scans write a folder's files one after another
    std::size_t m_entries = 0;
};

// The first field of a stored value, which says where the file lies: the record offset of an NTFS
// file, or the locator of another file system's (see FileLocator).
std::u16string_view storedLocator(std::u16string_view value);

// The fields of a stored value: RecordOffset#date#time#size.
struct StoredFile
{
    std::optional<FileLocator> locator; // nothing when the first field names no place
    std::optional<std::int64_t> recordOffset; // the locator of an NTFS record; nothing otherwise
    std::u16string date;
    std::u16string time;
    std::int64_t size = 0;
};

StoredFile parseStoredValue(std::u16string_view value);
// The same into a file of the caller's, whose texts keep their room: a listing of every file parses
// one value after another.
void parseStoredValue(std::u16string_view value, StoredFile& into);
std::u16string formatStoredValue(std::int64_t recordOffset, std::u16string_view date, std::u16string_view time,
                                 std::int64_t size);
// The value of a file listed at `locator`.
std::u16string formatStoredValue(const FileLocator& locator, std::u16string_view date, std::u16string_view time,
                                 std::int64_t size);
// The same appended to `out`.
void appendStoredValue(std::u16string& out, std::int64_t recordOffset, std::u16string_view date,
                       std::u16string_view time, std::int64_t size);

} // namespace orv
