#include "ntfs/MftRecord.h"

#include <algorithm>
#include <limits>

#include "ntfs/AttributeCursor.h"
#include "ntfs/BootSector.h"
#include "volume/LeReader.h"
#include "volume/SectorIo.h"

namespace orv {

void ApplyRecordFixups(std::span<std::uint8_t> record)
{
    const LeReader r(record);
    const auto usaOffset = r.u16(mft::kUsaOffset);
    const auto usaCount = r.u16(mft::kUsaCount);
    if (!usaOffset || !usaCount)
        return;
    // An array that reaches the first protected word would be rewritten by its own repair, and
    // a record repaired twice would then differ from one repaired once; no sound record has that.
    if (*usaOffset + 2 * std::size_t{*usaCount} > mft::kFixupStride - 2)
        return;
    for (std::size_t i = 1; i < *usaCount; ++i) {
        const std::size_t strideEnd = mft::kFixupStride * i;
        const std::size_t from = *usaOffset + 2 * i;
        if (strideEnd > record.size() || !r.has(from, 2))
            break;
        record[strideEnd - 2] = record[from];
        record[strideEnd - 1] = record[from + 1];
    }
}

bool isSoundRecord(std::span<const std::uint8_t> bytes, std::size_t recordSize)
{
    if (recordSize < mft::kFixupStride || recordSize % mft::kFixupStride != 0 || bytes.size() < recordSize ||
        !mft::startsLikeRecord(bytes, 4))
        return false;
    const LeReader r(bytes.first(recordSize));
    const std::size_t usaOffset = *r.u16(mft::kUsaOffset);
    const std::size_t usaCount = *r.u16(mft::kUsaCount);
    const std::size_t firstAttribute = *r.u16(mft::kFirstAttribute);
    const std::size_t used = *r.u32(0x18);
    const std::size_t allocated = *r.u32(0x1C);
    if (usaOffset < 0x28 || usaOffset % 2 != 0 || usaCount != recordSize / mft::kFixupStride + 1 ||
        usaOffset + 2 * usaCount > firstAttribute || firstAttribute % 8 != 0 || firstAttribute + 4 > recordSize ||
        used > recordSize || used < firstAttribute + 4 || allocated != recordSize)
        return false;
    const std::uint16_t sequence = *r.u16(usaOffset);
    for (std::size_t i = 1; i < usaCount; ++i)
        if (*r.u16(i * mft::kFixupStride - 2) != sequence)
            return false;
    return true;
}

std::optional<AttributeSurvey> SurveyAttributes(std::span<const std::uint8_t> record)
{
    const LeReader r(record);
    AttributeSurvey found;
    AttributeCursor cursor(record);
    while (const auto a = cursor.next()) {
        switch (a->typeByte()) {
        case attr::kStandardInformation: found.StandardInformation = a->position; break;
        case attr::kFileName: found.FileName = a->position; break;
        case attr::kIndexRoot: found.IndexRoot = a->position; break;
        case attr::kIndexAllocation: found.IndexAllocation = a->position; break;
        case attr::kData:
            if (r.u8(a->position + attr::kNameLength) == std::uint8_t{0})
                found.Data = a->position;
            break;
        default: break;
        }
        // Attributes are stored in type order: nothing the survey notes can follow these.
        if (a->typeByte() > attr::kIndexAllocation)
            return found;
    }
    if (cursor.state() == AttributeCursor::State::Damaged)
        return std::nullopt;
    return found;
}

std::optional<std::u16string> readFileName(std::span<const std::uint8_t> record, std::size_t position)
{
    const LeReader r(record);
    const auto count = r.u8(position + content::kNameLength);
    if (!count)
        return std::nullopt;
    const auto bytes = r.slice(position + content::kName, 2 * std::size_t{*count});
    if (!bytes)
        return std::nullopt;
    std::u16string name(*count, u'\0');
    for (std::size_t i = 0; i < name.size(); ++i)
        name[i] = static_cast<char16_t>((*bytes)[2 * i] | ((*bytes)[2 * i + 1] << 8));
    return name;
}

std::optional<std::int64_t> readParentRecord(std::span<const std::uint8_t> record, std::size_t position)
{
    const auto parent = LeReader(record).uint(position + content::kParent, 6);
    if (!parent)
        return std::nullopt;
    return static_cast<std::int64_t>(*parent);
}

std::optional<std::uint64_t> readCreationTime(std::span<const std::uint8_t> record, std::size_t position)
{
    return LeReader(record).u64(position + content::kCreationTime);
}

std::optional<LocalDateTime> readCreationDateTime(std::span<const std::uint8_t> record, std::size_t position)
{
    const auto fileTime = readCreationTime(record, position);
    if (!fileTime)
        return std::nullopt;
    return fileTimeToLocal(*fileTime);
}

namespace {

// Bytes of an attribute list read from its own clusters; real lists are a few kilobytes even for
// very fragmented files.
constexpr std::uint64_t kLongestAttributeList = 4 * 1024 * 1024;

std::uint64_t low48(std::uint64_t reference)
{
    return reference & 0xFFFF'FFFF'FFFFull;
}

bool isUnnamedData(const LeReader& r, const AttributeHeader& a)
{
    return a.type == attr::kData && r.u8(a.position + attr::kNameLength) == std::uint8_t{0};
}

// The name of a $DATA attribute (empty for the unnamed stream); nothing when it does not fit.
std::optional<std::u16string> dataStreamName(const LeReader& r, const AttributeHeader& a)
{
    const auto length = r.u8(a.position + attr::kNameLength);
    const auto offset = r.u16(a.position + 0x0A);
    if (!length || !offset || *offset + 2u * *length > a.length)
        return std::nullopt;
    std::u16string name;
    for (std::size_t i = 0; i < *length; ++i) {
        const auto c = r.u16(a.position + *offset + 2 * i);
        if (!c)
            return std::nullopt;
        name.push_back(static_cast<char16_t>(*c));
    }
    return name;
}

// Whether the attribute is the $DATA a decode is after: the unnamed stream, or the one named `stream`.
bool isWantedData(const LeReader& r, const AttributeHeader& a, const std::u16string* stream)
{
    if (!stream)
        return isUnnamedData(r, a);
    if (a.type != attr::kData)
        return false;
    const auto name = dataStreamName(r, a);
    return name && !name->empty() && *name == *stream;
}

// The extension record `number` of base record `base`, read from MftBuffer and fixed up in `out`;
// false when it is not there or names another base.
bool extensionRecord(VolumeContext& ctx, std::uint64_t number, std::uint64_t base, std::int64_t nearOffset,
                     std::vector<std::uint8_t>& out)
{
    const std::int64_t size = ctx.MftRecordSize;
    const auto fits = [&](std::int64_t offset) {
        out.resize(static_cast<std::size_t>(std::max<std::int64_t>(size, 0)));
        if (size <= 0 || !ctx.MftBuffer.read(offset, out) || !mft::startsLikeRecord(out))
            return false;
        ApplyRecordFixups(out);
        const auto owner = LeReader(out).u64(mft::kBaseRecord);
        return owner && low48(*owner) == base;
    };
    if (ctx.MftBufferByNumber) {
        if (size <= 0 || number > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max() / size))
            return false;
        return fits(static_cast<std::int64_t>(number) * size);
    }
    // Of several records of that number (file systems before a format), the one nearest the base.
    if (number > std::numeric_limits<std::uint32_t>::max())
        return false;
    const auto key = static_cast<std::uint32_t>(number);
    auto [from, to] =
        std::equal_range(ctx.RecordIndex.begin(), ctx.RecordIndex.end(), VolumeContext::IndexedRecord{key, 0},
                         [](const auto& x, const auto& y) { return x.number < y.number; });
    std::int64_t best = -1;
    std::uint64_t bestDistance = std::numeric_limits<std::uint64_t>::max();
    for (auto it = from; it != to; ++it) {
        const std::int64_t offset = std::int64_t{it->slot} * size;
        const std::uint64_t distance = offset > nearOffset ? static_cast<std::uint64_t>(offset - nearOffset)
                                                           : static_cast<std::uint64_t>(nearOffset - offset);
        if (distance >= bestDistance)
            continue;
        if (fits(offset)) {
            best = offset;
            bestDistance = distance;
        }
    }
    return best >= 0 && fits(best);
}

// The content of an $ATTRIBUTE_LIST: its resident bytes, or its clusters read from the volume.
bool attributeListBytes(VolumeContext* ctx, std::span<const std::uint8_t> attribute, std::vector<std::uint8_t>& out)
{
    const LeReader a(attribute);
    const auto nonResident = a.u8(attr::kNonResident);
    if (!nonResident)
        return false;
    if (*nonResident == 0) {
        const auto length = a.u32(attr::kContentLength);
        const auto offset = a.u16(attr::kContentOffset);
        const auto bytes = length && offset ? a.slice(*offset, *length) : std::nullopt;
        if (!bytes)
            return false;
        out.assign(bytes->begin(), bytes->end());
        return true;
    }
    const auto size = a.u64(attr::kDataSize);
    const auto runsOffset = a.u16(attr::kRunListOffset);
    // A bare $MFT file holds none of the clusters a list's runs name.
    if (!ctx || !size || !runsOffset || *size > kLongestAttributeList || ctx->BytesPerCluster <= 0 ||
        ctx->FileSystemCode == FileSystemKind::MftFile)
        return false;
    out.assign(static_cast<std::size_t>(*size), 0);
    std::size_t filled = 0;
    bool whole = true;
    std::vector<std::uint8_t> cluster(static_cast<std::size_t>(ctx->BytesPerCluster));
    decodeDataRuns(a, *runsOffset, [&](DataRun run) {
        for (std::int64_t i = 0; i < run.length && filled < out.size(); ++i) {
            const std::int64_t sector = run.hole ? -1 : ClusterToSector(*ctx, run.start + i);
            if (sector < 0 || !ReadSectors(*ctx, static_cast<std::uint64_t>(sector), cluster))
                whole = false;
            const std::size_t take = std::min(cluster.size(), out.size() - filled);
            std::copy_n(cluster.begin(), take, out.begin() + static_cast<std::ptrdiff_t>(filled));
            filled += take;
        }
    });
    return whole && filled == out.size();
}

} // namespace

