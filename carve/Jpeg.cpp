// JPEG: the markers from SOI through the scans to EOI give the file's end; the decoder then reads
// the entropy-coded data and tells whether the picture is the one that was written.

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include <jpeglib.h>

#include "carve/BlockReader.h"
#include "carve/Parsers.h"

namespace orv::carve {

namespace {

constexpr std::uint8_t kSoi = 0xD8;
constexpr std::uint8_t kEoi = 0xD9;
constexpr std::uint8_t kSos = 0xDA;
constexpr std::uint8_t kDri = 0xDD;
constexpr std::uint8_t kDht = 0xC4;
constexpr std::uint8_t kDqt = 0xDB;
constexpr std::uint8_t kDnl = 0xDC;
constexpr std::uint8_t kCom = 0xFE;

// More scans than any encoder writes (a progressive file has about ten): past it the file is
// taken as damaged rather than decoded scan by scan.
constexpr std::size_t kMostScans = 512;
// The decoder's memory for one picture (a progressive picture keeps all its coefficients).
constexpr long kDecoderMemory = 512L * 1024 * 1024;

bool isFrame(int m)
{
    return m >= 0xC0 && m <= 0xCF && m != kDht && m != 0xC8 && m != 0xCC;
}
bool isRestart(int m)
{
    return m >= 0xD0 && m <= 0xD7;
}

// Whether an application segment's data begins with its name: a few printable characters and a
// NUL ("Exif", "JFIF", "ICC_PROFILE", "http://ns.adobe.com/xap/1.0/").
bool namesItself(BlockReader& in, std::uint64_t from, std::uint64_t end)
{
    for (std::uint64_t at = from; at < end && at < from + 32; ++at) {
        const int c = in.at(at);
        if (c == 0)
            return at - from >= 4;
        if (c < 0x20 || c > 0x7E)
            return false;
    }
    return false;
}

struct Walk
{
    Verdict verdict = Verdict::None;
    std::uint64_t end = 0; // Whole: just past EOI
    std::uint64_t goodUpTo = 0;
    std::uint64_t brokeAt = 0;
    std::vector<std::uint64_t> scanStarts; // where each scan's entropy-coded data begins
    bool stoppedEarly = false;
    // The further pictures a multi-picture index lists (a phone's depth map or gain map), as
    // (offset in the file, length): they follow the first picture's EOI and belong to the file.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> pictures;
};

// More pictures than a multi-picture file of a camera holds.
constexpr std::uint64_t kMostPictures = 64;

// Reads the picture list of a multi-picture (MPF) APP2 segment: a TIFF-like header at `base`,
// whose index IFD holds the MP Entry tag, 16 bytes a picture: attributes, length, and offset from
// `base` (0 for the first picture, the one this segment lies in).
void readPictureIndex(BlockReader& in, std::uint64_t base, std::uint64_t segmentEnd, Walk& w)
{
    constexpr std::uint16_t kMpEntry = 0xB002;
    const int order = in.at(base);
    if ((order != 'I' && order != 'M') || in.at(base + 1) != order)
        return;
    const bool big = order == 'M';
    const auto u = [&](std::uint64_t at, std::size_t width) { return big ? in.be(at, width) : in.le(at, width); };
    const auto ifd = u(base + 4, 4);
    if (u(base + 2, 2) != 42 || !ifd)
        return;
    const auto count = u(base + *ifd, 2);
    if (!count || *count > 64)
        return;
    for (std::uint64_t i = 0; i < *count; ++i) {
        const std::uint64_t entry = base + *ifd + 2 + 12 * i;
        if (u(entry, 2) != kMpEntry)
            continue;
        const auto bytes = u(entry + 4, 4);
        const auto at = u(entry + 8, 4);
        if (!bytes || !at || *bytes % 16 != 0 || *bytes / 16 > kMostPictures || base + *at + *bytes > segmentEnd)
            return;
        for (std::uint64_t k = 0; k < *bytes / 16; ++k) {
            const auto length = u(base + *at + 16 * k + 4, 4);
            const auto offset = u(base + *at + 16 * k + 8, 4);
            if (length && offset && *offset != 0 && *length != 0)
                w.pictures.emplace_back(base + *offset, *length);
        }
        return;
    }
}

// Follows the markers. Each segment's length leads to the next marker; in entropy-coded data an
// FF may only be a stuffed FF00, a restart marker (in turn, when the file set an interval) or the
// marker that ends the scan.
Walk walkMarkers(BlockReader& in, std::uint64_t stopAfter)
{
    Walk w;
    if (in.at(0) != 0xFF || in.at(1) != kSoi)
        return w;
    std::uint64_t pos = 2;
    // The start of the last unit whose bytes nothing checked yet (a segment, or a restart interval
    // of a scan): a break found later lies at or after it.
    std::uint64_t unit = 2;
    bool sawFrame = false;
    bool afterScan = false;
    std::uint64_t restartInterval = 0;
    // A break in the first segment leaves nothing checked: the file is only taken (cut at its
    // SOI) when that segment names itself, as Exif and JFIF segments do, because a camera's Exif
    // segment spans clusters and may hold the break of a file stored in two fragments.
    bool namedFirst = false;
    const auto broke = [&](std::uint64_t at) {
        w.verdict = unit > 2 || namedFirst ? Verdict::Cut : Verdict::None;
        w.goodUpTo = unit;
        w.brokeAt = std::max(at, unit);
        return w;
    };
    const auto ranOut = [&] {
        w.verdict = unit > 2 || namedFirst ? Verdict::Cut : Verdict::None;
        w.goodUpTo = unit;
        return w;
    };
    for (;;) {
        if (stopAfter != 0 && unit > stopAfter) {
            w.verdict = Verdict::Cut;
            w.goodUpTo = unit;
            w.stoppedEarly = true;
            return w;
        }
        const int first = in.at(pos);
        if (first < 0)
            return ranOut();
        if (first != 0xFF)
            return broke(pos + 1);
        // Fill bytes may pad before a marker.
        int marker = in.at(pos + 1);
        for (int fill = 0; marker == 0xFF && fill < 64; ++fill)
            marker = in.at(++pos + 1);
        if (marker < 0)
            return ranOut();
        if (marker == kEoi) {
            if (!afterScan)
                return broke(pos + 2);
            w.verdict = Verdict::Whole;
            w.end = pos + 2;
            w.goodUpTo = w.end;
            return w;
        }
        if (marker == kSoi || marker == 0x00 || marker == 0x01 || isRestart(marker) || marker < 0xC0)
            return broke(pos + 2);
        // Between and after scans only tables, restart intervals, more scans and comments belong.
        if (afterScan &&
            !(marker == kDht || marker == kDqt || marker == kDri || marker == kSos || marker == kDnl ||
              marker == kCom || marker == 0xCC))
            return broke(pos + 2);
        unit = pos; // the segment's own length is confirmed only by the marker after it
        const auto length = in.be(pos + 2, 2);
        if (!length)
            return ranOut();
        const std::uint64_t segmentEnd = pos + 2 + *length;
        if (*length < 2)
            return broke(pos + 4);
        if (pos == 2 && marker >= 0xE0 && marker <= 0xEF)
            namedFirst = namesItself(in, pos + 4, segmentEnd);
        if (!in.has(segmentEnd))
            return ranOut();
        if (marker == 0xE2 && *length >= 2 + 4 + 8 && in.be(pos + 4, 4) == 0x4D504600 && w.pictures.empty())
            readPictureIndex(in, pos + 8, segmentEnd, w); // "MPF\0"
        if (isFrame(marker)) {
            const int precision = in.at(pos + 4);
            const auto width = in.be(pos + 7, 2);
            const int components = in.at(pos + 9);
            if (sawFrame || *length < 11 || (precision != 8 && precision != 12 && precision != 16) ||
                width.value_or(0) == 0 || components < 1 || components > 4 ||
                *length != 8 + 3 * static_cast<std::uint64_t>(components))
                return broke(segmentEnd);
            sawFrame = true;
        } else if (marker == kDri) {
            const auto interval = in.be(pos + 4, 2);
            if (*length != 4 || !interval)
                return broke(segmentEnd);
            restartInterval = *interval;
        } else if ((marker == kDqt && *length < 2 + 65) || (marker == kDht && *length < 2 + 17))
            return broke(segmentEnd);
        if (marker != kSos) {
            pos = segmentEnd;
            continue;
        }
        const int count = in.at(pos + 4);
        if (!sawFrame || count < 1 || count > 4 || *length != 6 + 2 * static_cast<std::uint64_t>(count) ||
            w.scanStarts.size() >= kMostScans)
            return broke(segmentEnd);
        afterScan = true;
        // The entropy-coded data, to the marker that ends it.
        pos = segmentEnd;
        unit = pos;
        w.scanStarts.push_back(pos);
        int nextRestart = 0;
        for (;;) {
            if (stopAfter != 0 && unit > stopAfter)
                break;
            const std::span<const std::uint8_t> block = in.window(pos);
            if (block.empty())
                return ranOut();
            const void* ff = std::memchr(block.data(), 0xFF, block.size());
            if (ff == nullptr) {
                pos += block.size();
                continue;
            }
            pos += static_cast<const std::uint8_t*>(ff) - block.data();
            const int next = in.at(pos + 1);
            if (next < 0)
                return ranOut();
            if (next == 0x00) {
                pos += 2;
            } else if (isRestart(next)) {
                if (restartInterval == 0 || next != 0xD0 + nextRestart)
                    return broke(pos + 2);
                nextRestart = (nextRestart + 1) % 8;
                pos += 2;
                unit = pos;
            } else {
                break; // a marker (or fill bytes before one): the marker loop checks it
            }
        }
    }
}

// What the decoder made of the file.
struct Decoding
{
    bool clean = false; // decoded to the end without a warning or an error
    bool skipped = false; // too large for its bytes to decode: not vouched for, not damaged either
    bool warned = false;
    std::uint64_t warnedAt = 0; // how far it had read when it first warned
};

struct Source
{
    jpeg_source_mgr base;
    BlockReader* in;
    std::uint64_t pos;
    std::uint64_t end;
    std::uint64_t stopAt;
    bool stopped;
    JOCTET buffer[16 * 1024];
    JOCTET endOfImage[2];
    std::vector<JSAMPLE> row;
};

struct Errors
{
    jpeg_error_mgr base;
    std::jmp_buf jump;
    Source* source;
    bool warned;
    std::uint64_t warnedAt;
};

std::uint64_t consumed(const Source& s)
{
    return s.pos - s.base.bytes_in_buffer;
}

extern "C" void carveJpegInit(j_decompress_ptr) {}
extern "C" void carveJpegTerm(j_decompress_ptr) {}

extern "C" boolean carveJpegFill(j_decompress_ptr info)
{
    auto* s = reinterpret_cast<Source*>(info->src);
    if (s->stopAt != 0 && s->pos > s->stopAt) {
        // Far enough past the point asked about: what was read decoded without a warning.
        s->stopped = true;
        std::longjmp(reinterpret_cast<Errors*>(info->err)->jump, 1);
    }
    std::size_t n = 0;
    if (s->pos < s->end) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(sizeof s->buffer, s->end - s->pos));
        if (s->in->get(s->pos, std::span(s->buffer, want)))
            n = want;
    }
    if (n == 0) {
        // The bytes ended before the picture did: let the decoder see an end and warn of it.
        auto* errors = reinterpret_cast<Errors*>(info->err);
        if (!errors->warned) {
            errors->warned = true;
            errors->warnedAt = s->pos;
        }
        s->endOfImage[0] = 0xFF;
        s->endOfImage[1] = kEoi;
        s->base.next_input_byte = s->endOfImage;
        s->base.bytes_in_buffer = 2;
        return TRUE;
    }
    s->base.next_input_byte = s->buffer;
    s->base.bytes_in_buffer = n;
    s->pos += n;
    return TRUE;
}

