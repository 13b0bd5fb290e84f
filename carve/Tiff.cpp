// TIFF: the header, then the chain of IFDs (and the IFDs they point to: sub-images, Exif, GPS).
// The file ends where the furthest of its parts ends: an IFD, a tag's values, a strip or a tile.

#include <cstring>
#include <set>
#include <vector>

#include "carve/BlockReader.h"
#include "carve/Parsers.h"

namespace orv::carve {

namespace {

// More IFDs or entries than any picture holds: a chain past them is a loop or garbage.
constexpr std::size_t kMostIfds = 1024;
constexpr std::uint64_t kMostEntries = 4096;
constexpr std::size_t kMostPointers = 64; // IFD offsets one tag may list
// Strips or tiles all the IFDs together may list: IFDs that repeat one long list must not make
// the parse read it again and again.
constexpr std::uint64_t kMostParts = 1u << 22;

namespace tag {
constexpr std::uint16_t kStripOffsets = 273;
constexpr std::uint16_t kStripByteCounts = 279;
constexpr std::uint16_t kTileOffsets = 324;
constexpr std::uint16_t kTileByteCounts = 325;
constexpr std::uint16_t kSubIfds = 330;
constexpr std::uint16_t kJpegOffset = 513;
constexpr std::uint16_t kJpegLength = 514;
constexpr std::uint16_t kExif = 34665;
constexpr std::uint16_t kGps = 34853;
constexpr std::uint16_t kInterop = 40965;
} // namespace tag

// Bytes per value of each field type (1 BYTE .. 13 IFD); 0 where the type is unknown.
constexpr std::uint64_t kTypeSize[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};

struct Entry
{
    std::uint16_t tag = 0;
    std::uint16_t type = 0;
    std::uint64_t count = 0;
    std::uint64_t valueAt = 0; // where the values lie: inside the entry when they fit in 4 bytes
};

class Walker
{
public:
    Walker(BlockReader& in, bool big) : m_in(in), m_big(big) {}

    std::optional<std::uint64_t> u(std::uint64_t at, std::size_t width)
    {
        return m_big ? m_in.be(at, width) : m_in.le(at, width);
    }

    // Reads the IFD at `offset`; false when it is not one.
    bool ifd(std::uint64_t offset, std::vector<std::uint64_t>& pending)
    {
        const auto count = u(offset, 2);
        if (offset < 8 || !count || *count == 0 || *count > kMostEntries)
            return false;
        const std::uint64_t entriesEnd = offset + 2 + 12 * *count;
        std::vector<std::uint8_t> raw(static_cast<std::size_t>(12 * *count));
        const auto next = u(entriesEnd, 4);
        if (!m_in.get(offset + 2, raw) || !next)
            return false;
        reach(entriesEnd + 4);
        Entry offsets;
        Entry counts;
        Entry jpeg;
        Entry jpegLength;
        for (std::size_t i = 0; i < *count; ++i) {
            Entry e;
            const std::uint64_t at = offset + 2 + 12 * i;
            e.tag = static_cast<std::uint16_t>(*u(at, 2));
            e.type = static_cast<std::uint16_t>(*u(at + 2, 2));
            e.count = *u(at + 4, 4);
            if (e.type == 0 || e.type >= std::size(kTypeSize))
                return false;
            const std::uint64_t size = kTypeSize[e.type] * e.count;
            e.valueAt = at + 8;
            if (size > 4) {
                e.valueAt = *u(at + 8, 4);
                if (e.valueAt < 8)
                    return false;
                reach(e.valueAt + size);
            }
            switch (e.tag) {
            case tag::kStripOffsets:
            case tag::kTileOffsets: offsets = e; break;
            case tag::kStripByteCounts:
            case tag::kTileByteCounts: counts = e; break;
            case tag::kJpegOffset: jpeg = e; break;
            case tag::kJpegLength: jpegLength = e; break;
            case tag::kSubIfds:
            case tag::kExif:
            case tag::kGps:
            case tag::kInterop:
                if (e.type == 4 || e.type == 13)
                    for (std::uint64_t k = 0; k < std::min<std::uint64_t>(e.count, kMostPointers); ++k)
                        if (const auto pointer = u(e.valueAt + 4 * k, 4); pointer && *pointer != 0)
                            pending.push_back(*pointer);
                break;
            default: break;
            }
        }
        if (!parts(offsets, counts) || !parts(jpeg, jpegLength))
            return false;
        if (*next != 0)
            pending.push_back(*next);
        return true;
    }

