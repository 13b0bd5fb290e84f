// PDF documents. A PDF ends at its last "%%EOF" (an incremental update appends objects, a new
// cross-reference section and another "%%EOF"), but only at one whose "startxref" points at a
// cross-reference section that holds: a classic table whose entries each point at "N G obj" for
// their own object, or a cross-reference stream that decodes into such entries. Once the end is
// found, every object listed is read: its "endobj", and for a Flate stream its inflating (zlib's
// Adler-32 checks the bytes). Only then are the contents counted as checked.

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "carve/BlockReader.h"
#include "carve/Parsers.h"

namespace orv::carve {

namespace {

constexpr std::string_view kEof = "%%EOF";
// How far before "%%EOF" its "startxref" may lie.
constexpr std::size_t kStartxrefWindow = 1024;
// Entries kept from all cross-reference sections; a larger document is cut.
constexpr std::size_t kMaxEntries = std::size_t{1} << 20;
// A stream's output may exceed its input this many times (plus an allowance) before inflating
// stops and its content counts as unchecked, so a bomb in free space does not stall the scan.
constexpr std::uint64_t kRatioCap = 100;
constexpr std::uint64_t kRatioAllowance = std::uint64_t{16} << 20;
// A decoded cross-reference stream larger than this is not followed.
constexpr std::uint64_t kMaxXrefStream = std::uint64_t{64} << 20;
// An object without a stream larger than this cannot be told from another file's text.
constexpr std::uint64_t kMaxPlainObject = 4096;

bool isSpace(std::uint8_t c)
{
    return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f' || c == 0;
}
bool isDigit(std::uint8_t c)
{
    return c >= '0' && c <= '9';
}
bool isDelimiter(std::uint8_t c)
{
    return isSpace(c) || c == '/' || c == '[' || c == ']' || c == '<' || c == '>' || c == '(' || c == ')' || c == '%';
}

std::string_view text(std::span<const std::uint8_t> s)
{
    return {reinterpret_cast<const char*>(s.data()), s.size()};
}

// A small cursor over text held in memory.
struct Cursor
{
    std::string_view s;
    std::size_t at = 0;

    void skipSpace()
    {
        while (at < s.size() && isSpace(static_cast<std::uint8_t>(s[at])))
            ++at;
    }
    // Spaces and comments, as PDF allows between tokens.
    void skipSpaceAndComments()
    {
        for (;;) {
            skipSpace();
            if (at >= s.size() || s[at] != '%')
                return;
            while (at < s.size() && s[at] != '\n' && s[at] != '\r')
                ++at;
        }
    }
    std::optional<std::uint64_t> number(std::size_t maxDigits = 19)
    {
        const std::size_t start = at;
        std::uint64_t v = 0;
        while (at < s.size() && isDigit(static_cast<std::uint8_t>(s[at])) && at - start < maxDigits)
            v = v * 10 + static_cast<std::uint64_t>(s[at++] - '0');
        if (at == start)
            return std::nullopt;
        return v;
    }
    bool take(std::string_view word)
    {
        if (s.substr(at, word.size()) != word)
            return false;
        at += word.size();
        return true;
    }
};

// The value after a name in a dictionary's text: "/Length 42" gives 42. Names that only begin
// with the key ("/Width" for "/W") are skipped.
std::optional<std::size_t> findKey(std::string_view dict, std::string_view key)
{
    for (std::size_t at = dict.find(key); at != std::string_view::npos; at = dict.find(key, at + 1)) {
        const std::size_t after = at + key.size();
        if (after >= dict.size() || isDelimiter(static_cast<std::uint8_t>(dict[after])))
            return after;
    }
    return std::nullopt;
}

std::optional<std::uint64_t> numberAfter(std::string_view dict, std::string_view key)
{
    const std::optional<std::size_t> at = findKey(dict, key);
    if (!at)
        return std::nullopt;
    Cursor c{dict, *at};
    c.skipSpace();
    return c.number();
}

struct Entry
{
    std::uint64_t offset;
    std::uint32_t number;
    std::uint32_t generation;
};

// Where the checks found a fault: the good part, and the end of the unit that failed.
struct Break
{
    std::uint64_t goodUpTo = 0;
    std::uint64_t brokeAt = 0;
};

class Inflater
{
public:
    Inflater() { m_ok = inflateInit(&m_zs) == Z_OK; }
    ~Inflater()
    {
        if (m_ok)
            inflateEnd(&m_zs);
    }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    // Short: the bytes ran out before the stream ended, which is no fault of the stream.
    enum Outcome : std::uint8_t { Done, Failed, Short, OverBudget };