std::optional<std::vector<std::uint64_t>>
recordsInAttributeList(VolumeContext* ctx, std::span<const std::uint8_t> attribute, std::uint64_t base)
{
    std::vector<std::uint8_t> entries;
    if (!attributeListBytes(ctx, attribute, entries)) {
        if (!ctx || ctx->ExtensionsByBase.empty())
            return std::nullopt;
        // A list kept in clusters that are not there (a bare $MFT file): the records that name
        // this one as their base.
        std::vector<std::uint64_t> others;
        auto at = std::lower_bound(ctx->ExtensionsByBase.begin(), ctx->ExtensionsByBase.end(),
                                   std::pair<std::uint64_t, std::uint64_t>(base, 0));
        for (; at != ctx->ExtensionsByBase.end() && at->first == base; ++at)
            others.push_back(at->second);
        return others;
    }
    std::vector<std::uint64_t> others;
    const LeReader r(entries);
    for (std::size_t at = 0; r.has(at, listEntry::kMinimum);) {
        const auto length = *r.u16(at + listEntry::kLength);
        const std::uint64_t number = low48(*r.u64(at + listEntry::kRecord));
        if (number != base && (others.empty() || others.back() != number) &&
            std::find(others.begin(), others.end(), number) == others.end())
            others.push_back(number);
        if (length < listEntry::kMinimum)
            break; // a damaged entry: the ones before it stand
        at += length;
    }
    return others;
}

