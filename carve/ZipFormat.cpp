// ZIP archives and the document kinds stored as ZIP (Office Open XML, OpenDocument, EPUB, JAR,
// APK). The archive is walked from its first local header: every member's data is inflated (or
// read, when stored) and its CRC-32 compared, then the central directory must describe exactly
// the members found, and the end-of-central-directory record with its comment ends the file.

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "carve/BlockReader.h"
#include "carve/Parsers.h"

namespace orv::carve {

namespace {

constexpr std::uint32_t kLocalSig = 0x04034b50;
constexpr std::uint32_t kCentralSig = 0x02014b50;
constexpr std::uint32_t kEndSig = 0x06054b50;
constexpr std::uint32_t kZip64EndSig = 0x06064b50;
constexpr std::uint32_t kZip64LocatorSig = 0x07064b50;
constexpr std::uint32_t kDescriptorSig = 0x08074b50;
constexpr std::uint32_t kSignatureSig = 0x05054b50; // the central directory's digital signature
constexpr std::uint32_t kFull32 = 0xFFFFFFFF;

namespace local {
constexpr std::size_t kVersion = 4; // u16
constexpr std::size_t kFlags = 6; // u16; bit 0 encrypted, bit 3 sizes in a data descriptor
constexpr std::size_t kMethod = 8; // u16; 0 stored, 8 deflated
constexpr std::size_t kCrc = 14; // u32
constexpr std::size_t kCompressed = 18; // u32
constexpr std::size_t kUncompressed = 22; // u32
constexpr std::size_t kNameLength = 26; // u16
constexpr std::size_t kExtraLength = 28; // u16
constexpr std::size_t kSize = 30;
} // namespace local

namespace central {
constexpr std::size_t kMethod = 10; // u16
constexpr std::size_t kCrc = 16; // u32
constexpr std::size_t kCompressed = 20; // u32
constexpr std::size_t kUncompressed = 24; // u32
constexpr std::size_t kNameLength = 28; // u16
constexpr std::size_t kExtraLength = 30; // u16
constexpr std::size_t kCommentLength = 32; // u16
constexpr std::size_t kDiskStart = 34; // u16
constexpr std::size_t kLocalOffset = 42; // u32
constexpr std::size_t kSize = 46;
} // namespace central

namespace end {
constexpr std::size_t kDisk = 4; // u16
constexpr std::size_t kDirectoryDisk = 6; // u16
constexpr std::size_t kEntriesHere = 8; // u16
constexpr std::size_t kEntries = 10; // u16
constexpr std::size_t kDirectorySize = 12; // u32
constexpr std::size_t kDirectoryOffset = 16; // u32
constexpr std::size_t kCommentLength = 20; // u16
constexpr std::size_t kSize = 22;
} // namespace end

// A member's output may exceed its input by this factor (plus a fixed allowance) before the
// inflating stops: ordinary documents stay far below it, and a zip bomb lying in free space cannot
// stall the scan. A member stopped this way is walked by its sizes, its content left unchecked.
constexpr std::uint64_t kRatioCap = 100;
constexpr std::uint64_t kRatioAllowance = std::uint64_t{16} << 20;
// The members kept for matching the central directory; an archive with more is cut there.
constexpr std::size_t kMaxMembers = std::size_t{1} << 20;
// What is kept of the members whose text tells the archive's kind.
constexpr std::size_t kKindTextBytes = 64 << 10;

std::uint32_t updateCrc(std::uint32_t crc, const std::uint8_t* data, std::size_t size)
{
    return static_cast<std::uint32_t>(crc32(crc, data, static_cast<uInt>(size)));
}

std::uint64_t hashName(std::span<const std::uint8_t> name)
{
    std::uint64_t h = 1469598103934665603ull;
    for (const std::uint8_t c : name)
        h = (h ^ c) * 1099511628211ull;
    return h;
}

struct Member
{
    std::uint64_t offset = 0;
    std::uint64_t nameHash = 0;
    std::uint64_t compressed = 0;
    std::uint64_t uncompressed = 0;
    std::uint32_t crc = 0;
    std::uint16_t nameLength = 0;
    std::uint16_t method = 0;
    bool listed = false;
};

// Zip64 sizes and offset from an extra field: each is there only when its 32-bit field is full.
struct Zip64Fields
{
    std::uint64_t* fields[4]{};
    bool found = false;
};
void readZip64(std::span<const std::uint8_t> extra, Zip64Fields& z)
{
    std::size_t at = 0;
    while (extra.size() - at >= 4) {
        const auto id = static_cast<std::uint16_t>(leAt(extra, at, 2));
        const auto length = static_cast<std::size_t>(leAt(extra, at + 2, 2));
        if (length > extra.size() - at - 4)
            return;
        if (id == 0x0001) {
            z.found = true;
            std::size_t f = at + 4;
            for (std::uint64_t* field : z.fields) {
                if (field == nullptr || *field != kFull32)
                    continue;
                if (f + 8 > at + 4 + length)
                    return;
                *field = leAt(extra, f, 8);
                f += 8;
            }
            return;
        }
        at += 4 + length;
    }
}

struct Inflated
{
    // Failed: the data is not a deflate stream of its size; Short: the bytes ran out first.
    enum Outcome : std::uint8_t { Done, Failed, Short, OverBudget } outcome = Failed;
    std::uint64_t consumed = 0;
    std::uint64_t produced = 0;
    std::uint32_t crc = 0;
};

class ZipParser
{
public:
    ZipParser(Bytes& bytes, std::uint64_t limit, std::uint64_t stopAfter)
        : m_reader(bytes, limit), m_stopAfter(stopAfter)
    {}