    // Inflates [at, at + length) through the reader; `out`, when given, receives up to `keep`
    // bytes of output.
    std::uint64_t consumed() const { return m_zs.total_in; }

    Outcome run(BlockReader& reader, std::uint64_t at, std::uint64_t length, std::vector<std::uint8_t>* out,
                std::uint64_t keep)
    {
        if (!m_ok)
            return Failed;
        std::vector<std::uint8_t> buffer(BlockReader::kBlock);
        std::uint64_t fetched = 0;
        for (;;) {
            if (m_zs.avail_in == 0) {
                const std::uint64_t want = std::min<std::uint64_t>(BlockReader::kBlock, length - fetched);
                const std::span<const std::uint8_t> in = want == 0
                    ? std::span<const std::uint8_t>{}
                    : reader.upTo(at + fetched, static_cast<std::size_t>(want));
                if (in.empty())
                    return want == 0 ? Failed : Short;
                m_zs.next_in = const_cast<Bytef*>(in.data());
                m_zs.avail_in = static_cast<uInt>(in.size());
                fetched += in.size();
            }
            m_zs.next_out = buffer.data();
            m_zs.avail_out = static_cast<uInt>(buffer.size());
            const int ret = inflate(&m_zs, Z_NO_FLUSH);
            const std::size_t n = buffer.size() - m_zs.avail_out;
            if (out != nullptr) {
                if (out->size() + n > keep)
                    return OverBudget;
                out->insert(out->end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(n));
            }
            if (ret == Z_STREAM_END)
                return Done;
            if (ret != Z_OK && !(ret == Z_BUF_ERROR && m_zs.avail_in == 0))
                return Failed;
            if (m_zs.total_out > kRatioAllowance + kRatioCap * m_zs.total_in)
                return OverBudget;
        }
    }

private:
    z_stream m_zs{};
    bool m_ok = false;
};

class PdfParser
{
public:
    PdfParser(Bytes& bytes, std::uint64_t limit, std::uint64_t stopAfter)
        : m_scan(bytes, limit), m_reader(bytes, limit), m_stopAfter(stopAfter)
    {}
    Parse run();

private:
    enum class Eof : std::uint8_t { Skip, Valid, Invalid };
    Eof checkEof(std::uint64_t eof, std::uint64_t previousEof, Break& broke);
    bool classicSection(std::uint64_t at, std::uint64_t eof, std::vector<Entry>& entries);
    bool streamSection(std::uint64_t at, std::uint64_t eof, std::vector<Entry>& entries);
    bool objectAt(const Entry& e, std::uint64_t eof);
    std::optional<Break> checkObjects(std::uint64_t fileEnd);
    bool object(std::uint64_t offset, std::uint64_t regionEnd, std::uint64_t& end);
    Break objectsInOrder();
    std::optional<std::uint64_t> resolveLength(std::string_view dict);
    Parse cut(Break b, std::uint64_t lastGoodEnd) const;

