// RIFF: WAV and AVI. The RIFF header gives the file's length; the chunks inside must fill it
// exactly, each with a printable identifier and a size that fits. A WAV needs its format chunk
// before its data; an AVI needs its header list and its movie list, whose chunks are walked too.

#include <array>
#include <cstring>

#include "carve/BlockReader.h"
#include "carve/Parsers.h"

namespace orv::carve {

namespace {

// Lists inside lists: an AVI nests three deep (hdrl > strl > chunks, movi > rec > chunks).
constexpr int kDeepestList = 4;

using FourCc = std::array<std::uint8_t, 4>;

bool is(const FourCc& id, const char* name)
{
    return std::memcmp(id.data(), name, 4) == 0;
}

bool printable(const FourCc& id)
{
    for (const std::uint8_t c : id)
        if (c < 0x20 || c > 0x7E)
            return false;
    return true;
}

enum class Kind { Wave, Avi };

struct Walk
{
    BlockReader& in;
    Kind kind;
    std::uint64_t unit = 12; // the start of the last chunk whose size nothing has confirmed yet
    std::uint64_t brokeAt = 0;
    bool ranOut = false;
    bool sawFormat = false;
    bool sawData = false;
    bool sawHeaders = false;
    bool sawMovie = false;

    // Walks the chunks of [from, to); true when they fill it exactly (a last pad byte may be
    // missing when `to` is odd).
    bool chunks(std::uint64_t from, std::uint64_t to, int depth, bool top)
    {
        std::uint64_t pos = from;
        while (pos + 8 <= to) {
            FourCc id;
            const auto size = in.le(pos + 4, 4);
            if (!in.get(pos, id) || !size) {
                ranOut = true;
                return false;
            }
            const std::uint64_t end = pos + 8 + *size;
            if (!printable(id) || end > to) {
                brokeAt = pos + 8;
                return false;
            }
            unit = pos;
            if (!chunk(id, pos, *size, depth, top))
                return false;
            pos = end + (*size & 1);
        }
        if (pos < to && to - pos != 1) {
            brokeAt = pos + 8;
            return false;
        }
        return true;
    }

    bool chunk(const FourCc& id, std::uint64_t pos, std::uint64_t size, int depth, bool top)
    {
        if (is(id, "LIST")) {
            FourCc type;
            if (size < 4 || !in.get(pos + 8, type) || !printable(type)) {
                ranOut = !in.has(pos + 12);
                brokeAt = pos + 12;
                return false;
            }
            if (top && kind == Kind::Avi) {
                if (is(type, "hdrl"))
                    sawHeaders = true;
                else if (is(type, "movi"))
                    sawMovie = true;
            }
            if (depth >= kDeepestList)
                return in.has(pos + 8 + size) || (ranOut = true, false);
            return chunks(pos + 12, pos + 8 + size, depth + 1, false);
        }
        if (top && kind == Kind::Wave && is(id, "fmt ")) {
            const auto tag = in.le(pos + 8, 2);
            const auto channels = in.le(pos + 10, 2);
            const auto rate = in.le(pos + 12, 4);
            const auto align = in.le(pos + 20, 2);
            if (!align) {
                ranOut = true;
                return false;
            }
            if (size < 16 || *tag == 0 || *channels == 0 || *rate == 0 || *align == 0) {
                brokeAt = pos + 8 + size;
                return false;
            }
            sawFormat = true;
        } else if (top && kind == Kind::Wave && is(id, "data")) {
            if (!sawFormat) {
                brokeAt = pos + 8;
                return false;
            }
            sawData = true;
        } else if (top && kind == Kind::Avi && !sawHeaders) {
            // The header list comes first.
            brokeAt = pos + 8;
            return false;
        }
        // The content itself is not checked, but it must be there.
        if (!in.has(pos + 8 + size)) {
            ranOut = true;
            return false;
        }
        return true;
    }
};

std::optional<Kind> kindOf(std::span<const std::uint8_t> head)
{
    if (head.size() < 12 || std::memcmp(head.data(), "RIFF", 4) != 0)
        return std::nullopt;
    if (std::memcmp(head.data() + 8, "WAVE", 4) == 0)
        return Kind::Wave;
    if (std::memcmp(head.data() + 8, "AVI ", 4) == 0)
        return Kind::Avi;
    return std::nullopt;
}

// An AVI past 1 GiB goes on in further RIFF chunks of form AVIX, each holding more of the movie
// list, right after the first: the file ends after the last of them.
void extendAvi(BlockReader& in, Parse& p)
{
    constexpr int kMostParts = 4096;
    for (int part = 0; part < kMostParts; ++part) {
        std::uint8_t head[12];
        if (!in.get(p.size, head) || std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "AVIX", 4) != 0)
            return;
        const std::uint64_t end = p.size + 8 + *in.le(p.size + 4, 4);
        Walk walk{in, Kind::Avi};
        walk.sawHeaders = true; // the header list is the first part's
        if (!walk.chunks(p.size + 12, end, 0, true) || !walk.sawMovie || !in.has(end)) {
            // The movie goes on, but this part does not check out: the file is cut before it.
            p.verdict = Verdict::Cut;
            if (!walk.ranOut)
                p.brokeAt = std::max(walk.brokeAt, p.size);
            return;
        }
        p.size = (end & 1) != 0 && in.has(end + 1) ? end + 1 : end;
        p.goodUpTo = p.size;
    }
}

} // namespace

bool beginsRiff(std::span<const std::uint8_t> head)
{
    if (!kindOf(head) || head.size() < 20)
        return false;
    const std::uint32_t size = head[4] | (head[5] << 8) | (head[6] << 16) | (std::uint32_t{head[7]} << 24);
    FourCc first;
    std::memcpy(first.data(), head.data() + 12, 4);
    return size >= 4 + 8 && printable(first);
}

Parse parseRiff(Bytes& bytes, std::uint64_t limit, std::uint64_t /*stopAfter*/)
{
    BlockReader in(bytes, limit);
    Parse p;
    std::uint8_t head[20];
    if (!in.get(0, head) || !beginsRiff(head))
        return p;
    const Kind kind = *kindOf(head);
    p.extension = kind == Kind::Wave ? "wav" : "avi";
    const std::uint64_t end = 8 + *in.le(4, 4);
    Walk walk{in, kind};
    const bool filled = walk.chunks(12, end, 0, true);
    const bool complete = kind == Kind::Wave ? walk.sawFormat && walk.sawData : walk.sawHeaders && walk.sawMovie;
    if (filled && complete && in.has(end)) {
        // A last odd chunk's pad byte belongs to the file when it is there.
        p.verdict = Verdict::Whole;
        p.size = (end & 1) != 0 && in.has(end + 1) ? end + 1 : end;
        p.goodUpTo = p.size;
        if (kind == Kind::Avi)
            extendAvi(in, p);
        return p;
    }
    if (walk.unit == 12 && !filled)
        return Parse{.extension = p.extension}; // not even the first chunk checked out
    p.verdict = Verdict::Cut;
    // Out of bytes, the content up to where they end is as good as any; a bad chunk header cuts
    // before the chunk whose size led to it.
    p.goodUpTo = filled || walk.ranOut ? in.extent(end) : walk.unit;
    p.brokeAt = walk.ranOut || filled ? 0 : std::max(walk.brokeAt, p.goodUpTo);
    p.size = p.goodUpTo;
    return p;
}

} // namespace orv::carve
