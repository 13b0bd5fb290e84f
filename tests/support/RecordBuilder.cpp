#include "tests/support/RecordBuilder.h"

#include <algorithm>
#include <stdexcept>

#include "ntfs/DataRuns.h"

namespace orv::test {

void put16(Bytes& bytes, std::size_t at, std::uint64_t value)
{
    for (std::size_t i = 0; i < 2; ++i)
        bytes.at(at + i) = static_cast<std::uint8_t>(value >> (8 * i));
}
void put32(Bytes& bytes, std::size_t at, std::uint64_t value)
{
    for (std::size_t i = 0; i < 4; ++i)
        bytes.at(at + i) = static_cast<std::uint8_t>(value >> (8 * i));
}
void put64(Bytes& bytes, std::size_t at, std::uint64_t value)
{
    for (std::size_t i = 0; i < 8; ++i)
        bytes.at(at + i) = static_cast<std::uint8_t>(value >> (8 * i));
}

namespace {

std::size_t align8(std::size_t n)
{
    return (n + 7) & ~std::size_t{7};
}

void putName(Bytes& bytes, std::size_t at, const std::u16string& name)
{
    for (std::size_t i = 0; i < name.size(); ++i)
        put16(bytes, at + 2 * i, name[i]);
}

Bytes resident(std::uint32_t type, const Bytes& content, const std::u16string& name = u"")
{
    const std::size_t nameOffset = 0x18;
    const std::size_t contentOffset = align8(nameOffset + 2 * name.size());
    Bytes a(align8(contentOffset + content.size()), 0);
    put32(a, 0x00, type);
    put32(a, 0x04, a.size());
    a[0x08] = 0;
    a[0x09] = static_cast<std::uint8_t>(name.size());
    put16(a, 0x0A, nameOffset);
    put32(a, 0x10, content.size());
    put16(a, 0x14, contentOffset);
    putName(a, nameOffset, name);
    std::copy(content.begin(), content.end(), a.begin() + static_cast<std::ptrdiff_t>(contentOffset));
    return a;
}

} // namespace

RecordBuilder& RecordBuilder::standardInformation(std::uint64_t creationFileTime)
{
    Bytes content(72, 0);
    for (std::size_t i = 0; i < 4; ++i)
        put64(content, 8 * i, creationFileTime);
    m_attributes.push_back(resident(0x10, content));
    return *this;
}

RecordBuilder& RecordBuilder::fileName(const std::u16string& name, std::uint64_t parent, std::uint8_t nameSpace)
{
    Bytes content(0x42 + 2 * name.size(), 0);
    put64(content, 0x00, parent | (std::uint64_t{1} << 48)); // sequence number 1 above the 48 bits
    content[0x40] = static_cast<std::uint8_t>(name.size());
    content[0x41] = nameSpace;
    putName(content, 0x42, name);
    m_attributes.push_back(resident(0x30, content));
    return *this;
}

RecordBuilder& RecordBuilder::residentData(const Bytes& content, const std::u16string& streamName)
{
    m_attributes.push_back(resident(0x80, content, streamName));
    return *this;
}

RecordBuilder& RecordBuilder::nonResidentData(const Bytes& runList, std::uint64_t dataSize,
                                              const std::u16string& streamName)
{
    const std::size_t nameOffset = 0x40;
    const std::size_t runsOffset = align8(nameOffset + 2 * streamName.size());
    Bytes a(align8(runsOffset + runList.size() + 1), 0);
    put32(a, 0x00, 0x80);
    put32(a, 0x04, a.size());
    a[0x08] = 1;
    a[0x09] = static_cast<std::uint8_t>(streamName.size());
    put16(a, 0x0A, nameOffset);
    put16(a, 0x20, runsOffset);
    put64(a, 0x28, dataSize);
    put64(a, 0x30, dataSize);
    put64(a, 0x38, dataSize);
    putName(a, nameOffset, streamName);
    std::copy(runList.begin(), runList.end(), a.begin() + static_cast<std::ptrdiff_t>(runsOffset));
    m_attributes.push_back(a);
    return *this;
}

RecordBuilder& RecordBuilder::dataSegment(const Bytes& runList, std::uint64_t dataSize, const Segment& segment)
{
    nonResidentData(runList, dataSize);
    Bytes& a = m_attributes.back();
    put16(a, 0x0C, segment.flags);
    put64(a, 0x10, segment.lowestVcn);
    a[0x22] = segment.unitLog2;
    put64(a, 0x38, std::min(segment.validLength, dataSize));
    return *this;
}

RecordBuilder& RecordBuilder::attributeList(const std::vector<ListEntry>& entries)
{
    Bytes content;
    for (const ListEntry& entry : entries) {
        Bytes e(0x20, 0);
        put32(e, 0x00, entry.type);
        put16(e, 0x04, e.size());
        e[0x07] = 0x1A;
        put64(e, 0x08, entry.startVcn);
        put64(e, 0x10, entry.record | (std::uint64_t{1} << 48));
        content.insert(content.end(), e.begin(), e.end());
    }
    m_attributes.push_back(resident(0x20, content));
    return *this;
}

RecordBuilder& RecordBuilder::indexRoot()
{
    m_attributes.push_back(resident(0x90, Bytes(48, 0), u"$I30"));
    return *this;
}

Bytes RecordBuilder::build(bool protect) const
{
    Bytes r(m_size, 0);
    const std::size_t usaCount = m_size / 512 + 1;
    const std::size_t usaOffset = 0x30;
    const std::size_t firstAttribute = align8(usaOffset + 2 * usaCount);
    r[0] = 'F';
    r[1] = 'I';
    r[2] = 'L';
    r[3] = 'E';
    put16(r, 0x04, usaOffset);
    put16(r, 0x06, usaCount);
    put16(r, 0x10, 1);
    put16(r, 0x14, firstAttribute);
    put16(r, 0x16, (m_inUse ? 1 : 0) | (m_directory ? 2 : 0));
    put32(r, 0x1C, m_size);
    put32(r, 0x2C, m_number);
    put64(r, 0x20, m_base ? m_base | (std::uint64_t{1} << 48) : 0);

    std::size_t pos = firstAttribute;
    for (const Bytes& a : m_attributes) {
        if (pos + a.size() > m_size)
            throw std::length_error("attributes do not fit in the record");
        std::copy(a.begin(), a.end(), r.begin() + static_cast<std::ptrdiff_t>(pos));
        pos += a.size();
    }
    if (m_endMarker && pos + 8 <= m_size) {
        put32(r, pos, 0xFFFFFFFF);
        std::copy(m_afterEnd.begin(), m_afterEnd.end(), r.begin() + static_cast<std::ptrdiff_t>(pos + 4));
        pos += 8;
    }
    put32(r, 0x18, pos);

    // The array always holds the true stride-end bytes, so fixing up an unprotected record
    // changes nothing.
    const std::uint16_t sequence = 0x0007;
    put16(r, usaOffset, sequence);
    for (std::size_t i = 1; i < usaCount; ++i) {
        const std::size_t end = 512 * i;
        r[usaOffset + 2 * i] = r[end - 2];
        r[usaOffset + 2 * i + 1] = r[end - 1];
        if (protect)
            put16(r, end - 2, sequence);
    }
    return r;
}

Bytes buildVolume(const VolumeLayout& layout)
{
    const std::size_t sectorsPerCluster = layout.sectorsPerClusterByte == 0 ? 8 : layout.sectorsPerClusterByte;
    const std::size_t clusterSize = sectorsPerCluster * layout.bytesPerSector;
    Bytes image(layout.clusters * clusterSize, 0);

    Bytes& boot = image;
    boot[0] = 0xEB;
    boot[1] = 0x52;
    boot[2] = 0x90;
    std::copy_n("NTFS    ", 8, boot.begin() + 3);
    put16(boot, 0x0B, layout.bytesPerSector);
    boot[0x0D] = layout.sectorsPerClusterByte;
    put64(boot, 0x28, layout.totalSectors ? layout.totalSectors : image.size() / layout.bytesPerSector - 1);
    put64(boot, 0x30, layout.mftCluster);
    boot[510] = 0x55;
    boot[511] = 0xAA;

    std::vector<DataRun> extents;
    decodeDataRuns(LeReader(layout.mftRunList), 0, [&](DataRun run) { extents.push_back(run); });

    std::map<std::int64_t, Bytes> records = layout.records;
    if (!records.count(0))
        records[0] = RecordBuilder(layout.recordSize)
                         .standardInformation(0)
                         .fileName(u"$MFT", 5)
                         .nonResidentData(layout.mftRunList, 64 * layout.recordSize)
                         .build();

    // Lay each record down byte by byte through the extents, as the $MFT's data continues
    // from one extent to the next.
    for (const auto& [number, bytes] : records) {
        std::size_t fileOffset = static_cast<std::size_t>(number) * layout.recordSize;
        for (std::size_t i = 0; i < bytes.size(); ++i, ++fileOffset) {
            std::size_t skipped = 0;
            for (const DataRun& extent : extents) {
                // An extent may claim more than the image holds; what lies past its end is not laid.
                const std::size_t extentBytes =
                    std::min(static_cast<std::size_t>(extent.length), layout.clusters) * clusterSize;
                if (fileOffset < skipped + extentBytes) {
                    const std::size_t at = static_cast<std::size_t>(extent.start) * clusterSize + fileOffset - skipped;
                    image.at(at) = bytes[i];
                    break;
                }
                skipped += extentBytes;
            }
        }
    }
    return image;
}

} // namespace orv::test