std::vector<FileNameEntry> longNames(const std::vector<FileNameEntry>& names)
{
    std::vector<FileNameEntry> chosen;
    for (const bool dos : {false, true}) {
        for (const FileNameEntry& entry : names)
            if ((entry.nameSpace == content::kDosNameSpace) == dos &&
                std::find(chosen.begin(), chosen.end(), entry) == chosen.end() &&
                std::none_of(chosen.begin(), chosen.end(),
                             [&](const FileNameEntry& c) { return c.name == entry.name && c.parent == entry.parent; }))
                chosen.push_back(entry);
        if (!chosen.empty())
            break;
    }
    return chosen;
}

std::int64_t recordNumberAt(const VolumeContext* ctx, std::span<const std::uint8_t> record, std::int64_t recordOffset)
{
    if (ctx && ctx->MftBufferByNumber && ctx->MftRecordSize > 0 && recordOffset >= 0)
        return recordOffset / ctx->MftRecordSize;
    return static_cast<std::int64_t>(LeReader(record).u32(mft::kRecordNumber).value_or(0));
}

bool walkFileAttributes(VolumeContext* ctx, std::span<std::uint8_t> record, std::int64_t recordOffset,
                        const std::function<void(std::span<const std::uint8_t>, const AttributeHeader&)>& visit,
                        bool& incomplete)
{
    std::optional<AttributeHeader> list;
    AttributeCursor cursor(record);
    while (const auto a = cursor.next()) {
        if (a->type == attr::kAttributeList && !list)
            list = a;
        visit(record, *a);
    }
    if (cursor.state() == AttributeCursor::State::Damaged)
        return false;
    if (!list)
        return true;

    const auto listBytes = cursor.bytes(*list);
    const auto base = static_cast<std::uint64_t>(recordNumberAt(ctx, record, recordOffset));
    const auto listed = listBytes ? recordsInAttributeList(ctx, *listBytes, base) : std::nullopt;
    if (!listed) {
        incomplete = true;
        return true;
    }
    const std::vector<std::uint64_t>& others = *listed;
    std::vector<std::uint8_t> extension;
    for (const std::uint64_t number : others) {
        if (!ctx || !extensionRecord(*ctx, number, base, recordOffset, extension)) {
            incomplete = true;
            continue;
        }
        AttributeCursor inner(extension);
        while (const auto a = inner.next())
            if (a->type != attr::kAttributeList)
                visit(extension, *a);
        if (inner.state() == AttributeCursor::State::Damaged)
            incomplete = true;
    }
    return true;
}

