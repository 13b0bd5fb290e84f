#include <gtest/gtest.h>

#include "ntfs/BootSector.h"
#include "ntfs/MftExtents.h"
#include "ntfs/MftRecord.h"
#include "tests/support/Devices.h"
#include "tests/support/RecordBuilder.h"

namespace orv {
namespace {

using test::Bytes;
using test::MemoryDevice;
using test::RecordBuilder;
using test::VolumeLayout;

VolumeContext contextFor(Bytes image, std::size_t deviceSectorSize = 1)
{
    VolumeContext ctx;
    ctx.Drive = "E:";
    ctx.Device = std::make_shared<MemoryDevice>(std::move(image), deviceSectorSize);
    return ctx;
}

Bytes bootOnly(std::uint16_t bytesPerSector, std::uint8_t sectorsPerClusterByte, std::uint64_t totalSectors,
               std::uint64_t mftCluster)
{
    Bytes image(4096, 0);
    test::put16(image, 0x0B, bytesPerSector);
    image[0x0D] = sectorsPerClusterByte;
    test::put64(image, 0x28, totalSectors);
    test::put64(image, 0x30, mftCluster);
    return image;
}

TEST(ReadBootSectorNTFS, ReadsTheGeometryWhole)
{
    struct Case
    {
        const char* what;
        std::uint16_t bytesPerSector;
        std::uint8_t clusterByte;
        std::uint64_t totalSectors;
        std::uint64_t mftCluster;
        std::int64_t sectorsPerCluster, bytesPerCluster, totalClusters;
    };
    const Case cases[] = {
        {"cluster byte 0 means 8", 512, 0, 1'000'000, 4, 8, 4096, 125'000},
        {"128 sectors: 64 KiB clusters", 512, 0x80, 1'000'000, 4, 128, 65536, 7812},
        // Windows writes clusters of 128 KiB and more as a power of two: 0xF8 is 2^8 sectors.
        {"0xF8 is 256 sectors", 512, 0xF8, 1'000'000, 4, 256, 131072, 3906},
        {"0xF4 is 4096 sectors: 2 MiB clusters", 512, 0xF4, 1'000'000, 4, 4096, 2 * 1024 * 1024, 244},
        {"4096-byte sectors", 4096, 1, 1'000'000, 4, 1, 4096, 1'000'000},
        // The true 64-bit values: 2^31 sectors is a 1 TiB volume, not a negative number, and
        // 0x1_2345_6789 sectors keep all their digits.
        {"2^31 sectors", 512, 8, 0x8000'0000ull, 4, 8, 4096, 268'435'456},
        {"sector count above 32 bits", 512, 8, 0x1'2345'6789ull, 4, 8, 4096, 0x1'2345'6789ll / 8},
        {"$MFT cluster above 32 bits", 512, 8, 0x10'0000'0000ull, 0x1'0000'0004ull, 8, 4096, 0x2'0000'0000ll},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        VolumeContext ctx = contextFor(bootOnly(c.bytesPerSector, c.clusterByte, c.totalSectors, c.mftCluster));
        ASSERT_TRUE(ReadBootSectorNTFS(ctx));
        EXPECT_EQ(ctx.BytesPerSector, c.bytesPerSector);
        EXPECT_EQ(ctx.SectorsPerCluster, c.sectorsPerCluster);
        EXPECT_EQ(ctx.BytesPerCluster, c.bytesPerCluster);
        EXPECT_EQ(ctx.TotalSectors, static_cast<std::int64_t>(c.totalSectors));
        EXPECT_EQ(ctx.TotalClusters, c.totalClusters);
        EXPECT_EQ(ctx.MftStartCluster, static_cast<std::int64_t>(c.mftCluster));
    }
}

TEST(ReadBootSectorNTFS, RefusesWhatNoVolumeHas)
{
    struct Case
    {
        const char* what;
        Bytes image;
    };
    const Case cases[] = {
        {"sector size below 512", bootOnly(256, 8, 1000, 4)},
        {"sector size 0 (not NTFS)", bootOnly(0, 8, 1000, 4)},
        {"$MFT cluster 0", bootOnly(512, 8, 1000, 0)},
        {"cluster larger than 2 MiB", bootOnly(4096, 0xF4, 1000, 4)},
        {"cluster power beyond reason", bootOnly(512, 0x81, 1000, 4)},
        {"sector count with the 64th bit set", bootOnly(512, 8, 0x8000'0000'0000'0000ull, 4)},
        {"empty volume", Bytes{}},
        {"shorter than a sector", Bytes(100, 0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        VolumeContext ctx = contextFor(c.image);
        EXPECT_FALSE(ReadBootSectorNTFS(ctx));
    }
}

TEST(ReadBootSectorNTFS, ReadsA4096ByteSectorDisk)
{
    VolumeContext ctx = contextFor(bootOnly(4096, 1, 1000, 4), 4096);
    ASSERT_TRUE(ReadBootSectorNTFS(ctx));
    EXPECT_EQ(ctx.BytesPerSector, 4096);
}

TEST(ClusterToSector, MultipliesIn64Bits)
{
    VolumeContext ctx;
    ctx.SectorsPerCluster = 8;
    EXPECT_EQ(ClusterToSector(ctx, 786432), 6291456);
    EXPECT_EQ(ClusterToSector(ctx, std::int64_t{1} << 31), std::int64_t{1} << 34);
    EXPECT_LT(ClusterToSector(ctx, std::int64_t{1} << 61), 0) << "no sector that far";
    EXPECT_LT(ClusterToSector(ctx, -1), 0);
}

VolumeContext geometryOf(const VolumeLayout& layout)
{
    VolumeContext ctx = contextFor(test::buildVolume(layout));
    EXPECT_TRUE(ReadBootSectorNTFS(ctx));
    return ctx;
}

TEST(ReadMftExtentsNTFS, CollectsTheRunsOfRecordZero)
{
    VolumeLayout layout;
    layout.clusters = 64;
    // 4 clusters at 4, then 2 at 20, a zero-length run that only moves the current cluster,
    // then 2 at 30.
    layout.mftRunList = {0x11, 0x04, 0x04, 0x11, 0x02, 0x10, 0x11, 0x00, 0x05, 0x11, 0x02, 0x05, 0x00};
    VolumeContext ctx = geometryOf(layout);
    ASSERT_TRUE(ReadMftExtentsNTFS(ctx));
    EXPECT_EQ(ctx.MftRecordSize, 1024);
    EXPECT_EQ(ctx.MftExtentList, (std::vector<DataRun>{{4, 4}, {20, 2}, {30, 2}}));
}

TEST(ReadMftExtentsNTFS, TakesTheRecordSizeFromTheUpdateSequence)
{
    for (const std::size_t recordSize : {1024u, 4096u}) {
        for (const std::size_t sectorSize : {512u, 4096u}) {
            SCOPED_TRACE(std::to_string(recordSize) + "-byte records, " + std::to_string(sectorSize) + "-byte sectors");
            VolumeLayout layout;
            layout.bytesPerSector = sectorSize;
            layout.sectorsPerClusterByte = static_cast<std::uint8_t>(4096 / sectorSize);
            layout.recordSize = recordSize;
            layout.mftRunList = {0x11, 0x10, 0x04, 0x00};
            VolumeContext ctx = geometryOf(layout);
            ASSERT_TRUE(ReadMftExtentsNTFS(ctx));
            EXPECT_EQ(ctx.MftRecordSize, static_cast<std::int64_t>(recordSize));
            EXPECT_EQ(ctx.MftExtentList, (std::vector<DataRun>{{4, 16}}));
        }
    }
}

TEST(ReadMftExtentsNTFS, FindsDataAfterOtherAttributes)
{
    // $STANDARD_INFORMATION, $FILE_NAME, then $DATA: the runs of the $DATA.
    VolumeLayout layout;
    layout.records[0] = RecordBuilder()
                            .standardInformation(0)
                            .fileName(u"$MFT", 5)
                            .fileName(u"$MFT", 5)
                            .nonResidentData({0x11, 0x08, 0x04, 0x00}, 8 * 4096)
                            .build();
    VolumeContext ctx = geometryOf(layout);
    ASSERT_TRUE(ReadMftExtentsNTFS(ctx));
    EXPECT_EQ(ctx.MftExtentList, (std::vector<DataRun>{{4, 8}}));
}

TEST(ReadMftExtentsNTFS, FailsWithoutAUsableDataAttribute)
{
    const Bytes runs = {0x11, 0x08, 0x04, 0x00};
    Bytes bitmapFirst(0x48, 0); // an $BITMAP-typed attribute (0xB0) before any $DATA
    test::put32(bitmapFirst, 0, 0xB0);
    test::put32(bitmapFirst, 4, bitmapFirst.size());
    Bytes zeroLength(0x18, 0);
    test::put32(zeroLength, 0, 0x30);

    struct Case
    {
        const char* what;
        Bytes record0;
    };
    const Case cases[] = {
        {"type 0xB0 before $DATA",
         RecordBuilder().standardInformation(0).raw(bitmapFirst).nonResidentData(runs, 1).build()},
        {"zero attribute length", RecordBuilder().standardInformation(0).raw(zeroLength).build()},
        {"no $DATA at all", RecordBuilder().standardInformation(0).fileName(u"$MFT", 5).build()},
        {"resident $DATA", RecordBuilder().standardInformation(0).residentData(Bytes(40, 0x11)).build()},
        {"update-sequence count 1",
         [] {
             Bytes r = RecordBuilder().standardInformation(0).nonResidentData({0x11, 0x08, 0x04, 0x00}, 1).build(false);
             test::put16(r, 0x06, 1);
             return r;
         }()},
        {"not FILE",
         [] {
             Bytes r = RecordBuilder().standardInformation(0).nonResidentData({0x11, 0x08, 0x04, 0x00}, 1).build();
             r[0] = 'B';
             return r;
         }()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        VolumeLayout layout;
        layout.records[0] = c.record0;
        VolumeContext ctx = geometryOf(layout);
        EXPECT_FALSE(ReadMftExtentsNTFS(ctx));
    }
}

TEST(ReadMftExtentsNTFS, WideRunHeaderEndsTheListKeepingEarlierExtents)
{
    VolumeLayout layout;
    layout.mftRunList = {0x11, 0x08, 0x04, 0x91, 0x01, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0x00};
    VolumeContext ctx = geometryOf(layout);
    ASSERT_TRUE(ReadMftExtentsNTFS(ctx));
    EXPECT_EQ(ctx.MftExtentList, (std::vector<DataRun>{{4, 8}}));
}

TEST(ReadMftExtentsNTFS, TwoHugeRunsThatOverlapKeepOnlyTheFirst)
{
    // Both ends lie past the largest cluster number: the overlap is still seen, and the second
    // run, which would place records 96 clusters into the first, is dropped.
    VolumeLayout layout;
    layout.mftRunList = {0x18, 0xF0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0x04, // 2^63 - 16 at 4
                         0x18, 0xF0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0x60, // and again at 100
                         0x00};
    VolumeContext ctx = geometryOf(layout);
    ASSERT_TRUE(ReadMftExtentsNTFS(ctx));
    EXPECT_EQ(ctx.MftExtentList, (std::vector<DataRun>{{4, 0x7FFF'FFFF'FFFF'FFF0}}));
}

TEST(ReadMftRecordNTFS, FollowsTheExtentsAcrossClusterBoundaries)
{
    // 512-byte clusters: every 1,024-byte record spans two clusters, and record 3 starts in the
    // last cluster of the first extent and ends in the first of the second.
    VolumeLayout layout;
    layout.sectorsPerClusterByte = 1;
    layout.clusters = 256;
    layout.mftCluster = 16;
    layout.mftRunList = {0x11, 0x07, 0x10, 0x11, 0x09, 0x40, 0x00}; // 7 clusters at 16, 9 at 80
    for (std::int64_t n = 1; n < 8; ++n)
        layout.records[n] = RecordBuilder()
                                .number(static_cast<std::uint32_t>(n))
                                .fileName(u"f" + std::u16string(1, char16_t(u'0' + n)), 5)
                                .build();
    VolumeContext ctx = geometryOf(layout);
    ASSERT_TRUE(ReadMftExtentsNTFS(ctx));
    ASSERT_EQ(ctx.MftExtentList, (std::vector<DataRun>{{16, 7}, {80, 9}}));
    for (std::int64_t n = 1; n < 8; ++n) {
        SCOPED_TRACE(n);
        Bytes record;
        ASSERT_TRUE(ReadMftRecordNTFS(ctx, n, record));
        EXPECT_EQ(record, layout.records[n]);
    }
    Bytes record;
    EXPECT_FALSE(ReadMftRecordNTFS(ctx, 8, record)) << "beyond the extents";
    EXPECT_FALSE(ReadMftRecordNTFS(ctx, -1, record));
    EXPECT_FALSE(ReadMftRecordNTFS(ctx, std::int64_t{1} << 60, record));
}

} // namespace
} // namespace orv
