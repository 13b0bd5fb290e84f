#include "platform/linux/RegistryFileBackend.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "base/ConfigFolder.h"
#include "base/FdTransfer.h"
#include "base/Trim.h"
#include "base/Utf16.h"

namespace orv {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";
constexpr std::string_view kHeader4 = "REGEDIT4";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// The file is a few hundred bytes; anything far larger is not ours and is not loaded whole.
constexpr std::uintmax_t kMaxFileSize = 16 * 1024 * 1024;

char foldAscii(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool sameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (foldAscii(a[i]) != foldAscii(b[i]))
            return false;
    return true;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool hasControlCharacter(std::string_view text)
{
    for (const char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return true;
    return false;
}

std::string_view rootName(RegistryRoot)
{
    return "HKEY_CURRENT_USER";
}

std::optional<RegistryRoot> rootFromName(std::string_view name)
{
    if (sameName(name, "HKEY_CURRENT_USER"))
        return RegistryRoot::CurrentUser;
    return std::nullopt;
}

// "A\\B\" and "\A\B" name the same key as "A\B". Nothing when a component could not be written
// on one line of the file.
std::optional<std::string> normaliseKeyPath(std::string_view path)
{
    std::string out;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('\\', start), path.size());
        const std::string_view part = path.substr(start, end - start);
        if (!part.empty()) {
            if (hasControlCharacter(part))
                return std::nullopt;
            if (!out.empty())
                out += '\\';
            out += part;
        }
        start = end + 1;
    }
    return out;
}

// A stored UTF-16LE string up to its first NUL, as the registry's own readers take it.
std::string textFromUtf16Bytes(const std::vector<std::uint8_t>& bytes)
{
    std::u16string units;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto unit = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
        if (unit == 0)
            break;
        units += unit;
    }
    return toUtf8(units);
}

std::vector<std::uint8_t> utf16BytesWithNul(std::string_view text)
{
    std::vector<std::uint8_t> bytes;
    for (const char16_t unit : fromUtf8(text)) {
        bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    bytes.push_back(0);
    bytes.push_back(0);
    return bytes;
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// A quoted text starting at `pos` ("..." with \\ and \" escapes); moves `pos` past it.
std::optional<std::string> readQuoted(std::string_view line, std::size_t& pos)
{
    if (pos >= line.size() || line[pos] != '"')
        return std::nullopt;
    std::string out;
    for (std::size_t i = pos + 1; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '"') {
            pos = i + 1;
            return out;
        }
        if (c == '\\' && i + 1 < line.size() && (line[i + 1] == '\\' || line[i + 1] == '"')) {
            out += line[++i];
            continue;
        }
        out += c;
    }
    return std::nullopt; // no closing quote
}

std::string quotedText(std::string_view text)
{
    std::string out = "\"";
    for (const char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

// "12,ab, 00" after hex: or hex(N):; nothing when a byte is not two hex digits.
std::optional<std::vector<std::uint8_t>> readHexBytes(std::string_view list)
{
    std::vector<std::uint8_t> bytes;
    list = trimBlanks(list);
    if (list.empty())
        return bytes;
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t end = std::min(list.find(',', start), list.size());
        const std::string_view item = trimBlanks(list.substr(start, end - start));
        if (item.size() != 2 || hexDigit(item[0]) < 0 || hexDigit(item[1]) < 0)
            return std::nullopt;
        bytes.push_back(static_cast<std::uint8_t>(hexDigit(item[0]) * 16 + hexDigit(item[1])));
        start = end + 1;
    }
    return bytes;
}

std::optional<RegistryValue> readData(std::string_view data)
{
    data = trimBlanks(data);
    if (!data.empty() && data.front() == '"') {
        std::size_t pos = 0;
        auto text = readQuoted(data, pos);
        if (!text || !trimBlanks(data.substr(pos)).empty())
            return std::nullopt;
        return RegistryValue::string(std::move(*text));
    }
    if (data.starts_with("dword:")) {
        const std::string_view digits = data.substr(6);
        if (digits.empty() || digits.size() > 8)
            return std::nullopt;
        std::uint32_t number = 0;
        for (const char c : digits) {
            if (hexDigit(c) < 0)
                return std::nullopt;
            number = number * 16 + static_cast<std::uint32_t>(hexDigit(c));
        }
        return RegistryValue::dword(number);
    }
    if (!data.starts_with("hex"))
        return std::nullopt;
    std::uint32_t type = static_cast<std::uint32_t>(RegistryType::Binary);
    std::size_t colon = 3;
    if (data.size() > 3 && data[3] == '(') {
        const std::size_t close = data.find(')');
        if (close == std::string_view::npos || close == 4 || close > 12)
            return std::nullopt;
        type = 0;
        for (std::size_t i = 4; i < close; ++i) {
            if (hexDigit(data[i]) < 0)
                return std::nullopt;
            type = type * 16 + static_cast<std::uint32_t>(hexDigit(data[i]));
        }
        colon = close + 1;
    }
    if (colon >= data.size() || data[colon] != ':')
        return std::nullopt;
    auto bytes = readHexBytes(data.substr(colon + 1));
    if (!bytes)
        return std::nullopt;

    RegistryValue value;
    value.type = static_cast<RegistryType>(type);
    switch (value.type) {
    case RegistryType::String:
    case RegistryType::ExpandString: value.text = textFromUtf16Bytes(*bytes); break;
    case RegistryType::Dword:
        if (bytes->size() != 4)
            return std::nullopt;
        value.number = (*bytes)[0] | (std::uint32_t{(*bytes)[1]} << 8) | (std::uint32_t{(*bytes)[2]} << 16) |
            (std::uint32_t{(*bytes)[3]} << 24);
        break;
    default: value.bytes = std::move(*bytes); break;
    }
    return value;
}

std::string hexList(const std::vector<std::uint8_t>& bytes)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0)
            out += ',';
        out += kDigits[bytes[i] >> 4];
        out += kDigits[bytes[i] & 0x0F];
    }
    return out;
}