    BlockReader m_scan; // reads ahead for "%%EOF"
    BlockReader m_reader; // reads the structures the sections point at
    std::uint64_t m_stopAfter;
    std::vector<Entry> m_entries; // of every section that checked out
    std::vector<Entry> m_byNumber; // the same, by object number, for indirect stream lengths
    std::vector<std::uint64_t> m_boundaries; // where sections and "startxref" lie
    std::vector<std::uint64_t> m_ends; // the ends of the "%%EOF" lines that checked out
    bool m_encrypted = false;
    bool m_unchecked = false;
};

// Whether "N G obj" for this entry's object starts at its offset.
bool PdfParser::objectAt(const Entry& e, std::uint64_t eof)
{
    if (e.offset >= eof)
        return false;
    const std::span<const std::uint8_t> s = m_reader.upTo(e.offset, 48);
    Cursor c{text(s)};
    const std::optional<std::uint64_t> number = c.number(10);
    if (!number || *number != e.number || c.at == c.s.size() || !isSpace(static_cast<std::uint8_t>(c.s[c.at])))
        return false;
    c.skipSpace();
    const std::optional<std::uint64_t> generation = c.number(5);
    if (!generation || *generation != e.generation)
        return false;
    c.skipSpace();
    return c.take("obj") && (c.at == c.s.size() || isDelimiter(static_cast<std::uint8_t>(c.s[c.at])));
}

// A classic table: "xref", subsections of "first count" and 20-byte entries, then "trailer".
bool PdfParser::classicSection(std::uint64_t at, std::uint64_t eof, std::vector<Entry>& entries)
{
    std::uint64_t pos = at + 4;
    for (;;) {
        if (pos >= eof)
            return false;
        std::span<const std::uint8_t> s = m_reader.upTo(pos, 64);
        Cursor c{text(s)};
        c.skipSpace();
        if (c.take("trailer")) {
            const std::span<const std::uint8_t> t = m_reader.upTo(pos + c.at, 4096);
            const std::string_view dict = text(t).substr(0, text(t).find("startxref"));
            m_encrypted |= findKey(dict, "/Encrypt").has_value();
            return true;
        }
        const std::optional<std::uint64_t> first = c.number(10);
        if (!first || !c.take(" "))
            return false;
        const std::optional<std::uint64_t> count = c.number(10);
        if (!count)
            return false;
        // The subsection's line ends with spaces and an end of line.
        while (c.at < c.s.size() && (c.s[c.at] == ' ' || c.s[c.at] == '\t'))
            ++c.at;
        if (!c.take("\r\n") && !c.take("\n") && !c.take("\r"))
            return false;
        pos += c.at;
        if (*count > (eof - std::min(eof, pos)) / 20 || entries.size() + *count > kMaxEntries)
            return false;
        for (std::uint64_t i = 0; i < *count; ++i) {
            const std::span<const std::uint8_t> row = m_reader.get(pos + 20 * i, 20);
            if (row.empty())
                return false;
            const std::string_view r = text(row);
            if (!std::all_of(r.begin(), r.begin() + 10,
                             [](char ch) { return isDigit(static_cast<std::uint8_t>(ch)); }) ||
                r[10] != ' ' ||
                !std::all_of(r.begin() + 11, r.begin() + 16,
                             [](char ch) { return isDigit(static_cast<std::uint8_t>(ch)); }) ||
                r[16] != ' ' || (r[17] != 'n' && r[17] != 'f') || !isSpace(static_cast<std::uint8_t>(r[18])) ||
                !isSpace(static_cast<std::uint8_t>(r[19])))
                return false;
            if (r[17] != 'n')
                continue;
            Cursor offset{r.substr(0, 10)};
            Cursor generation{r.substr(11, 5)};
            entries.push_back(Entry{*offset.number(), static_cast<std::uint32_t>(*first + i),
                                    static_cast<std::uint32_t>(*generation.number())});
        }
        pos += 20 * *count;
    }
}

// A cross-reference stream: "N G obj << /Type /XRef /W [...] ... >> stream", rows of fields.
bool PdfParser::streamSection(std::uint64_t at, std::uint64_t eof, std::vector<Entry>& entries)
{
    const std::span<const std::uint8_t> s = m_reader.upTo(at, 4096);
    const std::string_view head = text(s);
    const std::size_t streamAt = head.find("stream");
    if (streamAt == std::string_view::npos)
        return false;
    const std::string dict(head.substr(0, streamAt));
    const std::optional<std::size_t> type = findKey(dict, "/Type");
    if (!type || dict.substr(*type).find("/XRef") > 3)
        return false;
    m_encrypted |= findKey(dict, "/Encrypt").has_value();
    const std::optional<std::size_t> w = findKey(dict, "/W");
    const std::optional<std::uint64_t> size = numberAfter(dict, "/Size");
    const std::optional<std::uint64_t> length = numberAfter(dict, "/Length");
    if (!w || !size || !length)
        return false;
    Cursor c{dict, *w};
    c.skipSpace();
    if (!c.take("["))
        return false;
    std::array<std::uint64_t, 3> widths{};
    for (std::uint64_t& width : widths) {
        c.skipSpace();
        const std::optional<std::uint64_t> v = c.number(2);
        if (!v || *v > 8)
            return false;
        width = *v;
    }
    // Subsections: /Index [first count ...], or all objects from 0.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges;
    if (const std::optional<std::size_t> index = findKey(dict, "/Index")) {
        Cursor i{dict, *index};
        i.skipSpace();
        if (!i.take("["))
            return false;
        for (;;) {
            i.skipSpace();
            if (i.take("]"))
                break;
            const std::optional<std::uint64_t> first = i.number(10);
            i.skipSpace();
            const std::optional<std::uint64_t> count = i.number(10);
            if (!first || !count || ranges.size() > 4096)
                return false;
            ranges.emplace_back(*first, *count);
        }
    } else {
        ranges.emplace_back(0, *size);
    }
    const std::uint64_t rowWidth = widths[0] + widths[1] + widths[2];
    std::uint64_t rows = 0;
    for (const auto& r : ranges) {
        if (r.second > kMaxXrefStream)
            return false;
        rows += r.second;
    }
    // PNG predictors (the usual /Predictor 12) put a filter byte before each row.
    const std::optional<std::uint64_t> predictor = numberAfter(dict, "/Predictor");
    const bool png = predictor && *predictor >= 10;
    if (predictor && *predictor != 1 && !png)
        return false;
    const std::uint64_t stride = rowWidth + (png ? 1 : 0);
    if (rowWidth == 0 || rows > kMaxXrefStream / stride || entries.size() + rows > kMaxEntries)
        return false;

    std::uint64_t dataAt = at + streamAt + 6;
    const std::span<const std::uint8_t> eol = m_reader.upTo(dataAt, 2);
    dataAt += eol.size() >= 2 && eol[0] == '\r' && eol[1] == '\n' ? 2 : (!eol.empty() && eol[0] == '\n' ? 1 : 0);
    if (dataAt > eof || *length > eof - dataAt || *length > kMaxXrefStream)
        return false;
    std::vector<std::uint8_t> data;
    const bool flate = findKey(dict, "/FlateDecode").has_value();
    if (flate) {
        Inflater inflater;
        if (inflater.run(m_reader, dataAt, *length, &data, rows * stride) != Inflater::Done)
            return false;
    } else {
        for (std::uint64_t done = 0; done < *length;) {
            const std::span<const std::uint8_t> in = m_reader.upTo(
                dataAt + done, static_cast<std::size_t>(std::min<std::uint64_t>(BlockReader::kBlock, *length - done)));
            if (in.empty())
                return false;
            data.insert(data.end(), in.begin(), in.end());
            done += in.size();
        }
    }
    if (data.size() < rows * stride)
        return false;
    std::vector<std::uint8_t> previous(rowWidth, 0);
    std::size_t r = 0;
    for (const auto& [first, count] : ranges) {
        for (std::uint64_t i = 0; i < count; ++i, ++r) {
            std::span<std::uint8_t> row(data.data() + r * stride, stride);
            if (png) {
                const std::uint8_t filter = row[0];
                row = row.subspan(1);
                if (filter == 2) {
                    for (std::size_t k = 0; k < rowWidth; ++k)
                        row[k] = static_cast<std::uint8_t>(row[k] + previous[k]);
                } else if (filter != 0) {
                    return false; // other predictors are not written for cross-reference streams
                }
                std::copy(row.begin(), row.end(), previous.begin());
            }
            const std::uint64_t kind = widths[0] == 0 ? 1 : beAt(row, 0, widths[0]);
            const std::uint64_t field2 = beAt(row, widths[0], widths[1]);
            const std::uint64_t field3 = beAt(row, widths[0] + widths[1], widths[2]);
            if (kind == 1)
                entries.push_back(
                    Entry{field2, static_cast<std::uint32_t>(first + i), static_cast<std::uint32_t>(field3)});
            else if (kind > 2)
                return false;
        }
    }
    return true;
}

PdfParser::Eof PdfParser::checkEof(std::uint64_t eof, std::uint64_t previousEof, Break& broke)
{
    // "startxref", the offset, then this "%%EOF", with only spaces between; never before the
    // previous "%%EOF", so a run of them costs no more than reading it.
    const std::uint64_t from = std::max(eof - std::min<std::uint64_t>(eof, kStartxrefWindow), previousEof);
    const std::span<const std::uint8_t> s = m_reader.get(from, static_cast<std::size_t>(eof - from));
    const std::string_view before = text(s);
    const std::size_t keyword = before.rfind("startxref");
    if (keyword == std::string_view::npos)
        return Eof::Skip;
    Cursor c{before, keyword + 9};
    c.skipSpace();
    const std::optional<std::uint64_t> target = c.number(19);
    c.skipSpace();
    if (!target || c.at != before.size())
        return Eof::Skip;
    // A linearized file's first-page trailer says 0: it claims nothing.
    if (*target == 0)
        return Eof::Skip;
    const std::uint64_t startxref = from + keyword;
    broke = Break{0, 0};
    if (*target >= startxref) {
        broke.brokeAt = 0;
        return Eof::Invalid;
    }
    std::vector<Entry> entries;
    const std::span<const std::uint8_t> at = m_reader.upTo(*target, 4);
    bool ok = false;
    if (text(at) == "xref") {
        ok = classicSection(*target, startxref, entries);
    } else {
        ok = streamSection(*target, startxref, entries);
    }
    if (!ok) {
        broke.brokeAt = startxref; // the section runs up to its "startxref"
        return Eof::Invalid;
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.offset < b.offset; });
    std::uint64_t lastGood = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const Entry& e = entries[i];
        // Not bounded by this section's place: a linearized file's first section lists the first
        // page's objects, which lie after it.
        if (!objectAt(e, m_reader.end())) {
            // The object runs to the next one listed; its header may lie across the break.
            const std::uint64_t next = i + 1 < entries.size() ? entries[i + 1].offset : startxref;
            broke = Break{lastGood, std::max(next, e.offset + 1)};
            return Eof::Invalid;
        }
        lastGood = e.offset;
    }
    m_entries.insert(m_entries.end(), entries.begin(), entries.end());
    m_boundaries.push_back(*target);
    m_boundaries.push_back(startxref);
    return Eof::Valid;
}