extern "C" void carveJpegSkip(j_decompress_ptr info, long count)
{
    auto* s = reinterpret_cast<Source*>(info->src);
    while (count > 0) {
        if (s->base.bytes_in_buffer == 0)
            carveJpegFill(info);
        const auto step = std::min<std::size_t>(static_cast<std::size_t>(count), s->base.bytes_in_buffer);
        s->base.next_input_byte += step;
        s->base.bytes_in_buffer -= step;
        count -= static_cast<long>(step);
    }
}

extern "C" void carveJpegError(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<Errors*>(info->err)->jump, 1);
}

extern "C" void carveJpegMessage(j_common_ptr info, int level)
{
    auto* errors = reinterpret_cast<Errors*>(info->err);
    // Level -1 is a warning: damaged data the decoder worked around.
    if (level < 0 && !errors->warned) {
        errors->warned = true;
        errors->warnedAt = consumed(*errors->source);
    }
}

extern "C" void carveJpegOutput(j_common_ptr) {}

// Decodes [0, end) at an eighth of its size: the Huffman data is still read whole.
Decoding decode(BlockReader& in, std::uint64_t end, std::uint64_t stopAt)
{
    Decoding result;
    jpeg_decompress_struct info{};
    Errors errors{};
    // Held outside the decoder and set before the jump point, so they are intact after a jump.
    auto source = std::make_unique<Source>();
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = carveJpegError;
    errors.base.emit_message = carveJpegMessage;
    errors.base.output_message = carveJpegOutput;
    errors.source = source.get();
    source->in = &in;
    source->end = end;
    source->stopAt = stopAt;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&info);
        result.clean = source->stopped && !errors.warned;
        result.warned = errors.warned;
        result.warnedAt = errors.warnedAt;
        if (!errors.warned && !source->stopped) {
            result.warned = true; // an error: mark where it stopped
            result.warnedAt = consumed(*source);
        }
        return result;
    }
    jpeg_create_decompress(&info);
    info.mem->max_memory_to_use = kDecoderMemory;
    source->base.init_source = carveJpegInit;
    source->base.fill_input_buffer = carveJpegFill;
    source->base.skip_input_data = carveJpegSkip;
    source->base.resync_to_restart = jpeg_resync_to_restart;
    source->base.term_source = carveJpegTerm;
    info.src = &source->base;
    jpeg_read_header(&info, TRUE);
    // A frame far larger than its data could hold makes the decoder invent most of the picture:
    // slow, and no check of anything. Even a blank picture spends a few bits on each 8x8 block.
    const std::uint64_t blocks = std::uint64_t{info.image_width} * info.image_height / 64;
    if (blocks > 16 * end + 65536) {
        jpeg_destroy_decompress(&info);
        result.skipped = true;
        return result;
    }
    info.scale_num = 1;
    info.scale_denom = 8;
    info.dct_method = JDCT_IFAST;
    info.do_fancy_upsampling = FALSE;
    jpeg_start_decompress(&info);
    source->row.resize(static_cast<std::size_t>(info.output_width) * static_cast<std::size_t>(info.output_components));
    while (info.output_scanline < info.output_height) {
        JSAMPROW line = source->row.data();
        jpeg_read_scanlines(&info, &line, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    result.clean = !errors.warned;
    result.warned = errors.warned;
    result.warnedAt = errors.warnedAt;
    return result;
}

// The last point before `at` that the decoder had checked when it warned there: the restart
// marker or the scan start before it (the decoder reads a few bytes ahead of the damage, and a
// damaged interval shows only at its end).
std::uint64_t lastCheckpointBefore(BlockReader& in, const Walk& walk, std::uint64_t at)
{
    constexpr std::uint64_t kReadAhead = 16;
    const std::uint64_t before = at > kReadAhead ? at - kReadAhead : 0;
    std::uint64_t scan = 0;
    for (const std::uint64_t start : walk.scanStarts)
        if (start <= before)
            scan = start;
    if (scan == 0)
        return 2;
    // Back from `before` to the scan's start, a block at a time, for a restart marker that ends
    // at or before it.
    std::vector<std::uint8_t> block;
    for (std::uint64_t top = before; top > scan + 1;) {
        const std::uint64_t lo =
            std::max<std::uint64_t>(scan, top > BlockReader::kBlock ? top - BlockReader::kBlock : 0);
        block.resize(static_cast<std::size_t>(top - lo));
        if (!in.get(lo, block))
            break;
        for (std::size_t i = block.size(); i-- > 1;)
            if (block[i - 1] == 0xFF && isRestart(block[i]))
                return lo + i + 1;
        if (lo == scan)
            break;
        top = lo + 1; // a marker across the seam is seen from the lower block
    }
    return scan;
}

} // namespace