std::string formatData(const RegistryValue& value)
{
    switch (value.type) {
    case RegistryType::String:
        if (!hasControlCharacter(value.text))
            return quotedText(value.text);
        return "hex(1):" + hexList(utf16BytesWithNul(value.text));
    case RegistryType::ExpandString: return "hex(2):" + hexList(utf16BytesWithNul(value.text));
    case RegistryType::Dword: {
        char digits[9];
        std::snprintf(digits, sizeof digits, "%08x", value.number);
        return std::string("dword:") + digits;
    }
    case RegistryType::Binary: return "hex:" + hexList(value.bytes);
    default: {
        char type[16];
        std::snprintf(type, sizeof type, "hex(%x):", static_cast<unsigned>(value.type));
        return type + hexList(value.bytes);
    }
    }
}

// Physical lines joined where a hex list goes on after a trailing backslash.
std::vector<std::string> logicalLines(std::string_view text)
{
    std::vector<std::string> lines;
    std::string pending;
    bool continuing = false;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        std::string_view line = trimBlanks(text.substr(start, end - start));
        start = end + 1;
        if (continuing)
            pending += line;
        else
            pending = line;
        continuing = !pending.empty() && pending.back() == '\\' && pending.front() != '[';
        if (continuing)
            pending.pop_back();
        else
            lines.push_back(std::move(pending));
    }
    if (continuing)
        lines.push_back(std::move(pending));
    return lines;
}

// Works for a key and for a const key alike.
template <typename Key>
auto* findValue(Key& key, std::string_view name)
{
    for (auto& value : key.values)
        if (sameName(value.name, name))
            return &value;
    return static_cast<decltype(&key.values.front())>(nullptr);
}

template <typename Document>
auto* findKeyIn(Document& document, RegistryRoot root, std::string_view path)
{
    using Result = decltype(&document.keys.front());
    const auto normal = normaliseKeyPath(path);
    if (!normal)
        return static_cast<Result>(nullptr);
    for (auto& key : document.keys)
        if (key.root == root && sameName(key.path, *normal))
            return &key;
    return static_cast<Result>(nullptr);
}