std::optional<std::uint64_t> PdfParser::resolveLength(std::string_view dict)
{
    const std::optional<std::size_t> at = findKey(dict, "/Length");
    if (!at)
        return std::nullopt;
    Cursor c{dict, *at};
    c.skipSpace();
    const std::optional<std::uint64_t> value = c.number();
    if (!value)
        return std::nullopt;
    const std::size_t afterValue = c.at;
    c.skipSpace();
    const std::optional<std::uint64_t> generation = c.number(5);
    c.skipSpace();
    if (!generation || !c.take("R")) {
        c.at = afterValue;
        return value;
    }
    // An indirect length: the number stored in object `value`.
    const auto found =
        std::lower_bound(m_byNumber.begin(), m_byNumber.end(), std::pair(*value, *generation),
                         [](const Entry& e, const std::pair<std::uint64_t, std::uint64_t>& key) {
                             return std::pair<std::uint64_t, std::uint64_t>(e.number, e.generation) < key;
                         });
    if (found == m_byNumber.end() || found->number != *value || found->generation != *generation)
        return std::nullopt;
    const std::span<const std::uint8_t> s = m_reader.upTo(found->offset, 64);
    const std::string_view object = text(s);
    const std::size_t obj = object.find("obj");
    if (obj == std::string_view::npos)
        return std::nullopt;
    Cursor v{object, obj + 3};
    v.skipSpaceAndComments();
    return v.number();
}

