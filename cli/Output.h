#pragma once

// What every command of orvandel-cli prints with: its exit statuses, the program's own texts, and
// one buffered writer for standard output that also writes JSON.

#include <charconv>
#include <concepts>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace orv::cli {

inline constexpr int kExitDone = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// The program's own English texts, from the one table every front end uses.
extern const std::string kDriveNotFound;
extern const std::string kBootSectorError;
extern const std::string kMftListError;
extern const std::string kUnsupportedFileSystem;
extern const std::string kNoAccess;
extern const std::string kNotFound;
extern const std::string kNoFilesSelected;
extern const std::string kNoRestoreFolder;
extern const std::string kFilesRestored;
extern const std::string kFilesWiped;

// Prints the message on stderr; the status of a failed operation.
int fail(const std::string& message);

// Standard output through one buffer. A scan of a large volume lists hundreds of thousands of
// files: a document tree of them would take more time and memory than the scan, so JSON is written
// as it goes.
class Output
{
public:
    Output() = default;
    // An output that keeps what it is given in text() instead of writing it: a part of a listing
    // made on another thread, written in its place later.
    enum class Kept { InText };
    explicit Output(Kept) : m_kept(true) {}
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;
    ~Output() { flush(); }

    Output& operator<<(std::string_view text);
    Output& operator<<(std::int64_t number)
    {
        char digits[24];
        return *this << std::string_view(digits, std::to_chars(std::begin(digits), std::end(digits), number).ptr);
    }

    // A JSON string: quoted, with quotes, backslashes and control characters escaped.
    void string(std::string_view utf8);
    // A name from the volume as a JSON string in UTF-8.
    void string(std::u16string_view utf16);
    // The JSON string of `utf16` into `out`, for a text written again and again (a folder's name
    // before each of its files).
    static void appendString(std::string& out, std::u16string_view utf16);

    void flush();
    // What a kept output holds.
    std::string& text() { return m_buffer; }

private:
    bool m_kept = false;
    std::string m_buffer;
    std::string m_utf8; // a name on its way from UTF-16 into the buffer
};

// Text padded with spaces to `width` characters, for columns.
std::string padded(std::string_view text, std::size_t width);

// JSON written as it goes. An object or array laid out in Lines puts each member on a line of its
// own, indented two spaces a level, as pretty printers do; one laid out Inline keeps its members
// on one line, so a listing of many files stays one file a line.
// A name from the volume as plain text for a terminal: control characters (C0, DEL and C1, which
// a terminal may take as commands, and line breaks, which would forge listing lines) are written
// as \xNN; everything else as UTF-8.
std::string printable(std::u16string_view name);
// The same for a text from the volume or a disk that is UTF-8 already (a GPT partition's name, a
// container's complaint about its header).
std::string printable(std::string_view utf8);

class JsonWriter
{
public:
    enum class Layout { Lines, Inline };

    explicit JsonWriter(Output& out) : m_out(out) {}
    // A writer that goes on where `at` stands, into another output, as though `members` members of
    // its innermost open level were written already: the parts of one document made apart.
    JsonWriter(Output& out, const JsonWriter& at, int members)
        : m_out(out), m_levels(at.m_levels), m_afterKey(at.m_afterKey)
    {
        m_levels.back().members = members;
    }
    // `count` members of the innermost open level were written apart (see above).
    void writtenApart(int count) { m_levels.back().members += count; }

    void beginObject(Layout layout = Layout::Lines) { begin('{', layout); }
    void endObject() { end('}'); }
    void beginArray(Layout layout = Layout::Lines) { begin('[', layout); }
    void endArray() { end(']'); }

    // The key of the next member of the open object: a name of the program's own, written as it is.
    JsonWriter& key(std::string_view name);

    void string(std::string_view utf8);
    void string(std::u16string_view utf16);
    void null();
    void boolean(bool value);
    template <std::integral Number>
    void number(Number value)
    {
        element();
        char digits[24];
        m_out << std::string_view(digits, std::to_chars(std::begin(digits), std::end(digits), value).ptr);
    }
    // A value written as JSON already (Output::appendString's).
    void json(std::string_view text);
    void stringOrNull(const std::optional<std::string>& utf8) { utf8 ? string(*utf8) : null(); }
    template <std::integral Number>
    void numberOrNull(const std::optional<Number>& value)
    {
        value ? number(*value) : null();
    }

private:
    struct Level
    {
        Layout layout;
        int members = 0;
    };

    void begin(char open, Layout layout);
    void end(char close);
    void element(); // before a value: what an array member needs before it
    void nextMember(); // the comma and line break (Lines) or space (Inline) before a member
    void lineBreak(std::size_t depth);

    Output& m_out;
    std::vector<Level> m_levels;
    bool m_afterKey = false;
};

// A scalar of a command's report: a member of its JSON object, or a "key: value" line of its text
// (a text as it is, null as "null").
struct Field
{
    using Value = std::variant<std::nullptr_t, bool, std::int64_t, std::string>;
    std::string_view key;
    Value value;
};

void writeFields(JsonWriter& json, const std::vector<Field>& fields);
void printFields(Output& out, const std::vector<Field>& fields);

} // namespace orv::cli
