// Both scans on the real fixture volumes, against what was written to them.

#include <gtest/gtest.h>

#include <fcntl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <map>

#include "base/Utf16.h"
#include "platform/linux/FileDevice.h"
#include "platform/linux/LinuxDriveSystem.h"
#include "platform/linux/MappedView.h"
#include "scan/DateText.h"
#include "scan/ExtendedScan.h"
#include "scan/FindChecks.h"
#include "scan/GradeBasis.h"
#include "scan/ListedFileFacts.h"
#include "scan/NormalScan.h"
#include "scan/ScanCommon.h"
#include "tests/support/Devices.h"
#include "tests/support/Fixtures.h"
#include "tests/support/RecordBuilder.h"
#include "tests/support/TempFolder.h"

namespace orv {
namespace {

constexpr std::uint64_t kPlentyOfMemory = std::uint64_t{8} << 30;

// Clears ScanRunning (or sets SkipRequested) after a number of steps, as a confirmed Stop or Skip
// does inside the window's pumping.
class TestPump : public Pump
{
public:
    explicit TestPump(ScanSession& session) : m_session(session) {}
    void step() override
    {
        ++steps;
        if (stopAfter && steps == *stopAfter)
            m_session.ScanRunning = false;
        if (skipEvery && steps % *skipEvery == 0)
            m_session.SkipRequested = true;
    }
    std::int64_t steps = 0;
    std::optional<std::int64_t> stopAfter;
    std::optional<std::int64_t> skipEvery;

private:
    ScanSession& m_session;
};

class RecordingProgress : public ScanProgress
{
public:
    void stepStarted(ScanStep step) override { steps.push_back(step); }
    void progressBar(int width) override
    {
        EXPECT_GE(width, 0);
        EXPECT_LE(width, 200);
        lastWidth = width;
    }
    void recordsExamined(std::int64_t count) override { examinedShown.push_back(count); }
    void filesFound(std::int64_t count) override { foundShown = count; }
    std::vector<ScanStep> steps;
    std::vector<std::int64_t> examinedShown;
    std::int64_t foundShown = 0;
    int lastWidth = -1;
};

// Folder and name as the scans file them: "C:\Docs\Projects\" and the name as it is.
std::pair<std::u16string, std::u16string> expectedPlace(const std::string& path)
{
    const auto slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    std::replace(folder.begin(), folder.end(), '/', '\\');
    std::u16string name = fromUtf8(slash == std::string::npos ? path : path.substr(slash + 1));
    return {u"C:\\" + fromUtf8(folder), name};
}

struct Listed
{
    std::u16string section, key;
    StoredFile stored;
};

std::vector<Listed> listing(const ResultsStore& store)
{
    std::vector<Listed> all;
    store.forEach([&](std::u16string_view section, std::u16string_view key, std::u16string_view value) {
        all.push_back({std::u16string(section), std::u16string(key), parseStoredValue(value)});
    });
    return all;
}

class Scans : public testing::Test
{
protected:
    bool open(const std::string& image, std::u16string_view mask = u"")
    {
        const auto path = test::fixtureImage(image);
        if (!std::filesystem::exists(path))
            return false;
        drives =
            std::make_unique<LinuxDriveSystem>(LinuxDriveSources{{}, "/nonexistent", "/nonexistent", "/nonexistent"});
        drives->addDrive("C:", path.string());
        const auto check = RunFindChecks(session, *drives, "C: (NTFS)", mask, 10);
        EXPECT_EQ(check.check, FindCheck::Ok);
        PrepareScan(session, mask);
        return check.check == FindCheck::Ok;
    }

