#include "cli/Output.h"

#include <cstdio>
#include <cstring>
#include <iostream>
#include <type_traits>

#include "base/Utf16.h"
#include "shell/LanguageTexts.h"

namespace orv::cli {

const std::string kDriveNotFound(lang::kDriveMessage3.english);
const std::string kBootSectorError(lang::kDriveMessage8.english);
const std::string kMftListError(lang::kDriveMessage9.english);
const std::string kUnsupportedFileSystem(lang::kDriveMessage5.english);
const std::string kNoAccess =
    std::string(lang::kVistaMessage1.english) + "\n" + std::string(lang::kVistaMessage2.english);
const std::string kNotFound(lang::kProcessNotFound.english);
const std::string kNoFilesSelected(lang::kFileMessage2.english);
const std::string kNoRestoreFolder(lang::kFileMessage13.english);
const std::string kFilesRestored(lang::kFileMessage14.english);
const std::string kFilesWiped(lang::kFileMessage10.english);

int fail(const std::string& message)
{
    std::cerr << message << '\n';
    return kExitFailed;
}

Output& Output::operator<<(std::string_view text)
{
    m_buffer += text;
    if (m_buffer.size() >= (1u << 20) && !m_kept)
        flush();
    return *this;
}

namespace {

// True when one of the eight bytes of `word` is a control character, a quote or a backslash: the
// bytes a JSON string must escape. Most names have none, and are copied whole.
bool needsEscape(std::uint64_t word)
{
    constexpr std::uint64_t kOnes = 0x0101010101010101ull;
    constexpr std::uint64_t kHighs = 0x8080808080808080ull;
    const auto zeroByte = [](std::uint64_t v) { return (v - kOnes) & ~v & kHighs; };
    const std::uint64_t below20 = (word - kOnes * 0x20) & ~word & kHighs;
    return (below20 | zeroByte(word ^ (kOnes * '"')) | zeroByte(word ^ (kOnes * '\\'))) != 0;
}

} // namespace

namespace {

// `utf8` as a JSON string appended to `out`.
void appendJsonString(std::string& out, std::string_view utf8)
{
    out += '"';
    std::size_t i = 0;
    std::size_t plain = 0; // start of the run of characters that need no escape
    for (;;) {
        for (std::uint64_t word = 0; i + 8 <= utf8.size(); i += 8) {
            std::memcpy(&word, utf8.data() + i, 8);
            if (needsEscape(word))
                break;
        }
        if (i >= utf8.size())
            break;
        const char c = utf8[i];
        if (c != '"' && c != '\\' && static_cast<unsigned char>(c) >= 0x20) {
            ++i;
            continue;
        }
        out.append(utf8.substr(plain, i - plain));
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            out += escaped;
        }
        plain = ++i;
    }
    out.append(utf8.substr(plain));
    out += '"';
}

} // namespace

void Output::string(std::string_view utf8)
{
    appendJsonString(m_buffer, utf8);
}

void Output::string(std::u16string_view utf16)
{
    m_utf8.clear();
    appendUtf8(m_utf8, utf16);
    appendJsonString(m_buffer, m_utf8);
}

void Output::appendString(std::string& out, std::u16string_view utf16)
{
    std::string utf8;
    appendUtf8(utf8, utf16);
    appendJsonString(out, utf8);
}

void Output::flush()
{
    if (m_kept)
        return;
    std::fwrite(m_buffer.data(), 1, m_buffer.size(), stdout);
    std::fflush(stdout);
    m_buffer.clear();
}

std::string padded(std::string_view text, std::size_t width)
{
    std::string out(text);
    if (out.size() < width)
        out.append(width - out.size(), ' ');
    return out;
}

JsonWriter& JsonWriter::key(std::string_view name)
{
    nextMember();
    // Member names are the program's own words: nothing in them to escape.
    char quoted[64];
    if (name.size() + 4 <= sizeof quoted) {
        quoted[0] = '"';
        std::memcpy(quoted + 1, name.data(), name.size());
        std::memcpy(quoted + 1 + name.size(), "\": ", 3);
        m_out << std::string_view(quoted, name.size() + 4);
    } else {
        m_out << "\"" << name << "\": ";
    }
    m_afterKey = true;
    return *this;
}

void JsonWriter::json(std::string_view text)
{
    element();
    m_out << text;
}

void JsonWriter::element()
{
    if (m_afterKey || m_levels.empty()) {
        m_afterKey = false; // a member's value follows its key on the same line
        return;
    }
    nextMember();
}

void JsonWriter::nextMember()
{
    Level& level = m_levels.back();
    const bool first = level.members++ == 0;
    if (level.layout == Layout::Lines) {
        if (!first)
            m_out << ",";
        lineBreak(m_levels.size());
    } else if (!first) {
        m_out << ", ";
    }
}

void JsonWriter::lineBreak(std::size_t depth)
{
    static constexpr std::string_view kIndents = "\n                ";
    if (1 + 2 * depth <= kIndents.size()) {
        m_out << kIndents.substr(0, 1 + 2 * depth);
        return;
    }
    m_out << "\n";
    for (std::size_t i = 0; i < depth; ++i)
        m_out << "  ";
}

void JsonWriter::begin(char open, Layout layout)
{
    element();
    m_out << std::string_view(&open, 1);
    m_levels.push_back({layout});
}

void JsonWriter::end(char close)
{
    const Level level = m_levels.back();
    m_levels.pop_back();
    if (level.members > 0 && level.layout == Layout::Lines)
        lineBreak(m_levels.size());
    m_out << std::string_view(&close, 1);
}

void JsonWriter::string(std::string_view utf8)
{
    element();
    m_out.string(utf8);
}

void JsonWriter::string(std::u16string_view utf16)
{
    element();
    m_out.string(utf16);
}

void JsonWriter::null()
{
    element();
    m_out << "null";
}

void JsonWriter::boolean(bool value)
{
    element();
    m_out << (value ? "true" : "false");
}

void writeFields(JsonWriter& json, const std::vector<Field>& fields)
{
    for (const Field& field : fields) {
        json.key(field.key);
        std::visit(
            [&](const auto& value) {
                using Value = std::decay_t<decltype(value)>;
                if constexpr (std::is_same_v<Value, std::nullptr_t>)
                    json.null();
                else if constexpr (std::is_same_v<Value, bool>)
                    json.boolean(value);
                else if constexpr (std::is_same_v<Value, std::int64_t>)
                    json.number(value);
                else
                    json.string(value);
            },
            field.value);
    }
}

void printFields(Output& out, const std::vector<Field>& fields)
{
    for (const Field& field : fields) {
        out << field.key << ": ";
        std::visit(
            [&](const auto& value) {
                using Value = std::decay_t<decltype(value)>;
                if constexpr (std::is_same_v<Value, std::nullptr_t>)
                    out << "null";
                else if constexpr (std::is_same_v<Value, bool>)
                    out << (value ? "true" : "false");
                else
                    out << value;
            },
            field.value);
        out << "\n";
    }
}

std::string printable(std::u16string_view name)
{
    std::string text;
    std::size_t plain = 0; // start of the run of characters that need no escape
    const auto flush = [&](std::size_t end) { text += toUtf8(name.substr(plain, end - plain)); };
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char16_t c = name[i];
        if (c >= 0x20 && c != 0x7F && !(c >= 0x80 && c <= 0x9F))
            continue;
        flush(i);
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned>(c));
        text += escaped;
        plain = i + 1;
    }
    flush(name.size());
    return text;
}

std::string printable(std::string_view utf8)
{
    return printable(fromUtf8(utf8));
}

} // namespace orv::cli