std::optional<RecordParts> readRecordParts(VolumeContext* ctx, std::span<std::uint8_t> record,
                                           std::int64_t recordOffset)
{
    RecordParts parts;
    bool incomplete = false;
    const bool walked = walkFileAttributes(
        ctx, record, recordOffset,
        [&](std::span<const std::uint8_t> bytes, const AttributeHeader& a) {
            const LeReader r(bytes);
            switch (a.type) {
            case attr::kStandardInformation:
                if (!parts.creationTime)
                    parts.creationTime = readCreationTime(bytes, a.position);
                break;
            case attr::kFileName: {
                auto name = readFileName(bytes, a.position);
                const auto parent = readParentRecord(bytes, a.position);
                const auto nameSpace = r.u8(a.position + content::kNameSpace);
                if (!name || !parent || !nameSpace)
                    parts.damaged = true;
                else
                    parts.names.push_back({std::move(*name), *parent, *nameSpace});
                break;
            }
            case attr::kIndexRoot:
            case attr::kIndexAllocation: parts.directory = true; break;
            case attr::kData: {
                if (!isUnnamedData(r, a))
                    break;
                const auto nonResident = r.u8(a.position + attr::kNonResident);
                if (!nonResident) {
                    parts.damaged = true;
                    break;
                }
                // The sizes are kept in the stream's first segment only.
                if (*nonResident != 0 && r.u64(a.position + attr::kLowestVcn).value_or(1) != 0)
                    break;
                const auto size = *nonResident == 0 ? r.uint(a.position + attr::kContentLength, 4)
                                                    : r.u64(a.position + attr::kDataSize);
                if (!size) {
                    parts.damaged = true;
                    break;
                }
                if (!parts.hasData) {
                    parts.hasData = true;
                    parts.dataResident = *nonResident == 0;
                    parts.dataSize = static_cast<std::int64_t>(std::min<std::uint64_t>(
                        *size, static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())));
                }
                break;
            }
            default: break;
            }
        },
        incomplete);
    // The scans reject records whose layout is broken before they ask; what came before a
    // damaged attribute further on stands.
    (void)walked;
    return parts;
}