    std::uint64_t end() const { return m_end; }

private:
    void reach(std::uint64_t end) { m_end = std::max(m_end, end); }

    // The strips or tiles (or the embedded JPEG): each offset plus its byte count is reached.
    bool parts(const Entry& offsets, const Entry& counts)
    {
        if (offsets.tag == 0 && counts.tag == 0)
            return true;
        const auto width = [](const Entry& e) -> std::size_t { return e.type == 3 ? 2 : e.type == 4 ? 4 : 0; };
        const std::size_t ow = width(offsets);
        const std::size_t cw = width(counts);
        if (ow == 0 || cw == 0 || offsets.count != counts.count || offsets.count > m_partsLeft)
            return false;
        m_partsLeft -= offsets.count;
        // A batch of each list at a time, so the two lists are not read alternately.
        constexpr std::uint64_t kBatch = 4096;
        std::vector<std::uint8_t> os;
        std::vector<std::uint8_t> cs;
        for (std::uint64_t first = 0; first < offsets.count; first += kBatch) {
            const std::uint64_t n = std::min(kBatch, offsets.count - first);
            os.resize(static_cast<std::size_t>(n * ow));
            cs.resize(static_cast<std::size_t>(n * cw));
            if (!m_in.get(offsets.valueAt + first * ow, os) || !m_in.get(counts.valueAt + first * cw, cs))
                return false;
            for (std::size_t i = 0; i < n; ++i)
                reach(value(os, i * ow, ow) + value(cs, i * cw, cw));
        }
        return true;
    }

    std::uint64_t value(const std::vector<std::uint8_t>& b, std::size_t at, std::size_t width) const
    {
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < width; ++i)
            v = (v << 8) | b[at + (m_big ? i : width - 1 - i)];
        return v;
    }

    BlockReader& m_in;
    bool m_big;
    std::uint64_t m_end = 8;
    std::uint64_t m_partsLeft = kMostParts;
};

} // namespace

bool beginsTiff(std::span<const std::uint8_t> head)
{
    if (head.size() < 8)
        return false;
    const bool little = std::memcmp(head.data(), "II*\0", 4) == 0;
    const bool big = std::memcmp(head.data(), "MM\0*", 4) == 0;
    if (!little && !big)
        return false;
    const std::uint32_t first = little ? head[4] | (head[5] << 8) | (head[6] << 16) | (std::uint32_t{head[7]} << 24)
                                       : (std::uint32_t{head[4]} << 24) | (head[5] << 16) | (head[6] << 8) | head[7];
    if (first < 8)
        return false;
    // When the first IFD lies in the head, its entry count must be one a picture has.
    if (std::uint64_t{first} + 2 <= head.size()) {
        const unsigned count = little ? head[first] | (head[first + 1] << 8) : (head[first] << 8) | head[first + 1];
        return count > 0 && count <= kMostEntries;
    }
    return true;
}

Parse parseTiff(Bytes& bytes, std::uint64_t limit, std::uint64_t /*stopAfter*/)
{
    BlockReader in(bytes, limit);
    Parse p;
    p.extension = "tif";
    std::uint8_t header[8];
    if (!in.get(0, header) || !beginsTiff(header))
        return p;
    const bool big = header[0] == 'M';
    Walker walker(in, big);
    std::vector<std::uint64_t> pending{*walker.u(4, 4)};
    std::set<std::uint64_t> seen;
    bool damaged = false;
    std::uint64_t damagedAt = 0;
    while (!pending.empty() && seen.size() < kMostIfds) {
        const std::uint64_t offset = pending.back();
        pending.pop_back();
        if (!seen.insert(offset).second)
            continue; // a loop in the chain
        if (!walker.ifd(offset, pending)) {
            // The first IFD is what makes these bytes a TIFF.
            if (seen.size() == 1)
                return p;
            if (!damaged || offset < damagedAt)
                damagedAt = offset;
            damaged = true;
        }
    }
    const std::uint64_t end = walker.end();
    // The values, strips and tiles lie anywhere before the end; the last byte says whether it is there.
    if (!damaged && in.has(end)) {
        p.verdict = Verdict::Whole;
        p.size = end;
        p.goodUpTo = end;
        return p;
    }
    p.verdict = Verdict::Cut;
    if (damaged) {
        p.goodUpTo = in.extent(std::min(damagedAt, end));
        p.brokeAt = std::min(damagedAt + 2, std::max(end, p.goodUpTo));
    } else {
        p.goodUpTo = in.extent(end);
    }
    p.size = p.goodUpTo;
    return p;
}

} // namespace orv::carve
