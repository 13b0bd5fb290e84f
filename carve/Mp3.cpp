// MP3: an optional ID3v2 tag, then MPEG audio frames, each header giving the frame's length, then
// an optional ID3v1 tag. The chain of frame headers is the check: several in a row must agree.

#include <cstring>

#include "carve/BlockReader.h"
#include "carve/Parsers.h"

namespace orv::carve {

namespace {

// Frames in a row before a chain counts as audio: random bytes rarely chain this far.
constexpr int kLeastFrames = 4;
// Zeros after an ID3v2 tag that its size does not count, as some taggers leave them.
constexpr std::uint64_t kMostTagPadding = 64 * 1024;
// How far past a chain's end a continuation of the same stream is looked for.
constexpr std::uint64_t kResyncReach = 64 * 1024;

struct Frame
{
    int version = 0; // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    int sampleRate = 0;
    int channels = 0;
    std::uint32_t length = 0;

    bool sameStream(const Frame& o) const { return version == o.version && sampleRate == o.sampleRate; }
};

// Layer III bitrates in kbit/s: MPEG-1, then MPEG-2 and 2.5.
constexpr int kBitrates[2][15] = {
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
};
constexpr int kSampleRates[4][3] = {{11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};

// The frame whose header these four bytes are, or nullopt (free bitrate is not followed: its
// frames give no length).
std::optional<Frame> frameAt(const std::uint8_t* h)
{
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0)
        return std::nullopt;
    Frame f;
    f.version = (h[1] >> 3) & 3;
    const int bitrateIndex = h[2] >> 4;
    const int rateIndex = (h[2] >> 2) & 3;
    const int padding = (h[2] >> 1) & 1;
    // Layer III only: Layer I and II streams are other kinds of file (.mp1, .mp2).
    if (f.version == 1 || ((h[1] >> 1) & 3) != 1 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3 ||
        (h[3] & 3) == 2)
        return std::nullopt;
    f.sampleRate = kSampleRates[f.version][rateIndex];
    f.channels = (h[3] >> 6) == 3 ? 1 : 2;
    const std::uint32_t bitrate = kBitrates[f.version == 3 ? 0 : 1][bitrateIndex] * 1000u;
    const auto rate = static_cast<std::uint32_t>(f.sampleRate);
    // 1152 samples a frame for MPEG-1, 576 for MPEG-2 and 2.5.
    f.length = (f.version == 3 ? 144 : 72) * bitrate / rate + padding;
    return f;
}

std::optional<Frame> frameAt(BlockReader& in, std::uint64_t pos)
{
    std::uint8_t h[4];
    if (!in.get(pos, h))
        return std::nullopt;
    return frameAt(h);
}

// The length of the ID3v2 tag at the start, 0 when there is none, nullopt when its header is bad.
std::optional<std::uint64_t> id3v2Length(std::span<const std::uint8_t> h)
{
    if (h.size() < 10 || std::memcmp(h.data(), "ID3", 3) != 0)
        return 0;
    if (h[3] < 2 || h[3] > 4 || h[4] == 0xFF || (h[6] | h[7] | h[8] | h[9]) & 0x80)
        return std::nullopt;
    const std::uint64_t size = (std::uint64_t{h[6]} << 21) | (h[7] << 14) | (h[8] << 7) | h[9];
    return 10 + size + ((h[5] & 0x10) != 0 ? 10 : 0);
}

// The stream's length in bytes from its Xing/Info frame, when the encoder wrote one.
std::optional<std::uint64_t> declaredLength(BlockReader& in, std::uint64_t pos, const Frame& f)
{
    const std::uint64_t sideInfo = f.version == 3 ? (f.channels == 1 ? 17 : 32) : (f.channels == 1 ? 9 : 17);
    std::uint8_t tag[16];
    const std::uint64_t at = pos + 4 + sideInfo;
    if (at + sizeof tag > pos + f.length || !in.get(at, tag))
        return std::nullopt;
    if (std::memcmp(tag, "Xing", 4) != 0 && std::memcmp(tag, "Info", 4) != 0)
        return std::nullopt;
    const std::uint32_t flags = (std::uint32_t{tag[4]} << 24) | (tag[5] << 16) | (tag[6] << 8) | tag[7];
    if ((flags & 2) == 0)
        return std::nullopt;
    // The byte count follows the frame count when that is there too.
    const std::uint8_t* b = (flags & 1) != 0 ? tag + 12 : tag + 8;
    const std::uint64_t bytes = (std::uint64_t{b[0]} << 24) | (b[1] << 16) | (b[2] << 8) | b[3];
    return bytes >= f.length ? std::optional(bytes) : std::nullopt;
}

// How many frames of the same stream follow one another from `pos`, up to `enough`.
int chainAt(BlockReader& in, std::uint64_t pos, const Frame& stream, int enough)
{
    int n = 0;
    while (n < enough) {
        const auto f = frameAt(in, pos);
        if (!f || !f->sameStream(stream) || !in.has(pos + f->length))
            break;
        pos += f->length;
        ++n;
    }
    return n;
}

// Whether the stream goes on somewhere in the bytes after `pos`: then the chain's end is damage,
// not the file's end.
bool resumesAfter(BlockReader& in, std::uint64_t pos, const Frame& stream)
{
    for (std::uint64_t at = pos + 1; at < pos + kResyncReach;) {
        const std::span<const std::uint8_t> w = in.window(at);
        if (w.empty())
            return false;
        const void* ff = std::memchr(w.data(), 0xFF, w.size());
        if (ff == nullptr) {
            at += w.size();
            continue;
        }
        at += static_cast<const std::uint8_t*>(ff) - w.data();
        if (at >= pos + kResyncReach)
            return false;
        if (chainAt(in, at, stream, kLeastFrames) == kLeastFrames)
            return true;
        ++at;
    }
    return false;
}

} // namespace

bool beginsMp3(std::span<const std::uint8_t> head)
{
    if (head.size() < 10)
        return false;
    const auto tag = id3v2Length(head);
    if (!tag)
        return false;
    if (*tag != 0)
        return true;
    const auto first = frameAt(head.data());
    if (!first)
        return false;
    // The next frame's header, when the head holds it, must continue the stream.
    if (first->length + 4 <= head.size()) {
        const auto second = frameAt(head.data() + first->length);
        return second && second->sameStream(*first);
    }
    return true;
}

Parse parseMp3(Bytes& bytes, std::uint64_t limit, std::uint64_t stopAfter)
{
    BlockReader in(bytes, limit);
    Parse p;
    p.extension = "mp3";
    std::uint8_t head[10];
    if (!in.get(0, head))
        return p;
    const auto tag = id3v2Length(head);
    if (!tag)
        return p;
    // Taggers may leave zeros after the tag that its size does not count.
    std::uint64_t start = *tag;
    if (start != 0)
        while (start < *tag + kMostTagPadding && in.at(start) == 0)
            ++start;
    const auto first = frameAt(in, start);
    if (!first)
        return p;
    const auto declared = declaredLength(in, start, *first);
    std::uint64_t pos = start;
    std::uint64_t lastFrame = start;
    int frames = 0;
    bool ranOut = false;
    for (;;) {
        if (stopAfter != 0 && pos > stopAfter && frames >= kLeastFrames) {
            p.verdict = Verdict::Cut;
            p.size = p.goodUpTo = pos;
            return p;
        }
        const auto f = frameAt(in, pos);
        if (!f || !f->sameStream(*first))
            break;
        if (!in.has(pos + f->length)) {
            ranOut = true;
            break;
        }
        lastFrame = pos;
        pos += f->length;
        ++frames;
    }
    if (frames < kLeastFrames)
        return Parse{.extension = "mp3"};
    const std::uint64_t chainEnd = pos;
    // The bytes ending right after a frame end the file, unless the limit is what ended them.
    if (!ranOut && in.at(pos) < 0 && pos >= limit)
        ranOut = true;
    // An APE tag may follow the frames: a 32-byte header, then its items and a 32-byte footer,
    // which its size counts.
    std::uint8_t ape[24];
    if (!ranOut && in.get(pos, ape) && std::memcmp(ape, "APETAGEX", 8) == 0) {
        const std::uint64_t size = ape[12] | (ape[13] << 8) | (ape[14] << 16) | (std::uint64_t{ape[15]} << 24);
        if ((ape[23] & 0x80) != 0 && size >= 32) {
            if (in.has(pos + 32 + size))
                pos += 32 + size;
            else
                ranOut = true; // the tag is cut short
        }
    }
    // An ID3v1 tag may close the file.
    std::uint8_t v1[3];
    const bool tagged = !ranOut && in.get(pos, v1) && std::memcmp(v1, "TAG", 3) == 0;
    const bool closed = tagged && in.has(pos + 128);
    if (tagged && !closed)
        ranOut = true; // the tag is cut short
    if (closed)
        pos += 128;
    const bool apeOnly = !closed && pos != chainEnd;
    const bool short_ = declared && chainEnd < start + *declared;
    if (ranOut || (!closed && !apeOnly && (short_ || resumesAfter(in, chainEnd, *first)))) {
        // The bytes ran out, or the stream stops short of its declared length or goes on after a
        // stretch of other bytes: the last frame may hold the damage.
        p.verdict = Verdict::Cut;
        p.size = chainEnd;
        p.goodUpTo = ranOut ? chainEnd : lastFrame;
        p.brokeAt = ranOut ? 0 : chainEnd + 4;
        return p;
    }
    p.verdict = Verdict::Whole;
    p.size = pos;
    p.goodUpTo = pos;
    return p;
}

} // namespace orv::carve
