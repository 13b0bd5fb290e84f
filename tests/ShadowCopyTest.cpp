// The shadow copies of a Windows-made disk through the file-system seam: what the scan lists, how a
// copy's file is graded, read and refused a wipe, and that a Stop or a damaged catalogue keeps what
// the live volume listed. Skips when the disks are not unpacked.

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "ntfs/BootSector.h"
#include "ntfs/MftExtents.h"
#include "platform/linux/FileDevice.h"
#include "results/FileSystem.h"
#include "results/Operations.h"
#include "results/Sha256.h"
#include "scan/FindChecks.h"
#include "scan/ShadowCopyScan.h"
#include "shell/LanguageTexts.h"
#include "tests/support/RefusalUi.h"
#include "tests/support/TestPumps.h"
#include "volume/PartitionDevice.h"
#include "volume/ShadowStores.h"

namespace orv {
namespace {

const std::filesystem::path kDisk = std::filesystem::path(ORV_SHADOW_DISKS) / "vss_2_stor.raw";
constexpr std::uint64_t kPartition = 34603008;
constexpr std::uint64_t kPartitionBytes = 5333057536;
constexpr std::u16string_view kCopyFolder = u"C:\\Shadow copy 1 (2021-03-10 22:44)\\";
// test.txt as the copy holds it: 703800 bytes of "2"; the live one has 7700 other bytes.
constexpr std::string_view kOlderTestTxt = "e4e7178d9a67cc36d9b12b7b36ebc584c80781ef5619995c138a64c20ae00b4a";

class ShadowCopies : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!std::filesystem::exists(kDisk))
            GTEST_SKIP() << "the shadow-copy disks are not unpacked in " << ORV_SHADOW_DISKS;
        ::setenv("TZ", "UTC", 1);
        ::tzset();
    }

    // The session of a Find on the disk's NTFS partition (or on `disk`, a damaged copy of it).
    static bool open(ScanSession& session, const std::filesystem::path& disk = kDisk)
    {
        VolumeContext& volume = session.volume;
        volume.Drive = "C:";
        volume.Device =
            std::make_shared<PartitionDevice>(std::make_shared<FileDevice>(disk.string()), kPartition, kPartitionBytes);
        volume.FileSystemCode = FileSystemKind::Ntfs;
        if (readBootSector(volume) != BootSectorStatus::Ok || !ReadMftExtentsNTFS(volume))
            return false;
        PrepareScan(session, u"*.*");
        return true;
    }

    static ScanReport scan(ScanSession& session, Pump& pump)
    {
        ScanProgress progress;
        return fileSystemOf(session).normalScan(session, pump, progress, 0);
    }

    static std::vector<std::pair<std::u16string, std::u16string>> listed(const ScanSession& session)
    {
        std::vector<std::pair<std::u16string, std::u16string>> files;
        session.store.forEach([&](std::u16string_view section, std::u16string_view key, std::u16string_view) {
            files.emplace_back(section, key);
        });
        return files;
    }
};

TEST_F(ShadowCopies, StoresOpenAsDevicesOfTheWholeVolume)
{
    const auto volume =
        std::make_shared<PartitionDevice>(std::make_shared<FileDevice>(kDisk.string()), kPartition, kPartitionBytes);
    const ShadowStores stores = openShadowStores(volume, kPartitionBytes);
    ASSERT_EQ(stores.stores.size(), 1u) << stores.problem;
    const ShadowStore& copy = stores.stores.front();
    EXPECT_EQ(copy.number, 1);
    EXPECT_EQ(copy.identifier, "bbaa7659-8204-11eb-90f4-080027768df7");
    EXPECT_EQ(utcIsoText(copy.creationTime), "2021-03-10T22:44:00Z");
    ASSERT_TRUE(copy.device);
    EXPECT_TRUE(copy.device->readOnly());
    EXPECT_EQ(copy.device->size(), std::optional<std::uint64_t>(kPartitionBytes));
    // The copy's boot sector is the volume's; a read past its end fails whole.
    std::vector<std::uint8_t> sector(512);
    ASSERT_TRUE(copy.device->read(0, sector));
    EXPECT_EQ(std::string(sector.begin() + 3, sector.begin() + 11), "NTFS    ");
    EXPECT_FALSE(copy.device->read(kPartitionBytes - 256, sector));
    EXPECT_FALSE(copy.device->write(0, sector));
}

