// MP4 and QuickTime: ftyp first, then top-level boxes of known types to the file's end. The
// movie box's children are walked too (their sizes must nest exactly), so damage there shows.

#include <array>
#include <cstring>

#include "carve/BlockReader.h"
#include "carve/Parsers.h"

namespace orv::carve {

namespace {

// Boxes inside boxes: moov > trak > mdia > minf > stbl > stsd > entry nests about seven deep.
constexpr int kDeepestBox = 8;

constexpr std::array<const char*, 19> kTopLevel = {"moov", "mdat", "free", "skip", "wide", "uuid", "meta",
                                                   "moof", "mfra", "pdin", "sidx", "styp", "ssix", "prft",
                                                   "emsg", "pnot", "junk", "udta", "PICT"};
// Boxes that hold only boxes: the walk goes into them.
constexpr std::array<const char*, 12> kContainers = {"moov", "trak", "mdia", "minf", "stbl", "edts",
                                                     "dinf", "mvex", "moof", "traf", "mfra", "tref"};

using FourCc = std::array<std::uint8_t, 4>;

bool in(const FourCc& type, std::span<const char* const> names)
{
    for (const char* name : names)
        if (std::memcmp(type.data(), name, 4) == 0)
            return true;
    return false;
}

bool printable(const FourCc& type)
{
    for (const std::uint8_t c : type)
        if (c < 0x20 || c > 0x7E)
            return false;
    return true;
}

struct Box
{
    FourCc type{};
    std::uint64_t header = 8;
    std::uint64_t end = 0; // 0: to the end of the file
};

enum class Read { Ok, Bad, RanOut };

Read boxAt(BlockReader& bytes, std::uint64_t pos, Box& box)
{
    const auto size = bytes.be(pos, 4);
    if (!size || !bytes.get(pos + 4, box.type))
        return Read::RanOut;
    box.header = 8;
    std::uint64_t length = *size;
    if (length == 1) {
        const auto large = bytes.be(pos + 8, 8);
        if (!large)
            return Read::RanOut;
        box.header = 16;
        length = *large;
    }
    if (length == 0) {
        box.end = 0;
        return printable(box.type) ? Read::Ok : Read::Bad;
    }
    if (length < box.header || length > (std::uint64_t{1} << 62) || !printable(box.type))
        return Read::Bad;
    box.end = pos + length;
    return Read::Ok;
}

struct Walk
{
    BlockReader& bytes;
    std::uint64_t brokeAt = 0;
    bool ranOut = false;

    // The children of [from, to) fill it exactly.
    bool children(std::uint64_t from, std::uint64_t to, int depth)
    {
        for (std::uint64_t pos = from; pos < to;) {
            Box box;
            const Read r = to - pos < 8 ? Read::Bad : boxAt(bytes, pos, box);
            if (r == Read::RanOut) {
                ranOut = true;
                return false;
            }
            if (r == Read::Bad || box.end == 0 || box.end > to) {
                brokeAt = pos + 8;
                return false;
            }
            if (in(box.type, kContainers) && depth < kDeepestBox && !children(pos + box.header, box.end, depth + 1))
                return false;
            pos = box.end;
        }
        return true;
    }
};

} // namespace

bool beginsMp4(std::span<const std::uint8_t> head)
{
    if (head.size() < 16 || std::memcmp(head.data() + 4, "ftyp", 4) != 0)
        return false;
    const std::uint32_t size = (std::uint32_t{head[0]} << 24) | (head[1] << 16) | (head[2] << 8) | head[3];
    FourCc brand;
    std::memcpy(brand.data(), head.data() + 8, 4);
    return size >= 16 && size <= 1024 && size % 4 == 0 && printable(brand);
}

Parse parseMp4(Bytes& bytes, std::uint64_t limit, std::uint64_t stopAfter)
{
    BlockReader r(bytes, limit);
    Parse p;
    std::uint8_t head[16];
    if (!r.get(0, head) || !beginsMp4(head))
        return p;
    p.extension = std::memcmp(head + 8, "qt  ", 4) == 0 ? "mov" : "mp4";
    std::uint64_t pos = (std::uint64_t{head[0]} << 24) | (head[1] << 16) | (head[2] << 8) | head[3];
    if (!r.has(pos))
        return p;
    bool sawMovie = false;
    Walk walk{r};
    std::uint64_t inside = 0; // where the box the bytes ran out in would end (its content unchecked)
    for (;;) {
        if (stopAfter != 0 && pos > stopAfter) {
            p.verdict = Verdict::Cut;
            p.size = p.goodUpTo = pos;
            return p;
        }
        if (r.at(pos) < 0) {
            // The bytes end exactly where a box ends: a finished movie ends here.
            if (sawMovie && pos != r.limit()) {
                p.verdict = Verdict::Whole;
                p.size = p.goodUpTo = pos;
                return p;
            }
            walk.ranOut = true;
            break;
        }
        Box box;
        const Read read = boxAt(r, pos, box);
        if (read == Read::RanOut) {
            walk.ranOut = true;
            break;
        }
        if (read == Read::Bad || !in(box.type, kTopLevel)) {
            if (sawMovie) {
                // Bytes that are no box follow the last one: the file ends there.
                p.verdict = Verdict::Whole;
                p.size = p.goodUpTo = pos;
                return p;
            }
            walk.brokeAt = pos + 8;
            break;
        }
        if (box.end == 0) {
            // "To the end of the file": nothing says where that is.
            walk.ranOut = true;
            inside = limit;
            break;
        }
        if (in(box.type, kContainers) && !walk.children(pos + box.header, box.end, 1)) {
            inside = walk.ranOut ? box.end : 0;
            break;
        }
        if (!r.has(box.end)) {
            walk.ranOut = true;
            inside = box.end;
            break;
        }
        if (std::memcmp(box.type.data(), "moov", 4) == 0 || std::memcmp(box.type.data(), "moof", 4) == 0)
            sawMovie = true;
        pos = box.end;
    }
    p.verdict = Verdict::Cut;
    // Out of bytes inside a box, its content up to where they end is as good as any; a bad
    // header cuts before the box it belongs to.
    p.goodUpTo = inside != 0 ? std::max(pos, r.extent(inside)) : pos;
    if (!walk.ranOut)
        p.brokeAt = std::max(walk.brokeAt, p.goodUpTo);
    p.size = p.goodUpTo;
    return p;
}

} // namespace orv::carve