RecordStatus decodeRecord(std::span<std::uint8_t> record, TMFTFile& file, VolumeContext* ctx, std::int64_t recordOffset,
                          const std::u16string* stream)
{
    file.ClusterList.clear();
    file.Resident = false;
    file.ResidentLength = 0;
    file.ResidentBuf.clear(); // never another file's bytes
    file.FSize = 0;
    file.ValidLength = 0;
    file.CompressionUnit = 0;
    file.UndecodableCompressionUnit = -1;
    file.Encrypted = false;
    file.Incomplete = false;
    file.BytesPerCluster = 0;
    file.ClusterOrigin = 0;

    ApplyRecordFixups(record);

    struct Segment
    {
        std::uint64_t lowestVcn;
        std::vector<DataRun> runs;
    };
    std::vector<Segment> segments;
    bool corrupt = false;
    bool firstSeen = false;
    bool incomplete = false;
    const bool walked = walkFileAttributes(
        ctx, record, recordOffset,
        [&](std::span<const std::uint8_t> bytes, const AttributeHeader& a) {
            const LeReader r(bytes);
            if (a.type == attr::kLoggedUtilityStream) {
                // An encrypted file keeps its keys in a stream named $EFS.
                const auto nameLength = r.u8(a.position + attr::kNameLength);
                const auto nameOffset = r.u16(a.position + 0x0A);
                if (nameLength == std::uint8_t{4} && nameOffset) {
                    if (const auto name = r.slice(a.position + *nameOffset, 8)) {
                        const std::uint8_t efs[] = {'$', 0, 'E', 0, 'F', 0, 'S', 0};
                        if (std::equal(name->begin(), name->end(), std::begin(efs)))
                            file.Encrypted = true;
                    }
                }
                return;
            }
            if (!isWantedData(r, a, stream) || corrupt)
                return;
            const auto attribute = r.slice(a.position, a.length);
            if (!attribute) {
                corrupt = true;
                return;
            }
            const LeReader d(*attribute);
            const auto nonResident = d.u8(attr::kNonResident);
            if (!nonResident) {
                corrupt = true;
                return;
            }
            if (*nonResident == 0) {
                if (firstSeen)
                    return; // one stream is resident or not, never both
                const auto contentLength = d.u32(attr::kContentLength);
                const auto contentOffset = d.u16(attr::kContentOffset);
                const auto content =
                    contentLength && contentOffset ? d.slice(*contentOffset, *contentLength) : std::nullopt;
                if (!content) {
                    corrupt = true;
                    return;
                }
                firstSeen = true;
                file.Resident = true;
                file.ResidentLength = static_cast<std::int64_t>(content->size());
                file.FSize = file.ResidentLength;
                file.ValidLength = file.FSize;
                file.ResidentBuf.assign(content->begin(), content->end());
                return;
            }
            const auto lowestVcn = d.u64(attr::kLowestVcn);
            const auto runsOffset = d.u16(attr::kRunListOffset);
            if (!lowestVcn || !runsOffset) {
                corrupt = true;
                return;
            }
            if (*lowestVcn == 0) {
                if (firstSeen)
                    return;
                const auto dataSize = d.u64(attr::kDataSize);
                const auto validSize = d.u64(attr::kInitializedSize);
                const auto flags = d.u16(attr::kFlags);
                const auto unit = d.u8(attr::kCompressionUnit);
                constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
                if (!dataSize || *dataSize > kMax || !flags || !unit) {
                    corrupt = true;
                    return;
                }
                firstSeen = true;
                file.FSize = static_cast<std::int64_t>(*dataSize);
                file.ValidLength = validSize ? static_cast<std::int64_t>(std::min(*validSize, *dataSize)) : file.FSize;
                // Another unit size would be decoded into wrong bytes (or, unit 0, handed over as
                // the raw LZNT1 stream), so it is kept apart and the file reported as damaged.
                if ((*flags & attr::kFlagCompressed) && *unit == attr::kWindowsCompressionUnit)
                    file.CompressionUnit = std::int64_t{1} << *unit;
                else if (*flags & attr::kFlagCompressed)
                    file.UndecodableCompressionUnit = *unit;
                if (*flags & attr::kFlagEncrypted)
                    file.Encrypted = true;
            }
            Segment segment{*lowestVcn, {}};
            decodeDataRuns(d, *runsOffset, [&](DataRun run) { segment.runs.push_back(run); });
            segments.push_back(std::move(segment));
        },
        incomplete);

    (void)walked; // what was met before a damaged attribute stands, as it always has
    if (corrupt) {
        file.ClusterList.clear();
        file.Resident = false;
        file.ResidentLength = 0;
        file.ResidentBuf.clear();
        file.FSize = 0;
        file.ValidLength = 0;
        file.CompressionUnit = 0;
        file.UndecodableCompressionUnit = -1;
        file.Encrypted = false;
        return RecordStatus::Corrupt;
    }
    if (file.Resident)
        return RecordStatus::Ok;

    // The segments in stream order; a gap between them is a lost part of the file, an overlap a
    // lie of one of them.
    std::stable_sort(segments.begin(), segments.end(),
                     [](const Segment& x, const Segment& y) { return x.lowestVcn < y.lowestVcn; });
    std::uint64_t next = 0;
    for (const Segment& segment : segments) {
        if (segment.lowestVcn < next) {
            incomplete = true;
            continue;
        }
        if (segment.lowestVcn > next) {
            incomplete = true;
            const std::uint64_t gap = segment.lowestVcn - next;
            file.ClusterList.push_back(
                {kLostClusters,
                 static_cast<std::int64_t>(std::min<std::uint64_t>(gap, std::numeric_limits<std::int64_t>::max())),
                 false});
            next = segment.lowestVcn;
        }
        for (const DataRun& run : segment.runs) {
            file.ClusterList.push_back(run);
            if (__builtin_add_overflow(next, static_cast<std::uint64_t>(run.length), &next))
                next = std::numeric_limits<std::uint64_t>::max();
        }
    }
    file.Incomplete = incomplete;
    return RecordStatus::Ok;
}