// Checks the object at `offset`, which cannot reach past `regionEnd`. False on a definite fault,
// with `end` past where the fault lies; otherwise `end` is where its "endobj" ends, or 0 when that
// cannot be told (a stream of unknown length this parser cannot decode).
bool PdfParser::object(std::uint64_t offset, std::uint64_t regionEnd, std::uint64_t& end)
{
    const std::span<const std::uint8_t> s = m_reader.upTo(
        offset, static_cast<std::size_t>(std::min<std::uint64_t>(regionEnd - offset, BlockReader::kBlock)));
    const std::string head(text(s));
    end = offset + head.size();
    const std::size_t endobj = head.find("endobj");
    std::size_t stream = head.find("stream");
    while (stream != std::string::npos && stream >= 3 && head.compare(stream - 3, 3, "end") == 0)
        stream = head.find("stream", stream + 1);
    if (stream == std::string::npos || (endobj != std::string::npos && endobj < stream)) {
        if (endobj == std::string::npos) {
            if (regionEnd - offset <= BlockReader::kBlock)
                return false;
            m_unchecked = true; // larger than this parser reads for one object
            end = 0;
            return true;
        }
        end = offset + endobj + 6;
        if (endobj > kMaxPlainObject)
            m_unchecked = true;
        return true;
    }
    const std::string dict = head.substr(0, stream);
    std::uint64_t dataAt = offset + stream + 6;
    if (head.compare(stream + 6, 2, "\r\n") == 0)
        dataAt += 2;
    else if (head.compare(stream + 6, 1, "\n") == 0)
        dataAt += 1;
    std::optional<std::uint64_t> length = resolveLength(dict);
    if (length && *length > regionEnd - std::min(regionEnd, dataAt))
        length.reset();
    const std::optional<std::size_t> filter = findKey(dict, "/Filter");
    bool flate = false;
    if (filter) {
        Cursor f{dict, *filter};
        f.skipSpace();
        f.take("[");
        f.skipSpace();
        flate = f.take("/FlateDecode");
    }
    std::uint64_t dataEnd = 0;
    if (flate && !m_encrypted) {
        // The decoder finds the stream's end by itself, so a missing length does not matter.
        Inflater inflater;
        const bool known = length.has_value();
        const std::uint64_t span = known ? length.value_or(0) : regionEnd - std::min(regionEnd, dataAt);
        Inflater::Outcome outcome = inflater.run(m_reader, dataAt, span, nullptr, 0);
        // Without a length the stream may run to the end of the bytes: that is no fault either.
        if (outcome == Inflater::Failed && !known && inflater.consumed() >= span)
            outcome = Inflater::Short;
        if (outcome == Inflater::Failed) {
            end = dataAt + inflater.consumed() + 1;
            return false;
        }
        if (outcome == Inflater::Short || (outcome == Inflater::OverBudget && !known)) {
            m_unchecked = true;
            end = 0;
            return true;
        }
        if (outcome == Inflater::OverBudget)
            m_unchecked = true;
        dataEnd = dataAt + (known ? span : inflater.consumed());
    } else {
        if (!length) {
            m_unchecked = true;
            end = 0;
            return true;
        }
        if (*length != 0)
            m_unchecked = true; // bytes no check covers
        dataEnd = dataAt + *length;
    }
    // After the data: an end of line at most, "endstream", then "endobj".
    const std::span<const std::uint8_t> tail = m_reader.upTo(dataEnd, 64);
    Cursor t{text(tail)};
    t.skipSpace();
    end = dataEnd + tail.size();
    if (!t.take("endstream"))
        return false;
    t.skipSpace();
    if (!t.take("endobj"))
        return false;
    end = dataEnd + t.at;
    return true;
}

