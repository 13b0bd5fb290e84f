#include "scan/ResultsStore.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <sstream>

#include "base/Trim.h"
#include "base/Utf16.h"

namespace orv {

namespace {

// Lower case for the scripts whose letters come in simple pairs; other characters stay as they
// are, which keeps two different names apart rather than folding them together.
char16_t foldChar(char16_t c)
{
    if (c >= u'A' && c <= u'Z')
        return static_cast<char16_t>(c + 32);
    if (c < 0x80)
        return c;
    if ((c >= 0xC0 && c <= 0xDE && c != 0xD7) || (c >= 0x391 && c <= 0x3AB && c != 0x3A2) || (c >= 0x410 && c <= 0x42F))
        return static_cast<char16_t>(c + 32);
    if (c >= 0x400 && c <= 0x40F)
        return static_cast<char16_t>(c + 80);
    // Latin Extended-A: upper case at even code points, lower at the next odd one, except in
    // the two runs where the pairs start on an odd code point.
    if (((c >= 0x100 && c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) && c % 2 == 0)
        return static_cast<char16_t>(c + 1);
    if (((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) && c % 2 == 1)
        return static_cast<char16_t>(c + 1);
    return c;
}

std::uint32_t foldedHash(std::u16string_view text)
{
    std::uint32_t hash = 2166136261u;
    for (const char16_t c : text) {
        hash ^= foldChar(c);
        hash *= 16777619u;
    }
    return hash;
}

bool equalFolded(std::u16string_view a, std::u16string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i] && foldChar(a[i]) != foldChar(b[i]))
            return false;
    return true;
}

std::size_t positionOf(std::uint64_t slot)
{
    return static_cast<std::size_t>((slot & 0xFFFF'FFFFu) - 1);
}

} // namespace

template <typename Also>
std::size_t ResultsStore::Section::slotOf(std::u16string_view key, std::uint32_t hash, const Also& also) const
{
    const std::size_t mask = keySlots.size() - 1;
    for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
        const std::uint64_t slot = keySlots[at];
        if (slot == 0)
            return at;
        if (static_cast<std::uint32_t>(slot >> 32) != hash)
            continue;
        const Entry& entry = entries[positionOf(slot)];
        if (equalFolded(entry.key(), key) && also(entry))
            return at;
    }
}

const ResultsStore::Entry* ResultsStore::Section::lookup(std::u16string_view key,
                                                         std::optional<std::u16string_view> locator) const
{
    if (keySlots.empty())
        return nullptr;
    // Several files of one folder may share a name (case folded): each is its own entry, told apart
    // by where it lies. Without a place, the first live one answers.
    const std::uint64_t slot = keySlots[slotOf(key, foldedHash(key), [&](const Entry& entry) {
        return !entry.deleted() && (!locator || storedLocator(entry.value()) == *locator);
    })];
    if (slot == 0)
        return nullptr;
    return &entries[positionOf(slot)];
}

void ResultsStore::Section::grow()
{
    std::vector<std::uint64_t> old = std::move(keySlots);
    keySlots.assign(std::max<std::size_t>(16, old.size() * 2), 0);
    const std::size_t mask = keySlots.size() - 1;
    for (const std::uint64_t slot : old) {
        if (slot == 0)
            continue;
        std::size_t at = static_cast<std::size_t>(slot >> 32) & mask;
        while (keySlots[at] != 0)
            at = (at + 1) & mask;
        keySlots[at] = slot;
    }
}

const char16_t* ResultsStore::TextBlocks::add(std::u16string_view key, std::u16string_view value)
{
    const std::size_t length = key.size() + value.size();
    char16_t* at = nullptr;
    if (length > kBlockLength / 4) {
        // A long text (only an INI file has them) gets a block of its own; the newest block keeps
        // its free end for the names that follow.
        auto own = std::make_unique<char16_t[]>(std::max<std::size_t>(length, 1));
        at = own.get();
        m_blocks.insert(m_blocks.end() - (m_blocks.empty() ? 0 : 1), std::move(own));
    } else {
        if (length > m_freeLength) {
            m_blocks.push_back(std::make_unique<char16_t[]>(kBlockLength));
            m_free = m_blocks.back().get();
            m_freeLength = kBlockLength;
        }
        at = m_free;
        m_free += length;
        m_freeLength -= length;
    }
    std::copy(key.begin(), key.end(), at);
    std::copy(value.begin(), value.end(), at + key.size());
    return at;
}

void ResultsStore::TextBlocks::clear()
{
    m_blocks.clear();
    m_free = nullptr;
    m_freeLength = 0;
}

std::u16string ResultsStore::fold(std::u16string_view text)
{
    std::u16string folded(text);
    for (char16_t& c : folded)
        c = foldChar(c);
    return folded;
}

ResultsStore::ResultsStore(const std::filesystem::path& iniFile)
{
    loadIni(iniFile);
}

void ResultsStore::loadIni(const std::filesystem::path& iniFile)
{
    std::ifstream in(iniFile, std::ios::binary);
    if (!in)
        return;
    std::stringstream whole;
    whole << in.rdbuf();
    std::string bytes = whole.str();
    if (bytes.rfind("\xEF\xBB\xBF", 0) == 0)
        bytes.erase(0, 3);
    const std::u16string text = fromUtf8(bytes);

    std::optional<std::u16string> section;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(u'\n', start);
        if (end == std::u16string::npos)
            end = text.size();
        const std::u16string line(trimBlanks(std::u16string_view(text).substr(start, end - start)));
        start = end + 1;
        if (line.empty() || line[0] == u';')
            continue;
        if (line.front() == u'[' && line.back() == u']') {
            section = line.substr(1, line.size() - 2);
            continue;
        }
        // Names may hold "=" and values never do: the line splits at its last one.
        const auto equals = line.rfind(u'=');
        if (section && equals != std::u16string::npos)
            write(*section, line.substr(0, equals), line.substr(equals + 1));
    }
}

void ResultsStore::clear()
{
    m_sections.clear();
    m_index.clear();
    m_text.clear();
    m_entries = 0;
    m_lastWritten = 0;
}

void ResultsStore::write(std::u16string_view section, std::u16string_view key, std::u16string_view value)
{
    // No name or value of a volume comes near 2^31 characters; an INI line that does is cut there.
    key = key.substr(0, Entry::kDeleted - 1);
    value = value.substr(0, Entry::kDeleted - 1);
    if (m_lastWritten >= m_sections.size() || m_sections[m_lastWritten].name != section) {
        auto [sectionAt, newSection] = m_index.try_emplace(fold(section), m_sections.size());
        if (newSection)
            m_sections.push_back(Section{std::u16string(section), {}, {}});
        m_lastWritten = sectionAt->second;
    }
    Section& target = m_sections[m_lastWritten];

    if ((target.entries.size() + 1) * 2 > target.keySlots.size())
        target.grow();
    const std::uint32_t hash = foldedHash(key);
    // A name written again for the same place replaces its value; a second file of the same name
    // (another record or entry) is a line of its own, so no deleted file hides another.
    const std::u16string_view locator = storedLocator(value);
    const std::size_t at =
        target.slotOf(key, hash, [&](const Entry& entry) { return storedLocator(entry.value()) == locator; });
    const std::uint64_t slot = target.keySlots[at];
    const auto entryOf = [&](std::u16string_view spelling) {
        return Entry{m_text.add(spelling, value), static_cast<std::uint32_t>(spelling.size()),
                     static_cast<std::uint32_t>(value.size())};
    };
    if (slot != 0 && !target.entries[positionOf(slot)].deleted()) {
        // The key keeps its first spelling. The old text stays where it is, unused: values are
        // rewritten rarely, when an INI file's section is written again.
        Entry& entry = target.entries[positionOf(slot)];
        entry = entryOf(entry.key());
        return;
    }
    // A new key, or one deleted before: written anew at the end, as a new line of the file.
    target.entries.push_back(entryOf(key));
    target.keySlots[at] = (std::uint64_t{hash} << 32) | target.entries.size();
    ++m_entries;
}

const ResultsStore::Section* ResultsStore::find(std::u16string_view section) const
{
    const auto found = m_index.find(fold(section));
    return found == m_index.end() ? nullptr : &m_sections[found->second];
}

std::u16string ResultsStore::read(std::u16string_view section, std::u16string_view key, std::u16string_view fallback,
                                  std::optional<std::u16string_view> locator) const
{
    if (const Section* s = find(section))
        if (const Entry* entry = s->lookup(key, locator))
            return std::u16string(entry->value());
    return std::u16string(fallback);
}

bool ResultsStore::valueExists(std::u16string_view section, std::u16string_view key,
                               std::optional<std::u16string_view> locator) const
{
    const Section* s = find(section);
    return s && s->lookup(key, locator) != nullptr;
}

bool ResultsStore::sectionExists(std::u16string_view section) const
{
    return find(section) != nullptr;
}

void ResultsStore::deleteKey(std::u16string_view section, std::u16string_view key,
                             std::optional<std::u16string_view> locator)
{
    const auto sectionAt = m_index.find(fold(section));
    if (sectionAt == m_index.end())
        return;
    Section& s = m_sections[sectionAt->second];
    if (const Entry* entry = s.lookup(key, locator)) {
        s.entries[static_cast<std::size_t>(entry - s.entries.data())].valueState |= Entry::kDeleted;
        --m_entries;
    }
}

std::vector<std::u16string> ResultsStore::sections() const
{
    std::vector<std::u16string> names;
    names.reserve(m_sections.size());
    for (const Section& s : m_sections)
        names.push_back(s.name);
    return names;
}

std::vector<std::u16string> ResultsStore::keys(std::u16string_view section) const
{
    std::vector<std::u16string> names;
    if (const Section* s = find(section)) {
        for (const Entry& e : s->entries)
            if (!e.deleted())
                names.emplace_back(e.key());
    }
    return names;
}

std::u16string ResultsStore::text() const
{
    std::u16string out;
    for (const Section& s : m_sections) {
        out += u'[';
        out += s.name;
        out += u"]\n";
        for (const Entry& e : s.entries) {
            if (e.deleted())
                continue;
            out += e.key();
            out += u'=';
            out += e.value();
            out += u'\n';
        }
        out += u'\n';
    }
    return out;
}

std::u16string_view storedLocator(std::u16string_view value)
{
    return value.substr(0, value.find(u'#'));
}

StoredFile parseStoredValue(std::u16string_view value)
{
    StoredFile file;
    parseStoredValue(value, file);
    return file;
}

void parseStoredValue(std::u16string_view value, StoredFile& into)
{
    std::u16string_view fields[4];
    for (int i = 0; i < 3; ++i) {
        const auto hash = value.find(u'#');
        fields[i] = value.substr(0, hash);
        value = hash == std::u16string_view::npos ? std::u16string_view() : value.substr(hash + 1);
    }
    fields[3] = value;
    const auto number = [](std::u16string_view text) -> std::optional<std::int64_t> {
        char small[32] = {};
        std::string large;
        char* ascii = small;
        if (text.size() > sizeof small) {
            large.resize(text.size());
            ascii = large.data();
        }
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] > 0x7F)
                return std::nullopt;
            ascii[i] = static_cast<char>(text[i]);
        }
        std::int64_t result = 0;
        const auto [end, error] = std::from_chars(ascii, ascii + text.size(), result);
        if (text.empty() || error != std::errc() || end != ascii + text.size())
            return std::nullopt;
        return result;
    };
    into.recordOffset = number(fields[0]);
    if (into.recordOffset && *into.recordOffset < 0)
        into.recordOffset.reset();
    if (into.recordOffset)
        into.locator = FileLocator{FileLocator::Kind::MftRecord, *into.recordOffset};
    else
        into.locator = parseLocator(fields[0]);
    into.date.assign(fields[1]);
    into.time.assign(fields[2]);
    into.size = number(fields[3]).value_or(0);
}

