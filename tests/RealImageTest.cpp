// Our readings of real mkntfs/ntfs-3g volumes against what was written to them and against what
// fsstat and ntfsinfo say of them.

#include <gtest/gtest.h>

#include "ntfs/BootSector.h"
#include "ntfs/MftExtents.h"
#include "ntfs/MftRecord.h"
#include "platform/linux/FileDevice.h"
#include "results/Sha256.h"
#include "tests/support/Fixtures.h"
#include "tests/support/RecordBuilder.h"
#include "tests/support/TempFolder.h"
#include "volume/SectorIo.h"

namespace orv {
namespace {

using test::Bytes;

class RealImage : public testing::TestWithParam<const char*>
{
protected:
    void SetUp() override
    {
        const auto image = test::fixtureImage(GetParam());
        if (!std::filesystem::exists(image))
            GTEST_SKIP() << image << " is missing: run the unpack_fixture_images test first";
        ctx.Drive = "C:";
        ctx.Device = std::make_shared<FileDevice>(image.string());
        ASSERT_TRUE(ReadBootSectorNTFS(ctx));
        ASSERT_TRUE(ReadMftExtentsNTFS(ctx));
    }

    Bytes record(std::int64_t number)
    {
        Bytes bytes;
        EXPECT_TRUE(ReadMftRecordNTFS(ctx, number, bytes)) << "record " << number;
        ApplyRecordFixups(bytes);
        return bytes;
    }

    // The folder path of a record, climbing the parents up to the root (record 5).
    std::string pathOf(std::int64_t number)
    {
        std::string path;
        for (int depth = 0; depth < 32 && number != 5; ++depth) {
            const Bytes bytes = record(number);
            const auto survey = SurveyAttributes(bytes);
            if (!survey || !survey->FileName)
                return "<damaged " + std::to_string(number) + ">";
            const std::string name = toUtf8(*readFileName(bytes, survey->FileName));
            path = path.empty() ? name : name + "/" + path;
            number = *readParentRecord(bytes, survey->FileName);
        }
        return path;
    }

    // The file's content as Restore will take it: resident bytes, or its clusters cut to size.
    Bytes contentOf(const TMFTFile& file)
    {
        if (file.Resident)
            return file.ResidentBuf;
        Bytes content;
        for (const DataRun& run : file.ClusterList) {
            Bytes clusters(static_cast<std::size_t>(run.length * ctx.BytesPerCluster));
            EXPECT_TRUE(ReadSectors(ctx, static_cast<std::uint64_t>(ClusterToSector(ctx, run.start)), clusters));
            content.insert(content.end(), clusters.begin(), clusters.end());
        }
        content.resize(static_cast<std::size_t>(file.FSize));
        return content;
    }

    VolumeContext ctx;
};

TEST_P(RealImage, GeometryAgreesWithThePeers)
{
    const auto peers = test::readGeometry(GetParam());
    ASSERT_FALSE(peers.empty());
    EXPECT_EQ(std::to_string(ctx.BytesPerSector), peers.at("bytes_per_sector"));
    EXPECT_EQ(std::to_string(ctx.SectorsPerCluster), peers.at("sectors_per_cluster"));
    EXPECT_EQ(std::to_string(ctx.BytesPerCluster), peers.at("bytes_per_cluster"));
    EXPECT_EQ(std::to_string(ctx.TotalSectors), peers.at("total_sectors"));
    EXPECT_EQ(std::to_string(ctx.TotalClusters), peers.at("total_clusters"));
    EXPECT_EQ(std::to_string(ctx.MftStartCluster), peers.at("mft_start_cluster"));
    EXPECT_EQ(std::to_string(ctx.MftRecordSize), peers.at("mft_record_size"));
    std::string runs;
    for (const DataRun& extent : ctx.MftExtentList)
        runs += (runs.empty() ? "" : " ") + std::to_string(extent.start) + "+" + std::to_string(extent.length);
    EXPECT_EQ(runs, peers.at("mft_data_runs"));
}

TEST_P(RealImage, EveryWrittenFileDecodesAsWritten)
{
    const auto manifest = test::readManifest(GetParam());
    ASSERT_FALSE(manifest.empty());
    for (const auto& entry : manifest) {
        if (entry.kind == "stream")
            continue; // the file's own row checks that its stream did not replace its content
        SCOPED_TRACE(entry.path + " (record " + std::to_string(entry.record) + ")");
        Bytes bytes = record(entry.record);
        ASSERT_EQ(bytes[0], 'F');
        const std::uint8_t flags = bytes[mft::kFlags];
        EXPECT_EQ((flags & mft::kFlagInUse) != 0, entry.state == "kept");
        EXPECT_EQ((flags & mft::kFlagDirectory) != 0, entry.kind == "dir");

        const auto survey = SurveyAttributes(bytes);
        ASSERT_TRUE(survey);
        EXPECT_EQ(pathOf(entry.record), entry.path);
        EXPECT_EQ(survey->IndexRoot != 0, entry.kind == "dir");
        if (entry.kind != "file")
            continue;

        TMFTFile file;
        ASSERT_EQ(decodeRecord(bytes, file), RecordStatus::Ok);
        EXPECT_EQ(file.FSize, entry.size);
        if (entry.state != "overwritten") {
            EXPECT_EQ(sha256Hex(contentOf(file)), entry.sha256);
        }
    }
}

TEST_P(RealImage, EveryRecordOfTheMftSurveysOrIsUnused)
{
    // Records the volume has in use must all survey cleanly; the rest may be anything.
    const std::int64_t records = [&] {
        std::int64_t clusters = 0;
        for (const DataRun& extent : ctx.MftExtentList)
            clusters += extent.length;
        return clusters * ctx.BytesPerCluster / ctx.MftRecordSize;
    }();
    int inUse = 0;
    for (std::int64_t n = 0; n < records; ++n) {
        const Bytes bytes = record(n);
        if (bytes[0] != 'F' || !(bytes[mft::kFlags] & mft::kFlagInUse))
            continue;
        ++inUse;
        EXPECT_TRUE(SurveyAttributes(bytes)) << "record " << n;
    }
    EXPECT_GT(inUse, 16);
}

INSTANTIATE_TEST_SUITE_P(Images, RealImage, testing::ValuesIn(test::kFixtureImages),
                         [](const testing::TestParamInfo<const char*>& param) {
                             std::string name = param.param;
                             std::erase(name, '-');
                             return name;
                         });

TEST(DamagedImage, TruncatedAndEmptyImagesFailCleanly)
{
    const auto source = test::fixtureImage("ntfs-c4096");
    if (!std::filesystem::exists(source))
        GTEST_SKIP() << "fixture images are not unpacked";
    const test::TempFolder dir;

    struct Case
    {
        const char* what;
        std::uintmax_t keep;
        bool bootReads;
    };
    const Case cases[] = {
        {"empty file", 0, false},
        {"half a sector", 256, false},
        {"boot sector only: the $MFT is beyond the end", 512, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto image = dir / "cut.img";
        std::filesystem::copy_file(source, image, std::filesystem::copy_options::overwrite_existing);
        std::filesystem::resize_file(image, c.keep);
        VolumeContext ctx;
        ctx.Device = std::make_shared<FileDevice>(image.string());
        EXPECT_EQ(ReadBootSectorNTFS(ctx), c.bootReads);
        if (c.bootReads) {
            EXPECT_FALSE(ReadMftExtentsNTFS(ctx));
        }
    }
}

} // namespace
} // namespace orv