// Reads every object listed: its region runs to the next object or section. The first that does
// not hold is the break.
std::optional<Break> PdfParser::checkObjects(std::uint64_t fileEnd)
{
    std::vector<std::uint64_t> starts;
    for (const Entry& e : m_entries)
        starts.push_back(e.offset);
    starts.insert(starts.end(), m_boundaries.begin(), m_boundaries.end());
    starts.push_back(fileEnd);
    std::sort(starts.begin(), starts.end());
    starts.erase(std::unique(starts.begin(), starts.end()), starts.end());
    m_byNumber = m_entries;
    std::sort(m_byNumber.begin(), m_byNumber.end(), [](const Entry& a, const Entry& b) {
        return std::pair(a.number, a.generation) < std::pair(b.number, b.generation);
    });
    std::vector<Entry> objects = m_entries;
    std::sort(objects.begin(), objects.end(), [](const Entry& a, const Entry& b) { return a.offset < b.offset; });
    objects.erase(std::unique(objects.begin(), objects.end(),
                              [](const Entry& a, const Entry& b) { return a.offset == b.offset; }),
                  objects.end());
    std::uint64_t lastGood = 0;
    for (const Entry& e : objects) {
        if (e.offset >= fileEnd)
            return Break{lastGood, e.offset + 1}; // listed beyond where the file ends
        const std::uint64_t regionEnd = *std::upper_bound(starts.begin(), starts.end(), e.offset);
        std::uint64_t end = 0;
        if (!object(e.offset, regionEnd, end))
            return Break{lastGood, regionEnd};
        // What lies between the object and the next: spaces and comments, or bytes no check
        // covers (an object the sections do not list).
        if (end != 0 && end < regionEnd) {
            const std::span<const std::uint8_t> gap = m_reader.upTo(end, 4096);
            Cursor g{text(gap)};
            g.skipSpaceAndComments();
            if (regionEnd - end > gap.size() || g.at != std::min<std::uint64_t>(gap.size(), regionEnd - end))
                m_unchecked = true;
        }
        lastGood = e.offset;
    }
    return std::nullopt;
}