std::u16string formatStoredValue(std::int64_t recordOffset, std::u16string_view date, std::u16string_view time,
                                 std::int64_t size)
{
    std::u16string value;
    appendStoredValue(value, recordOffset, date, time, size);
    return value;
}

std::u16string formatStoredValue(const FileLocator& locator, std::u16string_view date, std::u16string_view time,
                                 std::int64_t size)
{
    if (locator.kind == FileLocator::Kind::MftRecord)
        return formatStoredValue(locator.value, date, time, size);
    std::u16string value = locatorText(locator);
    const std::u16string rest = formatStoredValue(0, date, time, size);
    value += std::u16string_view(rest).substr(rest.find(u'#'));
    return value;
}

std::optional<FileLocator> parseLocator(std::u16string_view field)
{
    FileLocator locator;
    if (!field.empty() && field.front() == u'e') {
        locator.kind = FileLocator::Kind::DirectoryEntry;
        field.remove_prefix(1);
    } else if (!field.empty() && field.front() == u's') {
        locator.kind = FileLocator::Kind::ShadowCopyRecord;
        field.remove_prefix(1);
    } else if (!field.empty() && field.front() == u'c') {
        locator.kind = FileLocator::Kind::FoundByContent;
        field.remove_prefix(1);
    }
    if (field.empty() || field.size() > 18)
        return std::nullopt;
    std::int64_t n = 0;
    for (const char16_t c : field) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        n = n * 10 + (c - u'0');
    }
    locator.value = n;
    return locator;
}

std::u16string locatorText(const FileLocator& locator)
{
    const std::string digits = std::to_string(locator.value);
    std::u16string text(locator.kind == FileLocator::Kind::DirectoryEntry         ? u"e"
                            : locator.kind == FileLocator::Kind::ShadowCopyRecord ? u"s"
                            : locator.kind == FileLocator::Kind::FoundByContent   ? u"c"
                                                                                  : u"");
    text.append(digits.begin(), digits.end());
    return text;
}

void appendStoredValue(std::u16string& out, std::int64_t recordOffset, std::u16string_view date,
                       std::u16string_view time, std::int64_t size)
{
    const auto number = [&](std::int64_t n) {
        char digits[24];
        const auto end = std::to_chars(std::begin(digits), std::end(digits), n).ptr;
        out.append(digits, end);
    };
    number(recordOffset);
    out += u'#';
    out += date;
    out += u'#';
    out += time;
    out += u'#';
    number(size);
}

} // namespace orv