    Parse run();

private:
    enum class Step : std::uint8_t { Next, Broke, Stop };
    Step member(std::uint64_t at, std::uint64_t& next);
    Step centralEntry(std::uint64_t at, std::uint64_t& next);
    bool endRecords(std::uint64_t directoryStart, std::uint64_t directoryEnd, std::uint64_t& fileEnd);
    Inflated inflateFrom(std::uint64_t at, std::uint64_t known, bool sizeKnown, std::string* keep);
    bool crcOfStored(std::uint64_t at, std::uint64_t size, std::uint32_t& crc, std::string* keep);
    std::string_view kind() const;

    Parse cut(std::uint64_t goodUpTo, std::uint64_t brokeAt) const
    {
        Parse p;
        p.verdict = goodUpTo == 0 && brokeAt == 0 ? Verdict::None : Verdict::Cut;
        p.size = goodUpTo;
        p.goodUpTo = goodUpTo;
        p.brokeAt = brokeAt;
        p.extension = kind();
        return p;
    }

    BlockReader m_reader;
    std::uint64_t m_stopAfter;
    std::vector<Member> m_members;
    std::vector<std::uint8_t> m_out = std::vector<std::uint8_t>(BlockReader::kBlock);
    bool m_contentChecked = true;
    std::uint64_t m_brokeAt = 0;
    std::string m_mimetype;
    std::string m_contentTypes;
    bool m_hasContentTypes = false, m_hasAndroidManifest = false, m_hasDex = false, m_hasManifest = false;
};

Inflated ZipParser::inflateFrom(std::uint64_t at, std::uint64_t known, bool sizeKnown, std::string* keep)
{
    Inflated r;
    z_stream zs{};
    if (inflateInit2(&zs, -MAX_WBITS) != Z_OK)
        return r;
    struct End
    {
        z_stream* zs;
        ~End() { inflateEnd(zs); }
    } end{&zs};
    std::uint64_t fetched = 0;
    std::uint32_t crc = 0u;
    for (;;) {
        if (zs.avail_in == 0) {
            std::size_t want = BlockReader::kBlock;
            if (sizeKnown)
                want = static_cast<std::size_t>(std::min<std::uint64_t>(want, known - fetched));
            const std::span<const std::uint8_t> in =
                want == 0 ? std::span<const std::uint8_t>{} : m_reader.upTo(at + fetched, want);
            if (in.empty()) {
                r.outcome = want == 0 ? Inflated::Failed : Inflated::Short;
                r.consumed = zs.total_in;
                return r;
            }
            zs.next_in = const_cast<Bytef*>(in.data());
            zs.avail_in = static_cast<uInt>(in.size());
            fetched += in.size();
        }
        zs.next_out = m_out.data();
        zs.avail_out = static_cast<uInt>(m_out.size());
        const int ret = inflate(&zs, Z_NO_FLUSH);
        const std::size_t n = m_out.size() - zs.avail_out;
        crc = updateCrc(crc, m_out.data(), n);
        if (keep != nullptr && keep->size() < kKindTextBytes)
            keep->append(reinterpret_cast<const char*>(m_out.data()), std::min(n, kKindTextBytes - keep->size()));
        if (ret == Z_STREAM_END) {
            r.outcome = Inflated::Done;
            r.consumed = zs.total_in;
            r.produced = zs.total_out;
            r.crc = crc;
            return r;
        }
        if (ret != Z_OK && !(ret == Z_BUF_ERROR && zs.avail_in == 0)) {
            // The decoder reads in order, so the bad byte lies at or before where it stopped.
            r.consumed = zs.total_in + 1;
            return r;
        }
        if (zs.total_out > kRatioAllowance + kRatioCap * zs.total_in) {
            r.outcome = Inflated::OverBudget;
            return r;
        }
    }
}

bool ZipParser::crcOfStored(std::uint64_t at, std::uint64_t size, std::uint32_t& crc, std::string* keep)
{
    crc = 0u;
    for (std::uint64_t done = 0; done < size;) {
        const std::span<const std::uint8_t> in = m_reader.upTo(
            at + done, static_cast<std::size_t>(std::min<std::uint64_t>(BlockReader::kBlock, size - done)));
        if (in.empty())
            return false;
        crc = updateCrc(crc, in.data(), in.size());
        if (keep != nullptr && keep->size() < kKindTextBytes)
            keep->append(reinterpret_cast<const char*>(in.data()), std::min(in.size(), kKindTextBytes - keep->size()));
        done += in.size();
    }
    return true;
}

// One local header, its data and its data descriptor. `next` is where the member ends.
ZipParser::Step ZipParser::member(std::uint64_t at, std::uint64_t& next)
{
    const std::span<const std::uint8_t> h = m_reader.get(at, local::kSize);
    if (h.empty())
        return Step::Stop;
    const auto flags = static_cast<std::uint16_t>(leAt(h, local::kFlags, 2));
    const auto method = static_cast<std::uint16_t>(leAt(h, local::kMethod, 2));
    std::uint32_t crc = static_cast<std::uint32_t>(leAt(h, local::kCrc, 4));
    std::uint64_t compressed = leAt(h, local::kCompressed, 4);
    std::uint64_t uncompressed = leAt(h, local::kUncompressed, 4);
    const auto nameLength = static_cast<std::uint16_t>(leAt(h, local::kNameLength, 2));
    const auto extraLength = static_cast<std::size_t>(leAt(h, local::kExtraLength, 2));
    if (nameLength == 0 || leAt(h, local::kVersion, 2) > 0x3FF)
        return Step::Stop;
    const std::span<const std::uint8_t> nameBytes = m_reader.get(at + local::kSize, nameLength);
    if (nameBytes.empty())
        return Step::Stop;
    const std::string name(nameBytes.begin(), nameBytes.end());
    const std::uint64_t nameHash = hashName(nameBytes);
    const std::span<const std::uint8_t> extra = m_reader.get(at + local::kSize + nameLength, extraLength);
    if (extra.size() != extraLength)
        return Step::Stop;
    Zip64Fields z;
    z.fields[0] = &uncompressed;
    z.fields[1] = &compressed;
    readZip64(extra, z);
    const std::uint64_t dataStart = at + local::kSize + nameLength + extraLength;
    const bool encrypted = (flags & 0x1) != 0;
    const bool descriptor = (flags & 0x8) != 0;
    // A size that runs past the bytes there may be cannot be walked (nor may it wrap around).
    if (dataStart > m_reader.end() || compressed > m_reader.end() - dataStart)
        return Step::Stop;

    std::string* keep = nullptr;
    if (name == "mimetype")
        keep = &m_mimetype;
    else if (name == "[Content_Types].xml") {
        keep = &m_contentTypes;
        m_hasContentTypes = true;
    }
    m_hasAndroidManifest |= name == "AndroidManifest.xml";
    m_hasDex |= name == "classes.dex";
    m_hasManifest |= name == "META-INF/MANIFEST.MF";

    // The data: its length, and its CRC-32 and length once decoded, where this parser can decode it.
    std::uint64_t dataLength = compressed;
    bool checked = false;
    std::uint32_t actualCrc = 0;
    std::uint64_t actualSize = 0;
    if (!encrypted && method == 8) {
        const Inflated inf = inflateFrom(dataStart, compressed, !descriptor, keep);
        if (inf.outcome == Inflated::Short)
            return Step::Stop;
        if (inf.outcome == Inflated::Failed) {
            m_brokeAt = dataStart + (descriptor ? inf.consumed : compressed);
            return Step::Broke;
        }
        if (inf.outcome == Inflated::OverBudget) {
            if (descriptor)
                return Step::Stop; // its end cannot be known without decoding it all
            if (compressed != 0 && m_reader.get(dataStart + compressed - 1, 1).empty())
                return Step::Stop;
            m_contentChecked = false;
        } else {
            if (!descriptor && inf.consumed != compressed) {
                m_brokeAt = dataStart + compressed;
                return Step::Broke;
            }
            dataLength = inf.consumed;
            checked = true;
            actualCrc = inf.crc;
            actualSize = inf.produced;
        }
    } else if (!encrypted && method == 0 && descriptor && compressed == 0) {
        // Stored with its sizes after it: only an empty member can be walked (its descriptor
        // follows at once); a longer one has no end this parser can find.
        dataLength = 0;
        checked = true;
        actualCrc = 0u;
    } else if (!encrypted && method == 0) {
        if (!crcOfStored(dataStart, compressed, actualCrc, keep))
            return Step::Stop;
        checked = true;
        actualSize = compressed;
    } else if (descriptor && compressed == 0) {
        return Step::Stop; // sizes only after data this parser cannot decode: its end is unknown
    } else {
        // Encrypted, or a method this parser does not decode: walked by its size (which a writer
        // may give ahead of a descriptor too, as encrypting ones do; the descriptor must agree).
        m_contentChecked = false;
        if (compressed != 0 && m_reader.get(dataStart + compressed - 1, 1).empty())
            return Step::Stop;
    }
    std::uint64_t memberEnd = dataStart + dataLength;

    if (descriptor) {
        std::uint64_t d = memberEnd;
        const std::optional<std::uint64_t> first = m_reader.le(d, 4);
        if (!first)
            return Step::Stop;
        if (*first == kDescriptorSig)
            d += 4;
        // Four-byte sizes unless the member is zip64; a writer that chose eight bytes anyway is
        // recognised by its compressed size matching the data.
        const std::optional<std::uint64_t> c4 = m_reader.le(d + 4, 4);
        const std::optional<std::uint64_t> c8 = m_reader.le(d + 4, 8);
        std::size_t width = z.found ? 8 : 4;
        if (width == 4 && c4 && *c4 != dataLength && c8 && *c8 == dataLength)
            width = 8;
        const std::optional<std::uint64_t> dCrc = m_reader.le(d, 4);
        const std::optional<std::uint64_t> dCompressed = m_reader.le(d + 4, width);
        const std::optional<std::uint64_t> dUncompressed = m_reader.le(d + 4 + width, width);
        if (!dCrc || !dCompressed || !dUncompressed)
            return Step::Stop;
        crc = static_cast<std::uint32_t>(*dCrc);
        compressed = *dCompressed;
        uncompressed = *dUncompressed;
        memberEnd = d + 4 + 2 * width;
        if (compressed != dataLength) {
            if (method == 0)
                return Step::Stop;
            m_brokeAt = memberEnd;
            return Step::Broke;
        }
    }
    if (checked && (actualCrc != crc || actualSize != uncompressed)) {
        m_brokeAt = memberEnd;
        return Step::Broke;
    }
    if (m_members.size() >= kMaxMembers)
        return Step::Stop;
    m_members.push_back(Member{at, nameHash, compressed, uncompressed, crc, nameLength, method, false});
    next = memberEnd;
    return Step::Next;
}

// One central directory entry: it must describe a member found, exactly as found.
ZipParser::Step ZipParser::centralEntry(std::uint64_t at, std::uint64_t& next)
{
    const std::span<const std::uint8_t> h = m_reader.get(at, central::kSize);
    if (h.empty())
        return Step::Stop;
    const auto method = static_cast<std::uint16_t>(leAt(h, central::kMethod, 2));
    const auto crc = static_cast<std::uint32_t>(leAt(h, central::kCrc, 4));
    std::uint64_t compressed = leAt(h, central::kCompressed, 4);
    std::uint64_t uncompressed = leAt(h, central::kUncompressed, 4);
    const auto nameLength = static_cast<std::uint16_t>(leAt(h, central::kNameLength, 2));
    const auto extraLength = static_cast<std::size_t>(leAt(h, central::kExtraLength, 2));
    const auto commentLength = static_cast<std::size_t>(leAt(h, central::kCommentLength, 2));
    std::uint64_t diskStart = leAt(h, central::kDiskStart, 2);
    std::uint64_t localOffset = leAt(h, central::kLocalOffset, 4);
    next = at + central::kSize + nameLength + extraLength + commentLength;
    const std::span<const std::uint8_t> nameBytes = m_reader.get(at + central::kSize, nameLength);
    if (nameBytes.size() != nameLength)
        return Step::Stop;
    const std::uint64_t nameHash = hashName(nameBytes);
    const std::span<const std::uint8_t> extra = m_reader.get(at + central::kSize + nameLength, extraLength);
    if (extra.size() != extraLength)
        return Step::Stop;
    if (diskStart == 0xFFFF)
        diskStart = kFull32;
    Zip64Fields z;
    z.fields[0] = &uncompressed;
    z.fields[1] = &compressed;
    z.fields[2] = &localOffset;
    z.fields[3] = &diskStart;
    readZip64(extra, z);
    if (m_reader.get(next - 1, 1).empty())
        return Step::Stop;

    const auto found = std::lower_bound(m_members.begin(), m_members.end(), localOffset,
                                        [](const Member& m, std::uint64_t offset) { return m.offset < offset; });
    if (found == m_members.end() || found->offset != localOffset || found->listed || found->nameHash != nameHash ||
        found->nameLength != nameLength || found->crc != crc || found->compressed != compressed ||
        found->uncompressed != uncompressed || found->method != method || diskStart != 0) {
        m_brokeAt = next;
        return Step::Broke;
    }
    found->listed = true;
    return Step::Next;
}

// The zip64 end records when present, then the end-of-central-directory record with its comment.
bool ZipParser::endRecords(std::uint64_t directoryStart, std::uint64_t directoryEnd, std::uint64_t& fileEnd)
{
    std::uint64_t at = directoryEnd;
    std::optional<std::uint64_t> sig = m_reader.le(at, 4);
    if (sig == kSignatureSig) {
        const std::optional<std::uint64_t> length = m_reader.le(at + 4, 2);
        if (!length)
            return false;
        at += 6 + *length;
        sig = m_reader.le(at, 4);
    }
    const std::uint64_t count = m_members.size();
    const std::uint64_t directorySize = directoryEnd - directoryStart;
    bool zip64 = false;
    if (sig == kZip64EndSig) {
        const std::span<const std::uint8_t> r = m_reader.get(at, 56);
        if (r.empty())
            return false;
        const std::uint64_t recordSize = leAt(r, 4, 8);
        if (recordSize < 44 || recordSize > (1 << 16) || leAt(r, 16, 4) != 0 || leAt(r, 20, 4) != 0 ||
            leAt(r, 24, 8) != count || leAt(r, 32, 8) != count || leAt(r, 40, 8) != directorySize ||
            leAt(r, 48, 8) != directoryStart)
            return false;
        const std::uint64_t record = at;
        at += 12 + recordSize;
        const std::span<const std::uint8_t> l = m_reader.get(at, 20);
        if (l.empty() || leAt(l, 0, 4) != kZip64LocatorSig || leAt(l, 4, 4) != 0 || leAt(l, 8, 8) != record ||
            leAt(l, 16, 4) > 1)
            return false;
        at += 20;
        sig = m_reader.le(at, 4);
        zip64 = true;
    }
    if (sig != kEndSig)
        return false;
    const std::span<const std::uint8_t> e = m_reader.get(at, end::kSize);
    if (e.empty())
        return false;
    const auto fits = [zip64](std::uint64_t field, std::uint64_t full, std::uint64_t actual) {
        return field == actual || (zip64 && field == full);
    };
    if (!fits(leAt(e, end::kDisk, 2), 0xFFFF, 0) || !fits(leAt(e, end::kDirectoryDisk, 2), 0xFFFF, 0) ||
        !fits(leAt(e, end::kEntriesHere, 2), 0xFFFF, count) || !fits(leAt(e, end::kEntries, 2), 0xFFFF, count) ||
        !fits(leAt(e, end::kDirectorySize, 4), kFull32, directorySize) ||
        !fits(leAt(e, end::kDirectoryOffset, 4), kFull32, directoryStart))
        return false;
    fileEnd = at + end::kSize + leAt(e, end::kCommentLength, 2);
    return !m_reader.get(fileEnd - 1, 1).empty();
}

std::string_view ZipParser::kind() const
{
    std::string_view mimetype(m_mimetype);
    while (!mimetype.empty() && (mimetype.back() == '\n' || mimetype.back() == '\r' || mimetype.back() == ' '))
        mimetype.remove_suffix(1);
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 5> kMimetypes{{
        {"application/vnd.oasis.opendocument.text", "odt"},
        {"application/vnd.oasis.opendocument.spreadsheet", "ods"},
        {"application/vnd.oasis.opendocument.presentation", "odp"},
        {"application/vnd.oasis.opendocument.graphics", "odg"},
        {"application/epub+zip", "epub"},
    }};
    for (const auto& [type, extension] : kMimetypes)
        if (mimetype == type)
            return extension;
    if (m_hasContentTypes) {
        if (m_contentTypes.find("PartName=\"/word/") != std::string::npos)
            return "docx";
        if (m_contentTypes.find("PartName=\"/xl/") != std::string::npos)
            return "xlsx";
        if (m_contentTypes.find("PartName=\"/ppt/") != std::string::npos)
            return "pptx";
    }
    if (m_hasAndroidManifest && m_hasDex)
        return "apk";
    if (m_hasManifest)
        return "jar";
    return "zip";
}

Parse ZipParser::run()
{
    std::uint64_t at = 0;
    for (;;) {
        const std::optional<std::uint64_t> sig = m_reader.le(at, 4);
        if (sig != kLocalSig)
            break;
        std::uint64_t next = 0;
        const Step step = member(at, next);
        if (step == Step::Broke)
            return cut(at, std::max(m_brokeAt, at));
        if (step == Step::Stop)
            return m_members.empty() ? cut(0, 0) : cut(at, 0);
        at = next;
        if (m_stopAfter != 0 && at > m_stopAfter)
            return cut(at, 0);
    }
    if (m_members.empty())
        return cut(0, 0);
    const std::uint64_t directoryStart = at;
    while (m_reader.le(at, 4) == kCentralSig) {
        std::uint64_t next = 0;
        const Step step = centralEntry(at, next);
        if (step == Step::Broke)
            return cut(at, m_brokeAt);
        if (step == Step::Stop)
            return cut(at, 0);
        at = next;
    }
    // Every member must be in the directory: one it leaves out is not part of this archive.
    // What stands where the next entry (or the end record) should be is the break.
    if (std::any_of(m_members.begin(), m_members.end(), [](const Member& m) { return !m.listed; }))
        return cut(directoryStart, at + 4);
    std::uint64_t fileEnd = 0;
    if (!endRecords(directoryStart, at, fileEnd))
        return cut(at, 0);
    Parse p;
    p.verdict = Verdict::Whole;
    p.size = fileEnd;
    p.goodUpTo = fileEnd;
    p.contentChecked = m_contentChecked;
    p.extension = kind();
    return p;
}

} // namespace

bool beginsZip(std::span<const std::uint8_t> head)
{
    if (head.size() < local::kSize || leAt(head, 0, 4) != kLocalSig)
        return false;
    const std::uint64_t version = leAt(head, local::kVersion, 2);
    const std::uint64_t flags = leAt(head, local::kFlags, 2);
    const std::uint64_t method = leAt(head, local::kMethod, 2);
    const std::uint64_t nameLength = leAt(head, local::kNameLength, 2);
    // Versions needed stay below 6.4 in practice; the flag bits above 13 are reserved; the methods
    // are those writers use (stored, deflate, deflate64, bzip2, LZMA, zstd, xz, PPMd, AES).
    static constexpr std::array<std::uint64_t, 10> kMethods{0, 8, 9, 12, 14, 20, 93, 95, 98, 99};
    return (version & 0xFF) <= 63 && (flags & 0xC000) == 0 && nameLength > 0 && nameLength <= 4096 &&
        std::find(kMethods.begin(), kMethods.end(), method) != kMethods.end();
}

Parse parseZip(Bytes& bytes, std::uint64_t limit, std::uint64_t stopAfter)
{
    return ZipParser(bytes, limit, stopAfter).run();
}

} // namespace orv::carve