// Where a file without a usable end checks out to: its objects read one after another from the
// header, each as object() checks it, until one fails or the objects stop.
Break PdfParser::objectsInOrder()
{
    m_byNumber.clear(); // lengths must be direct: no section says where objects are
    const std::span<const std::uint8_t> first = m_reader.upTo(0, 1024);
    Cursor c{text(first)};
    c.skipSpaceAndComments();
    std::uint64_t good = c.at;
    for (std::uint64_t pos = good; pos < m_reader.end();) {
        const std::span<const std::uint8_t> s = m_reader.upTo(pos, 128);
        Cursor o{text(s)};
        o.skipSpaceAndComments();
        const std::uint64_t start = pos + o.at;
        const std::optional<std::uint64_t> number = o.number(10);
        o.skipSpace();
        const std::optional<std::uint64_t> generation = o.number(5);
        o.skipSpace();
        if (!number || !generation || !o.take("obj"))
            return Break{good, 0};
        std::uint64_t end = 0;
        const bool unchecked = m_unchecked;
        if (!object(start, m_reader.end(), end))
            return Break{good, end};
        // An object this parser could not check ends what it can vouch for.
        if (end == 0 || m_unchecked != unchecked)
            return Break{good, 0};
        good = end;
        pos = end;
    }
    return Break{good, 0};
}

Parse PdfParser::cut(Break b, std::uint64_t lastGoodEnd) const
{
    Parse p;
    p.extension = "pdf";
    // The last "%%EOF" before the break is where an earlier version of the document ended.
    std::uint64_t size = 0;
    for (const std::uint64_t end : m_ends)
        if (end <= std::max(b.goodUpTo, lastGoodEnd))
            size = std::max(size, end);
    p.goodUpTo = std::max(b.goodUpTo, size);
    p.size = size != 0 ? size : b.goodUpTo;
    p.brokeAt = b.brokeAt != 0 ? std::max(b.brokeAt, p.goodUpTo) : 0;
    p.verdict = p.goodUpTo == 0 && p.brokeAt == 0 ? Verdict::None : Verdict::Cut;
    return p;
}