RecordStatus DecodeRecordNTFS(VolumeContext& ctx, std::size_t recordOffset, TMFTFile& file)
{
    const std::size_t size = ctx.MftRecordSize > 0 ? static_cast<std::size_t>(ctx.MftRecordSize) : 0;
    if (size == 0 || recordOffset > ctx.MftBuffer.size() || size > ctx.MftBuffer.size() - recordOffset)
        return RecordStatus::NotARecord;
    // Decoded in a copy of its own: the fixups never touch the view every reader shares.
    std::vector<std::uint8_t> record(size);
    ctx.MftBuffer.readAlone(static_cast<std::int64_t>(recordOffset), record);
    return decodeRecordOfView(ctx, record, static_cast<std::int64_t>(recordOffset), file);
}

std::vector<NamedStream> namedStreams(VolumeContext* ctx, std::span<std::uint8_t> record, std::int64_t recordOffset)
{
    std::vector<NamedStream> streams;
    bool incomplete = false;
    walkFileAttributes(
        ctx, record, recordOffset,
        [&](std::span<const std::uint8_t> bytes, const AttributeHeader& a) {
            const LeReader r(bytes);
            if (a.type != attr::kData)
                return;
            const auto name = dataStreamName(r, a);
            if (!name || name->empty())
                return;
            const auto attribute = r.slice(a.position, a.length);
            if (!attribute)
                return;
            const LeReader d(*attribute);
            const auto nonResident = d.u8(attr::kNonResident);
            std::optional<std::uint64_t> size;
            if (nonResident == std::uint8_t{0})
                size = d.u32(attr::kContentLength);
            else if (nonResident && d.u64(attr::kLowestVcn) == std::uint64_t{0})
                size = d.u64(attr::kDataSize);
            if (!size || *size > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
                return; // a later segment of a stream, or one whose size cannot be read
            if (std::none_of(streams.begin(), streams.end(), [&](const NamedStream& s) { return s.name == *name; }))
                streams.push_back({*name, static_cast<std::int64_t>(*size), nonResident == std::uint8_t{0}});
        },
        incomplete);
    return streams;
}

bool mayHoldNamedStreams(std::span<const std::uint8_t> record)
{
    AttributeCursor cursor(record);
    const LeReader r(record);
    while (const auto header = cursor.next()) {
        if (header->typeByte() == attr::kAttributeList)
            return true;
        if (header->typeByte() == attr::kData && r.u8(header->position + attr::kNameLength).value_or(1) != 0)
            return true;
    }
    return cursor.state() != AttributeCursor::State::EndMarker;
}

RecordStatus decodeRecordOfView(VolumeContext& ctx, std::span<std::uint8_t> record, std::int64_t recordOffset,
                                TMFTFile& file, const std::u16string* stream)
{
    const RecordStatus status = decodeRecord(record, file, &ctx, recordOffset, stream);
    // An earlier file system's record counts its clusters in that file system's size.
    if (const auto earlier = earlierClusterSize(ctx, recordOffset); earlier && *earlier > 0)
        file.BytesPerCluster = *earlier;
    file.ClusterOrigin = earlierOrigin(ctx, recordOffset);
    return status;
}

} // namespace orv
