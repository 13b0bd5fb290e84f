#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace orv::test {

using Bytes = std::vector<std::uint8_t>;

// Builds MFT records byte by byte the way NTFS lays them out: header, update-sequence array at
// 0x30, attributes from 0x38, each 8-byte aligned, the end marker, then the update-sequence
// protection (the last two bytes of every 512-byte stride moved into the array and replaced by
// the sequence number), so a reader that skips the fixups sees wrong bytes.
class RecordBuilder
{
public:
    explicit RecordBuilder(std::size_t recordSize = 1024) : m_size(recordSize) {}

    RecordBuilder& inUse(bool value)
    {
        m_inUse = value;
        return *this;
    }
    RecordBuilder& directory(bool value)
    {
        m_directory = value;
        return *this;
    }
    RecordBuilder& number(std::uint32_t value)
    {
        m_number = value;
        return *this;
    }

    RecordBuilder& standardInformation(std::uint64_t creationFileTime);
    RecordBuilder& fileName(const std::u16string& name, std::uint64_t parent, std::uint8_t nameSpace = 1);
    RecordBuilder& residentData(const Bytes& content, const std::u16string& streamName = u"");
    RecordBuilder& nonResidentData(const Bytes& runList, std::uint64_t dataSize,
                                   const std::u16string& streamName = u"");
    // A non-resident $DATA as a segment of a longer stream, or with its own flags (0x0001
    // compressed, 0x4000 encrypted), compression unit (log2 of clusters) and valid length.
    struct Segment
    {
        std::uint64_t lowestVcn = 0;
        std::uint16_t flags = 0;
        std::uint8_t unitLog2 = 0;
        std::uint64_t validLength = ~std::uint64_t{0}; // the data size
    };
    RecordBuilder& dataSegment(const Bytes& runList, std::uint64_t dataSize, const Segment& segment);
    // A resident $ATTRIBUTE_LIST naming, for each entry, the type, first cluster and record.
    struct ListEntry
    {
        std::uint32_t type;
        std::uint64_t startVcn;
        std::uint64_t record;
    };
    RecordBuilder& attributeList(const std::vector<ListEntry>& entries);
    // Makes this an extension record of `base`.
    RecordBuilder& baseRecord(std::uint64_t base)
    {
        m_base = base;
        return *this;
    }
    RecordBuilder& indexRoot();
    // Any bytes as the next attribute, for damaged layouts.
    RecordBuilder& raw(const Bytes& attribute)
    {
        m_attributes.push_back(attribute);
        return *this;
    }
    // The four bytes after the end marker; Windows writes a length-like word, mkntfs zeros.
    RecordBuilder& afterEndMarker(std::array<std::uint8_t, 4> bytes)
    {
        m_afterEnd = bytes;
        return *this;
    }
    RecordBuilder& noEndMarker()
    {
        m_endMarker = false;
        return *this;
    }

    // The record as it lies on the disk (protected) or already fixed up.
    Bytes build(bool protect = true) const;

private:
    std::size_t m_size;
    bool m_inUse = true;
    bool m_directory = false;
    std::uint32_t m_number = 0;
    std::uint64_t m_base = 0;
    bool m_endMarker = true;
    std::array<std::uint8_t, 4> m_afterEnd{0x82, 0x79, 0x47, 0x11};
    std::vector<Bytes> m_attributes;
};

// Little-endian stores into a byte vector.
void put16(Bytes& bytes, std::size_t at, std::uint64_t value);
void put32(Bytes& bytes, std::size_t at, std::uint64_t value);
void put64(Bytes& bytes, std::size_t at, std::uint64_t value);

// A small NTFS volume in memory: a boot sector and $MFT records placed through the $MFT's own run
// list, so geometry and extent readers work on it as on a disk.
struct VolumeLayout
{
    std::size_t bytesPerSector = 512;
    std::uint8_t sectorsPerClusterByte = 8;
    std::uint64_t totalSectors = 0; // 0: the image's own size
    std::uint64_t mftCluster = 4;
    std::size_t recordSize = 1024;
    std::size_t clusters = 64; // image size in clusters
    Bytes mftRunList = {0x11, 0x08, 0x04, 0x00}; // record 0's $DATA runs: 8 clusters at cluster 4
    std::map<std::int64_t, Bytes> records; // record number -> bytes (record 0 is made unless given)
};

Bytes buildVolume(const VolumeLayout& layout);

} // namespace orv::test