// A reader never sees half a file: the text goes to a private temporary file in the same folder,
// reaches the disk, and only then takes the file's name.
bool replaceFileAtomically(fs::path file, std::string_view text)
{
    std::error_code error;
    if (fs::is_symlink(file, error)) {
        const fs::path target = fs::canonical(file, error);
        if (!error)
            file = target; // keep the user's link, replace what it points to
    }
    if (file.has_parent_path())
        fs::create_directories(file.parent_path(), error);
    std::string temporary = file.string() + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool written = writeAll(fd, text) && ::fsync(fd) == 0;
    const bool closed = ::close(fd) == 0;
    if (!written || !closed || ::rename(temporary.c_str(), file.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace

const RegistryKey* RegistryDocument::findKey(RegistryRoot root, std::string_view path) const
{
    return findKeyIn(*this, root, path);
}

RegistryKey* RegistryDocument::ensureKey(RegistryRoot root, std::string_view path)
{
    const auto normal = normaliseKeyPath(path);
    if (!normal)
        return nullptr;
    // Parents first, so that the file lists them above their children as an export would.
    RegistryKey* key = nullptr;
    std::size_t end = 0;
    while (true) {
        end = normal->find('\\', end);
        const std::string prefix = normal->substr(0, end);
        key = findKeyIn(*this, root, prefix);
        if (!key) {
            keys.push_back({root, prefix, {}});
            key = &keys.back();
        }
        if (end == std::string::npos)
            break;
        ++end;
    }
    return key;
}

std::optional<RegistryDocument> parseRegistryText(std::string_view text)
{
    if (text.starts_with(kUtf8Bom))
        text.remove_prefix(kUtf8Bom.size());
    const std::vector<std::string> lines = logicalLines(text);

    std::size_t i = 0;
    while (i < lines.size() && lines[i].empty())
        ++i;
    if (i == lines.size() || (lines[i] != kHeader5 && lines[i] != kHeader4))
        return std::nullopt;

    RegistryDocument document;
    RegistryKey* current = nullptr;
    for (++i; i < lines.size(); ++i) {
        const std::string_view line = lines[i];
        if (line.empty() || line.front() == ';')
            continue;
        if (line.front() == '[' && line.back() == ']') {
            current = nullptr;
            const std::string_view inner = line.substr(1, line.size() - 2);
            if (inner.empty() || inner.front() == '-')
                continue; // a deletion entry: nothing to store
            const std::size_t slash = inner.find('\\');
            const auto root = rootFromName(inner.substr(0, slash));
            if (root)
                current = document.ensureKey(*root, slash == std::string_view::npos ? "" : inner.substr(slash + 1));
            continue;
        }
        if (!current)
            continue;

        std::string name;
        std::size_t pos = 0;
        if (line.front() == '@') {
            pos = 1;
        } else if (auto quotedName = readQuoted(line, pos)) {
            name = std::move(*quotedName);
        } else {
            continue;
        }
        while (pos < line.size() && isBlank(line[pos]))
            ++pos;
        if (pos >= line.size() || line[pos] != '=')
            continue;
        auto value = readData(line.substr(pos + 1));
        if (!value)
            continue; // also "name"=-, a deletion
        if (NamedValue* existing = findValue(*current, name))
            existing->value = std::move(*value); // a later line wins, as an import would have it
        else
            current->values.push_back({std::move(name), std::move(*value)});
    }
    return document;
}

std::string formatRegistryText(const RegistryDocument& document)
{
    std::string out(kHeader5);
    out += '\n';
    for (const RegistryKey& key : document.keys) {
        out += "\n[";
        out += rootName(key.root);
        if (!key.path.empty())
            out += '\\' + key.path;
        out += "]\n";
        for (const NamedValue& value : key.values) {
            out += value.name.empty() ? std::string("@") : quotedText(value.name);
            out += '=';
            out += formatData(value.value);
            out += '\n';
        }
    }
    return out;
}

RegistryFileBackend::RegistryFileBackend(fs::path file) : m_file(std::move(file)) {}

fs::path RegistryFileBackend::defaultFile()
{
    const fs::path config = userConfigFolder();
    return config.empty() ? fs::path() : config / "Orvandel" / "registry.reg";
}

RegistryDocument RegistryFileBackend::load(bool* damaged) const
{
    if (damaged)
        *damaged = false;
    std::error_code error;
    const auto size = fs::file_size(m_file, error);
    if (error)
        return {}; // missing: an empty store
    std::optional<RegistryDocument> document;
    if (size <= kMaxFileSize) {
        std::ifstream in(m_file, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        if (in)
            document = parseRegistryText(text.str());
    }
    if (!document && damaged)
        *damaged = size > 0;
    return document.value_or(RegistryDocument{});
}

std::optional<RegistryValue> RegistryFileBackend::readValue(RegistryRoot root, std::string_view key,
                                                            std::string_view name)
{
    const RegistryDocument document = load();
    const RegistryKey* found = document.findKey(root, key);
    if (!found)
        return std::nullopt;
    if (const NamedValue* value = findValue(*found, name))
        return value->value;
    return std::nullopt;
}

bool RegistryFileBackend::writeValues(RegistryRoot root, std::string_view key, std::span<const NamedValue> values)
{
    if (m_file.empty())
        return false;
    for (const NamedValue& value : values)
        if (hasControlCharacter(value.name))
            return false; // a name must fit on its line
    bool damaged = false;
    RegistryDocument document = load(&damaged);
    if (damaged) {
        // The next write replaces a file we could not read; keep it aside for whoever wrote it.
        std::error_code error;
        fs::copy_file(m_file, m_file.string() + ".damaged", fs::copy_options::overwrite_existing, error);
    }
    RegistryKey* target = document.ensureKey(root, key);
    if (!target)
        return false;
    for (const NamedValue& value : values) {
        if (NamedValue* existing = findValue(*target, value.name))
            existing->value = value.value; // the stored spelling of the name stays
        else
            target->values.push_back(value);
    }
    return replaceFileAtomically(m_file, formatRegistryText(document));
}

} // namespace orv