Parse PdfParser::run()
{
    std::uint64_t pos = 0;
    std::uint64_t lastEof = 0;
    bool stop = false;
    std::optional<Break> failure;
    std::vector<std::uint8_t> block;
    while (!stop) {
        const std::span<const std::uint8_t> s = m_scan.upTo(pos, BlockReader::kBlock);
        if (s.size() < kEof.size())
            break;
        block.assign(s.begin(), s.end());
        const std::string_view b = text(block);
        for (std::size_t at = b.find(kEof); at != std::string_view::npos && !stop; at = b.find(kEof, at + 1)) {
            const std::uint64_t eof = pos + at;
            if (eof < lastEof)
                continue;
            Break broke;
            const Eof verdict = checkEof(eof, lastEof, broke);
            lastEof = eof + kEof.size();
            if (verdict == Eof::Skip)
                continue;
            if (verdict == Eof::Invalid) {
                if (broke.goodUpTo == 0 && !m_ends.empty())
                    broke.goodUpTo = m_ends.back();
                failure = broke;
                stop = true;
                break;
            }
            // The line's end of line belongs to the file.
            std::uint64_t end = eof + kEof.size();
            const std::span<const std::uint8_t> eol = m_reader.upTo(end, 2);
            end += eol.size() >= 2 && eol[0] == '\r' && eol[1] == '\n'
                ? 2
                : (!eol.empty() && isSpace(eol[0]) && eol[0] != 0 ? 1 : 0);
            m_ends.push_back(end);
            if (m_stopAfter != 0 && end > m_stopAfter) {
                Parse p;
                p.verdict = Verdict::Cut;
                p.size = p.goodUpTo = end;
                p.extension = "pdf";
                return p;
            }
            // An update follows at once with objects, a comment or a section; anything else is
            // what lay after the file.
            const std::span<const std::uint8_t> next = m_reader.upTo(end, 256);
            Cursor c{text(next)};
            c.skipSpace();
            const std::string_view rest = c.s.substr(c.at);
            const bool more = !rest.empty() &&
                (isDigit(static_cast<std::uint8_t>(rest[0])) || rest.starts_with("xref") ||
                 (rest[0] == '%' && !rest.starts_with("%PDF-")));
            if (!more)
                stop = true;
        }
        if (s.size() < BlockReader::kBlock)
            break;
        pos += block.size() - kEof.size();
    }
    if (failure && failure->goodUpTo != 0)
        return cut(*failure, 0);
    if (failure || m_ends.empty()) {
        const Break inOrder = objectsInOrder();
        return cut(Break{inOrder.goodUpTo, failure && failure->brokeAt != 0 ? failure->brokeAt : inOrder.brokeAt}, 0);
    }
    const std::uint64_t fileEnd = m_ends.back();
    if (const std::optional<Break> broke = checkObjects(fileEnd))
        return cut(*broke, 0);
    Parse p;
    p.verdict = Verdict::Whole;
    p.size = p.goodUpTo = fileEnd;
    p.contentChecked = !m_unchecked && !m_encrypted;
    p.extension = "pdf";
    return p;
}

} // namespace

bool beginsPdf(std::span<const std::uint8_t> head)
{
    if (head.size() < 9 || text(head.first(5)) != "%PDF-")
        return false;
    const std::string_view version = text(head.subspan(5, 3));
    const bool known =
        (version[0] == '1' && version[1] == '.' && version[2] >= '0' && version[2] <= '7') || version == "2.0";
    const std::uint8_t after = head[8];
    return known && (after == '\r' || after == '\n' || after == ' ' || after == '\t' || after == '%');
}

Parse parsePdf(Bytes& bytes, std::uint64_t limit, std::uint64_t stopAfter)
{
    return PdfParser(bytes, limit, stopAfter).run();
}

} // namespace orv::carve