    ScanSession session;
    std::unique_ptr<LinuxDriveSystem> drives;
};

TEST_F(Scans, NormalScanListsEveryDeletedFileUnderItsFolder)
{
    for (const char* image : test::kFixtureImages) {
        SCOPED_TRACE(image);
        session = ScanSession();
        if (!open(image))
            GTEST_SKIP() << "fixture images are not unpacked";
        TestPump pump(session);
        RecordingProgress progress;
        const ScanReport report = NTFSFind1(session, pump, progress, kPlentyOfMemory);
        EXPECT_EQ(report.end, ScanEnd::Finished);
        EXPECT_FALSE(session.ScanRunning);
        EXPECT_EQ(report.damagedRecords, 0);
        EXPECT_EQ(progress.lastWidth, 200);
        EXPECT_FALSE(session.volume.VolumeBitmap.empty()) << "the $Bitmap is loaded for the grades";

        std::map<std::pair<std::u16string, std::u16string>, std::int64_t> expected;
        for (const auto& entry : test::readManifest(image))
            if (entry.kind == "file" && entry.state != "kept")
                expected[expectedPlace(entry.path)] = entry.size;
        const auto listed = listing(session.store);
        std::map<std::pair<std::u16string, std::u16string>, std::int64_t> got;
        for (const Listed& l : listed) {
            got[{l.section, l.key}] = l.stored.size;
            ASSERT_TRUE(l.stored.recordOffset);
            EXPECT_EQ(*l.stored.recordOffset % session.volume.MftRecordSize, 0);
            EXPECT_FALSE(l.stored.date.empty());
        }
        EXPECT_EQ(got, expected);
        EXPECT_EQ(session.FilesFound, static_cast<std::int64_t>(listed.size()));
        EXPECT_EQ(progress.foundShown, session.FilesFound);
        EXPECT_GT(session.RecordsExamined, 100);
        for (const std::int64_t shown : progress.examinedShown)
            EXPECT_EQ(shown % 100, 0) << "the examined count is shown in steps of 100";
    }
}

TEST_F(Scans, NormalScanAppliesTheMask)
{
    if (!open("ntfs-c4096", u"  *.TXT "))
        GTEST_SKIP() << "fixture images are not unpacked";
    EXPECT_EQ(session.FileMask, u"*.TXT");
    TestPump pump(session);
    RecordingProgress progress;
    NTFSFind1(session, pump, progress, kPlentyOfMemory);
    const auto listed = listing(session.store);
    ASSERT_FALSE(listed.empty());
    for (const Listed& l : listed) {
        const std::string name = toUtf8(l.key);
        EXPECT_EQ(name.substr(name.size() - 4), ".txt") << name;
    }
}

TEST_F(Scans, StopKeepsWhatWasFoundWithConsistentCounters)
{
    if (!open("ntfs-c512"))
        GTEST_SKIP() << "fixture images are not unpacked";
    TestPump full(session);
    RecordingProgress progress;
    NTFSFind1(session, full, progress, kPlentyOfMemory);
    const auto everything = listing(session.store);
    const std::int64_t allSteps = full.steps;

    for (const std::int64_t stopAt : {std::int64_t{3}, allSteps / 2, allSteps - 5}) {
        SCOPED_TRACE(stopAt);
        ScanSession stopped;
        session = std::move(stopped);
        ASSERT_TRUE(open("ntfs-c512"));
        TestPump pump(session);
        pump.stopAfter = stopAt;
        const ScanReport report = NTFSFind1(session, pump, progress, kPlentyOfMemory);
        EXPECT_EQ(report.end, ScanEnd::Stopped);
        EXPECT_FALSE(session.ScanRunning);
        EXPECT_EQ(pump.steps, stopAt) << "nothing runs after the stop is seen";
        const auto kept = listing(session.store);
        EXPECT_EQ(session.FilesFound, static_cast<std::int64_t>(kept.size()));
        EXPECT_LE(kept.size(), everything.size());
        for (std::size_t i = 0; i < kept.size(); ++i) {
            EXPECT_EQ(kept[i].section, everything[i].section);
            EXPECT_EQ(kept[i].key, everything[i].key);
        }
    }
}

TEST_F(Scans, ExtendedScanFindsTheDeletedFilesOfEveryRegion)
{
    if (!open("ntfs-c512"))
        GTEST_SKIP() << "fixture images are not unpacked";
    TestPump pump(session);
    RecordingProgress progress;
    const ExtendedScanReport report = NTFSFind2(session, pump, progress, kPlentyOfMemory);
    EXPECT_FALSE(report.bootSectorError);
    EXPECT_EQ(report.end, ScanEnd::Finished);
    EXPECT_EQ(progress.steps,
              (std::vector<ScanStep>{ScanStep::FindMftRecords, ScanStep::ReadMftRecords, ScanStep::FindFolders,
                                     ScanStep::FindFiles}));

    std::map<std::pair<std::u16string, std::u16string>, std::int64_t> got;
    for (const Listed& l : listing(session.store)) {
        // A numbered name is another deleted file of the same name in that folder.
        std::u16string key = l.key;
        if (const auto open = key.rfind(u'('); open != std::u16string::npos && key.back() == u')')
            key.erase(open);
        got[{l.section, key}] = l.stored.size;
    }
    for (const auto& entry : test::readManifest("ntfs-c512")) {
        if (entry.kind != "file" || entry.state == "kept")
            continue;
        SCOPED_TRACE(entry.path);
        const auto place = expectedPlace(entry.path);
        ASSERT_TRUE(got.count(place)) << toUtf8(place.first) << toUtf8(place.second);
        EXPECT_EQ(got[place], entry.size);
    }
}

TEST_F(Scans, ExtendedScanListsEverythingTheNormalScanListsOnce)
{
    // Volumes of 256 to 16,384 clusters, the $MFT near cluster 4: small volumes are probed cluster
    // by cluster, and the $MFT in use is read whether a probe lands in it or not.
    for (const char* image : {"demo", "ntfs-c512", "ntfs-c4096", "ntfs-c65536", "ntfs-s4096", "ntfs-features"}) {
        SCOPED_TRACE(image);
        session = ScanSession();
        if (!open(image))
            GTEST_SKIP() << "fixture images are not unpacked";
        TestPump pump(session);
        RecordingProgress progress;
        ASSERT_EQ(NTFSFind1(session, pump, progress, kPlentyOfMemory).end, ScanEnd::Finished);
        std::map<std::pair<std::u16string, std::u16string>, std::int64_t> normal;
        for (const Listed& l : listing(session.store))
            normal[{l.section, l.key}] = l.stored.size;
        ASSERT_FALSE(normal.empty());
        const std::vector<DataRun> currentMft = session.volume.CurrentMftExtents;

        // Probed and swept alike.
        for (const ExtendedReach reach : {ExtendedReach::Probes, ExtendedReach::WholeVolume}) {
            session = ScanSession();
            ASSERT_TRUE(open(image));
            TestPump extendedPump(session);
            ASSERT_EQ(NTFSFind2(session, extendedPump, progress, kPlentyOfMemory, reach).end, ScanEnd::Finished);
            std::map<std::pair<std::u16string, std::u16string>, std::int64_t> extended;
            for (const Listed& l : listing(session.store))
                extended[{l.section, l.key}] = l.stored.size;
            for (const auto& [place, size] : normal) {
                SCOPED_TRACE(toUtf8(place.first + place.second));
                ASSERT_TRUE(extended.count(place)) << "listed by the Normal scan, missed by the Extended scan";
                EXPECT_EQ(extended[place], size);
            }

            // Regions are read once: in volume order, apart, and the $MFT in use lies inside them.
            const std::vector<DataRun>& regions = session.volume.MftExtentList;
            ASSERT_FALSE(regions.empty());
            for (std::size_t i = 1; i < regions.size(); ++i)
                EXPECT_LT(regions[i - 1].start + regions[i - 1].length, regions[i].start) << "regions overlap or touch";
            for (const DataRun& extent : currentMft)
                EXPECT_TRUE(std::any_of(regions.begin(), regions.end(),
                                        [&](const DataRun& r) {
                                            return r.start <= extent.start &&
                                                extent.start + extent.length <= r.start + r.length;
                                        }))
                    << "the $MFT in use at cluster " << extent.start << " is not among the regions";
        }
    }
}

TEST(ExtendedScanRegions, EveryRegionIsFoundToItsLastClusterWhereverItLies)
{
    // 40,000 clusters of 512 bytes: probes 20 clusters apart, records two clusters long. Earlier
    // records lie at cluster 30,001 (wider than the probe step, no probe on its edges) and at
    // 39,950 (past the last 5 percent of the volume).
    using test::RecordBuilder;
    test::VolumeLayout layout;
    layout.sectorsPerClusterByte = 1;
    layout.clusters = 40'000;
    layout.mftRunList = {0x11, 0x40, 0x04, 0x00}; // records 0 to 31 at cluster 4
    layout.records[5] = RecordBuilder().directory(true).fileName(u".", 5).indexRoot().build();
    test::Bytes image = test::buildVolume(layout);
    const auto plant = [&](std::int64_t cluster, int records, char16_t letter) {
        for (int i = 0; i < records; ++i) {
            const std::u16string name = std::u16string(1, letter) + fromAscii(std::to_string(i)) + u".txt";
            const test::Bytes record = RecordBuilder()
                                           .inUse(i % 2 == 0)
                                           .number(static_cast<std::uint32_t>(100 + i))
                                           .standardInformation(133'000'000'000'000'000ull)
                                           .fileName(name, 5)
                                           .residentData(test::Bytes(10, 'x'))
                                           .build();
            std::copy(record.begin(), record.end(), image.begin() + cluster * 512 + i * 1024);
        }
    };
    plant(30'001, 25, u'a');
    plant(39'950, 20, u'b');

    test::FakeDriveSystem drives;
    drives.add("E:", std::make_shared<test::MemoryDevice>(std::move(image)));
    ScanSession session;
    ASSERT_EQ(RunFindChecks(session, drives, "E: (NTFS)", u"", 10).check, FindCheck::Ok);
    PrepareScan(session, u"");
    TestPump pump(session);
    ScanProgress progress;
    ASSERT_EQ(NTFSFind2(session, pump, progress, kPlentyOfMemory).end, ScanEnd::Finished);

    EXPECT_EQ(session.volume.MftExtentList, (std::vector<DataRun>{{4, 64}, {30'001, 50}, {39'950, 40}}));
    std::vector<std::u16string> names;
    for (const Listed& l : listing(session.store))
        names.push_back(l.section + l.key);
    std::sort(names.begin(), names.end());
    std::vector<std::u16string> expected;
    for (int i = 0; i < 25; ++i)
        expected.push_back(u"E:\\a" + fromAscii(std::to_string(i)) + u".txt");
    for (int i = 0; i < 20; ++i)
        expected.push_back(u"E:\\b" + fromAscii(std::to_string(i)) + u".txt");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(names, expected) << "every earlier record once, in use or not";
}

// An image read from one file and seen in place through another, which may have lost its tail:
// what cannot be seen in place is still read.
class CutShortFile final : public SectorDevice
{
public:
    CutShortFile(const std::string& whole, const std::string& seen)
        : m_whole(whole), m_seen(::open(seen.c_str(), O_RDONLY))
    {}

    bool read(std::uint64_t position, std::span<std::uint8_t> out) override { return m_whole.read(position, out); }
    bool write(std::uint64_t, std::span<const std::uint8_t>) override { return false; }
    std::optional<std::uint64_t> size() override { return m_whole.size(); }
    std::optional<MappableFile> mappable() override { return m_whole.mappable(); }
    std::unique_ptr<DeviceView> view(std::uint64_t position, std::size_t count) override
    {
        ++views;
        return MappedView::map({m_seen.get(), 0, *m_whole.size()}, position, count);
    }

    std::atomic<int> views = 0;

private:
    FileDevice m_whole;
    UniqueFd m_seen;
};

TEST(ExtendedScanRegions, TheSweepFindsAFragmentBetweenTwoProbePoints)
{
    // 40,000 clusters of 512 bytes: probe points 20 clusters apart. An earlier $MFT fragment of
    // five records fills clusters 30,005 to 30,014, between the probes at 30,000 and 30,020; a
    // record whose update sequence does not check lies at 35,003 and is no record.
    using test::RecordBuilder;
    test::VolumeLayout layout;
    layout.sectorsPerClusterByte = 1;
    layout.clusters = 40'000;
    layout.mftRunList = {0x11, 0x40, 0x04, 0x00};
    layout.records[5] = RecordBuilder().directory(true).fileName(u".", 5).indexRoot().build();
    const test::Bytes clean = test::buildVolume(layout);
    const auto record = [](std::uint32_t number, const std::u16string& name) {
        return RecordBuilder()
            .inUse(true)
            .number(number)
            .standardInformation(133'000'000'000'000'000ull)
            .fileName(name, 5)
            .residentData(test::Bytes(10, 'x'))
            .build();
    };
    test::Bytes image = clean;
    for (int i = 0; i < 5; ++i) {
        const std::u16string name = u"frag" + fromAscii(std::to_string(i)) + u".txt";
        const test::Bytes r = record(static_cast<std::uint32_t>(200 + i), name);
        std::copy(r.begin(), r.end(), image.begin() + 30'005 * 512 + i * 1024);
    }
    test::Bytes torn = record(300, u"torn.txt");
    torn[1022] ^= 0xFF; // the second stride's end no longer holds the sequence number
    std::copy(torn.begin(), torn.end(), image.begin() + 35'003 * 512);

    const auto scanOf = [&](std::shared_ptr<SectorDevice> device, ExtendedReach reach, ScanSession& session,
                            RecordingProgress& progress) {
        test::FakeDriveSystem drives;
        drives.add("E:", std::move(device));
        ASSERT_EQ(RunFindChecks(session, drives, "E: (NTFS)", u"", 10).check, FindCheck::Ok);
        PrepareScan(session, u"");
        TestPump pump(session);
        ASSERT_EQ(NTFSFind2(session, pump, progress, kPlentyOfMemory, reach).end, ScanEnd::Finished);
    };
    const auto names = [](const ScanSession& session) {
        std::vector<std::u16string> all;
        for (const Listed& l : listing(session.store))
            all.push_back(l.section + l.key);
        std::sort(all.begin(), all.end());
        return all;
    };

    const auto scan = [&](ExtendedReach reach, ScanSession& session, RecordingProgress& progress) {
        scanOf(std::make_shared<test::MemoryDevice>(image), reach, session, progress);
    };
    ScanSession probed;
    RecordingProgress probedProgress;
    scan(ExtendedReach::Probes, probed, probedProgress);
    EXPECT_EQ(probed.volume.MftExtentList, (std::vector<DataRun>{{4, 64}}));
    EXPECT_TRUE(names(probed).empty());

    ScanSession swept;
    RecordingProgress sweptProgress;
    scan(ExtendedReach::WholeVolume, swept, sweptProgress);
    EXPECT_EQ(swept.volume.MftExtentList, (std::vector<DataRun>{{4, 64}, {30'005, 10}}));
    std::vector<std::u16string> expected;
    for (int i = 0; i < 5; ++i)
        expected.push_back(u"E:\\frag" + fromAscii(std::to_string(i)) + u".txt");
    EXPECT_EQ(names(swept), expected);
    EXPECT_EQ(sweptProgress.steps, probedProgress.steps) << "the same four steps";
    EXPECT_EQ(sweptProgress.lastWidth, 200);

    // The same sweep where the image is a file, whose pieces are looked at in place; and where the
    // file is cut short under the scan from cluster 30,000 on, so that the pieces holding the
    // fragment cannot be seen in place and are read again (here from a whole copy).
    const test::TempFolder temp;
    const auto write = [&](const std::filesystem::path& path, std::size_t bytes) {
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(bytes));
    };
    write(temp.path() / "whole.img", image.size());
    for (const std::size_t seen : {image.size(), std::size_t{30'000 * 512}}) {
        write(temp.path() / "seen.img", seen);
        const auto device =
            std::make_shared<CutShortFile>((temp.path() / "whole.img").string(), (temp.path() / "seen.img").string());
        ScanSession session;
        RecordingProgress progress;
        scanOf(device, ExtendedReach::WholeVolume, session, progress);
        EXPECT_EQ(session.volume.MftExtentList, swept.volume.MftExtentList) << seen << " bytes seen in place";
        EXPECT_EQ(names(session), expected) << seen << " bytes seen in place";
        EXPECT_EQ(device->views, 5) << "every piece looked at in place first";
    }
}

TEST_F(Scans, ExtendedScanSkipsStepsAndStops)
{
    if (!open("ntfs-c512"))
        GTEST_SKIP() << "fixture images are not unpacked";
    TestPump pump(session);
    pump.skipEvery = 7; // every step is cut short again and again
    RecordingProgress progress;
    const ExtendedScanReport report = NTFSFind2(session, pump, progress, kPlentyOfMemory);
    EXPECT_EQ(report.end, ScanEnd::Finished);
    EXPECT_EQ(session.FilesFound, static_cast<std::int64_t>(listing(session.store).size()));

    session = ScanSession();
    ASSERT_TRUE(open("ntfs-c512"));
    TestPump stopping(session);
    stopping.stopAfter = 500;
    EXPECT_EQ(NTFSFind2(session, stopping, progress, kPlentyOfMemory).end, ScanEnd::Stopped);
    EXPECT_FALSE(session.ScanRunning);
    EXPECT_EQ(session.FilesFound, static_cast<std::int64_t>(listing(session.store).size()));

    // The whole-volume sweep: a Skip in its first step keeps the regions swept so far (the $MFT
    // in use among them); a Stop ends it.
    for (const bool stop : {false, true}) {
        session = ScanSession();
        ASSERT_TRUE(open("ntfs-c512"));
        TestPump sweeping(session);
        (stop ? sweeping.stopAfter : sweeping.skipEvery) = 3;
        const ExtendedScanReport swept =
            NTFSFind2(session, sweeping, progress, kPlentyOfMemory, ExtendedReach::WholeVolume);
        EXPECT_EQ(swept.end, stop ? ScanEnd::Stopped : ScanEnd::Finished);
        EXPECT_EQ(session.FilesFound, static_cast<std::int64_t>(listing(session.store).size()));
    }
}

// A kept record is packed into 24 bytes: every field comes back as given, and a record whose offset
// lies beyond what the packing holds is not kept at all (the listing reads it again) rather than
// kept under another offset.
TEST(ListedRecords, KeepEveryFieldAndRefuseOffsetsTheyCannotHold)
{
    static_assert(sizeof(ListedRecord) <= 24);
    ListedRecords records;
    const std::int64_t largest = (std::int64_t{1} << 48) - 2;
    records.add(ListedRecord(1024, {std::uint64_t{133540056300000000}, true, false, 7}, {87, 123456789}, false));
    records.add(ListedRecord(largest, {std::nullopt, false, true, 0}, {100, std::nullopt}, true));
    records.add(ListedRecord(largest + 1, {std::nullopt, true, false, 1}, {50, 3}, true));
    EXPECT_EQ(records.size(), 2u);
    const ListedRecord* first = records.find(1024);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->facts().creationTime, std::optional<std::uint64_t>(133540056300000000));
    EXPECT_TRUE(first->facts().hasData);
    EXPECT_FALSE(first->facts().resident);
    EXPECT_FALSE(first->mayHoldStreams());
    EXPECT_EQ(first->grade().percent, 87);
    EXPECT_EQ(first->grade().firstCluster, std::optional<std::int64_t>(123456789));
    const ListedRecord* last = records.find(largest);
    ASSERT_TRUE(last);
    EXPECT_FALSE(last->facts().creationTime);
    EXPECT_TRUE(last->facts().resident);
    EXPECT_TRUE(last->mayHoldStreams());
    EXPECT_EQ(last->grade().percent, 100);
    EXPECT_FALSE(last->grade().firstCluster);
    EXPECT_FALSE(records.find(largest + 1));
}

// The results list and the CLI take a listed file's creation time, residency and grade from what
// the scan kept of its record; that must be what reading the record again says, after either scan.
TEST_F(Scans, ListedFileFactsAgreeWithTheListing)
{
    // The features volume's $MFT spans several pieces, so the Normal scan examines it on threads.
    for (const std::string image : {"ntfs-c512", "ntfs-features"})
        for (const bool extended : {false, true}) {
            SCOPED_TRACE(image + (extended ? " extended" : " normal"));
            session = ScanSession();
            if (!open(image))
                GTEST_SKIP() << "fixture images are not unpacked";
            session.keepListedRecords = true;
            TestPump pump(session);
            RecordingProgress progress;
            if (extended)
                NTFSFind2(session, pump, progress, kPlentyOfMemory);
            else
                NTFSFind1(session, pump, progress, kPlentyOfMemory);
            const auto listed = listing(session.store);
            ASSERT_FALSE(listed.empty());
            // Both scans keep what they read of every record they list.
            EXPECT_EQ(session.listedRecords.size(), session.volume.MftBuffer.listedCount());
            for (const Listed& l : listed) {
                SCOPED_TRACE(toUtf8(l.section + l.key));
                const auto facts = listedFileFacts(session.volume, *l.stored.recordOffset);
                ASSERT_TRUE(facts);
                EXPECT_TRUE(facts->hasData);
                EXPECT_EQ(facts->size, l.stored.size);
                ASSERT_TRUE(facts->creationTime);
                std::u16string date, time;
                DateTexts().format(*facts->creationTime, date, time);
                EXPECT_EQ(date + u" " + time, l.stored.date + u" " + l.stored.time);
                // What the scan kept is what reading the record again gives.
                const ListedRecord* kept = session.listedRecords.find(*l.stored.recordOffset);
                ASSERT_TRUE(kept);
                EXPECT_EQ(kept->facts().creationTime, facts->creationTime);
                EXPECT_EQ(kept->facts().hasData, facts->hasData);
                EXPECT_EQ(kept->facts().resident, facts->resident);
                TMFTFile decoded;
                ASSERT_NE(DecodeRecordNTFS(session.volume, static_cast<std::size_t>(*l.stored.recordOffset), decoded),
                          RecordStatus::NotARecord);
                const GradeBasis grade = gradeBasis(session.volume, decoded);
                EXPECT_EQ(kept->grade().percent, grade.percent);
                EXPECT_EQ(kept->grade().firstCluster, grade.firstCluster);
            }
            const auto size = static_cast<std::int64_t>(session.volume.MftBuffer.size());
            for (const std::int64_t outside : {std::int64_t{-1}, size - session.volume.MftRecordSize + 1, size,
                                               std::numeric_limits<std::int64_t>::max()})
                EXPECT_FALSE(listedFileFacts(session.volume, outside)) << outside;
        }
}

// A device that reads one caller at a time (a container) is examined on the scan's own thread; an
// image file on several. Both list the same files in the same order.
TEST_F(Scans, OneReaderAndSeveralListTheSame)
{
    if (!open("ntfs-features"))
        GTEST_SKIP() << "fixture images are not unpacked";
    TestPump pump(session);
    RecordingProgress progress;
    const ScanReport threaded = NTFSFind1(session, pump, progress, kPlentyOfMemory);
    ASSERT_TRUE(session.volume.MftBuffer.concurrentReads());
    const auto several = listing(session.store);
    const std::int64_t examined = session.RecordsExamined;

    std::ifstream file(test::fixtureImage("ntfs-features"), std::ios::binary);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    test::FakeDriveSystem memory;
    memory.add("E:", std::make_shared<test::MemoryDevice>(std::move(bytes)), "NTFS");
    ScanSession one;
    ASSERT_EQ(RunFindChecks(one, memory, "E: (NTFS)", u"", 10).check, FindCheck::Ok);
    PrepareScan(one, u"");
    TestPump onePump(one);
    const ScanReport single = NTFSFind1(one, onePump, progress, kPlentyOfMemory);
    ASSERT_FALSE(one.volume.MftBuffer.concurrentReads());
    const auto alone = listing(one.store);

    EXPECT_EQ(threaded.damagedRecords, single.damagedRecords);
    EXPECT_EQ(examined, one.RecordsExamined);
    ASSERT_EQ(several.size(), alone.size());
    ASSERT_GT(several.size(), 10u);
    for (std::size_t i = 0; i < several.size(); ++i) {
        EXPECT_EQ(several[i].section.substr(1), alone[i].section.substr(1)) << i; // C: and E:
        EXPECT_EQ(several[i].key, alone[i].key) << i;
        EXPECT_EQ(several[i].stored.recordOffset, alone[i].stored.recordOffset) << i;
    }
}

TEST(NormalScanRules, FilesFoldersAndNamesAsTheScanTakesThem)
{
    using test::RecordBuilder;
    constexpr std::uint64_t kTime = 133'000'000'000'000'000ull;
    const auto deletedFile = [&](const std::u16string& name, std::uint64_t parent, std::size_t size = 10) {
        return RecordBuilder()
            .inUse(false)
            .standardInformation(kTime)
            .fileName(name, parent)
            .residentData(test::Bytes(size, 'x'))
            .build();
    };
    test::VolumeLayout layout;
    layout.mftRunList = {0x11, 0x10, 0x04, 0x00}; // records 0 to 63
    layout.records[5] = RecordBuilder().directory(true).fileName(u".", 5).indexRoot().build();
    layout.records[6] = RecordBuilder().fileName(u"$Bitmap", 5).nonResidentData({0x11, 0x01, 0x30, 0x00}, 8).build();
    layout.records[30] = deletedFile(u"root.txt", 5);
    layout.records[31] = deletedFile(u"orphan.txt", 0); // parent 0: no folder, not listed
    layout.records[32] = RecordBuilder().directory(true).fileName(u"Docs", 5).indexRoot().build();
    layout.records[33] = deletedFile(u"a=b=c.txt", 32); // every "=" stays
    layout.records[34] = deletedFile(u"lost.txt", 35); // its folder's record was reused
    layout.records[35] = RecordBuilder().fileName(u"reused.bin", 32).residentData({1}).build();
    layout.records[36] = deletedFile(u"$I123.txt", 5); // a recycle-bin index file is never listed
    layout.records[37] = RecordBuilder().inUse(false).directory(true).fileName(u"OldDir", 5).indexRoot().build();
    layout.records[38] = deletedFile(u"inold.txt", 37); // a deleted folder keeps its name
    layout.records[39] = deletedFile(u"report.doc", 32, 100);
    layout.records[40] = deletedFile(u"REPORT.DOC", 32, 200); // same name, same folder: both listed
    layout.records[41] = RecordBuilder().inUse(false).fileName(u"nostdinfo.txt", 5).residentData({1, 2}).build();
    layout.records[20] = deletedFile(u"system-numbered.txt", 5); // below record 28: never a candidate
    // A folder whose names live in an extension record, as a folder of thousands of files has them.
    layout.records[42] = RecordBuilder()
                             .directory(true)
                             .standardInformation(kTime)
                             .attributeList({{0x30, 0, 43}, {0x30, 0, 43}})
                             .indexRoot()
                             .build();
    layout.records[43] =
        RecordBuilder().baseRecord(42).fileName(u"BIGFOL~1", 5, 2).fileName(u"Big Folder", 5, 1).build();
    layout.records[44] = deletedFile(u"inbig.txt", 42);
    // Hard links in two folders, one with a DOS alias: listed under each long name.
    layout.records[45] = RecordBuilder()
                             .inUse(false)
                             .standardInformation(kTime)
                             .fileName(u"one.txt", 5, 1)
                             .fileName(u"ONE~1.TXT", 5, 2)
                             .fileName(u"two.txt", 32, 0)
                             .residentData(test::Bytes(3, 'x'))
                             .build();
    // A deleted extension record holds attributes of another file, never a file of its own.
    layout.records[46] = RecordBuilder().inUse(false).baseRecord(45).fileName(u"ext.txt", 5).residentData({1}).build();

    test::FakeDriveSystem drives;
    drives.add("E:", std::make_shared<test::MemoryDevice>(test::buildVolume(layout)));
    ScanSession session;
    ASSERT_EQ(RunFindChecks(session, drives, "E: (NTFS)", u"", 10).check, FindCheck::Ok);
    PrepareScan(session, u"");
    TestPump pump(session);
    ScanProgress progress;
    const ScanReport report = NTFSFind1(session, pump, progress, kPlentyOfMemory);
    EXPECT_EQ(report.end, ScanEnd::Finished);
    const std::u16string shortDate = shortDateText(*fileTimeToLocal(kTime));

    std::vector<std::pair<std::u16string, std::u16string>> got;
    for (const Listed& l : listing(session.store))
        got.emplace_back(l.section + l.key, fromAscii(std::to_string(l.stored.size)) + u" " + l.stored.date);
    // Folders in the order first written, files in record order within them.
    const std::vector<std::pair<std::u16string, std::u16string>> expected = {
        {u"E:\\root.txt", u"10 " + shortDate},
        {u"E:\\nostdinfo.txt", u"2 "}, // no creation time: an empty date, never the previous file's
        {u"E:\\one.txt", u"3 " + shortDate},
        {u"E:\\Unknown Deleted Folder\\orphan.txt", u"10 " + shortDate}, // record 0 is no folder
        {u"E:\\Unknown Deleted Folder\\lost.txt", u"10 " + shortDate},
        {u"E:\\Docs\\a=b=c.txt", u"10 " + shortDate},
        {u"E:\\Docs\\report.doc", u"100 " + shortDate},
        {u"E:\\Docs\\REPORT.DOC", u"200 " + shortDate}, // a name of one folder twice: two files
        {u"E:\\Docs\\two.txt", u"3 " + shortDate},
        {u"E:\\OldDir\\inold.txt", u"10 " + shortDate},
        {u"E:\\Big Folder\\inbig.txt", u"10 " + shortDate},
    };
    EXPECT_EQ(got, expected);
    EXPECT_EQ(session.FilesFound, 11);
    EXPECT_EQ(session.store.entryCount(), 11u) << "no deleted file hides another of its name";
}

} // namespace
} // namespace orv

namespace orv {
namespace {

// A 16 MiB image whose $MFT run list claims the whole of an 8 GiB (sparse) volume: the scan loads
// what the $MFT's own $DATA size says, not what its runs claim, so it takes moments and little memory.
TEST(NormalScanBounds, AnMftRunListClaimingTheWholeVolumeLoadsOnlyTheMftsData)
{
    using test::RecordBuilder;
    constexpr std::uint64_t kVolume = std::uint64_t{8} << 30;
    test::VolumeLayout layout;
    layout.clusters = 4096; // 16 MiB written, the rest of the 8 GiB a hole
    layout.totalSectors = kVolume / 512 - 1;
    layout.mftRunList = {0x13, 0xF0, 0xFF, 0x1F, 0x04, 0x00}; // 2,097,136 clusters from cluster 4
    layout.records[5] = RecordBuilder().directory(true).fileName(u".", 5).indexRoot().build();
    layout.records[30] = RecordBuilder().inUse(false).fileName(u"gone.txt", 5).residentData({'x'}).build();
    const test::Bytes bytes = test::buildVolume(layout);
    const test::TempFolder temp;
    const auto image = temp / "claims-everything.img";
    {
        std::ofstream out(image, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    std::filesystem::resize_file(image, kVolume);

    LinuxDriveSystem drives(LinuxDriveSources{{}, "/nonexistent", "/nonexistent", "/nonexistent"});
    drives.addDrive("C:", image.string());
    ScanSession session;
    ASSERT_EQ(RunFindChecks(session, drives, "C:", u"", 10).check, FindCheck::Ok);
    PrepareScan(session, u"");
    TestPump pump(session);
    ScanProgress progress;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(NTFSFind1(session, pump, progress, kPlentyOfMemory).end, ScanEnd::Finished);
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_LE(session.volume.MftBuffer.size(), std::size_t{64 * 1024 + 4096 + 1024}) << "the $DATA size, not the runs";
    EXPECT_LT(took, std::chrono::seconds(5)) << "well under a second unloaded; room for a busy sanitizer run";
    EXPECT_TRUE(session.store.valueExists(u"C:\\", u"gone.txt"));
}

} // namespace
} // namespace orv

namespace orv {
namespace {

// A 16 MiB volume whose $MFT run list or boot sector claims far more than the device holds. Every
// scan ends by itself in moments, and a Stop at any step of it ends it at that step.
TEST(ScanBounds, ClaimsBeyondTheDeviceEndQuicklyAndStopAtAnyStep)
{
    using test::RecordBuilder;
    struct Claim
    {
        const char* what;
        test::Bytes mftRunList;
        std::uint64_t mftDataSize;
        std::uint64_t totalSectors;
    };
    const Claim claims[] = {
        {"$MFT run of 2^62 clusters", {0x18, 0, 0, 0, 0, 0, 0, 0, 0x40, 0x04, 0x00}, 64 * 1024, 0},
        {"$MFT of 2^40 records", {0x15, 0, 0, 0, 0, 0x40, 0x04, 0x00}, std::uint64_t{1} << 50, 0},
        {"boot sector claiming 2^62 sectors", {0x11, 0x08, 0x04, 0x00}, 8 * 4096, std::uint64_t{1} << 62},
    };
    enum class Mode { Normal, Extended, Sweep };
    for (const Claim& claim : claims) {
        test::VolumeLayout layout;
        layout.clusters = 4096; // 16 MiB of 4 KiB clusters
        layout.totalSectors = claim.totalSectors;
        layout.mftRunList = claim.mftRunList;
        layout.records[0] = RecordBuilder()
                                .standardInformation(0)
                                .fileName(u"$MFT", 5)
                                .nonResidentData(claim.mftRunList, claim.mftDataSize)
                                .build();
        layout.records[5] = RecordBuilder().directory(true).fileName(u".", 5).indexRoot().build();
        layout.records[30] = RecordBuilder().inUse(false).fileName(u"gone.txt", 5).residentData({'x'}).build();
        // One device for every scan: they only read it.
        const auto device = std::make_shared<test::MemoryDevice>(test::buildVolume(layout));
        for (const Mode mode : {Mode::Normal, Mode::Extended, Mode::Sweep}) {
            SCOPED_TRACE(std::string(claim.what) + ", scan " + std::to_string(static_cast<int>(mode)));
            const auto scan = [&](std::optional<std::int64_t> stopAfter, std::int64_t& steps) {
                test::FakeDriveSystem drives;
                drives.add("E:", device);
                ScanSession session;
                EXPECT_EQ(RunFindChecks(session, drives, "E: (NTFS)", u"", 10).check, FindCheck::Ok);
                PrepareScan(session, u"");
                TestPump pump(session);
                pump.stopAfter = stopAfter;
                ScanProgress progress;
                const ScanEnd end = mode == Mode::Normal
                    ? NTFSFind1(session, pump, progress, kPlentyOfMemory).end
                    : NTFSFind2(session, pump, progress, kPlentyOfMemory,
                                mode == Mode::Sweep ? ExtendedReach::WholeVolume : ExtendedReach::Probes)
                          .end;
                steps = pump.steps;
                if (!stopAfter) {
                    EXPECT_TRUE(session.store.valueExists(u"E:\\", u"gone.txt"));
                }
                return end;
            };
            std::int64_t total = 0;
            const auto started = std::chrono::steady_clock::now();
            ASSERT_EQ(scan(std::nullopt, total), ScanEnd::Finished);
            EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
            for (std::int64_t eighth = 0; eighth < 8; ++eighth) {
                const std::int64_t stopAfter = 1 + total * eighth / 8;
                std::int64_t steps = 0;
                EXPECT_EQ(scan(stopAfter, steps), ScanEnd::Stopped) << "stopped at step " << stopAfter;
                EXPECT_LE(steps, stopAfter + 2) << "the loop that ran went on after the Stop";
            }
        }
    }
}

} // namespace
} // namespace orv