TEST_F(ShadowCopies, OlderVersionIsListedGradedReadAndRefusedAWipe)
{
    ScanSession session;
    ASSERT_TRUE(open(session));
    test::NoPump pump;
    EXPECT_EQ(scan(session, pump).end, ScanEnd::Finished);
    ASSERT_EQ(session.shadowCopies.size(), 1u);
    EXPECT_EQ(session.FilesFound, static_cast<std::int64_t>(session.store.entryCount()));

    const StoredFile stored = parseStoredValue(session.store.read(kCopyFolder, u"test.txt"));
    ASSERT_TRUE(stored.locator);
    EXPECT_EQ(stored.locator->kind, FileLocator::Kind::ShadowCopyRecord);
    EXPECT_EQ(shadowCopyOf(*stored.locator), 1);
    EXPECT_EQ(stored.size, 703800);
    EXPECT_EQ(parseLocator(locatorText(*stored.locator)), stored.locator);

    FileSystem& fileSystem = fileSystemOf(session);
    EXPECT_EQ(fileSystem.grade(session, *stored.locator, u"test.txt"), Grade::Good);
    {
        // With a copy's bitmap that marks every cluster used, a file in use in the copy is still
        // whole there (the clusters are its own), while the copy's deleted file is not.
        std::vector<std::uint8_t>& bitmap = session.shadowCopies.front().session->volume.VolumeBitmap;
        const std::vector<std::uint8_t> kept = bitmap;
        std::fill(bitmap.begin(), bitmap.end(), std::uint8_t{0xFF});
        EXPECT_EQ(fileSystem.grade(session, *stored.locator, u"test.txt"), Grade::Good);
        std::optional<FileLocator> deletedInCopy;
        session.store.forEachIn(std::u16string(kCopyFolder) + u"System Volume Information\\",
                                [&](std::u16string_view, std::u16string_view value) {
                                    const StoredFile file = parseStoredValue(value);
                                    if (file.time == u"22:43:00")
                                        deletedInCopy = file.locator;
                                });
        ASSERT_TRUE(deletedInCopy);
        EXPECT_EQ(fileSystem.grade(session, *deletedInCopy, u"{3808876b-c176-4e48-b7ae-04046e6cc752}"), Grade::Poor);
        bitmap = kept;
    }
    const OpenedFile opened = fileSystem.open(session, *stored.locator);
    ASSERT_TRUE(opened.found) << opened.reason;
    EXPECT_EQ(opened.size, 703800);
    EXPECT_FALSE(opened.firstStoredCluster); // its clusters are the copy's, not the live volume's
    std::vector<std::uint8_t> content;
    const ContentReport report = fileSystem.stream(
        session, pump, [] { return true; },
        [&](std::span<const std::uint8_t> bytes) {
            content.insert(content.end(), bytes.begin(), bytes.end());
            return true;
        },
        {});
    EXPECT_EQ(report.written, 703800);
    EXPECT_FALSE(report.damaged);
    EXPECT_EQ(sha256Hex(content), kOlderTestTxt);

    // A live file opened after it is read from the live volume again.
    fileSystem.open(session, {FileLocator::Kind::MftRecord, 0});
    EXPECT_EQ(session.openedShadowCopy, 0);

    const WipeOutcome wiped = fileSystem.wipe(session, *stored.locator);
    EXPECT_FALSE(wiped.wiped);
    EXPECT_EQ(wiped.reason, lang::kFileWipeShadowCopy.english);
    // The window refuses before its question when every chosen file is a copy's.
    test::RefusalUi ui;
    const OperationResult result =
        RunWipe(session, {{u"test.txt", true, stored.locator}}, std::u16string(kCopyFolder), 10, ui, pump);
    EXPECT_EQ(result.end, OperationResult::End::Refused);
    EXPECT_FALSE(ui.asked);
    EXPECT_EQ(ui.shown, lang::kFileWipeShadowCopy.key);
    EXPECT_TRUE(session.store.valueExists(kCopyFolder, u"test.txt"));
}