bool beginsJpeg(std::span<const std::uint8_t> head)
{
    // SOI, then the first segment's marker and a length that fits a segment.
    if (head.size() < 6 || head[0] != 0xFF || head[1] != kSoi || head[2] != 0xFF)
        return false;
    const std::uint8_t marker = head[3];
    const bool known = (marker >= 0xE0 && marker <= 0xEF) || marker == kDqt || marker == kDht || marker == kCom ||
        marker == kDri || isFrame(marker);
    return known && ((head[4] << 8) | head[5]) >= 2;
}

namespace {

// One picture from its SOI: the markers, then the decoder.
Parse parsePicture(Bytes& bytes, std::uint64_t limit, std::uint64_t stopAfter, Walk& walk)
{
    BlockReader in(bytes, limit);
    walk = walkMarkers(in, stopAfter);
    Parse p;
    p.extension = "jpg";
    if (walk.verdict == Verdict::None)
        return p;
    p.verdict = walk.verdict;
    p.goodUpTo = walk.goodUpTo;
    p.brokeAt = walk.brokeAt;
    p.size = walk.verdict == Verdict::Whole ? walk.end : walk.goodUpTo;
    // The decoder reads what the markers vouched for; where it had to stop is the break.
    const std::uint64_t decodeEnd = walk.verdict == Verdict::Whole ? walk.end : walk.goodUpTo;
    const std::uint64_t stopAt = walk.stoppedEarly ? stopAfter + 2 * sizeof(Source::buffer) : 0;
    const Decoding d = decode(in, decodeEnd, stopAt);
    if (d.clean || d.skipped) {
        p.contentChecked = d.clean && walk.verdict == Verdict::Whole;
        return p;
    }
    // A picture cut short is expected to run out at its end; anything else is damage before it.
    if (walk.verdict != Verdict::Whole && d.warnedAt >= decodeEnd)
        return p;
    const std::uint64_t good = lastCheckpointBefore(in, walk, d.warnedAt);
    if (good < p.goodUpTo) {
        p.brokeAt = std::max(good, std::min(d.warnedAt, p.goodUpTo));
        p.goodUpTo = good;
    } else if (walk.verdict == Verdict::Whole) {
        p.brokeAt = std::max(p.goodUpTo, std::min(d.warnedAt, walk.end));
    }
    if (walk.verdict == Verdict::Cut)
        p.size = p.goodUpTo;
    // A whole file the decoder found damaged keeps its length (the damage may be the writer's),
    // but it is not vouched for.
    return p;
}

// A picture further into the file: its offsets seen from its own first byte.
class Shifted final : public Bytes
{
public:
    Shifted(Bytes& bytes, std::uint64_t base) : m_bytes(bytes), m_base(base) {}
    std::size_t read(std::uint64_t offset, std::span<std::uint8_t> into) override
    {
        return m_bytes.read(m_base + offset, into);
    }

private:
    Bytes& m_bytes;
    std::uint64_t m_base;
};

} // namespace

Parse parseJpeg(Bytes& bytes, std::uint64_t limit, std::uint64_t stopAfter)
{
    Walk walk;
    Parse p = parsePicture(bytes, limit, stopAfter, walk);
    if (p.verdict != Verdict::Whole || walk.pictures.empty())
        return p;
    // The further pictures of a multi-picture file follow the first one in their index's order;
    // an index that says otherwise is not followed.
    std::sort(walk.pictures.begin(), walk.pictures.end());
    std::uint64_t end = p.size;
    for (const auto& [start, length] : walk.pictures)
        if (start < end)
            return p;
        else
            end = start + length;
    // Damage the decoder found in the first picture stays where it was found.
    const bool damaged = p.goodUpTo < p.size;
    for (const auto& [start, length] : walk.pictures) {
        Shifted shifted(bytes, start);
        Walk inner;
        const Parse q = start < limit ? parsePicture(shifted, std::min(length, limit - start), 0, inner) : Parse{};
        // (A writer may pad a picture after its EOI up to the length the index gives.)
        if (q.verdict != Verdict::Whole || q.size > length) {
            // The file goes on past the first picture but the next one does not check out: keep
            // what did.
            p.verdict = Verdict::Cut;
            if (!damaged) {
                p.goodUpTo = p.size;
                p.brokeAt = std::max(p.size, q.brokeAt != 0 ? start + q.brokeAt : start + length);
            }
            p.size = std::min(p.size, p.goodUpTo);
            p.contentChecked = false;
            return p;
        }
        if (q.size < length && !BlockReader(bytes, limit).has(start + length)) {
            // The picture is whole but the padding the index counts after it is not there.
            p.verdict = Verdict::Cut;
            p.size = start + q.size;
            p.goodUpTo = damaged ? p.goodUpTo : p.size;
            p.contentChecked = false;
            return p;
        }
        p.contentChecked = p.contentChecked && q.contentChecked;
        p.size = start + length;
        if (!damaged)
            p.goodUpTo = p.size;
    }
    return p;
}

} // namespace orv::carve