TEST_F(ShadowCopies, LeftOutOnRequestAndAStopKeepsWhatWasListed)
{
    ScanSession without;
    ASSERT_TRUE(open(without));
    without.ListShadowCopies = false;
    test::NoPump pump;
    scan(without, pump);
    EXPECT_TRUE(without.shadowCopies.empty());
    for (const auto& [folder, name] : listed(without))
        EXPECT_EQ(folder.find(u"Shadow copy"), std::u16string::npos);

    // A Stop at each step of the copies' part in turn: the scan says it was stopped, never lists
    // more than a whole scan, and never loses the live volume's files.
    ScanSession whole;
    ASSERT_TRUE(open(whole));
    scan(whole, pump);
    const auto all = listed(whole);
    int stopped = 0;
    for (int stopAt = 1; stopAt < 16; ++stopAt) {
        SCOPED_TRACE(stopAt);
        ScanSession session;
        ASSERT_TRUE(open(session));
        struct Stopping final : Pump
        {
            ScanSession& s;
            int left;
            Stopping(ScanSession& session, int steps) : s(session), left(steps) {}
            void step() override
            {
                // Counted from the first step of the copies: the live scan has cleared its flag.
                if (!s.shadowCopies.empty() && --left == 0)
                    s.ScanRunning = false;
            }
        } stopping(session, stopAt);
        const ScanReport report = scan(session, stopping);
        const auto got = listed(session);
        EXPECT_LE(got.size(), all.size());
        if (report.end == ScanEnd::Finished) {
            EXPECT_EQ(got, all);
        } else {
            ++stopped;
        }
        for (const auto& file : listed(without))
            EXPECT_NE(std::find(got.begin(), got.end(), file), got.end());
    }
    EXPECT_GE(stopped, 3);

    // A Skip (an Extended scan's Ctrl-C or Skip button) ends the copies, not the scan.
    ScanSession skipped;
    ASSERT_TRUE(open(skipped));
    struct Skipping final : Pump
    {
        ScanSession& s;
        explicit Skipping(ScanSession& session) : s(session) {}
        void step() override
        {
            if (!s.shadowCopies.empty())
                s.SkipRequested = true;
        }
    } skipping(skipped);
    EXPECT_EQ(scan(skipped, skipping).end, ScanEnd::Finished);
    EXPECT_FALSE(skipped.SkipRequested);
    EXPECT_EQ(listed(skipped), listed(without));
}

TEST(ShadowCopyRanges, MeetsOnlyRangesItTouches)
{
    const std::vector<ByteRange> kept = {{16384, 16384}, {65536, 32768}};
    struct Case
    {
        const char* what;
        std::uint64_t first, count;
        bool meets;
    };
    const Case cases[] = {
        {"before every range", 0, 16384, false}, {"last byte touches the first range", 1, 16384, true},
        {"inside a range", 70000, 10, true},     {"between two ranges", 32768, 32768, false},
        {"spans a range", 0, 1 << 20, true},     {"right after the last range", 98304, 4096, false},
        {"empty stretch", 20000, 0, false},      {"near the end of the address space", UINT64_MAX - 10, 10, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(meetsRanges(kept, c.first, c.count), c.meets);
    }
    EXPECT_FALSE(meetsRanges({}, 0, 1 << 20));
}

TEST_F(ShadowCopies, FolderNamesFollowTheCatalogueWords)
{
    const std::uint64_t made = 132598898400000000; // 2021-03-10 22:44:00 UTC
    EXPECT_EQ(shadowCopyFolderName(u"Shadow copy %1 (%2)", 3, made), u"Shadow copy 3 (2021-03-10 22:44)");
    EXPECT_EQ(shadowCopyFolderName(u"Schattenkopie %1 (%2)", 12, made), u"Schattenkopie 12 (2021-03-10 22:44)");
    // The words make one folder, whatever a language file holds.
    EXPECT_EQ(shadowCopyFolderName(u"a\\b %1", 1, made), u"a-b 1");
}

} // namespace
} // namespace orv
